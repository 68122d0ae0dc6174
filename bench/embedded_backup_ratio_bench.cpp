// quirnel-copy of a generated mailbox into a new embedded store, next to
// SQLite's backup of the same source file in the same run (what the sqlite3
// shell's ".backup" does): the price of copying item by item, each committed
// on its own, over copying the file's pages whole.
//
// The source is made by `mapiprofile sample` with N items; both copies start
// from a warm page cache (the source is read once before either is timed).
// Each round times one copy and one backup back to back; the ratio is taken
// of the medians (the machine may be shared), with the best of each shown.
// The aim is a copy taking at most three times as long as the backup.
//
// Besides wall time it shows the copy's CPU time next to the backup's (the
// machine is shared, and CPU time suffers less from that), and per item the
// rows the target gained and the bytes the copy handed to write calls (the
// WAL and its checkpoints, mostly).
//
// usage: embedded_backup_ratio_bench [--items N] [--rounds R]   (defaults 20000 and 3;
//        --items 100000 --rounds 1 for the large run)
// QUIRNEL_COPY_BIN and MAPIPROFILE_BIN in the environment replace the
// programs built with it (to measure another build in the same way).
#include <sqlite3.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

double Seconds(Clock::time_point since) {
    return std::chrono::duration<double>(Clock::now() - since).count();
}

[[noreturn]] void Fail(const std::string& what) {
    std::fprintf(stderr, "embedded_backup_ratio_bench: %s failed\n", what.c_str());
    std::exit(1);
}

const char* Program(const char* variable, const char* built) {
    const char* chosen = std::getenv(variable);
    return chosen != nullptr && *chosen != 0 ? chosen : built;
}

double CpuSeconds(const rusage& usage) {
    auto seconds = [](const timeval& t) { return static_cast<double>(t.tv_sec) + t.tv_usec / 1e6; };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

// The bytes a process (exited, not yet reaped) passed to write calls; -1
// when the kernel does not say.
long long WrittenBytes(pid_t pid) {
    std::ifstream io("/proc/" + std::to_string(pid) + "/io");
    std::string key;
    long long value = 0;
    while (io >> key >> value)
        if (key == "wchar:") return value;
    return -1;
}

struct ChildCost {
    long maxRssKb = 0;
    double cpuSeconds = 0;
    long long writtenBytes = -1;
};

// Runs a program with arguments, its output to /dev/null; its exit status and
// what it cost.
int Run(std::initializer_list<const char*> argv, ChildCost* cost = nullptr) {
    std::fflush(stdout);
    pid_t pid = fork();
    if (pid == 0) {
        if (!freopen("/dev/null", "w", stdout) || !freopen("/dev/null", "w", stderr)) _exit(126);
        std::vector<char*> args;
        for (const char* a : argv) args.push_back(const_cast<char*>(a));
        args.push_back(nullptr);
        execv(args[0], args.data());
        _exit(127);
    }
    siginfo_t info{};
    waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOWAIT);
    const long long written = WrittenBytes(pid);
    int status = 0;
    rusage usage{};
    wait4(pid, &status, 0, &usage);
    if (cost != nullptr) *cost = ChildCost{usage.ru_maxrss, CpuSeconds(usage), written};
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

double SelfCpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return CpuSeconds(usage);
}

// Rows in the tables of the store file at path; -1 when unreadable.
long long StoreRows(const std::string& path) {
    sqlite3* db = nullptr;
    long long rows = -1;
    sqlite3_stmt* q = nullptr;
    if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK &&
        sqlite3_prepare_v2(db,
                           "SELECT (SELECT count(*) FROM objects) + (SELECT count(*) FROM props)",
                           -1, &q, nullptr) == SQLITE_OK &&
        sqlite3_step(q) == SQLITE_ROW)
        rows = sqlite3_column_int64(q, 0);
    sqlite3_finalize(q);
    sqlite3_close(db);
    return rows;
}

double Backup(const std::string& from, const std::string& to, double* cpuSeconds) {
    fs::remove(to);
    const double cpuBefore = SelfCpuSeconds();
    auto started = Clock::now();
    sqlite3* src = nullptr;
    sqlite3* dst = nullptr;
    if (sqlite3_open_v2(from.c_str(), &src, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK ||
        sqlite3_open(to.c_str(), &dst) != SQLITE_OK)
        Fail("open for backup");
    sqlite3_backup* backup = sqlite3_backup_init(dst, "main", src, "main");
    if (backup == nullptr || sqlite3_backup_step(backup, -1) != SQLITE_DONE) Fail("backup");
    sqlite3_backup_finish(backup);
    sqlite3_close(dst);
    sqlite3_close(src);
    *cpuSeconds = SelfCpuSeconds() - cpuBefore;
    return Seconds(started);
}

double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    size_t mid = v.size() / 2;
    return v.size() % 2 ? v[mid] : (v[mid - 1] + v[mid]) / 2;
}

