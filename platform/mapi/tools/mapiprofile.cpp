// mapiprofile: administration of the profile and its message stores from
// the command line (the counterpart of a mail client's data-file settings).
#include <csignal>
#include <iostream>

#include "command_line.h"
#include "commands.h"
#include "runtime/profile.h"

namespace {

constexpr int kUsageExit = 64;

int Run(const mapi::tools::CommandLine& line) {
    using namespace mapi::tools;
    CommandContext ctx{mapi::Profile::DefaultPath(), std::cout, std::cerr};
    const auto& a = line.args;
    if (line.command == "list") return RunList(ctx);
    if (line.command == "create") return RunCreate(ctx, a[0], a[1], line.kind);
    if (line.command == "add") return RunAdd(ctx, a[0], a[1]);
    if (line.command == "remove") return RunRemove(ctx, a[0]);
    if (line.command == "sample") return RunSample(ctx, a[0], a[1], {line.items, line.seed});
    if (line.command == "dump") return RunDump(ctx, a[0], DumpOptions{line.props});
    if (line.command == "version") {
        std::cout << VersionText() << "\n";
        return 0;
    }
    std::cout << UsageText();
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    // A server or a reader that goes away must give a write error to
    // handle, not end the process without a word.
    std::signal(SIGPIPE, SIG_IGN);
    mapi::tools::CommandLine line;
    std::string error;
    if (!mapi::tools::ParseCommandLine(argc, argv, &line, &error)) {
        // One line, so a script's log shows what was wrong, not a page.
        std::cerr << "mapiprofile: " << error << "\nTry 'mapiprofile --help'.\n";
        return kUsageExit;
    }
    try {
        return Run(line);
    } catch (const std::exception& e) {
        // Out of memory and the like: still a message, never an abort.
        std::cerr << "mapiprofile: " << e.what() << "\n";
        return 1;
    }
}
