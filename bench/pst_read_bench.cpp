// Peak memory and time of reading a personal folder file whole with the
// checking reader (provider "pst-checked") next to libpff (provider "pst")
// on the same file in the same run: mapiprofile dump --props, each in a
// child whose peak resident set is taken from wait4. The file is made by
// quirnel-copy of a generated sample into a new .pst; the samples in
// QUIRNEL_SHARED_DIR/fixtures/pst are measured too when present. A plain
// "mapiprofile list" gives the process's baseline. CPU time (user + system
// of the child alone) is printed beside the wall time, and the ratio of the
// two readers' CPU times closes each line.
//
// With --before BIN, the checking reader is measured a second time through
// another build's mapiprofile (one made from an older commit) on the same
// file, printed below as "before", so a change is measured in one run.
//
// usage: pst_read_bench [--items N] [--before MAPIPROFILE]   (default 4000 items)
#include <sys/resource.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "bench_child.h"

namespace {

namespace fs = std::filesystem;
using bench::ChildRun;
using bench::RunChild;

double ChildrenCpu() {
    rusage usage{};
    getrusage(RUSAGE_CHILDREN, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// Reads the file through one provider, with a profile that holds nothing
// else: a session opens every store of its profile. *cpu receives the
// child's CPU time: what the waited-for children used grows by its share.
// The other build's mapiprofile given with --before; empty without.
std::string g_before;

ChildRun Dump(const std::string& dir, const std::string& provider, const std::string& path, double* cpu,
              const std::string& binary = MAPIPROFILE_BIN) {
    std::string profile = dir + "/read-" + provider + ".ini";
    std::ofstream(profile, std::ios::trunc) << "[store1]\nname = file\nprovider = " << provider << "\npath = " << path
                                            << "\n";
    setenv("MAPI_PROFILE", profile.c_str(), 1);
    double before = ChildrenCpu();
    ChildRun run = RunChild({binary, "dump", "file", "--props"});
    *cpu = ChildrenCpu() - before;
    return run;
}

bool Compare(const std::string& dir, const std::string& label, const std::string& path) {
    double checkedCpu = 0, libpffCpu = 0;
    ChildRun checked = Dump(dir, "pst-checked", path, &checkedCpu);
    ChildRun libpff = Dump(dir, "pst", path, &libpffCpu);
    std::printf("%-26s %10ju  %8ld KiB %6.2f s %6.2f s  %8ld KiB %6.2f s %6.2f s  %5.2f  %5.2f\n", label.c_str(),
                static_cast<uintmax_t>(fs::file_size(path)), checked.peakRssKb, checked.seconds, checkedCpu,
                libpff.peakRssKb, libpff.seconds, libpffCpu,
                libpff.peakRssKb > 0 ? static_cast<double>(checked.peakRssKb) / libpff.peakRssKb : 0.0,
                libpffCpu > 0 ? checkedCpu / libpffCpu : 0.0);
    if (!g_before.empty()) {
        double beforeCpu = 0;
        ChildRun before = Dump(dir, "pst-checked", path, &beforeCpu, g_before);
        std::printf("%-26s %10s  %8ld KiB %6.2f s %6.2f s  (before; exit %d)\n", "  pst-checked before", "",
                    before.peakRssKb, before.seconds, beforeCpu, before.status);
    }
    if (checked.status != 0 || libpff.status != 0)
        std::printf("  (exit %d checked, %d libpff)\n", checked.status, libpff.status);
    return checked.status == 0 && libpff.status == 0;
}

}  // namespace

int main(int argc, char** argv) {
    int items = 4000;
    for (int i = 1; i + 1 < argc; ++i)
        if (std::string(argv[i]) == "--items") items = std::atoi(argv[i + 1]);
        else if (std::string(argv[i]) == "--before") g_before = argv[i + 1];
    char pattern[] = "/tmp/pst-read-bench-XXXXXX";
    if (mkdtemp(pattern) == nullptr) return 1;
    const std::string dir = pattern;
    setenv("MAPI_PROFILE", (dir + "/make.ini").c_str(), 1);
    setenv("XDG_DOCUMENTS_DIR", dir.c_str(), 1);
    const std::string big = dir + "/generated.pst";
    if (RunChild({MAPIPROFILE_BIN, "sample", "Source", dir + "/source.qdb", "--items", std::to_string(items)})
                .status != 0 ||
        RunChild({MAPIPROFILE_BIN, "create", "Pst", big}).status != 0 ||
        RunChild({QUIRNEL_COPY_BIN, "--source", "Source", "--target", "Pst"}).status != 0) {
        std::fprintf(stderr, "pst_read_bench: could not make the .pst in %s\n", dir.c_str());
        return 1;
    }
    setenv("MAPI_PROFILE", (dir + "/none.ini").c_str(), 1);
    ChildRun baseline = RunChild({MAPIPROFILE_BIN, "list"});
    std::printf("mapiprofile dump --props, peak resident memory, wall and CPU time (baseline of the process: %ld KiB)\n",
                baseline.peakRssKb);
    std::printf("%-26s %10s  %-30s  %-30s  %5s  %5s\n", "file", "bytes", "pst-checked: peak, wall, CPU",
                "libpff: peak, wall, CPU", "peak", "CPU");
    bool ok = Compare(dir, "generated, " + std::to_string(items) + " items", big);
    const std::string samples = std::string(QUIRNEL_SHARED_DIR) + "/fixtures/pst";
    if (fs::is_directory(samples))
        for (const auto& entry : fs::directory_iterator(samples))
            if (entry.path().extension() == ".pst") ok = Compare(dir, entry.path().filename().string(), entry.path().string()) && ok;
    fs::remove_all(dir);
    return ok ? 0 : 1;
}