void ReadWhole(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::vector<char> buffer(1 << 20);
    while (in.read(buffer.data(), static_cast<std::streamsize>(buffer.size())) || in.gcount() > 0) {
    }
}

}  // namespace

int main(int argc, char** argv) {
    int items = 20000;
    int rounds = 3;
    for (int i = 1; i + 1 < argc; ++i) {
        if (std::strcmp(argv[i], "--items") == 0) items = std::atoi(argv[i + 1]);
        if (std::strcmp(argv[i], "--rounds") == 0) rounds = std::max(1, std::atoi(argv[i + 1]));
    }
    const char* profileBin = Program("MAPIPROFILE_BIN", MAPIPROFILE_BIN);
    const char* copyBin = Program("QUIRNEL_COPY_BIN", QUIRNEL_COPY_BIN);
    char pattern[] = "/tmp/embedded-backup-ratio-XXXXXX";
    if (mkdtemp(pattern) == nullptr) Fail("mkdtemp");
    const std::string dir = pattern;
    setenv("MAPI_PROFILE", (dir + "/profile.ini").c_str(), 1);
    const std::string source = dir + "/source.qst";
    const std::string count = std::to_string(items);

    auto started = Clock::now();
    if (Run({profileBin, "sample", "source", source.c_str(), "--items", count.c_str()}) != 0)
        Fail("mapiprofile sample");
    std::printf("generated %d items (%.1f MB) in %.1f s\n", items,
                static_cast<double>(fs::file_size(source)) / 1e6, Seconds(started));
    ReadWhole(source);

    std::vector<double> copies, backups, copyCpu, backupCpu;
    long peakKb = 0;
    long long rowsGained = -1, written = -1;
    const long long emptyRows = [&] {
        const std::string empty = dir + "/empty.qst";
        if (Run({profileBin, "create", "empty", empty.c_str()}) != 0) Fail("mapiprofile create");
        return StoreRows(empty);
    }();
    for (int round = 0; round < rounds; ++round) {
        const std::string target = dir + "/target" + std::to_string(round) + ".qst";
        const std::string name = "target" + std::to_string(round);
        if (Run({profileBin, "create", name.c_str(), target.c_str()}) != 0)
            Fail("mapiprofile create");
        auto t = Clock::now();
        ChildCost cost;
        if (Run({copyBin, "--source", "source", "--target", name.c_str()}, &cost) != 0)
            Fail("quirnel-copy");
        copies.push_back(Seconds(t));
        copyCpu.push_back(cost.cpuSeconds);
        peakKb = std::max(peakKb, cost.maxRssKb);
        written = cost.writtenBytes;
        rowsGained = StoreRows(target) - emptyRows;
        double cpu = 0;
        backups.push_back(Backup(source, dir + "/backup.db", &cpu));
        backupCpu.push_back(cpu);
        fs::remove(target);
    }
    const double copy = Median(copies), backup = Median(backups);
    std::printf("quirnel-copy: median of %d %.2f s, best %.2f s "
                "(%.0f items/s, peak memory %.1f MB)\n",
                rounds, copy, *std::min_element(copies.begin(), copies.end()), items / copy,
                peakKb / 1024.0);
    std::printf("sqlite3 backup of the same file: median of %d %.3f s, best %.3f s\n", rounds,
                backup, *std::min_element(backups.begin(), backups.end()));
    const double cpuCopy = Median(copyCpu), cpuBackup = Median(backupCpu);
    std::printf("CPU time: copy median %.2f s, backup median %.3f s, ratio %.1f\n", cpuCopy,
                cpuBackup, cpuCopy / cpuBackup);
    std::printf("per item: %.2f rows written to the target, %.0f bytes passed to write calls "
                "(source file %.0f bytes per item)\n",
                static_cast<double>(rowsGained) / items, static_cast<double>(written) / items,
                static_cast<double>(fs::file_size(source)) / items);
    std::printf("ratio copy/backup (medians): %.1f (aim <= 3: %s)\n", copy / backup,
                copy <= 3 * backup ? "met" : "NOT met");
    fs::remove_all(dir);
    return 0;
}
