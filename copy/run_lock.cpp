// The run's hold on its target: taken after the checks, before the first
// write, and kept until the run has logged its ledger.
#include <runtime/session.h>

#include "copy_engine.h"

namespace quirnel {

bool CCopyEngine::LockTarget(const CMapiBinary& targetId) {
    const std::string name = "\"" + CActivityLog::Escaped(m_host.TargetStoreName()) + "\"";
    std::string location;
    HRESULT hr = mapi::StoreWriterLocation(m_session._rawInterface(), targetId.Size(),
                                           targetId.Bytes(), &location);
    // Only a session of another platform (test doubles) cannot say where
    // its stores live; there is nothing to lock then.
    if (hr == MAPI_E_NO_SUPPORT) return true;
    if (FAILED(hr)) {
        LogLine("Target %s cannot be locked (%s): another run into it would not be noticed",
                name.c_str(), GetErrorName(hr));
        return true;
    }
    std::string detail;
    const auto result = m_targetLock.Acquire(
        location, !m_options.noWait, m_host.StopFlag(),
        [&](const std::string& holder) {
            LogLine("Waiting for target %s: it is being written by %s", name.c_str(),
                    CActivityLog::Escaped(holder).c_str());
        },
        &detail);
    switch (result) {
        case CTargetLock::Result::Held:
            return true;
        case CTargetLock::Result::Busy:
            EndRun("Target in use", "Target " + name + " is being written by " +
                                        CActivityLog::Escaped(detail) + ". Nothing was written.");
            return false;
        case CTargetLock::Result::Stopped:
            return false;
        case CTargetLock::Result::Failed:
            break;
    }
    // A file system without record locks still takes the copy; resume and
    // the check before each write keep it from doubling items.
    LogLine("Target %s cannot be locked (%s): another run into it would not be noticed",
            name.c_str(), CActivityLog::Escaped(detail).c_str());
    return true;
}

}  // namespace quirnel
