// The checked store on damage made at run time from the samples, with
// fixed seeds: truncation, overwritten bytes, zeroed 4 KiB and 64 KiB
// ranges, swapped pages, damaged B-tree pages, a sector of 0xFF bytes, and
// reads that fail over a 64 KiB range. Each damaged copy is opened and
// walked completely in a forked child under CPU and memory limits.
//
// The rules checked: an item handed on without a damage note reads exactly
// as the intact file's item of the same entry id; every variant hands on
// (whole or salvaged with a note) at least as many items as pffexport
// exports from it, or as it exports from the intact file where a damaged
// tree makes it export more than that; and nothing is lost in silence:
// every item of the intact file is handed on, fails when opened, or is gone
// from a folder that a record of the store's damage account names; a
// variant that differs from the intact file has a record or a note; and
// the account never claims more items lost than are gone. The table by
// kind is printed. QUIRNEL_KEEP_VARIANTS=DIR keeps the variants for a
// closer look.
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
#include "providers/pst/pst_checked_store.h"
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
    // The store's damage account: items known lost and the record's text.
    std::vector<std::pair<uint64_t, std::string>> account;
};

// Where a variant's bytes come from: the file at path, or the intact
// image with reads failing over [from, to).
struct Source {
    std::string path;
    const Bytes* image = nullptr;
    uint64_t from = 0, to = 0;
};

ComRef<IMsgStore> OpenChecked(const Source& source) {
    ProfileEntry entry{"test", "Sample", "pst-checked", source.path};
    ComRef<IMsgStore> store;
    std::string error;
    if (source.image != nullptr)
        OpenCheckedStore(std::make_unique<testing::BadSectors>(*source.image, source.from, source.to), entry,
                         store.Out(), &error);
    else
        PstCheckedStoreProvider()->OpenStore(entry, store.Out(), &error);
    return store;
}

ULONG NamedTag(IMsgStore* store, const char16_t* text, ULONG type) {
    MAPINAMEID name{};
    GUID set;
    std::memcpy(&set, fmt::kPsQuirnel.data(), 16);
    name.lpguid = &set;
    name.ulKind = MNID_STRING;
    std::vector<WCHAR> wide(text, text + std::char_traits<char16_t>::length(text));
    wide.push_back(0);
    name.Kind.lpwstrName = wide.data();
    LPMAPINAMEID names[1] = {&name};
    LPSPropTagArray tags = nullptr;
    ULONG tag = 0;
    if (store->GetIDsFromNames(1, names, 0, &tags) == S_OK && tags->cValues == 1)
        tag = PROP_TAG(type, PROP_ID(tags->aulPropTag[0]));
    MAPIFreeBuffer(tags);
    return tag;
}

