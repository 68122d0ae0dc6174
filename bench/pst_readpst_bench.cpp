// Reading personal folder files: quirnel-copy of a .pst into a new embedded
// store next to readpst writing the same file as mbox (`readpst -o DIR`), in
// the same run, on two files: the support.pst fixture and a larger .pst made
// here with our own writer (a generated sample store copied into it). Each
// round copies into a fresh target and converts into a fresh folder; the
// medians over the rounds are compared. The aim is a copy faster than
// readpst (ratio below 1). The ratio is given on CPU time (user + system,
// of the child alone), which the other programs on a shared machine
// disturb less than the wall time printed beside it.
//
// usage: pst_readpst_bench [--items N] [--rounds R]   (defaults 4000 and 3)
#include <sys/resource.h>

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
    double copy = 0;  // wall seconds
    double readpst = 0;
    double copyCpu = 0;  // CPU seconds
    double readpstCpu = 0;
    long copyPeakKb = 0;
};

double ChildrenCpu() {
    rusage usage{};
    getrusage(RUSAGE_CHILDREN, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// A child run with its CPU time: what the waited-for children used grows
// by exactly this child's share while it runs.
bench::ChildRun Timed(const std::vector<std::string>& argv, double* cpu) {
    double before = ChildrenCpu();
    bench::ChildRun run = bench::RunChild(argv);
    *cpu = ChildrenCpu() - before;
    return run;
}

// Median times of quirnel-copy from the store named source into fresh
// embedded stores, and of readpst on pst into fresh folders.
Pair Compare(const std::string& dir, const std::string& source, const std::string& pst,
             int rounds) {
    std::vector<double> copies, converts, copyCpus, convertCpus;
    long peak = 0;
    double cpu = 0;
    for (int round = 0; round < rounds; ++round) {
        const std::string name = source + "-target" + std::to_string(round);
        const std::string target = dir + "/" + name + ".qst";
        if (bench::RunChild({MAPIPROFILE_BIN, "create", name, target}).status != 0)
            bench::Fail(kName, "mapiprofile create");
        bench::ChildRun copy = Timed({QUIRNEL_COPY_BIN, "--source", source, "--target", name}, &cpu);
        if (copy.status != 0) bench::Fail(kName, "quirnel-copy of " + pst);
        copies.push_back(copy.seconds);
        copyCpus.push_back(cpu);
        peak = std::max(peak, copy.peakRssKb);
        fs::remove(target);

        const std::string out = dir + "/mbox" + std::to_string(round);
        fs::create_directories(out);
        bench::ChildRun convert = Timed({"readpst", "-q", "-o", out, pst}, &cpu);
        if (convert.status != 0) bench::Fail(kName, "readpst of " + pst);
        converts.push_back(convert.seconds);
        convertCpus.push_back(cpu);
        fs::remove_all(out);
    }
    return Pair{bench::Median(copies), bench::Median(converts), bench::Median(copyCpus),
                bench::Median(convertCpus), peak};
}

void Print(const char* what, const std::string& pst, const Pair& p) {
    std::printf("%s (%.1f MB)\n", what, static_cast<double>(fs::file_size(pst)) / 1e6);
    std::printf("  quirnel-copy into embedded: median CPU %.3f s, wall %.3f s (peak memory %.1f MB)\n",
                p.copyCpu, p.copy, p.copyPeakKb / 1024.0);
    std::printf("  readpst to mbox:            median CPU %.3f s, wall %.3f s\n", p.readpstCpu, p.readpst);
    if (p.readpstCpu > 0)
        std::printf("  ratio copy/readpst on CPU: %.2f (aim < 1: %s); on wall time %.2f\n",
                    p.copyCpu / p.readpstCpu, p.copyCpu < p.readpstCpu ? "met" : "NOT met", p.copy / p.readpst);
    else
        std::printf("  readpst used too little CPU to measure; ratio on wall time %.2f\n", p.copy / p.readpst);
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
