// Reading personal folder files: quirnel-copy of a .pst into a new embedded
// store next to readpst writing the same file as mbox (`readpst -o DIR`), in
// the same run, on two files: the support.pst fixture and a larger .pst made
// here with our own writer (a generated sample store copied into it). Each
// round copies into a fresh target and converts into a fresh folder; the
// medians over the rounds are compared. The aim is a copy faster than
// readpst (ratio below 1).
//
// usage: pst_readpst_bench [--items N] [--rounds R]   (defaults 4000 and 3)
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "bench_child.h"

namespace {

namespace fs = std::filesystem;
constexpr const char* kName = "pst_readpst_bench";

struct Pair {
    double copy = 0;
    double readpst = 0;
    long copyPeakKb = 0;
};

// Median times of quirnel-copy from the store named source into fresh
// embedded stores, and of readpst on pst into fresh folders.
Pair Compare(const std::string& dir, const std::string& source, const std::string& pst,
             int rounds) {
    std::vector<double> copies, converts;
    long peak = 0;
    for (int round = 0; round < rounds; ++round) {
        const std::string name = source + "-target" + std::to_string(round);
        const std::string target = dir + "/" + name + ".qst";
        if (bench::RunChild({MAPIPROFILE_BIN, "create", name, target}).status != 0)
            bench::Fail(kName, "mapiprofile create");
        bench::ChildRun copy =
            bench::RunChild({QUIRNEL_COPY_BIN, "--source", source, "--target", name});
        if (copy.status != 0) bench::Fail(kName, "quirnel-copy of " + pst);
        copies.push_back(copy.seconds);
        peak = std::max(peak, copy.peakRssKb);
        fs::remove(target);

        const std::string out = dir + "/mbox" + std::to_string(round);
        fs::create_directories(out);
        bench::ChildRun convert = bench::RunChild({"readpst", "-q", "-o", out, pst});
        if (convert.status != 0) bench::Fail(kName, "readpst of " + pst);
        converts.push_back(convert.seconds);
        fs::remove_all(out);
    }
    return Pair{bench::Median(copies), bench::Median(converts), peak};
}

void Print(const char* what, const std::string& pst, const Pair& p) {
    std::printf("%s (%.1f MB)\n", what, static_cast<double>(fs::file_size(pst)) / 1e6);
    std::printf("  quirnel-copy into embedded: median %.3f s (peak memory %.1f MB)\n", p.copy,
                p.copyPeakKb / 1024.0);
    std::printf("  readpst to mbox:            median %.3f s\n", p.readpst);
    std::printf("  ratio copy/readpst: %.2f (aim < 1: %s)\n", p.copy / p.readpst,
                p.copy < p.readpst ? "met" : "NOT met");
}

}  // namespace

int main(int argc, char** argv) {
    int items = 4000;
    int rounds = 3;
    for (int i = 1; i + 1 < argc; ++i) {
        if (std::strcmp(argv[i], "--items") == 0) items = std::atoi(argv[i + 1]);
        if (std::strcmp(argv[i], "--rounds") == 0) rounds = std::max(1, std::atoi(argv[i + 1]));
    }
    char pattern[] = "/tmp/pst-readpst-bench-XXXXXX";
    if (mkdtemp(pattern) == nullptr) bench::Fail(kName, "mkdtemp");
    const std::string dir = pattern;
    // Each file is copied under a profile of its own: a logon opens the
    // profile's stores, and the other file's would be timed with it.
    auto useProfile = [&](const char* name) {
        setenv("MAPI_PROFILE", (dir + "/" + name + ".ini").c_str(), 1);
    };
    useProfile("setup");

    const std::string sample = dir + "/sample.qst";
    const std::string large = dir + "/large.pst";
    const std::string count = std::to_string(items);
    if (bench::RunChild({MAPIPROFILE_BIN, "sample", "sample", sample, "--items", count}).status !=
            0 ||
        bench::RunChild({MAPIPROFILE_BIN, "create", "large", large}).status != 0)
        bench::Fail(kName, "setting up the generated .pst");
    // The writer refuses items past its size limit; what it took is the file.
    int filled = bench::RunChild({QUIRNEL_COPY_BIN, "--source", "sample", "--target", "large"})
                     .status;
    std::printf("generated .pst: %d items offered%s\n", items,
                filled == 0 ? "" : " (the writer refused some: its size limit)");

    // The fixture is copied so that nothing of this run can touch it.
    const std::string support = dir + "/support.pst";
    fs::copy_file(std::string(QUIRNEL_SHARED_DIR) + "/fixtures/pst/support.pst", support);
    useProfile("support");
    if (bench::RunChild({MAPIPROFILE_BIN, "add", "support", support}).status != 0)
        bench::Fail(kName, "mapiprofile add support.pst");
    Print("support.pst", support, Compare(dir, "support", support, rounds));

    useProfile("large");
    if (bench::RunChild({MAPIPROFILE_BIN, "add", "large", large}).status != 0)
        bench::Fail(kName, "mapiprofile add the generated .pst");
    Print("generated .pst", large, Compare(dir, "large", large, rounds));
    fs::remove_all(dir);
    return 0;
}