// The account's records as the store object serves them (ASCII kept, the
// rest as '?': the test looks only for folder ids in them).
std::vector<std::pair<uint64_t, std::string>> ReadAccount(IMsgStore* store) {
    std::vector<std::pair<uint64_t, std::string>> account;
    SizedSPropTagArray(2, tags) = {2, {NamedTag(store, fmt::kDamageAccountName, PT_MV_UNICODE),
                                       NamedTag(store, fmt::kDamageItemsLostName, PT_MV_LONG)}};
    ULONG count = 0;
    LPSPropValue raw = nullptr;
    if (FAILED(store->GetProps(reinterpret_cast<LPSPropTagArray>(&tags), 0, &count, &raw))) return account;
    MapiBuffer<SPropValue> held(raw);
    if (count != 2 || PROP_TYPE(raw[0].ulPropTag) != PT_MV_UNICODE || PROP_TYPE(raw[1].ulPropTag) != PT_MV_LONG)
        return account;
    EXPECT_EQ(raw[0].Value.MVszW.cValues, raw[1].Value.MVl.cValues);
    for (ULONG i = 0; i < raw[0].Value.MVszW.cValues && i < raw[1].Value.MVl.cValues; ++i) {
        std::string text;
        for (const WCHAR* c = raw[0].Value.MVszW.lppszW[i]; *c != 0; ++c)
            text += *c < 0x80 && *c != '\n' ? static_cast<char>(*c) : '?';
        account.emplace_back(static_cast<uint64_t>(raw[1].Value.MVl.lpl[i]), text);
    }
    return account;
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

Walk WalkStore(const Source& source) {
    Walk w;
    ComRef<IMsgStore> store = OpenChecked(source);
    if (!store) return w;
    w.opened = true;
    w.digests = testing::FingerprintStore(store.get());
    w.account = ReadAccount(store.get());
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

// The walk in a child process: "D id digest", "N id", "F id folder" and
// "A lost text" lines on a pipe.
End WalkInChild(const Source& source, Walk* out) {
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
        Walk w = WalkStore(source);
        std::string text = w.opened ? "O\n" : "";
        for (const auto& [id, d] : w.digests) text += "D " + id + " " + d + "\n";
        for (const auto& [id, n] : w.noted)
            if (n) text += "N " + id + "\n";
        for (const auto& [id, f] : w.folder) text += "F " + id + " " + f + "\n";
        for (const auto& [lost, record] : w.account) text += "A " + std::to_string(lost) + " " + record + "\n";
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
        else if (kind == "A" && in >> id && std::getline(in, digest))
            out->account.emplace_back(std::stoull(id), digest.substr(1));
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

const char* kKinds[] = {"truncated",    "overwritten",  "zeroed 4 KiB", "swapped pages",
                        "B-tree page", "zeroed 64 KiB", "0xFF sector", "read errors"};
constexpr int kKindCount = 8;
constexpr int kReadErrors = 7;  // made by the byte source, not in the bytes

// A damaged copy of intact of the given kind; for read errors the bytes stay
// whole and *from, *to get the range whose reads fail.
Bytes Damage(const Bytes& intact, int kind, std::mt19937& rng, const std::vector<size_t>& btree, uint64_t* from,
             uint64_t* to) {
    Bytes d = intact;
    auto pick = [&](size_t lo, size_t hi) { return std::uniform_int_distribution<size_t>(lo, hi)(rng); };
    auto fill = [&](size_t unit, uint8_t value) {
        size_t at = pick(0x4400 / unit, d.size() / unit - 1) * unit;
        std::fill(d.begin() + static_cast<long>(at), d.begin() + static_cast<long>(std::min(at + unit, d.size())),
                  value);
    };
    switch (kind) {
        case 0: d.resize(pick(0x4400, d.size() - 1)); break;
        case 1:
            for (int i = 0, n = static_cast<int>(pick(1, 8)); i < n; ++i) {
                size_t at = pick(0x4400, d.size() - 16);
                for (size_t k = 0, len = pick(1, 16); k < len; ++k) d[at + k] = static_cast<uint8_t>(rng());
            }
            break;
        case 2: fill(4096, 0); break;
        case 3: {
            size_t a = pick(0x4400 / 512, d.size() / 512 - 1) * 512, b = pick(0x4400 / 512, d.size() / 512 - 1) * 512;
            std::swap_ranges(d.begin() + static_cast<long>(a), d.begin() + static_cast<long>(a + 512),
                             d.begin() + static_cast<long>(b));
            break;
        }
        case 4: {
            size_t page = btree[pick(0, btree.size() - 1)];
            for (int i = 0; i < 4; ++i) d[page + pick(0, 495)] = static_cast<uint8_t>(rng());
            break;
        }
        case 5: fill(65536, 0); break;
        case 6: fill(512, 0xFF); break;
        default:
            *from = pick(0x4400 / 512, d.size() / 512 - 1) * 512;
            *to = *from + 65536;
            break;
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

uint32_t NidOfHex(const std::string& id) {
    // The entry id's last four bytes, little-endian.
    if (id.size() < 8) return 0;
    return static_cast<uint32_t>(std::stoul(id.substr(id.size() - 2, 2) + id.substr(id.size() - 4, 2) +
                                                id.substr(id.size() - 6, 2) + id.substr(id.size() - 8, 2),
                                            nullptr, 16));
}

// The node id ranges of the node index pages a record says are lost.
std::vector<std::pair<uint64_t, uint64_t>> LostNodeRanges(const std::vector<std::pair<uint64_t, std::string>>& account) {
    std::vector<std::pair<uint64_t, uint64_t>> ranges;
    for (const auto& [lost, text] : account) {
        unsigned long long from = 0, to = 0;
        size_t at = text.find("(node ids ");
        if (text.find("(all node ids)") != std::string::npos) ranges.emplace_back(0, UINT64_MAX);
        else if (at != std::string::npos && std::sscanf(text.c_str() + at, "(node ids 0x%llX to 0x%llX)", &from, &to) == 2)
            ranges.emplace_back(from, to);
        else if (at != std::string::npos && std::sscanf(text.c_str() + at, "(node ids from 0x%llX up)", &from) == 1)
            ranges.emplace_back(from, UINT64_MAX);
    }
    return ranges;
}

// What happened to the intact file's items in one variant, and its account.
struct Tally {
    size_t whole = 0, salvaged = 0, failed = 0, accounted = 0, inLostRange = 0, unaccounted = 0, moved = 0,
           records = 0, knownLost = 0, notOpened = 0;
    void Add(const Tally& t) {
        whole += t.whole, salvaged += t.salvaged, failed += t.failed, accounted += t.accounted;
        inLostRange += t.inLostRange;
        unaccounted += t.unaccounted, moved += t.moved, records += t.records, knownLost += t.knownLost;
        notOpened += t.notOpened;
    }
};

TEST(CheckedDamage, NothingDamagedIsHandedOnAsWhole) {
    namespace fs = std::filesystem;
    std::string dir = testing::MakeTempDir();
    // Per sample and kind.
    const int kVariantsPerKind = 8;
    Tally byKind[kKindCount];
    size_t variantsOf[kKindCount] = {};
    for (const std::string& name : testing::SampleNames()) {
        std::ifstream in(testing::SamplePath(name), std::ios::binary);
        Bytes intact((std::istreambuf_iterator<char>(in)), {});
        Walk base = WalkStore({testing::SamplePath(name)});
        ASSERT_TRUE(base.opened) << name;
        // An intact file accounts for no damage: a run of it must end clean.
        EXPECT_TRUE(base.account.empty()) << name << ": " << base.account.front().second;
        std::vector<size_t> btree = BtreePages(intact, name != "32-bit.pst");
        // pffexport's count of the intact file caps what a variant is held
        // to: a damaged tree can make it export an item twice.
        size_t pffIntact = PffexportItems(testing::SamplePath(name), dir + "/pff-intact");
        fs::remove_all(dir + "/pff-intact");
        for (int seed = 0; seed < kVariantsPerKind * kKindCount; ++seed) {
            int kind = seed % kKindCount;
            std::mt19937 rng(static_cast<uint32_t>(seed * 7919 + name.size()));
            Source source{dir + "/variant.pst"};
            Bytes damaged = Damage(intact, kind, rng, btree, &source.from, &source.to);
            if (kind == kReadErrors) source.image = &intact;
            std::ofstream(source.path, std::ios::binary | std::ios::trunc)
                .write(reinterpret_cast<const char*>(damaged.data()), static_cast<std::streamsize>(damaged.size()));
            // QUIRNEL_KEEP_VARIANTS=DIR keeps every variant there, to look
            // into one with other tools.
            if (const char* keep = std::getenv("QUIRNEL_KEEP_VARIANTS"))
                fs::copy_file(source.path, std::string(keep) + "/" + name + "." + std::to_string(seed) + ".pst",
                              fs::copy_options::overwrite_existing);
            Walk w;
            End end = WalkInChild(source, &w);
            std::string label = name + " #" + std::to_string(seed) + " " + kKinds[kind];
            if (kind == kReadErrors) label += " from " + std::to_string(source.from);
            EXPECT_EQ(end, End::Finished) << label;
            Tally t;
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
                    ++t.failed;
                    continue;
                }
                if (w.noted.count(id) != 0) {
                    ++t.salvaged;
                    continue;
                }
                ++t.whole;
                auto was = baseByNid.find(nidOf(id));
                // An item without a note reads as it did in the intact file.
                // One the intact file does not have (recovered from a damaged
                // tree) has nothing to compare with; one under a new store id
                // or in another folder (its own folder lost) differs in the
                // ids that say where it is, and is counted apart.
                if (was == baseByNid.end()) continue;
                if (was->second != id || w.folder[id] != base.folder[was->second]) {
                    ++t.moved;
                    continue;
                }
                EXPECT_EQ(digest, base.digests[id]) << label << ": item " << id << " changed without a note";
            }
            t.records = w.account.size();
            for (const auto& [lost, text] : w.account) t.knownLost += lost;
            // An item gone from the variant must be gone from a folder the
            // account names, or the account must name the lost index page
            // whose range held it or its folder (when nothing left in the
            // file names the folder); a store that does not open at all
            // ends a run with its reason.
            const auto ranges = LostNodeRanges(w.account);
            auto inRange = [&](uint32_t nid) {
                for (const auto& [from, to] : ranges) if (nid >= from && nid <= to) return true;
                return false;
            };
            size_t gone = 0;
            for (const auto& [nid, id] : baseByNid) {
                if (seen.count(nid) != 0) continue;
                ++gone;
                char folder[40];
                std::snprintf(folder, sizeof folder, "(folder 0x%X)", NidOfHex(base.folder[id]));
                bool named = false;
                for (const auto& [lost, text] : w.account) named = named || text.find(folder) != std::string::npos;
                bool ranged = !named && (inRange(NidOfHex(id)) || inRange(NidOfHex(base.folder[id])));
                if (!w.opened) ++t.notOpened;
                else if (named) ++t.accounted;
                else if (ranged) ++t.inLostRange;
                else ++t.unaccounted;
                EXPECT_TRUE(named || ranged || !w.opened) << label << ": item " << id << " of folder " << folder
                                                          << " is gone and no record names its folder";
            }
            // A variant that lost anything says so: a record, a note, an
            // item that fails, or a store that does not open.
            EXPECT_TRUE(gone + t.moved == 0 || t.records + t.salvaged + t.failed > 0 || !w.opened)
                << label << ": a silent loss";
            EXPECT_LE(t.knownLost, gone) << label << ": more items known lost than are gone";
            size_t pff = 0;
            if (kind != kReadErrors) {
                pff = PffexportItems(source.path, dir + "/pff");
                fs::remove_all(dir + "/pff");
            }
            // Every item pffexport gets out of the variant, we hand on too,
            // whole or with a note of what was lost.
            EXPECT_GE(t.whole + t.salvaged, std::min(pff, pffIntact))
                << label << ": fewer items handed on than pffexport exports";
            if (t.unaccounted > 0) std::cout << label << ": " << t.unaccounted << " items gone without a record\n";
            byKind[kind].Add(t);
            ++variantsOf[kind];
        }
    }
    std::cout << "kind            variants whole salvaged failed accounted in-range unaccounted not-opened moved"
                 " records known-lost\n";
    Tally all;
    for (int k = 0; k < kKindCount; ++k) {
        const Tally& t = byKind[k];
        std::printf("%-15s %8zu %5zu %8zu %6zu %9zu %8zu %11zu %10zu %5zu %7zu %10zu\n", kKinds[k], variantsOf[k],
                    t.whole, t.salvaged, t.failed, t.accounted, t.inLostRange, t.unaccounted, t.notOpened, t.moved,
                    t.records, t.knownLost);
        all.Add(t);
    }
    std::printf("%-15s %8d %5zu %8zu %6zu %9zu %8zu %11zu %10zu %5zu %7zu %10zu\n", "all",
                kVariantsPerKind * kKindCount * static_cast<int>(testing::SampleNames().size()), all.whole,
                all.salvaged, all.failed, all.accounted, all.inLostRange, all.unaccounted, all.notOpened, all.moved,
                all.records, all.knownLost);
    fs::remove_all(dir);
}

}  // namespace
}  // namespace mapi::pst
