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
// Then the memory of reopening the new .pst: the peak resident memory of a
// quirnel-copy of one more item into it, against the peak of the copy that
// made it (the baseline) and of the same one-item copy into an empty .pst
// (the floor). Reopening reads the file's folders, not its messages, so the
// first stays near the floor whatever N is.
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

#include "bench_child.h"

namespace {

namespace fs = std::filesystem;

std::string Quoted(const std::string& s) {
    std::string q = "'";
    for (char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return q + "'";
}

int Run(const std::string& command) {
    int status = std::system((command + " >/dev/null 2>&1").c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
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
    const std::string profile = Quoted(MAPIPROFILE_BIN);

    if (Run(profile + " sample Source " + Quoted(dir + "/source.qdb") + " --items " + std::to_string(items)) != 0 ||
        Run(profile + " create Embedded " + Quoted(dir + "/target.qdb")) != 0 ||
        Run(profile + " create Pst " + Quoted(dir + "/target.pst")) != 0) {
        std::fprintf(stderr, "pst_copy_bench: could not set up the stores in %s\n", dir.c_str());
        return 1;
    }
    bench::ChildRun embedded = bench::RunChild({QUIRNEL_COPY_BIN, "--source", "Source", "--target", "Embedded"});
    int embeddedStatus = embedded.status;
    bench::ChildRun making = bench::RunChild({QUIRNEL_COPY_BIN, "--source", "Source", "--target", "Pst"});
    int pstStatus = making.status;
    const bench::ChildRun& pst = making;
    if (Run(profile + " sample One " + Quoted(dir + "/one.qdb") + " --items 1") != 0 ||
        Run(profile + " create Empty " + Quoted(dir + "/empty.pst")) != 0) {
        std::fprintf(stderr, "pst_copy_bench: could not set up the one-item stores in %s\n", dir.c_str());
        return 1;
    }
    // Before readpst and pffinfo read it: the file as the copy left it.
    bench::ChildRun reopening = bench::RunChild({QUIRNEL_COPY_BIN, "--source", "One", "--target", "Pst"});
    bench::ChildRun floor = bench::RunChild({QUIRNEL_COPY_BIN, "--source", "One", "--target", "Empty"});
    int pffinfo = Run("pffinfo " + Quoted(dir + "/target.pst"));
    long exported = ReadpstItems(dir + "/target.pst", dir + "/readpst");

    std::printf("items                 %d\n", items);
    std::printf("copy into embedded    %8.2f s CPU  %8.2f s wall  (exit %d, %8.0f items/CPU s, %ju bytes)\n",
                embedded.cpuSeconds, embedded.seconds, embeddedStatus, items / embedded.cpuSeconds,
                static_cast<uintmax_t>(fs::file_size(dir + "/target.qdb")));
    std::printf("copy into .pst        %8.2f s CPU  %8.2f s wall  (exit %d, %8.0f items/CPU s, %ju bytes)\n", pst.cpuSeconds,
                pst.seconds, pstStatus, items / pst.cpuSeconds, static_cast<uintmax_t>(fs::file_size(dir + "/target.pst")));
    std::printf("ratio .pst/embedded   %8.1f CPU  %8.1f wall\n", pst.cpuSeconds / embedded.cpuSeconds, pst.seconds / embedded.seconds);
    std::printf("pffinfo on the .pst   %s\n", pffinfo == 0 ? "opens it" : "FAILS");
    std::printf("readpst -D exports    %ld items%s\n", exported, exported >= items + 1 ? "" : "  (FEWER THAN COPIED)");
    std::printf("peak RSS, making the .pst of %d items  %8ld kB  (baseline)\n", items, making.peakRssKb);
    std::printf("peak RSS, reopening it to add 1 item      %8ld kB  (exit %d, %.2f of the baseline)\n",
                reopening.peakRssKb, reopening.status,
                making.peakRssKb > 0 ? static_cast<double>(reopening.peakRssKb) / making.peakRssKb : 0.0);
    std::printf("peak RSS, adding 1 item to an empty .pst  %8ld kB  (exit %d, the floor)\n", floor.peakRssKb,
                floor.status);
    fs::remove_all(dir);
    return embeddedStatus == 0 && pstStatus == 0 && reopening.status == 0 && floor.status == 0 && pffinfo == 0 &&
                   exported >= items + 1
               ? 0
               : 1;
}
