// quirnel-copy: one copy run from the command line, with the engine the
// application uses, on the stores of the user's profile.
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <optional>
#include <string>

#include <MapiWrapper.h>
#include <mapix.h>

#include "batch_run.h"
#include "console_host.h"
#include "copy_engine.h"
#include "runtime/profile.h"
#include "runtime/read_options.h"
#include "runtime/session.h"

namespace {

constexpr int kExitCompleted = 0;
constexpr int kExitFailed = 1;
constexpr int kExitQuery = 2;
constexpr int kExitFailures = 3;
constexpr int kExitStopped = 4;
constexpr int kExitUsage = 64;

constexpr char kUsage[] =
    "usage: quirnel-copy --source NAME --target NAME [--query TEXT] [--dry-run] [--again]\n"
    "                    [--verify] [--recover revisions] [--progress] [--no-wait]\n"
    "       quirnel-copy --batch FILE [--jobs N] [--shard I/N] [--query TEXT]\n"
    "                    [--batch-dir DIR]\n"
    "       quirnel-copy --batch-report FILE [--batch-dir DIR]\n"
    "Copies every folder and item of store SOURCE into store TARGET of the profile;\n"
    "with --batch, one copy per line of FILE (a source and a target), N at a time;\n"
    "with --shard I/N only the lines whose number modulo N is I (lines sharing a\n"
    "target go with the first of them), skipping lines completed before;\n"
    "--batch-report prints where each line stands and exits 0 when all completed.\n"
    "  --query TEXT  copy only the items the query selects; it may call the saved\n"
    "                queries of ~/.config/quirnel/queries.ini, as in FromSender(\"Anna\")\n"
    "  --dry-run     show per folder what would be copied, write nothing\n"
    "  --again       copy items the target received in an earlier run all the same\n"
    "  --verify      compare every copied item with its source afterwards\n"
    "  --recover revisions\n"
    "                offer the older versions of items a .pst source still holds, in\n"
    "                \"Recovered items\\Older versions\"\n"
    "  --progress    progress lines on standard error also when it is not a terminal\n"
    "  --no-wait     when another run is writing the target, end (status 1) naming\n"
    "                it instead of waiting for it\n"
    "  --help        this text\n"
    "  --version     the program's version\n"
    "Exit status: 0 every selected item copied or already there, 1 a run-ending\n"
    "failure, 2 a query error, 3 items failed, folders were skipped or the source\n"
    "was damaged beyond repair (a Damage line before the summary), 4 stopped,\n"
    "64 wrong usage.\n";

// Set from the signal handler, so they must be lock-free. g_interrupted is
// never cleared: the run clears g_stop as it begins, and a Ctrl-C that came
// before must still stop it (see CConsoleHost).
std::atomic<bool> g_stop{false};
std::atomic<bool> g_interrupted{false};
static_assert(std::atomic<bool>::is_always_lock_free);

extern "C" void OnInterrupt(int) {
    // In this order, so that a run clearing g_stop in between still finds
    // g_interrupted set when it asks next.
    g_interrupted.store(true);
    g_stop.store(true);
}

// Ctrl-C asks the run to stop after the item in progress; a second Ctrl-C
// ends the program at once (the default action is back by then). SIGTERM
// (a service manager, a batch being stopped) is the same request: the item
// in hand and the ledger are worth the moment they take.
void InstallInterruptHandler() {
    struct sigaction action;
    std::memset(&action, 0, sizeof action);
    action.sa_handler = OnInterrupt;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART | SA_RESETHAND;
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    // A parent may have left them blocked; they must reach the handler all
    // the same (one that is pending arrives here, before the run).
    sigset_t interrupt;
    sigemptyset(&interrupt);
    sigaddset(&interrupt, SIGINT);
    sigaddset(&interrupt, SIGTERM);
    sigprocmask(SIG_UNBLOCK, &interrupt, nullptr);
}

// Parses the arguments; nullopt after printing what is wrong (one line).
// info is set instead when --help or --version asked for text.
// --recover reaches the source's provider as a read option of the session
// (mapi::kRecoverVariable), set in *recover.
std::optional<quirnel::ConsoleOptions> ParseArguments(int argc, char** argv, const char** info,
                                                      std::string* recover) {
    quirnel::ConsoleOptions options;
    bool haveSource = false;
    bool haveTarget = false;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        if (arg == "--help" || arg == "-h") {
            *info = "help";
            return std::nullopt;
        }
        if (arg == "--version") {
            *info = "version";
            return std::nullopt;
        }
        if (arg == "--no-wait") {
            options.noWait = true;
            continue;
        }
        if (arg == "--dry-run" || arg == "--again" || arg == "--verify") {
            (arg == "--dry-run" ? options.dryRun : arg == "--again" ? options.again
                                                                    : options.verify) = true;
            continue;
        }
        if (arg == "--progress") {
            options.progress = true;
            continue;
        }
        std::string value;
        std::string key = arg;
        if (size_t eq = arg.find('='); arg.rfind("--", 0) == 0 && eq != std::string::npos) {
            key = arg.substr(0, eq);
            value = arg.substr(eq + 1);
        } else if (arg == "--source" || arg == "--target" || arg == "--query" || arg == "--recover") {
            if (i + 1 >= argc) {
                std::fprintf(stderr, "quirnel-copy: %s needs a value\n", arg.c_str());
                return std::nullopt;
            }
            value = argv[++i];
        }
        if (key == "--source") {
            options.source = value;
            haveSource = true;
        } else if (key == "--target") {
            options.target = value;
            haveTarget = true;
        } else if (key == "--query") {
            options.query = value;
        } else if (key == "--recover") {
            if (value != "revisions") {
                std::fprintf(stderr, "quirnel-copy: --recover knows only \"revisions\", not \"%s\"\n", value.c_str());
                return std::nullopt;
            }
            *recover = value;
        } else {
            std::fprintf(stderr, "quirnel-copy: unknown argument \"%s\"\n", arg.c_str());
            return std::nullopt;
        }
    }
    if (!haveSource || !haveTarget) {
        std::fprintf(stderr, "quirnel-copy: --source and --target are required\n");
        return std::nullopt;
    }
    if (options.dryRun && options.verify) {
        std::fprintf(stderr, "quirnel-copy: --verify needs a run that copies, not --dry-run\n");
        return std::nullopt;
    }
    return options;
}

