// The run's account of the source's damage: the store's records of
// structures it could not use, logged as the run begins and counted, and
// the run's end, which must not read as a clean copy after damage that was
// not repaired, nor as an empty one when nothing could be listed.
#include "copy_engine.h"
#include "damage_account.h"

namespace quirnel {

void CCopyEngine::AccountSourceDamage() {
    for (const DamageRecord& record : ReadDamageAccount(m_storeSource)) {
        LogFitted("Damaged source: ", CActivityLog::Escaped(record.text), "");
        ++m_ledger.structuresLost;
        m_ledger.itemsKnownLost += record.itemsLost;
        if (m_firstDamage.empty()) m_firstDamage = CActivityLog::Escaped(record.text);
    }
}

void CCopyEngine::EndAfterDamage() {
    if (m_outcome != RunOutcome::Completed && m_outcome != RunOutcome::CompletedWithFailures) return;
    // A damaged source whose folders gave no item at all: "copied 0" would
    // pass for an empty store.
    if (m_ledger.items.listed == 0 && m_ledger.structuresLost > 0) {
        LogLine("%s", "Nothing could be listed from the damaged source");
        EndRun("Source", "Nothing could be listed from the source, which is damaged: " + m_firstDamage);
        return;
    }
    if (m_ledger.Damaged()) m_outcome = RunOutcome::CompletedWithFailures;
}

}  // namespace quirnel
