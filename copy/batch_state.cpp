// The state of batch lines in their folders.
#include "batch_state.h"

#include <atomic>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace quirnel {

namespace {

namespace fs = std::filesystem;

std::string Slurp(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

std::string Absolute(const std::string& dir) {
    std::error_code ec;
    const fs::path where = fs::absolute(dir, ec);
    return ec ? dir : where.lexically_normal().string();
}

}  // namespace

std::string LineFolder(const std::string& batchDir, int number) {
    char name[32];
    std::snprintf(name, sizeof name, "line-%03d", number);
    return (fs::path(batchDir) / name).string();
}

std::unique_ptr<CTargetLock> ClaimLine(const std::string& dir) {
    std::error_code ec;
    fs::create_directories(dir, ec);
    auto lock = std::make_unique<CTargetLock>();
    const std::atomic<bool> stop{false};
    std::string detail;
    if (lock->Acquire(Absolute(dir), false, stop, {}, &detail) != CTargetLock::Result::Held)
        return nullptr;
    return lock;
}

void NoteLineState(const std::string& dir, const std::string& state) {
    const fs::path path = fs::path(dir) / "state";
    const fs::path next = fs::path(dir) / "state.new";
    {
        std::ofstream out(next, std::ios::binary | std::ios::trunc);
        out << state << '\n';
    }
    std::error_code ec;
    fs::rename(next, path, ec);
}

LineStatus ReadLineStatus(const std::string& dir, bool claimed) {
    LineStatus status;
    std::error_code ec;
    if (!fs::exists(fs::path(dir) / "state", ec)) return status;
    std::string state = Slurp(fs::path(dir) / "state");
    while (!state.empty() && state.back() == '\n') state.pop_back();
    AddLedger(Slurp(fs::path(dir) / "output.txt"), &status.ledger);
    if (state != "running") status.ended = state;
    // A run whose batch holds the line's lock is going on; "running" with
    // the lock free is a batch that ended without noting the end (killed,
    // its machine gone).
    if (!claimed && !ClaimLine(dir)) {
        status.state = LineState::Running;
        return status;
    }
    const LedgerTotal& l = status.ledger;
    const bool balanced =
        l.ledgers > 0 && l.listed == l.filtered + l.alreadyThere + l.copied + l.failed;
    status.state = state == "exit 0" && balanced ? LineState::Completed : LineState::Failed;
    if (state == "running") status.ended = "interrupted";
    return status;
}

const char* StateName(LineState state) {
    switch (state) {
        case LineState::NotStarted:
            return "not started";
        case LineState::Running:
            return "running";
        case LineState::Completed:
            return "completed";
        case LineState::Failed:
            break;
    }
    return "failed";
}

}  // namespace quirnel
