// Running the lines of a batch as child processes, N at a time.
#include "batch_run.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "batch_file.h"
#include "batch_state.h"
#include "batch_targets.h"

extern char** environ;

namespace quirnel {

namespace {

constexpr int kExitCompleted = 0;
constexpr int kExitFailed = 1;
constexpr int kExitIncomplete = 3;
constexpr int kExitStopped = 4;
constexpr int kExitUsage = 64;
constexpr int kMaxJobs = 64;

// How many stop requests (SIGINT, SIGTERM) the batch has received; each is
// passed on to the running lines once.
std::atomic<int> g_batchStops{0};
static_assert(std::atomic<int>::is_always_lock_free);

extern "C" void OnBatchInterrupt(int) {
    g_batchStops.fetch_add(1);
}

// How long the batch sleeps between looks at its children when none ended.
constexpr auto kPollInterval = std::chrono::milliseconds(50);

struct Options {
    std::string file;
    std::string dir;
    std::string query;
    bool haveQuery = false;
    int jobs = 1;
    int shard = 0, shards = 1;
    bool report = false;  // --batch-report FILE
};

bool Parse(int argc, char** argv, Options* o) {
    for (int i = 1; i < argc; ++i) {
        std::string key = argv[i], value;
        const size_t eq = key.find('=');
        const bool inlineValue = key.rfind("--", 0) == 0 && eq != std::string::npos;
        if (inlineValue) {
            value = key.substr(eq + 1);
            key = key.substr(0, eq);
        } else if (i + 1 < argc) {
            value = argv[i + 1];
        } else {
            std::fprintf(stderr, "quirnel-copy: %s needs a value\n", key.c_str());
            return false;
        }
        if (key == "--batch" || key == "--batch-report") {
            o->file = value;
            o->report = key == "--batch-report";
        } else if (key == "--batch-dir") {
            o->dir = value;
        } else if (key == "--query") {
            o->query = value;
            o->haveQuery = true;
        } else if (key == "--jobs") {
            char* end = nullptr;
            const long n = std::strtol(value.c_str(), &end, 10);
            if (*end != 0 || n < 1 || n > kMaxJobs) {
                std::fprintf(stderr, "quirnel-copy: --jobs takes a number from 1 to %d\n",
                             kMaxJobs);
                return false;
            }
            o->jobs = static_cast<int>(n);
        } else if (key == "--shard") {
            int index = -1, count = 0, used = 0;
            if (std::sscanf(value.c_str(), "%d/%d%n", &index, &count, &used) != 2 ||
                used != static_cast<int>(value.size()) || count < 1 || index < 0 ||
                index >= count) {
                std::fprintf(stderr, "quirnel-copy: --shard takes I/N, 0 <= I < N\n");
                return false;
            }
            o->shard = index;
            o->shards = count;
        } else {
            std::fprintf(stderr, "quirnel-copy: \"%s\" does not go with --batch\n", key.c_str());
            return false;
        }
        if (!inlineValue) ++i;
    }
    if (o->file.empty()) {
        std::fprintf(stderr, "quirnel-copy: --batch needs a file\n");
        return false;
    }
    if (o->dir.empty()) o->dir = o->file + ".d";
    return true;
}

std::string SelfPath(const char* argv0) {
    std::error_code ec;
    const auto self = std::filesystem::read_symlink("/proc/self/exe", ec);
    return ec ? std::string(argv0) : self.string();
}

struct Running {
    size_t index;
    std::string dir;
    std::chrono::steady_clock::time_point started;
    std::unique_ptr<CTargetLock> claim;  // the line's folder, while it runs
};

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// Starts line as a child; its output and log go to dir.
pid_t Start(const std::string& self, const Options& o, const BatchLine& line,
            const std::string& dir) {
    std::vector<std::string> args = {self, "--source", line.source, "--target", line.target};
    if (o.haveQuery) {
        args.push_back("--query");
        args.push_back(o.query);
    }
    std::vector<std::string> env;
    for (char** e = environ; *e != nullptr; ++e)
        if (std::strncmp(*e, "XDG_DOCUMENTS_DIR=", 18) != 0) env.emplace_back(*e);
    // The log file lands in the documents folder: the line's own directory.
    env.push_back("XDG_DOCUMENTS_DIR=" + dir);
    std::vector<char*> argvList, envList;
    for (std::string& a : args) argvList.push_back(a.data());
    argvList.push_back(nullptr);
    for (std::string& e : env) envList.push_back(e.data());
    envList.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    const std::string output = dir + "/output.txt";
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, output.c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_adddup2(&actions, STDOUT_FILENO, STDERR_FILENO);
    // The child starts with the stop signals blocked and unblocks them once
    // its handler is in place: one that comes in between waits for the
    // handler instead of killing a run that has not begun.
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    sigset_t stops;
    sigemptyset(&stops);
    sigaddset(&stops, SIGINT);
    sigaddset(&stops, SIGTERM);
    posix_spawnattr_setsigmask(&attributes, &stops);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK);
    pid_t pid = -1;
    const int rc =
        posix_spawn(&pid, self.c_str(), &actions, &attributes, argvList.data(), envList.data());
    posix_spawnattr_destroy(&attributes);
    posix_spawn_file_actions_destroy(&actions);
    return rc == 0 ? pid : -1;
}

std::string Describe(int status) {
    if (WIFEXITED(status)) return "exit " + std::to_string(WEXITSTATUS(status));
    if (WIFSIGNALED(status)) return std::string("killed by ") + strsignal(WTERMSIG(status));
    return "ended";
}

}  // namespace

