// Copy speed into a new personal folder file written by our own writer,
// next to the embedded store in the same run: quirnel-copy over one
// generated sample store, once into a new embedded store and once into a
// new .pst, each a fresh target. Prints both times, the ratio, the file
// sizes, and whether pffinfo opens the .pst.
//
// usage: pst_copy_bench [--items N]   (default 3000)
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
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

double Seconds(const std::string& command, int* status) {
    auto start = Clock::now();
    *status = Run(command);
    return std::chrono::duration<double>(Clock::now() - start).count();
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
    double embedded = Seconds(copy + " --source Source --target Embedded", &embeddedStatus);
    double pst = Seconds(copy + " --source Source --target Pst", &pstStatus);
    int pffinfo = Run("pffinfo " + Quoted(dir + "/target.pst"));

    std::printf("items                 %d\n", items);
    std::printf("copy into embedded    %8.2f s  (exit %d, %8.0f items/s, %ju bytes)\n", embedded, embeddedStatus,
                items / embedded, static_cast<uintmax_t>(fs::file_size(dir + "/target.qdb")));
    std::printf("copy into .pst        %8.2f s  (exit %d, %8.0f items/s, %ju bytes)\n", pst, pstStatus, items / pst,
                static_cast<uintmax_t>(fs::file_size(dir + "/target.pst")));
    std::printf("ratio .pst/embedded   %8.1f\n", pst / embedded);
    std::printf("pffinfo on the .pst   %s\n", pffinfo == 0 ? "opens it" : "FAILS");
    fs::remove_all(dir);
    return embeddedStatus == 0 && pstStatus == 0 && pffinfo == 0 ? 0 : 1;
}
