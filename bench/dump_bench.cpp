// Peak memory and speed of `mapiprofile dump --props` as stores grow.
//
// For each item count, a sample store is generated, then dumped twice in
// child processes: with --props (every item's text, sorted per folder) and,
// as the baseline of the same run, without (the folder walk alone: same
// session, same store, no item text). The dump keeps memory flat when the
// ratio of the two peaks stays near 1 however large the store; the text
// written shows how much a dump that held its folders would have held.
//
// usage: dump_bench [--items N[,N...]]   (default 10000,100000)
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

std::string Quoted(const std::string& s) {
    std::string q = "'";
    for (char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return q + "'";
}

void Must(bool ok, const std::string& what) {
    if (!ok) {
        std::fprintf(stderr, "dump_bench: %s failed\n", what.c_str());
        std::exit(1);
    }
}

struct Measured {
    int status = -1;
    long peakKib = 0;
    double seconds = 0;
};

// Runs a shell command in a child; its status, peak resident memory and time.
Measured RunMeasured(const std::string& command) {
    Measured m;
    const Clock::time_point start = Clock::now();
    pid_t pid = fork();
    if (pid == 0) {
        execl("/bin/sh", "sh", "-c", ("exec " + command).c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    int status = 0;
    rusage usage{};
    wait4(pid, &status, 0, &usage);
    m.seconds = std::chrono::duration<double>(Clock::now() - start).count();
    m.peakKib = usage.ru_maxrss;
    m.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return m;
}

std::vector<unsigned> ParseCounts(int argc, char** argv) {
    std::vector<unsigned> counts = {10000, 100000};
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        Must(arg == "--items" && i + 1 < argc,
             "usage: dump_bench [--items N[,N...]]; reading '" + arg + "'");
        counts.clear();
        std::istringstream list(argv[++i]);
        for (std::string n; std::getline(list, n, ',');) counts.push_back(std::stoul(n));
    }
    return counts;
}

}  // namespace

int main(int argc, char** argv) {
    const std::vector<unsigned> counts = ParseCounts(argc, argv);
    const fs::path dir = fs::temp_directory_path() / ("dump_bench_" + std::to_string(getpid()));
    fs::remove_all(dir);
    fs::create_directories(dir);
    const std::string profile = (dir / "profile.ini").string();
    Must(setenv("MAPI_PROFILE", profile.c_str(), 1) == 0, "setenv");
    const std::string tool = Quoted(MAPIPROFILE_BIN);

    std::printf("%9s %14s %14s %7s %12s %10s %12s\n", "items", "props peak", "walk peak", "ratio",
                "dump text", "items/s", "walk time");
    for (unsigned items : counts) {
        const std::string name = "S" + std::to_string(items);
        const std::string store = (dir / (name + ".qdb")).string();
        std::fprintf(stderr, "generating %u items...\n", items);
        Must(std::system((tool + " sample " + name + " " + Quoted(store) + " --items " +
                          std::to_string(items) + " >/dev/null")
                             .c_str()) == 0,
             "mapiprofile sample");
        const std::string text = (dir / "dump.txt").string();
        const Measured walk = RunMeasured(tool + " dump " + name + " >/dev/null");
        const Measured props = RunMeasured(tool + " dump " + name + " --props >" + Quoted(text));
        Must(walk.status == 0 && props.status == 0, "mapiprofile dump");
        const double textMb = static_cast<double>(fs::file_size(text)) / (1 << 20);
        fs::remove(text);
        std::printf("%9u %11.1f MB %11.1f MB %7.2f %9.1f MB %10.0f %10.2f s\n", items,
                    props.peakKib / 1024.0, walk.peakKib / 1024.0,
                    static_cast<double>(props.peakKib) / static_cast<double>(walk.peakKib), textMb,
                    items / props.seconds, walk.seconds);
        std::fflush(stdout);
        fs::remove(store);
    }
    fs::remove_all(dir);
    return 0;
}
