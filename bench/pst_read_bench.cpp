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
// With --attachments N, a second file is measured: N messages, each with an
// attachment of 100 KiB, written by the .pst writer's format code. Few
// items and much content: a reader whose memory follows the content, not
// the items, stands out there.
//
// usage: pst_read_bench [--items N] [--attachments N] [--before MAPIPROFILE]   (default 4000 items)
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "bench_child.h"
#include "providers/pst/format/msg_store.h"
#include "providers/pst/format/msg_values.h"
#include "providers/pst/format/ndb_file_writer.h"

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

bool MakeAttachmentFile(const std::string& path, int items) {
    namespace fmt = mapi::pst::fmt;
    const fmt::StoreUid uid = {7, 1, 7, 2, 7, 3, 7, 4, 7, 5, 7, 6, 7, 7, 7, 8};
    fmt::StoreModel model = fmt::StoreModel::NewStore(uid, "Attachments");
    fmt::Bytes data(100 * 1024);
    for (int i = 0; i < items; ++i) {
        for (size_t k = 0; k < data.size(); ++k) data[k] = static_cast<uint8_t>((k * 131 + static_cast<size_t>(i) * 7) >> 3);
        fmt::MessageContent m;
        std::string subject = "message " + std::to_string(i);
        m.props = {fmt::UnicodeValue(0x001A001F, "IPM.Note"), fmt::UnicodeValue(0x0037001F, subject),
                   fmt::UnicodeValue(0x1000001F, "the body of " + subject)};
        fmt::AttachmentContent a;
        a.props = {fmt::LongValue(0x37050003, 1), fmt::UnicodeValue(0x3707001F, "data.bin"),
                   fmt::BinaryValue(0x37010102, data)};
        m.attachments.push_back(std::move(a));
        model.AddMessage(model.inbox(), m);
    }
    fmt::Header header;
    std::string error;
    if (fmt::WriteFile(path, model.Build(&header), header, &error)) return true;
    std::fprintf(stderr, "pst_read_bench: %s\n", error.c_str());
    return false;
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
    int items = 4000, attachments = 0;
    for (int i = 1; i + 1 < argc; ++i)
        if (std::string(argv[i]) == "--items") items = std::atoi(argv[i + 1]);
        else if (std::string(argv[i]) == "--before") g_before = argv[i + 1];
        else if (std::string(argv[i]) == "--attachments") attachments = std::atoi(argv[i + 1]);
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
    if (attachments > 0) {
        const std::string heavy = dir + "/attachments.pst";
        // Made in a child of its own: a child's peak counts the pages of
        // the process it was forked from, so this one must stay small.
        pid_t maker = fork();
        if (maker == 0) _exit(MakeAttachmentFile(heavy, attachments) ? 0 : 1);
        int status = -1;
        if (maker > 0) waitpid(maker, &status, 0);
        ok = maker > 0 && WIFEXITED(status) && WEXITSTATUS(status) == 0 &&
             Compare(dir, std::to_string(attachments) + " x 100 KiB attached", heavy) && ok;
        fs::remove(heavy);
    }
    const std::string samples = std::string(QUIRNEL_SHARED_DIR) + "/fixtures/pst";
    if (fs::is_directory(samples))
        for (const auto& entry : fs::directory_iterator(samples))
            if (entry.path().extension() == ".pst") ok = Compare(dir, entry.path().filename().string(), entry.path().string()) && ok;
    fs::remove_all(dir);
    return ok ? 0 : 1;
}
