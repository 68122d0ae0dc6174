// Robustness of the provider on damaged files, made at run time from the
// samples: truncated at several offsets, bits flipped in many places, 512
// byte pages zeroed.
//
// Each damaged copy is opened and walked completely (every folder, every
// item with its properties, recipients, attachments and embedded messages)
// in a forked child under a time and memory limit, so that a crash or hang
// inside libpff is contained and reported instead of ending the test run.
//
// Which items the damage "did not touch" is decided by an approximation that
// can be checked: an item depends on a region of the file when inverting
// every byte of that region (alone) changes what the walk reads for the
// item, or makes it unreadable. For each damaged copy, every item of the
// intact file that depends on none of the damaged regions must be read with
// exactly the intact content. Damage to several regions at once could in
// principle combine into an effect none of them has alone; that case is not
// covered.
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <set>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "providers/pst/pst_test_support.h"

namespace mapi::pst {
namespace {

using namespace mapi::pst::testing;

using Fingerprints = std::map<std::string, std::string>;  // entry id (hex) -> digest or "fail"

enum class ChildEnd { Finished, Crashed, TimedOut };

struct WalkResult {
    ChildEnd end = ChildEnd::Finished;
    int signal = 0;
    Fingerprints items;
};

#if defined(__SANITIZE_ADDRESS__)
constexpr bool kLimitMemory = false;  // the sanitizer reserves far more address space
#else
constexpr bool kLimitMemory = true;
#endif

// Walks the store at path in a child process with limits; its findings come
// back through a pipe, one "id digest" line per item.
WalkResult WalkInChild(const std::string& path, unsigned seconds) {
    WalkResult result;
    int fds[2];
    if (pipe(fds) != 0) {
        result.end = ChildEnd::Crashed;
        return result;
    }
    fflush(nullptr);
    pid_t pid = fork();
    if (pid == 0) {
        close(fds[0]);
        rlimit cpu{seconds, seconds + 1};
        setrlimit(RLIMIT_CPU, &cpu);
        if (kLimitMemory) {
            rlimit memory{size_t{1} << 30, size_t{1} << 30};
            setrlimit(RLIMIT_AS, &memory);
        }
        alarm(seconds * 2);  // a wait that uses no CPU is a hang too
        std::string out;
        ComRef<IMsgStore> store = OpenStoreFile(path);
        if (store) {
            for (const auto& [id, digest] : FingerprintStore(store.get()))
                out += id + " " + digest + "\n";
        }
        store.Reset();
        size_t done = 0;
        while (done < out.size()) {
            ssize_t n = write(fds[1], out.data() + done, out.size() - done);
            if (n <= 0) break;
            done += static_cast<size_t>(n);
        }
        _exit(0);
    }
    close(fds[1]);
    std::string text;
    char buffer[65536];
    ssize_t n;
    while ((n = read(fds[0], buffer, sizeof buffer)) > 0)
        text.append(buffer, static_cast<size_t>(n));
    close(fds[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    if (WIFSIGNALED(status)) {
        result.signal = WTERMSIG(status);
        result.end = result.signal == SIGALRM || result.signal == SIGXCPU ? ChildEnd::TimedOut
                                                                          : ChildEnd::Crashed;
        return result;
    }
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {  // a sanitizer's report, for one
        result.end = ChildEnd::Crashed;
        return result;
    }
    size_t at = 0;
    while (at < text.size()) {
        size_t end = text.find('\n', at);
        std::string line = text.substr(at, end - at);
        at = end + 1;
        size_t space = line.find(' ');
        if (space != std::string::npos)
            result.items[line.substr(0, space)] = line.substr(space + 1);
    }
    return result;
}

std::string Describe(const WalkResult& walk) {
    if (walk.end == ChildEnd::TimedOut) return "time limit";
    return walk.signal != 0 ? "signal " + std::to_string(walk.signal) : "failed exit";
}

std::vector<char> ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<char>((std::istreambuf_iterator<char>(in)),
                             std::istreambuf_iterator<char>());
}

void WriteFile(const std::string& path, const std::vector<char>& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

struct Damage {
    std::string what;
    std::vector<char> bytes;
    std::set<size_t> regions;  // indexes of the regions it changed
};

// The damaged copies of one file; regions are `unit` bytes long.
std::vector<Damage> MakeDamage(const std::vector<char>& intact, size_t unit, unsigned seed) {
    std::vector<Damage> out;
    std::mt19937 random(seed);
    size_t size = intact.size();
    size_t regions = (size + unit - 1) / unit;
    for (double fraction : {0.97, 0.8, 0.5, 0.1}) {
        Damage d;
        size_t cut = static_cast<size_t>(size * fraction);
        d.what = "truncated at " + std::to_string(cut);
        d.bytes.assign(intact.begin(), intact.begin() + static_cast<long>(cut));
        for (size_t r = cut / unit; r < regions; ++r) d.regions.insert(r);
        out.push_back(std::move(d));
    }
    for (int round = 0; round < 6; ++round) {
        Damage d;
        d.bytes = intact;
        int flips = round < 3 ? 4 : 32;
        d.what = std::to_string(flips) + " bit flips (round " + std::to_string(round) + ")";
        for (int i = 0; i < flips; ++i) {
            size_t at = std::uniform_int_distribution<size_t>(0, size - 1)(random);
            d.bytes[at] = static_cast<char>(d.bytes[at] ^ (1 << (random() % 8)));
            d.regions.insert(at / unit);
        }
        out.push_back(std::move(d));
    }
    for (int round = 0; round < 6; ++round) {
        Damage d;
        d.bytes = intact;
        int pages = round < 3 ? 1 : 4;
        d.what = std::to_string(pages) + " zeroed pages (round " + std::to_string(round) + ")";
        for (int i = 0; i < pages; ++i) {
            size_t page = std::uniform_int_distribution<size_t>(0, size / 512 - 1)(random);
            std::fill(d.bytes.begin() + static_cast<long>(page * 512),
                      d.bytes.begin() + static_cast<long>(page * 512 + 512), 0);
            for (size_t r = page * 512 / unit; r <= (page * 512 + 511) / unit; ++r)
                d.regions.insert(r);
        }
        out.push_back(std::move(d));
    }
    return out;
}

class PstDamage : public ::testing::TestWithParam<std::string> {};

TEST_P(PstDamage, DamageElsewhereLeavesItemsReadable) {
    const std::string name = GetParam();
    std::string dir = MakeTempDir();
    ASSERT_FALSE(dir.empty());
    std::vector<char> intact = ReadFile(SamplePath(name));
    // Regions small enough to tell items apart, few enough to sweep them all.
    size_t unit = intact.size() <= 65536 ? 512 : intact.size() <= 300000 ? 1024 : 4096;

    WalkResult reference = WalkInChild(SamplePath(name), 30);
    ASSERT_EQ(reference.end, ChildEnd::Finished);
    ASSERT_FALSE(reference.items.empty());
    for (const auto& [id, digest] : reference.items) ASSERT_NE(digest, "fail") << id;

    // Which regions each item depends on.
    size_t regions = (intact.size() + unit - 1) / unit;
    std::map<std::string, std::set<size_t>> dependsOn;
    std::vector<std::string> sweepFailures;
    std::string probe = dir + "/probe.pst";
    for (size_t r = 0; r < regions; ++r) {
        std::vector<char> bytes = intact;
        for (size_t i = r * unit; i < std::min(bytes.size(), (r + 1) * unit); ++i)
            bytes[i] = static_cast<char>(~bytes[i]);
        WriteFile(probe, bytes);
        WalkResult walk = WalkInChild(probe, 10);
        if (walk.end != ChildEnd::Finished)
            sweepFailures.push_back("region " + std::to_string(r) + " inverted: " + Describe(walk));
        for (const auto& [id, digest] : reference.items) {
            auto found = walk.items.find(id);
            if (walk.end != ChildEnd::Finished || found == walk.items.end() ||
                found->second != digest)
                dependsOn[id].insert(r);
        }
    }

    std::vector<std::string> contained;
    size_t checked = 0, spared = 0;
    for (Damage& damage : MakeDamage(intact, unit, 0x5eed + static_cast<unsigned>(name.size()))) {
        std::string path = dir + "/damaged.pst";
        WriteFile(path, damage.bytes);
        WalkResult walk = WalkInChild(path, 10);
        if (walk.end != ChildEnd::Finished) {
            contained.push_back(damage.what + (walk.end == ChildEnd::TimedOut
                                                   ? ": time limit"
                                                   : ": signal " + std::to_string(walk.signal)));
            continue;
        }
        for (const auto& [id, digest] : reference.items) {
            const std::set<size_t>& needs = dependsOn[id];
            bool touched = std::any_of(damage.regions.begin(), damage.regions.end(),
                                       [&](size_t r) { return needs.count(r) > 0; });
            if (touched) continue;
            ++spared;
            auto found = walk.items.find(id);
            EXPECT_TRUE(found != walk.items.end() && found->second == digest)
                << name << ", " << damage.what << ": item " << id
                << " does not depend on the damaged regions but "
                << (found == walk.items.end() ? "is missing" : "reads differently");
        }
        ++checked;
    }
    std::cout << name << ": " << reference.items.size() << " items, " << regions << " regions of "
              << unit << " bytes; " << checked << " damaged copies walked, " << spared
              << " untouched items checked";
    for (const std::string& c : contained) std::cout << "\n  contained in the child: " << c;
    for (const std::string& c : sweepFailures) std::cout << "\n  contained in the child: " << c;
    std::cout << std::endl;
    // A crash or hang of libpff on a damaged copy is contained by the child;
    // it must not be the common case.
    EXPECT_LE(contained.size(), 2u) << name;
    EXPECT_LE(sweepFailures.size(), regions / 20) << name;
    std::filesystem::remove_all(dir);
}

INSTANTIATE_TEST_SUITE_P(Samples, PstDamage, ::testing::ValuesIn(SampleNames()),
                         [](const auto& info) {
                             std::string name = info.param;
                             for (char& c : name)
                                 if (!isalnum(static_cast<unsigned char>(c))) c = '_';
                             return name;
                         });

}  // namespace
}  // namespace mapi::pst