bool IsBatchCommand(int argc, char** argv) {
    for (int i = 1; i < argc; ++i)
        for (const char* option : {"--batch", "--batch-report"}) {
            const size_t n = std::strlen(option);
            if (std::strncmp(argv[i], option, n) == 0 && (argv[i][n] == 0 || argv[i][n] == '='))
                return true;
        }
    return false;
}

namespace {

// One line per batch line with its state and last ledger, then the sum.
int Report(const Options& o, const std::vector<BatchLine>& lines) {
    int counts[4] = {};
    LedgerTotal total;
    for (const BatchLine& line : lines) {
        const LineStatus status = ReadLineStatus(LineFolder(o.dir, line.number));
        ++counts[static_cast<int>(status.state)];
        const LedgerTotal& l = status.ledger;
        if (l.ledgers > 0) {
            total.listed += l.listed;
            total.filtered += l.filtered;
            total.alreadyThere += l.alreadyThere;
            total.copied += l.copied;
            total.failed += l.failed;
            total.foldersCopied += l.foldersCopied;
            total.foldersSkipped += l.foldersSkipped;
            ++total.ledgers;
        }
        std::string state = StateName(status.state);
        if (status.state == LineState::Failed) state += " (" + status.ended + ")";
        if (l.ledgers > 0) state += "; " + FormatLedger(l);
        std::printf("Line %d %s -> %s: %s\n", line.number, line.source.c_str(), line.target.c_str(),
                    state.c_str());
    }
    std::printf("Report: lines %zu, completed %d, failed %d, not started %d, running %d\n",
                lines.size(), counts[static_cast<int>(LineState::Completed)],
                counts[static_cast<int>(LineState::Failed)],
                counts[static_cast<int>(LineState::NotStarted)],
                counts[static_cast<int>(LineState::Running)]);
    std::printf("Total: %s\n", FormatLedger(total).c_str());
    std::fflush(stdout);
    return counts[static_cast<int>(LineState::Completed)] == static_cast<int>(lines.size())
               ? kExitCompleted
               : kExitIncomplete;
}

// The lines of this shard: those whose number modulo N is I, except that
// lines sharing a target all go with the first of them, so that no two
// shards write one store at once.
std::vector<bool> ShardLines(const Options& o, const std::vector<BatchLine>& lines,
                             const std::vector<std::string>& targets) {
    std::vector<bool> mine(lines.size());
    std::map<std::string, int> first;
    for (size_t i = 0; i < lines.size(); ++i) {
        const int owner = first.try_emplace(targets[i], lines[i].number).first->second;
        mine[i] = owner % o.shards == o.shard;
    }
    return mine;
}

}  // namespace

