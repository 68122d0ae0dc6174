// The checked store on damage made at run time from the samples, with
// fixed seeds: truncation, overwritten bytes, zeroed 4 KiB ranges, swapped
// pages and damaged B-tree pages. Each damaged copy is opened and walked
// completely in a forked child under CPU and memory limits.
//
// The rules checked: an item handed on without a damage note reads exactly
// as the intact file's item of the same entry id; and every variant hands
// on (whole or salvaged with a note) at least as many items as pffexport
// exports from it, or as it exports from the intact file where a damaged
// tree makes it export more than that. Items that fail when opened are
// counted too, and the table is printed. QUIRNEL_KEEP_VARIANTS=DIR keeps
// the variants for a closer look.
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <map>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <mapiutil.h>
#include <mapix.h>

#include <cstring>

#include "providers/providers.h"
#include "providers/pst/format/chk_rescue.h"
#include "providers/pst/pst_test_support.h"
#include "runtime/mapi_ptr.h"
#include "runtime/provider.h"

namespace mapi::pst {
namespace {

using Bytes = std::vector<uint8_t>;

#if defined(__SANITIZE_ADDRESS__)
constexpr bool kLimitMemory = false;  // the sanitizer reserves far more address space
#else
constexpr bool kLimitMemory = true;
#endif

// What a walk of one store found: entry id (hex) -> digest, and the ids of
// items that carry a damage note.
struct Walk {
    bool opened = false;
    std::map<std::string, std::string> digests;
    std::map<std::string, bool> noted;
    std::map<std::string, std::string> folder;  // the folder the walk found the item in
};

ComRef<IMsgStore> OpenChecked(const std::string& path) {
    ProfileEntry entry{"test", "Sample", "pst-checked", path};
    ComRef<IMsgStore> store;
    std::string error;
    PstCheckedStoreProvider()->OpenStore(entry, store.Out(), &error);
    return store;
}

std::string Hex(const SBinary& b) {
    std::string text;
    char byte[3];
    for (ULONG i = 0; i < b.cb; ++i) {
        std::snprintf(byte, sizeof byte, "%02X", b.lpb[i]);
        text += byte;
    }
    return text;
}

// Marks the items that carry the DamageReport property.
void FindNotes(IMsgStore* store, IMAPIFolder* folder, ULONG reportTag, Walk* walk, int depth) {
    if (depth > 64) return;
    std::string folderId;
    LPSPropValue own = nullptr;
    if (HrGetOneProp(folder, PR_ENTRYID, &own) == S_OK) folderId = Hex(own->Value.bin);
    MapiBuffer<SPropValue> heldOwn(own);
    SizedSPropTagArray(1, columns) = {1, {PR_ENTRYID}};
    for (ULONG flags : {0u, static_cast<ULONG>(MAPI_ASSOCIATED)}) {
        ComRef<IMAPITable> contents;
        LPSRowSet raw = nullptr;
        if (folder->GetContentsTable(flags, contents.Out()) != S_OK ||
            HrQueryAllRows(contents.get(), reinterpret_cast<LPSPropTagArray>(&columns), nullptr, nullptr, 0,
                           &raw) != S_OK)
            continue;
        RowSetPtr rows(raw);
        for (ULONG i = 0; i < rows->cRows; ++i) {
            const SPropValue& id = rows->aRow[i].lpProps[0];
            if (PROP_TYPE(id.ulPropTag) != PT_BINARY) continue;
            ComRef<IUnknown> object;
            ULONG type = 0;
            bool note = false;
            if (folder->OpenEntry(id.Value.bin.cb, reinterpret_cast<LPENTRYID>(id.Value.bin.lpb), nullptr, 0,
                                  &type, object.Out()) == S_OK) {
                LPSPropValue value = nullptr;
                note = HrGetOneProp(reinterpret_cast<IMAPIProp*>(object.get()), reportTag, &value) == S_OK;
                MapiBuffer<SPropValue> held(value);
            }
            walk->noted[Hex(id.Value.bin)] = note;
            walk->folder[Hex(id.Value.bin)] = folderId;
        }
    }
    ComRef<IMAPITable> hierarchy;
    LPSRowSet raw = nullptr;
    if (folder->GetHierarchyTable(0, hierarchy.Out()) != S_OK ||
        HrQueryAllRows(hierarchy.get(), reinterpret_cast<LPSPropTagArray>(&columns), nullptr, nullptr, 0, &raw) !=
            S_OK)
        return;
    RowSetPtr rows(raw);
    for (ULONG i = 0; i < rows->cRows; ++i) {
        const SPropValue& id = rows->aRow[i].lpProps[0];
        ComRef<IUnknown> child;
        ULONG type = 0;
        if (PROP_TYPE(id.ulPropTag) == PT_BINARY &&
            folder->OpenEntry(id.Value.bin.cb, reinterpret_cast<LPENTRYID>(id.Value.bin.lpb), nullptr, 0, &type,
                              child.Out()) == S_OK)
            FindNotes(store, reinterpret_cast<IMAPIFolder*>(child.get()), reportTag, walk, depth + 1);
    }
}

Walk WalkStore(const std::string& path) {
    Walk w;
    ComRef<IMsgStore> store = OpenChecked(path);
    if (!store) return w;
    w.opened = true;
    w.digests = testing::FingerprintStore(store.get());
    MAPINAMEID name{};
    GUID set;
    std::memcpy(&set, fmt::kPsQuirnel.data(), 16);
    name.lpguid = &set;
    name.ulKind = MNID_STRING;
    std::u16string text = fmt::kDamageReportName;
    std::vector<WCHAR> wide(text.begin(), text.end());
    wide.push_back(0);
    name.Kind.lpwstrName = wide.data();
    LPMAPINAMEID names[1] = {&name};
    LPSPropTagArray tags = nullptr;
    ULONG reportTag = 0;
    if (store->GetIDsFromNames(1, names, 0, &tags) == S_OK && tags->cValues == 1)
        reportTag = PROP_TAG(PT_UNICODE, PROP_ID(tags->aulPropTag[0]));
    MAPIFreeBuffer(tags);
    ComRef<IUnknown> root;
    ULONG type = 0;
    if (reportTag != 0 && store->OpenEntry(0, nullptr, nullptr, 0, &type, root.Out()) == S_OK)
        FindNotes(store.get(), reinterpret_cast<IMAPIFolder*>(root.get()), reportTag, &w, 0);
    return w;
}

enum class End { Finished, Crashed, TimedOut };

// The walk in a child process: "D id digest" and "N id" lines on a pipe.
End WalkInChild(const std::string& path, Walk* out) {
    int fds[2];
    if (pipe(fds) != 0) return End::Crashed;
    fflush(nullptr);
    pid_t pid = fork();
    if (pid == 0) {
        close(fds[0]);
        rlimit cpu{20, 21};
        setrlimit(RLIMIT_CPU, &cpu);
        if (kLimitMemory) {
            rlimit memory{size_t{1} << 30, size_t{1} << 30};
            setrlimit(RLIMIT_AS, &memory);
        }
        alarm(40);
        Walk w = WalkStore(path);
        std::string text = w.opened ? "O\n" : "";
        for (const auto& [id, d] : w.digests) text += "D " + id + " " + d + "\n";
        for (const auto& [id, n] : w.noted)
            if (n) text += "N " + id + "\n";
        for (const auto& [id, f] : w.folder) text += "F " + id + " " + f + "\n";
        for (size_t at = 0; at < text.size();) {
            ssize_t n = write(fds[1], text.data() + at, text.size() - at);
            if (n <= 0) break;
            at += static_cast<size_t>(n);
        }
        _exit(0);
    }
    close(fds[1]);
    std::string text;
    char buffer[4096];
    for (ssize_t n; (n = read(fds[0], buffer, sizeof buffer)) > 0;) text.append(buffer, static_cast<size_t>(n));
    close(fds[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    if (WIFSIGNALED(status)) return WTERMSIG(status) == SIGALRM || WTERMSIG(status) == SIGXCPU ? End::TimedOut : End::Crashed;
    std::istringstream in(text);
    std::string kind, id, digest;
    while (in >> kind) {
        if (kind == "O") out->opened = true;
        else if (kind == "D" && in >> id >> digest) out->digests[id] = digest;
        else if (kind == "N" && in >> id) out->noted[id] = true;
        else if (kind == "F" && in >> id >> digest) out->folder[id] = digest;
    }
    return End::Finished;
}

// Offsets of the B-tree pages of an intact file (page type at 496 or 500
// repeated at the next byte).
std::vector<size_t> BtreePages(const Bytes& file, bool unicode) {
    std::vector<size_t> pages;
    size_t at = unicode ? 496 : 500;
    for (size_t ib = 512; ib + 512 <= file.size(); ib += 512) {
        uint8_t t = file[ib + at];
        if ((t == 0x80 || t == 0x81) && file[ib + at + 1] == t) pages.push_back(ib);
    }
    return pages;
}

const char* kKinds[] = {"truncated", "overwritten", "zeroed 4 KiB", "swapped pages", "B-tree page"};

Bytes Damage(const Bytes& intact, int kind, std::mt19937& rng, const std::vector<size_t>& btree) {
    Bytes d = intact;
    auto pick = [&](size_t lo, size_t hi) { return std::uniform_int_distribution<size_t>(lo, hi)(rng); };
    switch (kind) {
        case 0: d.resize(pick(0x4400, d.size() - 1)); break;
        case 1:
            for (int i = 0, n = static_cast<int>(pick(1, 8)); i < n; ++i) {
                size_t at = pick(0x4400, d.size() - 16);
                for (size_t k = 0, len = pick(1, 16); k < len; ++k) d[at + k] = static_cast<uint8_t>(rng());
            }
            break;
        case 2: {
            size_t at = pick(0x4400 / 4096, d.size() / 4096 - 1) * 4096;
            std::fill(d.begin() + static_cast<long>(at), d.begin() + static_cast<long>(at + 4096), 0);
            break;
        }
        case 3: {
            size_t a = pick(0x4400 / 512, d.size() / 512 - 1) * 512, b = pick(0x4400 / 512, d.size() / 512 - 1) * 512;
            std::swap_ranges(d.begin() + static_cast<long>(a), d.begin() + static_cast<long>(a + 512),
                             d.begin() + static_cast<long>(b));
            break;
        }
        default: {
            size_t page = btree[pick(0, btree.size() - 1)];
            for (int i = 0; i < 4; ++i) d[page + pick(0, 495)] = static_cast<uint8_t>(rng());
            break;
        }
    }
    return d;
}

size_t PffexportItems(const std::string& path, const std::string& dir) {
    std::map<std::string, ULONG> counts;
    std::string root;
    if (!testing::PffexportCounts(path, dir, &counts, &root)) return 0;
    size_t n = 0;
    for (const auto& [folder, c] : counts) n += c;
    return n;
}

TEST(CheckedDamage, NothingDamagedIsHandedOnAsWhole) {
    namespace fs = std::filesystem;
    std::string dir = testing::MakeTempDir();
    const int kVariantsPerSample = 80;
    std::cout << "variant                        whole salvaged failed  gone moved pffexport\n";
    size_t totals[6] = {0, 0, 0, 0, 0, 0};
    int variants = 0;
    for (const std::string& name : testing::SampleNames()) {
        std::ifstream in(testing::SamplePath(name), std::ios::binary);
        Bytes intact((std::istreambuf_iterator<char>(in)), {});
        Walk base = WalkStore(testing::SamplePath(name));
        ASSERT_TRUE(base.opened) << name;
        std::vector<size_t> btree = BtreePages(intact, name != "32-bit.pst");
        // pffexport's count of the intact file caps what a variant is held
        // to: a damaged tree can make it export an item twice.
        size_t pffIntact = PffexportItems(testing::SamplePath(name), dir + "/pff-intact");
        fs::remove_all(dir + "/pff-intact");
        for (int seed = 0; seed < kVariantsPerSample; ++seed) {
            int kind = seed % 5;
            std::mt19937 rng(static_cast<uint32_t>(seed * 7919 + name.size()));
            Bytes damaged = Damage(intact, kind, rng, btree);
            std::string path = dir + "/variant.pst";
            std::ofstream(path, std::ios::binary | std::ios::trunc)
                .write(reinterpret_cast<const char*>(damaged.data()), static_cast<std::streamsize>(damaged.size()));
            // QUIRNEL_KEEP_VARIANTS=DIR keeps every variant there, to look
            // into one with other tools.
            if (const char* keep = std::getenv("QUIRNEL_KEEP_VARIANTS"))
                fs::copy_file(path, std::string(keep) + "/" + name + "." + std::to_string(seed) + ".pst",
                              fs::copy_options::overwrite_existing);
            Walk w;
            End end = WalkInChild(path, &w);
            std::string label = name + " #" + std::to_string(seed) + " " + kKinds[kind];
            EXPECT_EQ(end, End::Finished) << label;
            size_t whole = 0, salvaged = 0, failed = 0, gone = 0, moved = 0;
            // Items are matched by node id (the entry id's last four bytes):
            // a store whose record key is lost gets a new one, and with it
            // every entry id changes.
            auto nidOf = [](const std::string& id) { return id.size() >= 8 ? id.substr(id.size() - 8) : id; };
            std::map<std::string, std::string> baseByNid;
            for (const auto& [id, digest] : base.digests) baseByNid[nidOf(id)] = id;
            std::set<std::string> seen;
            for (const auto& [id, digest] : w.digests) {
                seen.insert(nidOf(id));
                if (digest == "fail") {
                    ++failed;
                    continue;
                }
                if (w.noted.count(id) != 0) {
                    ++salvaged;
                    continue;
                }
                ++whole;
                auto was = baseByNid.find(nidOf(id));
                // An item without a note reads as it did in the intact file.
                // One the intact file does not have (recovered from a damaged
                // tree) has nothing to compare with; one under a new store id
                // or in another folder (its own folder lost) differs in the
                // ids that say where it is, and is counted apart.
                if (was == baseByNid.end()) continue;
                if (was->second != id || w.folder[id] != base.folder[was->second]) {
                    ++moved;
                    continue;
                }
                EXPECT_EQ(digest, base.digests[id]) << label << ": item " << id << " changed without a note";
            }
            for (const auto& [nid, id] : baseByNid) gone += seen.count(nid) == 0 ? 1 : 0;
            size_t pff = PffexportItems(path, dir + "/pff" + std::to_string(variants));
            fs::remove_all(dir + "/pff" + std::to_string(variants));
            // Every item pffexport gets out of the variant, we hand on too,
            // whole or with a note of what was lost.
            size_t owed = std::min(pff, pffIntact);
            EXPECT_GE(whole + salvaged, owed) << label << ": fewer items handed on than pffexport exports";
            char line[200];
            std::snprintf(line, sizeof line, "%-30s %5zu %8zu %6zu %5zu %5zu %9zu%s%s\n", label.c_str(), whole, salvaged,
                          failed, gone, moved, pff, pff > pffIntact ? " (more than the intact file)" : "",
                          w.opened ? "" : "  (not opened)");
            std::cout << line;
            size_t row[6] = {whole, salvaged, failed, gone, moved, pff};
            for (int i = 0; i < 6; ++i) totals[i] += row[i];
            ++variants;
        }
    }
    std::printf("%-30s %5zu %8zu %6zu %5zu %5zu %9zu\n", ("total of " + std::to_string(variants)).c_str(),
                totals[0], totals[1], totals[2], totals[3], totals[4], totals[5]);
    fs::remove_all(dir);
}

}  // namespace
}  // namespace mapi::pst
