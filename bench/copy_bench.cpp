// End-to-end cost of a copy run: quirnel-copy over a generated sample store,
// next to bare CopyMessages calls over the same items in the same run.
//
// Both copy every item of the source's IPM subtree one CopyMessages call at
// a time into a fresh, empty embedded store; the bare loop creates the same
// folders and does nothing else. The engine's overhead is the ratio of the
// two times. Peak memory is the quirnel-copy process's own (wait4). A second
// run over the filled target measures what resuming costs when every item is
// already there.
//
// usage: copy_bench [--items N] [--rounds R]   (defaults 20000 and 2)
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>

#include <MapiWrapper.h>
#include <mapiutil.h>

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

std::string Quoted(const std::string& s) {
    std::string q = "'";
    for (char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return q + "'";
}

void Must(bool ok, const char* what) {
    if (!ok) {
        std::fprintf(stderr, "copy_bench: %s failed\n", what);
        std::exit(1);
    }
}

// Runs a shell command; its exit status, with its peak resident memory in KiB.
int RunMeasured(const std::string& command, long* maxRssKb) {
    pid_t pid = fork();
    if (pid == 0) {
        execl("/bin/sh", "sh", "-c", ("exec " + command).c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    int status = 0;
    rusage usage{};
    wait4(pid, &status, 0, &usage);
    *maxRssKb = usage.ru_maxrss;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

IMsgStorePtr OpenStore(CMapiSession& session, const std::string& name) {
    CMapiRowSet rows = QueryAllRows(session.GetStoresTable(), {PR_DISPLAY_NAME, PR_ENTRYID});
    for (ULONG i = 0; i < rows.Count(); ++i) {
        LPCSTR rowName = rows.Cell(i, 0).String8();
        if (rowName == nullptr || name != rowName) continue;
        CMapiBinary eid;
        eid = rows.Cell(i, 1);
        CInterfaceRef<IUnknown> object = session.OpenEntry(eid);
        return IMsgStorePtr(static_cast<LPMDB>(object.get()));
    }
    Must(false, ("finding store " + name).c_str());
    return IMsgStorePtr();
}

IMAPIFolderPtr AsFolder(const IMAPIPropPtr& object) {
    return IMAPIFolderPtr(static_cast<LPMAPIFOLDER>(object._rawInterface()));
}

// The bare loop: the same folders, one CopyMessages call per item.
size_t BareCopy(const IMAPIFolderPtr& source, const IMAPIFolderPtr& target) {
    size_t copied = 0;
    CMapiRowSet items = QueryAllRows(source._rawContentsTable(), {PR_ENTRYID});
    for (ULONG i = 0; i < items.Count(); ++i) {
        SBinary bin = items.Cell(i, 0).get()->Value.bin;
        ENTRYLIST list{1, &bin};
        if (source._rawInterface()->CopyMessages(&list, nullptr, target._rawInterface(), 0, nullptr,
                                                 0) == S_OK)
            ++copied;
    }
    CMapiRowSet children =
        QueryAllRows(source._rawHierrarchyTable(), {PR_DISPLAY_NAME, PR_ENTRYID});
    for (ULONG i = 0; i < children.Count(); ++i) {
        CMapiBinary eid;
        eid = children.Cell(i, 1);
        IMAPIFolderPtr child = AsFolder(source.OpenEntryv(eid));
        IMAPIFolderPtr made(
            target.CreateFolder(FOLDER_GENERIC, children.Cell(i, 0).String8(), "", OPEN_IF_EXISTS)
                .get());
        copied += BareCopy(child, made);
    }
    return copied;
}

double Seconds(Clock::duration d) {
    return std::chrono::duration<double>(d).count();
}

}  // namespace

int main(int argc, char** argv) {
    unsigned items = 20000;
    int rounds = 2;
    for (int i = 1; i + 1 < argc; i += 2) {
        std::string arg = argv[i];
        if (arg == "--items") items = static_cast<unsigned>(std::atoi(argv[i + 1]));
        if (arg == "--rounds") rounds = std::max(1, std::atoi(argv[i + 1]));
    }

    const fs::path dir = fs::temp_directory_path() / ("copy_bench_" + std::to_string(getpid()));
    fs::create_directories(dir);
    const std::string profile = (dir / "profile.ini").string();
    setenv("MAPI_PROFILE", profile.c_str(), 1);
    setenv("XDG_DOCUMENTS_DIR", dir.c_str(), 1);
    const std::string env =
        "MAPI_PROFILE=" + Quoted(profile) + " XDG_DOCUMENTS_DIR=" + Quoted(dir.string()) + " ";
    const std::string mapiprofile = env + Quoted(MAPIPROFILE_BIN);

    std::printf("generating a sample store of %u items...\n", items);
    std::fflush(stdout);
    Must(std::system((mapiprofile + " sample Source " + Quoted((dir / "source.qdb").string()) +
                      " --items " + std::to_string(items) + " --seed 5 >/dev/null")
                         .c_str()) == 0,
         "mapiprofile sample");
    for (int r = 0; r < rounds; ++r) {
        for (const char* kind : {"bare", "engine"}) {
            std::string name = std::string(kind) + std::to_string(r);
            Must(std::system((mapiprofile + " create " + name + " " +
                              Quoted((dir / (name + ".qdb")).string()) + " >/dev/null")
                                 .c_str()) == 0,
                 "mapiprofile create");
        }
    }

    double bestBare = 1e300;
    double bestEngine = 1e300;
    double bestResume = 1e300;
    long engineRss = 0;
    size_t bareItems = 0;
    for (int r = 0; r < rounds; ++r) {
        {
            Must(MAPIInitialize(nullptr) == S_OK, "MAPIInitialize");
            CMapiSession session;
            session.Logon();
            IMsgStorePtr source = OpenStore(session, "Source");
            IMsgStorePtr target = OpenStore(session, "bare" + std::to_string(r));
            Clock::time_point start = Clock::now();
            bareItems = BareCopy(source._getIPMRoot(), target._getIPMRoot());
            bestBare = std::min(bestBare, Seconds(Clock::now() - start));
        }
        long rss = 0;
        Clock::time_point start = Clock::now();
        // The profile and documents folder come from this process's environment.
        int status = RunMeasured(Quoted(QUIRNEL_COPY_BIN) + " --source Source --target engine" +
                                     std::to_string(r) + " >/dev/null 2>&1",
                                 &rss);
        double seconds = Seconds(Clock::now() - start);
        Must(status == 0, "quirnel-copy");
        bestEngine = std::min(bestEngine, seconds);
        engineRss = std::max(engineRss, rss);

        // The same run again finds every item there: what it costs to look
        // up what a target already received, the price of resuming a run.
        start = Clock::now();
        status = RunMeasured(Quoted(QUIRNEL_COPY_BIN) + " --source Source --target engine" +
                                 std::to_string(r) + " >" +
                                 Quoted((dir / "resume.out").string()) + " 2>/dev/null",
                             &rss);
        seconds = Seconds(Clock::now() - start);
        Must(status == 0, "quirnel-copy, second run");
        // A second run that copied anything would measure the wrong thing.
        std::FILE* out = std::fopen((dir / "resume.out").c_str(), "r");
        Must(out != nullptr, "reading the second run's output");
        char line[512] = {};
        char last[512] = {};
        while (std::fgets(line, sizeof line, out) != nullptr) std::snprintf(last, sizeof last, "%s", line);
        std::fclose(out);
        Must(std::strstr(last, ", copied 0, failed 0;") != nullptr, "a second run that copies nothing");
        bestResume = std::min(bestResume, seconds);
    }

    std::printf("items copied:          %zu\n", bareItems);
    std::printf("bare CopyMessages:     %8.0f items/s  (%.2f s, best of %d)\n",
                static_cast<double>(bareItems) / bestBare, bestBare, rounds);
    std::printf("quirnel-copy engine:   %8.0f items/s  (%.2f s, best of %d)\n",
                static_cast<double>(bareItems) / bestEngine, bestEngine, rounds);
    std::printf("engine / bare time:    %8.3f  (overhead %+.1f%%, goal < +20%%)\n",
                bestEngine / bestBare, (bestEngine / bestBare - 1) * 100);
    std::printf("second run, all there: %8.0f items/s  (%.2f s, best of %d)\n",
                static_cast<double>(bareItems) / bestResume, bestResume, rounds);
    std::printf("quirnel-copy peak RSS: %8ld KiB\n", engineRss);
    fs::remove_all(dir);
    return 0;
}
