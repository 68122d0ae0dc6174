// Copy speed into a new personal folder file written by our own writer,
// next to the embedded store in the same run: quirnel-copy over one
// generated sample store, once into a new embedded store and once into a
// new .pst, each a fresh target. Prints both times, the ratio, the file
// sizes, whether pffinfo opens the .pst, and how many items readpst -D
// exports from it (every item of the source, when the file is right).
//
// Wall time is shown, but on a shared machine the CPU time the copy
// process used (user + system, from its rusage) is the figure to compare.
//
// usage: pst_copy_bench [--items N]   (default 3000; 100000 for the large run)
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <regex>
#include <string>

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

std::string Quoted(const std::string& s) {
    std::string q = "'";
    for (char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return q + "'";
}

int Run(const std::string& command) {
    int status = std::system((command + " >/dev/null 2>&1").c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

double ChildCpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_CHILDREN, &usage);
    auto seconds = [](const timeval& t) { return static_cast<double>(t.tv_sec) + t.tv_usec / 1e6; };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

struct Timing {
    double wall = 0, cpu = 0;
};

// Children are waited for one at a time, so the growth of the children's
// rusage over one run is that run's.
Timing Measure(const std::string& command, int* status) {
    double cpuBefore = ChildCpuSeconds();
    auto start = Clock::now();
    *status = Run(command);
    return {std::chrono::duration<double>(Clock::now() - start).count(), ChildCpuSeconds() - cpuBefore};
}

// Items readpst exports from path ("... - N items done, M items skipped."
// per folder), or -1 when it fails or complains.
long ReadpstItems(const std::string& path, const std::string& outDir) {
    std::filesystem::create_directories(outDir);
    std::string log = outDir + "/readpst.log", err = outDir + "/readpst.err";
    int status = std::system(("readpst -D -o " + Quoted(outDir) + " " + Quoted(path) + " >" + Quoted(log) + " 2>" +
                              Quoted(err)).c_str());
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0 || fs::file_size(err) != 0) return -1;
    std::FILE* f = std::fopen(log.c_str(), "r");
    if (f == nullptr) return -1;
    std::string text;
    char buffer[4096];
    size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, f)) > 0) text.append(buffer, n);
    std::fclose(f);
    long done = 0;
    const std::regex summary("- ([0-9]+) items done, ([0-9]+) items skipped");
    for (std::sregex_iterator it(text.begin(), text.end(), summary), end; it != end; ++it)
        done += std::stol((*it)[1]) + std::stol((*it)[2]);
    return done;
}

}  // namespace

int main(int argc, char** argv) {
    int items = 3000;
    for (int i = 1; i + 1 < argc; ++i)
        if (std::string(argv[i]) == "--items") items = std::atoi(argv[i + 1]);
    char pattern[] = "/tmp/pst-copy-bench-XXXXXX";
    if (mkdtemp(pattern) == nullptr) return 1;
    const std::string dir = pattern;
    setenv("MAPI_PROFILE", (dir + "/profile.ini").c_str(), 1);
    setenv("XDG_DOCUMENTS_DIR", dir.c_str(), 1);
    const std::string profile = Quoted(MAPIPROFILE_BIN), copy = Quoted(QUIRNEL_COPY_BIN);

    if (Run(profile + " sample Source " + Quoted(dir + "/source.qdb") + " --items " + std::to_string(items)) != 0 ||
        Run(profile + " create Embedded " + Quoted(dir + "/target.qdb")) != 0 ||
        Run(profile + " create Pst " + Quoted(dir + "/target.pst")) != 0) {
        std::fprintf(stderr, "pst_copy_bench: could not set up the stores in %s\n", dir.c_str());
        return 1;
    }
    int embeddedStatus = 0, pstStatus = 0;
    Timing embedded = Measure(copy + " --source Source --target Embedded", &embeddedStatus);
    Timing pst = Measure(copy + " --source Source --target Pst", &pstStatus);
    int pffinfo = Run("pffinfo " + Quoted(dir + "/target.pst"));
    long exported = ReadpstItems(dir + "/target.pst", dir + "/readpst");

    std::printf("items                 %d\n", items);
    std::printf("copy into embedded    %8.2f s CPU  %8.2f s wall  (exit %d, %8.0f items/CPU s, %ju bytes)\n",
                embedded.cpu, embedded.wall, embeddedStatus, items / embedded.cpu,
                static_cast<uintmax_t>(fs::file_size(dir + "/target.qdb")));
    std::printf("copy into .pst        %8.2f s CPU  %8.2f s wall  (exit %d, %8.0f items/CPU s, %ju bytes)\n", pst.cpu,
                pst.wall, pstStatus, items / pst.cpu, static_cast<uintmax_t>(fs::file_size(dir + "/target.pst")));
    std::printf("ratio .pst/embedded   %8.1f CPU  %8.1f wall\n", pst.cpu / embedded.cpu, pst.wall / embedded.wall);
    std::printf("pffinfo on the .pst   %s\n", pffinfo == 0 ? "opens it" : "FAILS");
    std::printf("readpst -D exports    %ld items%s\n", exported, exported >= items ? "" : "  (FEWER THAN COPIED)");
    fs::remove_all(dir);
    return embeddedStatus == 0 && pstStatus == 0 && pffinfo == 0 && exported >= items ? 0 : 1;
}