int ExitStatus(const quirnel::CCopyEngine& engine) {
    switch (engine.LastOutcome()) {
        case quirnel::RunOutcome::Completed:
            // A difference found by --verify is a problem of the run too.
            return engine.LastDifferences() == 0 ? kExitCompleted : kExitFailures;
        case quirnel::RunOutcome::CompletedWithFailures:
            return kExitFailures;
        case quirnel::RunOutcome::Stopped:
            return kExitStopped;
        case quirnel::RunOutcome::QueryError:
            return kExitQuery;
        case quirnel::RunOutcome::Failed:
            break;
    }
    return kExitFailed;
}

}  // namespace

int main(int argc, char** argv) {
    // A server or a reader that goes away must give a write error to
    // handle, not end the process without a word.
    std::signal(SIGPIPE, SIG_IGN);
    if (quirnel::IsBatchCommand(argc, argv)) return quirnel::RunBatchCommand(argc, argv);
    const char* info = nullptr;
    std::string recover;
    std::optional<quirnel::ConsoleOptions> options = ParseArguments(argc, argv, &info, &recover);
    if (info != nullptr) {
        if (std::strcmp(info, "help") == 0)
            std::fputs(kUsage, stdout);
        else
            std::printf("quirnel-copy %s\n", QUIRNEL_VERSION);
        return kExitCompleted;
    }
    if (!options) {
        std::fputs("Try 'quirnel-copy --help'.\n", stderr);
        return kExitUsage;
    }
    options->liveStatus = isatty(STDERR_FILENO) != 0;
    // Before logging on, which can take a while: a Ctrl-C then ends the run
    // as soon as it begins instead of killing the program.
    InstallInterruptHandler();

    if (!recover.empty()) setenv(mapi::kRecoverVariable, recover.c_str(), 1);
    HRESULT hr = MAPIInitialize(nullptr);
    LPMAPISESSION rawSession = nullptr;
    if (SUCCEEDED(hr)) {
        char empty[] = "";
        hr = MAPILogonEx(0, empty, empty, 0, &rawSession);
    }
    if (FAILED(hr) || rawSession == nullptr) {
        const std::string& why = mapi::LastLogonError();
        std::fprintf(stderr, "quirnel-copy: cannot log on to the profile: %s\n",
                     why.empty() ? GetErrorName(hr) : why.c_str());
        return kExitFailed;
    }
    CMapiSession session;
    session.Attach(rawSession);
    // Why a store of this run could not be opened (a refused login, say)
    // is worth more than the "not found" that follows.
    for (const std::string& warning : mapi::LastLogonWarnings())
        for (const std::string* name : {&options->source, &options->target})
            if (warning.rfind("store \"" + *name + "\" ", 0) == 0)
                std::fprintf(stderr, "quirnel-copy: %s\n",
                             quirnel::CActivityLog::Escaped(warning).c_str());

    quirnel::CConsoleHost host(*options, g_stop, g_interrupted, stdout, stderr);
    SetMessageBoxHandler([&host](const std::string& caption, const std::string& text) {
        host.ShowMessageBox(caption, text);
    });

    quirnel::CCopyEngine engine(host, session);
    quirnel::RunOptions runOptions;
    runOptions.dryRun = options->dryRun;
    runOptions.again = options->again;
    runOptions.verify = options->verify;
    runOptions.noWait = options->noWait;
    engine.SetOptions(runOptions);
    quirnel::CCopyEngine::CopyThreadProc(&engine);
    host.FinishStatus();
    SetMessageBoxHandler(nullptr);
    return ExitStatus(engine);
}
