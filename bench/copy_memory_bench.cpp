// Peak memory of quirnel-copy as the mailbox grows: a generated store of
// 10,000 items and one of 100,000, each copied into a new embedded store,
// with the child's peak resident memory (wait4's rusage). A copy that holds
// nothing per item stays flat: the aim is the large copy within 1.25 times
// the small one's peak. Each copy is then run again over its filled target,
// which finds every item there: the peak of resuming, where what the target
// already holds is looked up. A folder's listing beyond a small budget
// waits in a temporary file while its items are copied; the file's pages
// belong to the page cache and are not in the peak, so the peak measures
// what the process itself holds.
//
// With --baseline-copy PATH (another quirnel-copy build, for example the one
// before a change) the baseline build's peaks are measured over the same
// stores, and a --cpu-items store is also copied by both builds in turn,
// --rounds times each: the CPU time (user + system, from the children's
// rusage) of the best round of each is printed with their ratio.
//
// usage: copy_memory_bench [--small N] [--large N]   (defaults 10000 and 100000)
//                          [--baseline-copy PATH [--cpu-items N] [--rounds R]]
//                          (defaults 20000 and 3)
#include <sys/resource.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>

#include "bench_child.h"

namespace {

namespace fs = std::filesystem;
constexpr const char* kName = "copy_memory_bench";

double ChildrenCpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_CHILDREN, &usage);
    auto seconds = [](const timeval& t) { return t.tv_sec + t.tv_usec / 1e6; };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

struct CopyCost {
    long peakKb = 0;
    double cpuSeconds = 0;
};

// One run of copyBin from the store named source into the one named target.
CopyCost RunCopy(const std::string& copyBin, const std::string& source,
                 const std::string& target) {
    const double before = ChildrenCpuSeconds();
    bench::ChildRun copy = bench::RunChild({copyBin, "--source", source, "--target", target});
    if (copy.status != 0) bench::Fail(kName, "quirnel-copy");
    return {copy.peakRssKb, ChildrenCpuSeconds() - before};
}

void MakeSample(const std::string& name, const std::string& path, int items) {
    if (bench::RunChild({MAPIPROFILE_BIN, "sample", name, path, "--items", std::to_string(items)})
            .status != 0)
        bench::Fail(kName, "mapiprofile sample");
}

void MakeEmpty(const std::string& name, const std::string& path) {
    if (bench::RunChild({MAPIPROFILE_BIN, "create", name, path}).status != 0)
        bench::Fail(kName, "mapiprofile create");
}

struct Peaks {
    long copyKb = 0;
    long resumeKb = 0;
};

// Peak memory in KiB of copyBin copying the store named source into a new
// store, and of the run over the filled target that follows.
Peaks CopyPeaks(const std::string& dir, const std::string& copyBin, const std::string& source,
                const std::string& tag) {
    const std::string target = "target" + tag;
    const std::string path = dir + "/" + target + ".qst";
    MakeEmpty(target, path);
    const CopyCost copy = RunCopy(copyBin, source, target);
    const CopyCost resume = RunCopy(copyBin, source, target);
    fs::remove(path);
    return {copy.peakKb, resume.peakKb};
}

void PrintPeaks(const char* build, int items, const Peaks& peaks) {
    std::printf("%-14s %7d items: copy peak %.1f MB, again over the copy: peak %.1f MB\n", build,
                items, peaks.copyKb / 1024.0, peaks.resumeKb / 1024.0);
}

// The peaks of this build (and of the baseline build when there is one) over
// a fresh sample store of items items.
Peaks SizePeaks(const std::string& dir, const std::string& baselineBin, int items,
                Peaks* baseline) {
    const std::string tag = std::to_string(items);
    const std::string source = dir + "/source" + tag + ".qst";
    MakeSample("source" + tag, source, items);
    std::printf("%d items: a store of %.0f MB\n", items,
                static_cast<double>(fs::file_size(source)) / 1e6);
    const Peaks peaks = CopyPeaks(dir, QUIRNEL_COPY_BIN, "source" + tag, tag);
    PrintPeaks("this build", items, peaks);
    if (!baselineBin.empty()) {
        *baseline = CopyPeaks(dir, baselineBin, "source" + tag, tag + "b");
        PrintPeaks("baseline build", items, *baseline);
    }
    fs::remove(source);
    return peaks;
}

