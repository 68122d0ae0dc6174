// Time left and the end-of-run status line.
#include "run_progress.h"

#include "resource.h"
#include "string_table.h"

void CTimeLeft::Add(uint64_t done, qint64 nowMs) {
    m_samples.emplace_back(nowMs, done);
    // The oldest sample kept is the last one at or before the window's
    // start, so the window is always covered from end to end.
    while (m_samples.size() > 2 && m_samples[1].first <= nowMs - kWindowMs) m_samples.pop_front();
}

qint64 CTimeLeft::SecondsLeft(uint64_t total) const {
    if (m_samples.size() < 2) return -1;
    const auto& [firstMs, firstDone] = m_samples.front();
    const auto& [lastMs, lastDone] = m_samples.back();
    const qint64 span = lastMs - firstMs;
    if (span < kMinSpanMs || lastDone <= firstDone) return -1;
    if (lastDone >= total) return 0;
    const double perMs = static_cast<double>(lastDone - firstDone) / static_cast<double>(span);
    const double left = static_cast<double>(total - lastDone) / perMs / 1000.0;
    return static_cast<qint64>(left + 0.999);
}

QString TimeLeftText(qint64 seconds) {
    if (seconds < 0) return {};
    if (seconds < 60) return LoadString(IDS_TIME_LEFT_SECONDS);
    // Whole minutes, rounded up: "about 1 min" while 61 seconds are left.
    const qint64 minutes = (seconds + 59) / 60;
    if (minutes < 60) return LoadString(IDS_TIME_LEFT_MINUTES).arg(minutes);
    return LoadString(IDS_TIME_LEFT_HOURS).arg(minutes / 60).arg(minutes % 60);
}

QString OutcomeText(quirnel::RunOutcome outcome, const quirnel::CopyLedger& ledger) {
    const quirnel::ItemCounts& items = ledger.items;
    const QString copied = QString::number(items.copied);
    const bool completed = outcome == quirnel::RunOutcome::Completed ||
                           outcome == quirnel::RunOutcome::CompletedWithFailures;
    if (completed && HasDamage(ledger)) {
        // A rescue that lost anything must not read like a clean copy: each
        // kind of loss is named, so the user knows what the log will show.
        QString text = LoadString(IDS_OUTCOME_DAMAGE).arg(copied);
        if (items.salvaged > 0) text += LoadString(IDS_DAMAGE_SALVAGED).arg(items.salvaged);
        if (items.failed > 0) text += LoadString(IDS_DAMAGE_FAILED).arg(items.failed);
        if (ledger.foldersSkipped > 0)
            text += LoadString(IDS_DAMAGE_SKIPPED).arg(ledger.foldersSkipped);
        return text + LoadString(IDS_DAMAGE_SEE_LOG);
    }
    switch (outcome) {
        case quirnel::RunOutcome::Completed:
        case quirnel::RunOutcome::CompletedWithFailures:
            return LoadString(IDS_OUTCOME_COMPLETED)
                .arg(copied, QString::number(items.alreadyThere));
        case quirnel::RunOutcome::Stopped:
            return LoadString(IDS_OUTCOME_STOPPED).arg(copied);
        case quirnel::RunOutcome::Failed:
            return LoadString(IDS_OUTCOME_FAILED).arg(copied);
        case quirnel::RunOutcome::QueryError:
            return LoadString(IDS_OUTCOME_QUERY).arg(copied);
    }
    return {};
}

bool HasDamage(const quirnel::CopyLedger& ledger) {
    return ledger.items.salvaged > 0 || ledger.items.failed > 0 || ledger.foldersSkipped > 0;
}
