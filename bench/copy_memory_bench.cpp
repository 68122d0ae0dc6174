// Peak memory of quirnel-copy as the mailbox grows: a generated store of
// 10,000 items and one of 100,000, each copied into a new embedded store,
// with the child's peak resident memory (wait4's rusage). A copy that holds
// nothing per item stays flat: the aim is the large copy within 1.25 times
// the small one's peak.
//
// usage: copy_memory_bench [--small N] [--large N]   (defaults 10000 and 100000)
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>

#include "bench_child.h"

namespace {

namespace fs = std::filesystem;
constexpr const char* kName = "copy_memory_bench";

// Peak memory in KiB of copying a fresh sample store of items items.
long CopyPeak(const std::string& dir, int items) {
    const std::string tag = std::to_string(items);
    const std::string source = dir + "/source" + tag + ".qst";
    const std::string target = dir + "/target" + tag + ".qst";
    if (bench::RunChild({MAPIPROFILE_BIN, "sample", "source" + tag, source, "--items", tag})
            .status != 0)
        bench::Fail(kName, "mapiprofile sample");
    if (bench::RunChild({MAPIPROFILE_BIN, "create", "target" + tag, target}).status != 0)
        bench::Fail(kName, "mapiprofile create");
    bench::ChildRun copy = bench::RunChild(
        {QUIRNEL_COPY_BIN, "--source", "source" + tag, "--target", "target" + tag});
    if (copy.status != 0) bench::Fail(kName, "quirnel-copy");
    std::printf("%7d items (%.0f MB): copy %.1f s, peak memory %.1f MB\n", items,
                static_cast<double>(fs::file_size(source)) / 1e6, copy.seconds,
                copy.peakRssKb / 1024.0);
    fs::remove(source);
    fs::remove(target);
    return copy.peakRssKb;
}

}  // namespace

int main(int argc, char** argv) {
    int small = 10000, large = 100000;
    for (int i = 1; i + 1 < argc; ++i) {
        if (std::strcmp(argv[i], "--small") == 0) small = std::atoi(argv[i + 1]);
        if (std::strcmp(argv[i], "--large") == 0) large = std::atoi(argv[i + 1]);
    }
    char pattern[] = "/tmp/copy-memory-bench-XXXXXX";
    if (mkdtemp(pattern) == nullptr) bench::Fail(kName, "mkdtemp");
    const std::string dir = pattern;
    setenv("MAPI_PROFILE", (dir + "/profile.ini").c_str(), 1);
    const long smallKb = CopyPeak(dir, small);
    const long largeKb = CopyPeak(dir, large);
    const double ratio = static_cast<double>(largeKb) / static_cast<double>(smallKb);
    std::printf("ratio of peaks %d/%d items: %.2f (aim <= 1.25: %s)\n", large, small, ratio,
                ratio <= 1.25 ? "met" : "NOT met");
    fs::remove_all(dir);
    return 0;
}