double Ratio(long a, long b) {
    return static_cast<double>(a) / static_cast<double>(b);
}

// The CPU time of the best of rounds copies by each build, alternating.
void CompareCpu(const std::string& dir, const std::string& baselineBin, int items, int rounds) {
    const std::string source = dir + "/cpu_source.qst";
    MakeSample("cpu_source", source, items);
    double best[2] = {1e300, 1e300};
    const std::string bins[2] = {baselineBin, QUIRNEL_COPY_BIN};
    for (int r = 0; r < rounds; ++r) {
        for (int b = 0; b < 2; ++b) {
            const std::string name = "cpu_target" + std::to_string(r) + "_" + std::to_string(b);
            const std::string path = dir + "/" + name + ".qst";
            MakeEmpty(name, path);
            best[b] = std::min(best[b], RunCopy(bins[b], "cpu_source", name).cpuSeconds);
            fs::remove(path);
        }
    }
    std::printf("%d items, CPU time (user + system), best of %d: baseline build %.2f s, "
                "this build %.2f s, ratio %.3f\n",
                items, rounds, best[0], best[1], best[1] / best[0]);
    fs::remove(source);
}

}  // namespace

int main(int argc, char** argv) {
    int small = 10000, large = 100000, cpuItems = 20000, rounds = 3;
    std::string baseline;
    for (int i = 1; i + 1 < argc; ++i) {
        if (std::strcmp(argv[i], "--small") == 0) small = std::atoi(argv[i + 1]);
        if (std::strcmp(argv[i], "--large") == 0) large = std::atoi(argv[i + 1]);
        if (std::strcmp(argv[i], "--cpu-items") == 0) cpuItems = std::atoi(argv[i + 1]);
        if (std::strcmp(argv[i], "--rounds") == 0) rounds = std::max(1, std::atoi(argv[i + 1]));
        if (std::strcmp(argv[i], "--baseline-copy") == 0) baseline = argv[i + 1];
    }
    char pattern[] = "/tmp/copy-memory-bench-XXXXXX";
    if (mkdtemp(pattern) == nullptr) bench::Fail(kName, "mkdtemp");
    const std::string dir = pattern;
    setenv("MAPI_PROFILE", (dir + "/profile.ini").c_str(), 1);
    // The runs' log file goes with the rest, not into the user's documents.
    setenv("XDG_DOCUMENTS_DIR", dir.c_str(), 1);
    if (!baseline.empty()) CompareCpu(dir, baseline, cpuItems, rounds);
    if (small > 0 && large > 0) {
        Peaks smallBase, largeBase;
        const Peaks smallPeaks = SizePeaks(dir, baseline, small, &smallBase);
        const Peaks largePeaks = SizePeaks(dir, baseline, large, &largeBase);
        const double copyRatio = Ratio(largePeaks.copyKb, smallPeaks.copyKb);
        const double resumeRatio = Ratio(largePeaks.resumeKb, smallPeaks.resumeKb);
        std::printf("ratio of peaks %d/%d items: copy %.2f, again %.2f (aim <= 1.25: %s)\n", large,
                    small, copyRatio, resumeRatio,
                    copyRatio <= 1.25 && resumeRatio <= 1.25 ? "met" : "NOT met");
        if (!baseline.empty())
            std::printf("baseline build, ratio of peaks: copy %.2f, again %.2f\n",
                        Ratio(largeBase.copyKb, smallBase.copyKb),
                        Ratio(largeBase.resumeKb, smallBase.resumeKb));
    }
    fs::remove_all(dir);
    return 0;
}