int RunBatchCommand(int argc, char** argv) {
    Options o;
    if (!Parse(argc, argv, &o)) {
        std::fputs(
            "usage: quirnel-copy --batch FILE [--jobs N] [--shard I/N] [--query TEXT]\n"
            "                    [--batch-dir DIR]\n"
            "       quirnel-copy --batch-report FILE [--batch-dir DIR]\n",
            stderr);
        return kExitUsage;
    }
    std::ifstream in(o.file, std::ios::binary);
    if (!in) {
        std::fprintf(stderr, "quirnel-copy: cannot read the batch file %s: %s\n", o.file.c_str(),
                     std::strerror(errno));
        return kExitFailed;
    }
    std::ostringstream text;
    text << in.rdbuf();
    std::vector<BatchLine> lines;
    std::string error;
    if (!ParseBatchText(text.str(), &lines, &error)) {
        std::fprintf(stderr, "quirnel-copy: %s: %s\n", o.file.c_str(), error.c_str());
        return kExitUsage;
    }
    if (o.report) return Report(o, lines);
    std::error_code ec;
    std::filesystem::create_directories(o.dir, ec);
    if (ec) {
        std::fprintf(stderr, "quirnel-copy: cannot make %s: %s\n", o.dir.c_str(),
                     ec.message().c_str());
        return kExitFailed;
    }
    // Ctrl-C reaches the running children too (same process group); a
    // SIGINT or SIGTERM sent to the batch alone is passed on to them as
    // SIGTERM, which a run takes like Ctrl-C. Either way each child ends
    // after its item with its ledger, the batch starts no further line and
    // waits for every child. A second request ends the children at once.
    struct sigaction action {};
    action.sa_handler = OnBatchInterrupt;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);

    const std::vector<std::string> targets = TargetKeys(lines);
    const std::string self = SelfPath(argv[0]);
    const auto begun = std::chrono::steady_clock::now();
    std::map<pid_t, Running> running;
    // A line of another shard counts as started here.
    std::vector<bool> started = ShardLines(o, lines, targets);
    started.flip();
    size_t pending = static_cast<size_t>(std::count(started.begin(), started.end(), false));
    int completed = 0, incomplete = 0, notStarted = 0, forwarded = 0;
    LedgerTotal total;
    // A line may start when no running line writes its target; of those,
    // the first in the file.
    auto nextStartable = [&]() -> size_t {
        for (size_t i = 0; i < lines.size(); ++i) {
            if (started[i]) continue;
            bool busy = false;
            for (const auto& [pid, run] : running) busy = busy || targets[run.index] == targets[i];
            if (!busy) return i;
        }
        return lines.size();
    };
    while (pending > 0 || !running.empty()) {
        const bool stopping = g_batchStops.load() > 0;
        for (; forwarded < g_batchStops.load(); ++forwarded)
            for (const auto& [pid, run] : running) ::kill(pid, SIGTERM);
        if (stopping && pending > 0) {
            notStarted += static_cast<int>(pending);
            pending = 0;
        }
        while (!stopping && pending > 0 && running.size() < static_cast<size_t>(o.jobs)) {
            const size_t index = nextStartable();
            if (index == lines.size()) break;
            started[index] = true;
            --pending;
            const BatchLine& line = lines[index];
            const std::string dir = LineFolder(o.dir, line.number);
            // A rerun (of a shard whose machine failed) leaves alone what
            // is done, and what another batch is running.
            std::unique_ptr<CTargetLock> claim = ClaimLine(dir);
            const char* skip = claim == nullptr ? "running elsewhere, skipped" : nullptr;
            if (claim != nullptr && ReadLineStatus(dir, true).state == LineState::Completed)
                skip = "completed before, skipped";
            if (skip != nullptr) {
                std::printf("Line %d %s -> %s: %s\n", line.number, line.source.c_str(),
                            line.target.c_str(), skip);
                claim != nullptr ? ++completed : ++incomplete;
                continue;
            }
            NoteLineState(dir, "running");
            const pid_t pid = Start(self, o, line, dir);
            if (pid < 0) {
                NoteLineState(dir, "could not be started");
                std::printf("Line %d %s -> %s: could not be started\n", line.number,
                            line.source.c_str(), line.target.c_str());
                ++incomplete;
            } else {
                running[pid] =
                    Running{index, dir, std::chrono::steady_clock::now(), std::move(claim)};
            }
        }
        if (running.empty()) continue;
        int status = 0;
        const pid_t pid = ::waitpid(-1, &status, WNOHANG);
        if (pid == 0 || (pid < 0 && errno == EINTR)) {
            // Polled rather than blocked in waitpid: a stop request that
            // came just before the wait would sit there until some child
            // ended by itself.
            std::this_thread::sleep_for(kPollInterval);
            continue;
        }
        if (pid < 0) break;
        auto found = running.find(pid);
        if (found == running.end()) continue;
        const BatchLine& line = lines[found->second.index];
        const double seconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - found->second.started)
                .count();
        const std::string output = ReadFile(found->second.dir + "/output.txt");
        LedgerTotal one;
        const bool ledger = AddLedger(output, &one);
        if (ledger) AddLedger(output, &total);
        const bool ok = WIFEXITED(status) && WEXITSTATUS(status) == kExitCompleted;
        NoteLineState(found->second.dir, Describe(status));
        ok ? ++completed : ++incomplete;
        std::printf("Line %d %s -> %s: %s in %.1f s%s%s\n", line.number, line.source.c_str(),
                    line.target.c_str(), Describe(status).c_str(), seconds, ledger ? "; " : "",
                    ledger ? FormatLedger(one).c_str() : "");
        std::fflush(stdout);
        running.erase(found);
    }
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - begun).count();
    std::printf("Batch: lines %zu, completed %d, not completed %d, not started %d in %.1f s\n",
                lines.size(), completed, incomplete, notStarted, seconds);
    if (total.ledgers > 0) std::printf("Total: %s\n", FormatLedger(total).c_str());
    std::fflush(stdout);
    if (g_batchStops.load() > 0) return kExitStopped;
    return incomplete > 0 ? kExitIncomplete : kExitCompleted;
}

}  // namespace quirnel
