// The NDB structures against real files made by Outlook (CRCs, signatures,
// page and block trailers) and against themselves (write, read back).
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "providers/pst/format/ndb_amap.h"
#include "providers/pst/format/ndb_block.h"
#include "providers/pst/format/ndb_bytes.h"
#include "providers/pst/format/ndb_commit.h"
#include "providers/pst/format/ndb_crc.h"
#include "providers/pst/format/ndb_file_reader.h"
#include "providers/pst/format/ndb_file_writer.h"
#include "providers/pst/format/ndb_header.h"
#include "providers/pst/format/ndb_ids.h"
#include "providers/pst/format/ndb_page.h"
#include "providers/pst/format/ndb_permute.h"

namespace mapi::pst::fmt {
namespace {

// The shared folder sits beside the source tree; a checkout elsewhere
// names it in QUIRNEL_SHARED_DIR.
std::string SharedDir() {
    const char* env = std::getenv("QUIRNEL_SHARED_DIR");
    return env != nullptr && *env != 0 ? env : QUIRNEL_SHARED_DIR;
}

Bytes Fixture(const char* name) {
    std::ifstream in(SharedDir() + "/fixtures/pst/" + name, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), {});
}

TEST(NdbCrc, MatchesTheHeadersOfOutlookFiles) {
    for (const char* name : {"support.pst", "outlook.pst", "passworded.pst"}) {
        Bytes f = Fixture(name);
        ASSERT_GE(f.size(), Header::kSize) << name;
        EXPECT_EQ(ComputeCrc(f.data() + 8, 471), Get32(f.data() + 4)) << name;
        EXPECT_EQ(ComputeCrc(f.data() + 8, 516), Get32(f.data() + 524)) << name;
    }
    // Not zlib's convention: that one gives 0xCBF43926 for "123456789".
    EXPECT_NE(ComputeCrc("123456789", 9), 0xCBF43926u);
    // Continuing a checksum equals computing it at once.
    EXPECT_EQ(ComputeCrc("456789", 6, ComputeCrc("123", 3)), ComputeCrc("123456789", 9));
}

TEST(NdbHeader, ReadsOutlookFilesRefusesAnsiAndDamageAndRoundTrips) {
    Bytes f = Fixture("support.pst");
    Header h;
    std::string error;
    ASSERT_TRUE(Header::Read(f.data(), f.size(), &h, &error)) << error;
    EXPECT_EQ(h.root.fileEof, f.size());
    EXPECT_EQ(h.root.bbt.ib, 32768u);
    EXPECT_EQ(h.cryptMethod, kCryptPermute);

    Bytes ansi = Fixture("32-bit.pst");
    EXPECT_FALSE(Header::Read(ansi.data(), ansi.size(), &h, &error));
    EXPECT_NE(error.find("ANSI"), std::string::npos) << error;

    Bytes damaged = f;
    damaged[300] ^= 1;  // inside the partial CRC's range
    EXPECT_FALSE(Header::Read(damaged.data(), damaged.size(), &h, &error));
    damaged = f;
    damaged[520] ^= 1;  // only the full CRC covers bidNextB
    EXPECT_FALSE(Header::Read(damaged.data(), damaged.size(), &h, &error));
    EXPECT_NE(error.find("full"), std::string::npos) << error;

    Header mine = Header::ForNewFile();
    mine.root.nbt = {0x21, 0x4800};
    mine.root.fileEof = 123456;
    mine.nextNidIndex[5] = 0x777;
    Bytes out(Header::kSize);
    mine.Write(out.data());
    Header back;
    ASSERT_TRUE(Header::Read(out.data(), out.size(), &back, &error)) << error;
    EXPECT_EQ(back.root, mine.root);
    EXPECT_EQ(back.nextNidIndex, mine.nextNidIndex);
    EXPECT_EQ(back.nextBlockBid, mine.nextBlockBid);
    EXPECT_EQ(out[512], 0x80);
    EXPECT_EQ(Get16(out.data() + 10), 23);
}

TEST(NdbPage, TrailersOfOutlookPagesCheckAndOursMatchThem) {
    Bytes f = Fixture("support.pst");
    std::string error;
    // AMap, PMap and density list pages at their fixed places, and the
    // root of the block B-tree.
    PageTrailer t;
    ASSERT_TRUE(PageTrailer::Check(f.data() + 0x4400, 0x4400, &t, &error)) << error;
    EXPECT_EQ(t.type, kPageAMap);
    EXPECT_EQ(t.sig, 0);
    EXPECT_EQ(t.bid, 0x4400u);
    ASSERT_TRUE(PageTrailer::Check(f.data() + 0x4600, 0x4600, &t, &error)) << error;
    EXPECT_EQ(t.type, kPagePMap);
    ASSERT_TRUE(PageTrailer::Check(f.data() + 0x4200, 0x4200, &t, &error)) << error;
    EXPECT_EQ(t.type, kPageDList);
    EXPECT_EQ(t.sig, ComputeSig(0x4200, t.bid));

    BtPage root;
    ASSERT_TRUE(BtPage::Read(f.data() + 32768, 32768, &root, &error)) << error;
    EXPECT_EQ(root.type, kPageBBT);
    EXPECT_EQ(root.level, 1);
    EXPECT_EQ(root.children.size(), 17u);
    // Our writer gives the same 512 bytes for the same entries.
    uint64_t bid = Get64(f.data() + 32768 + 504);
    EXPECT_EQ(ComputeSig(32768, bid), Get16(f.data() + 32768 + 498));
    Bytes again(512);
    root.Write(again.data(), bid, 32768);
    EXPECT_TRUE(std::equal(again.begin(), again.begin() + 492, f.begin() + 32768));
    EXPECT_TRUE(std::equal(again.begin() + 496, again.end(), f.begin() + 32768 + 496));

    Bytes bad(f.begin() + 32768, f.begin() + 33280);
    bad[5] ^= 0x10;
    EXPECT_FALSE(BtPage::Read(bad.data(), 32768, &root, &error));
    EXPECT_FALSE(PageTrailer::Check(f.data() + 32768, 33280, &t, &error))
        << "a page read from the wrong place must fail its signature";
}

TEST(NdbBlock, OutlookBlocksCheckAndTreesRoundTrip) {
    Bytes f = Fixture("support.pst");
    std::string error;
    BtPage root, leaf;
    ASSERT_TRUE(BtPage::Read(f.data() + 32768, 32768, &root, &error));
    Bref first = root.children.front().child;
    ASSERT_TRUE(BtPage::Read(f.data() + first.ib, first.ib, &leaf, &error));
    size_t heaps = 0;
    const BbtEntry* external = nullptr;
    for (const BbtEntry& e : leaf.blocks) {
        Bytes data;
        EXPECT_TRUE(DecodeBlock(f.data() + e.bref.ib, f.size() - e.bref.ib, e.cb, e.bref.bid,
                                e.bref.ib, kCryptPermute, &data, &error))
            << error;
        EXPECT_EQ(data.size(), e.cb);
        // Re-encoding an Outlook block gives its stored data and trailer
        // byte for byte: the direction of the permutation, what it leaves
        // alone (tree blocks) and what the CRC covers all agree with Outlook.
        Bytes again = EncodeBlock(data, e.bref.bid, e.bref.ib, kCryptPermute);
        EXPECT_TRUE(std::equal(again.begin(), again.begin() + e.cb, f.begin() + static_cast<long>(e.bref.ib)))
            << e.bref.bid;
        EXPECT_TRUE(std::equal(again.end() - 16, again.end(),
                               f.begin() + static_cast<long>(e.bref.ib + again.size() - 16)));
        if (IsInternalBid(e.bref.bid)) continue;
        external = &e;
        // Heap-on-node blocks show their signature (0xEC at offset 2) only
        // once decoded.
        if (e.cb >= 12 && data[2] == 0xEC) ++heaps;
    }
    EXPECT_GT(heaps, 10u);
    ASSERT_NE(external, nullptr);
    // An encoding beyond the three known is refused, not passed on as data.
    Bytes unknown;
    EXPECT_FALSE(DecodeBlock(f.data() + external->bref.ib, f.size() - external->bref.ib, external->cb,
                             external->bref.bid, external->bref.ib, 0x03, &unknown, &error));
    EXPECT_NE(error.find("encoding"), std::string::npos) << error;
    EXPECT_EQ(BlockSizeOnDisk(0), 64u);
    EXPECT_EQ(BlockSizeOnDisk(48), 64u);
    EXPECT_EQ(BlockSizeOnDisk(49), 128u);
    EXPECT_EQ(BlockSizeOnDisk(8176), 8192u);

    XBlock x{2, 99999, {6, 10, 14}}, xb;
    ASSERT_TRUE(XBlock::Parse(x.Serialize(), &xb, &error));
    EXPECT_EQ(xb.level, 2);
    EXPECT_EQ(xb.totalBytes, 99999u);
    EXPECT_EQ(xb.bids, x.bids);
    SubnodeBlock s{0, {{0x1F, 8, 0}, {0x3F, 12, 18}}}, sb;
    ASSERT_TRUE(SubnodeBlock::Parse(s.Serialize(), &sb, &error));
    ASSERT_EQ(sb.entries.size(), 2u);
    EXPECT_EQ(sb.entries[1].bidSub, 18u);
    Bytes truncated = s.Serialize();
    truncated.resize(20);
    EXPECT_FALSE(SubnodeBlock::Parse(truncated, &sb, &error));
}

TEST(NdbSpace, AllocationsStepOverTheMapPagesReuseGapsAndTheMapsMarkThem) {
    FileSpace space;
    EXPECT_EQ(space.Allocate(64, 64), 0x4800u);
    EXPECT_EQ(space.Allocate(512, 512), 0x4A00u);
    // Fill the first range to 64 bytes before its end.
    uint64_t end1 = AMapOffset(1);
    uint64_t filler = end1 - 0x4C00 - 64;
    EXPECT_EQ(space.Allocate(filler, 64), 0x4C00u);
    // The gap the page's alignment left is used first.
    EXPECT_EQ(space.Allocate(128, 64), 0x4840u);
    // What fits no gap goes past the second AMap page (no PMap there).
    EXPECT_EQ(space.Allocate(512, 64), end1 + 512);
    EXPECT_EQ(space.RangeCount(), 2u);
    EXPECT_EQ(space.FileEnd(), AMapOffset(2));
    uint64_t freeBytes = 0;
    Bytes bits = space.AMapBits(0, &freeBytes);
    EXPECT_EQ(bits[0], 0xFF);  // the AMap page
    EXPECT_EQ(bits[1], 0xFF);  // the PMap page
    EXPECT_EQ(bits[2], 0xE0);  // the blocks at 0x4800 and 0x4840
    EXPECT_EQ(bits[3], 0xFF);  // the page at 0x4A00
    // Free: five slots before the page and the last one of the range.
    EXPECT_EQ(freeBytes, 6u * 64);
    Bytes bits1 = space.AMapBits(1, &freeBytes);
    EXPECT_EQ(bits1[0], 0xFF);  // the AMap page (8 slots) ...
    EXPECT_EQ(bits1[1], 0xFF);  // ... and the 512-byte block after it

    // Released space joins its free neighbours and is handed out again.
    space.Release(0x4840, 128);
    space.Release(0x4800, 64);
    EXPECT_EQ(space.Allocate(448, 64), 0x4800u);
    space.AMapBits(0, &freeBytes);
    EXPECT_EQ(freeBytes, 2u * 64);  // what the 448 bytes left, and the range's last slot

    // An allocation that ends exactly where a range ends: the next one must
    // not land on the following AMap page.
    FileSpace exact;
    EXPECT_EQ(exact.Allocate(AMapOffset(1) - 0x4800, 64), 0x4800u);
    EXPECT_EQ(exact.Allocate(64, 64), AMapOffset(1) + 512);
    EXPECT_EQ(exact.Allocate(1024, 1024), AMapOffset(1) + 1024);
    // The alignment gap before it is free, the AMap page is not.
    EXPECT_EQ(exact.Allocate(64, 64), AMapOffset(1) + 576);
    uint64_t freeBytes1 = 0;
    Bytes range1 = exact.AMapBits(1, &freeBytes1);
    EXPECT_EQ(range1[0], 0xFF);

    // A page whose alignment carries it over a range's end: the gap left in
    // the old range is free, the AMap page after it is not.
    FileSpace over;
    EXPECT_EQ(over.Allocate(AMapOffset(1) - 0x4800 - 256, 64), 0x4800u);
    EXPECT_EQ(over.Allocate(512, 512), AMapOffset(1) + 512);
    EXPECT_EQ(over.Allocate(256, 64), AMapOffset(1) - 256);
    EXPECT_EQ(over.Allocate(512, 64), AMapOffset(1) + 1024);

    // A file read back: marked extents, the gaps between them free.
    FileSpace loaded;
    loaded.MarkUsed(0x4800, 64);
    loaded.MarkUsed(0x4A00, 512);
    loaded.FinishMarking();
    EXPECT_EQ(loaded.Allocate(64, 64), 0x4840u);
    EXPECT_EQ(loaded.Allocate(512, 512), 0x4C00u);
}

// A node set with every shape the writer has to handle: empty nodes, a
// node over the XBLOCK limit (two-level data tree), subnodes over one
// SLBLOCK, nested subnodes, and enough nodes for a three-level node B-tree.
NodeSet ShapesOfEveryKind() {
    NodeSet nodes;
    for (uint32_t i = 0; i < 400; ++i) {
        TopNode& t = nodes[MakeNid(kNidTypeNormalMessage, 0x400 + i)];
        t.parent = 0x8022;
        t.node.data.assign(i % 50, static_cast<uint8_t>(i));
    }
    TopNode& big = nodes[kNidMessageStore];
    big.node.data.resize(XBlock::kMaxEntries * kMaxBlockData + 5000);
    for (size_t i = 0; i < big.node.data.size(); ++i) big.node.data[i] = static_cast<uint8_t>(i * 7);
    TopNode& many = nodes[kNidRootFolder];
    many.parent = kNidRootFolder;
    for (uint32_t i = 0; i < 700; ++i) many.node.subnodes[0x1F + i * 32].data.assign(3, 1);
    many.node.subnodes[0x3F].subnodes[0x9F].data.assign(20000, 9);
    nodes[kNidSearchManagementQueue];  // no data at all
    return nodes;
}

// Grows a layout past the first FMap (range 128) and the first FPMap
// (range 8192, near 2 GB) with blocks of the largest size: no block may
// land on a map page, each map page sits where readers look for it and is
// marked used in its own AMap, and the free byte count is the sum of what
// the AMaps record.
TEST(NdbSpace, FilesGrowPastTheFreeMapsWithEveryMapPageInPlace) {
    FileSpace space;
    std::map<uint64_t, MapPage> maps;
    auto take = [&] {
        for (MapPage& page : space.TakeChangedMaps()) maps[page.ib] = std::move(page);
    };
    const uint64_t fpmapRange = AMapOffset(kFirstFPMapRange);
    while (space.RangeCount() <= kFirstFPMapRange + 1) {
        uint64_t ib = space.Allocate(kMaxBlockSize, kBlockAlign);
        ASSERT_NE(ib, UINT64_MAX);
        uint64_t range = (ib - kFirstAMapOffset) / kAMapCoverage;
        ASSERT_GE(ib, AMapOffset(range) + MapBytesAt(range)) << "a block on the map pages of range " << range;
        ASSERT_LE(ib + kMaxBlockSize, AMapOffset(range + 1));
        if (space.RangeCount() == kFirstFMapRange + 2 && maps.empty()) take();  // an early commit
    }
    take();
    EXPECT_EQ(AMapOffset(kFirstFMapRange) + 2 * kPageSize, 0x1F04800u);
    EXPECT_EQ(maps.at(0x1F04800u).type, kPageFMap);
    EXPECT_EQ(maps.at(0x1F04800u + kRangesPerFMap * kAMapCoverage).type, kPageFMap);
    EXPECT_EQ(fpmapRange, 0x7C004400u);
    EXPECT_EQ(maps.at(0x7C004600u).type, kPagePMap);
    EXPECT_EQ(maps.at(0x7C004800u).type, kPageFPMap);
    EXPECT_EQ(maps.at(0x7C004A00u).type, kPageFPMap);
    EXPECT_EQ(MapBytesAt(kFirstFPMapRange), 4 * kPageSize);
    EXPECT_EQ(MapBytesAt(kFirstFMapRange), 3 * kPageSize);
    EXPECT_EQ(MapBytesAt(kFirstFMapRange + 1), kPageSize);

    uint64_t freeTotal = 0, pages = 0;
    for (uint64_t n = 0; n < space.RangeCount(); ++n) {
        uint64_t freeBytes = 0, run = 0;
        Bytes bits = space.AMapBits(n, &freeBytes, &run);
        freeTotal += freeBytes;
        const MapPage& amap = maps.at(AMapOffset(n));
        ASSERT_EQ(amap.type, kPageAMap);
        ASSERT_EQ(amap.bits, bits) << "the AMap of range " << n << " is stale";
        // Its map pages are marked used (8 slots a page).
        for (uint64_t slot = 0; slot < MapBytesAt(n) / kBlockAlign; ++slot)
            ASSERT_TRUE(bits[slot / 8] & (0x80 >> (slot % 8))) << "range " << n;
        if (HasFMap(n)) {
            const MapPage& fmap = maps.at(AMapOffset(n) + (HasPMap(n) ? 2 : 1) * kPageSize);
            ASSERT_EQ(fmap.type, kPageFMap);
            // Each byte: the longest free run of one AMap; the full ranges have
            // less than a block's worth left, the last one much more.
            for (uint64_t i = 0; i < 496; ++i) {
                uint64_t r = n + i, want = 0;
                if (r < space.RangeCount()) space.AMapBits(r, nullptr, &want);
                ASSERT_EQ(fmap.bits[i], std::min<uint64_t>(want, 255)) << "FMap byte " << i << " of range " << n;
            }
        }
        pages += 1 + HasPMap(n) + HasFMap(n) + 2 * HasFPMap(n);
    }
    EXPECT_EQ(space.FreeBytes(), freeTotal);
    EXPECT_EQ(maps.size(), pages);  // no page written anywhere else
    EXPECT_EQ(space.FileEnd(), AMapOffset(kFirstFPMapRange + 2));

    // Only what changes is written again: a block given back touches its
    // range's AMap and the FMap over it, nothing else.
    uint64_t before = space.FreeBytes();
    space.Release(AMapOffset(201) + kPageSize, kMaxBlockSize);
    std::vector<MapPage> changed = space.TakeChangedMaps();
    ASSERT_EQ(changed.size(), 2u);
    EXPECT_EQ(changed[0].ib, AMapOffset(201));
    EXPECT_EQ(changed[1].ib, 0x1F04800u);
    EXPECT_EQ(space.FreeBytes(), before + kMaxBlockSize);
}

TEST(NdbFile, WhatTheWriterLaysOutTheReaderGetsBackWithEveryCheckPassing) {
    NodeSet nodes = ShapesOfEveryKind();
    Header h = Header::ForNewFile();
    Bytes file;
    std::string error;
    ASSERT_TRUE(LayOutFile(nodes, &h, &file, &error)) << error;
    EXPECT_EQ(file.size(), h.root.fileEof);
    EXPECT_EQ((file.size() - 0x4400) % kAMapCoverage, 0u);

    Header back;
    NodeSet read;
    ASSERT_TRUE(ReadFileImage(file, &back, &read, &error)) << error;
    ASSERT_EQ(read.size(), nodes.size());
    for (const auto& [nid, t] : nodes) {
        const TopNode& r = read.at(nid);
        EXPECT_EQ(r.parent, t.parent) << nid;
        EXPECT_EQ(r.node.data, t.node.data) << nid;
        ASSERT_EQ(r.node.subnodes.size(), t.node.subnodes.size()) << nid;
    }
    EXPECT_EQ(read.at(kNidRootFolder).node.subnodes.at(0x3F).subnodes.at(0x9F).data.size(), 20000u);

    // Every AMap page checks, and the free count in the header is theirs.
    uint64_t freeSum = 0;
    for (uint64_t ib = 0x4400; ib < file.size(); ib += kAMapCoverage) {
        PageTrailer t;
        ASSERT_TRUE(PageTrailer::Check(file.data() + ib, ib, &t, &error)) << error;
        for (size_t i = 0; i < 496; ++i) freeSum += 64 * (8 - __builtin_popcount(file[ib + i]));
    }
    EXPECT_EQ(freeSum, back.root.amapFree);

    // A flipped bit anywhere in a used block is found.
    Bytes damaged = file;
    damaged[0x4800 + 3] ^= 0x40;
    EXPECT_FALSE(ReadFileImage(damaged, &back, &read, &error));

    // New files store data blocks permuted; one made without the encoding
    // (for checks on its bytes) stores them as they are, and reads back.
    const Bytes& big = nodes.at(kNidMessageStore).node.data;
    Bytes plain(big.begin(), big.begin() + 256), permuted = plain;
    EncodePermute(permuted.data(), permuted.size());
    auto holds = [](const Bytes& f, const Bytes& what) {
        return std::search(f.begin(), f.end(), what.begin(), what.end()) != f.end();
    };
    EXPECT_EQ(h.cryptMethod, kCryptPermute);
    EXPECT_EQ(file[513], kCryptPermute);
    EXPECT_TRUE(holds(file, permuted));
    EXPECT_FALSE(holds(file, plain));
    Header bare = Header::ForNewFile();
    bare.cryptMethod = kCryptNone;
    Bytes unencoded;
    ASSERT_TRUE(LayOutFile(nodes, &bare, &unencoded, &error)) << error;
    EXPECT_TRUE(holds(unencoded, plain));
    EXPECT_FALSE(holds(unencoded, permuted));
    ASSERT_TRUE(ReadFileImage(unencoded, &back, &read, &error)) << error;
    EXPECT_EQ(back.cryptMethod, kCryptNone);
    EXPECT_EQ(read.at(kNidMessageStore).node.data, big);
    // The cyclic encoding is refused by name.
    Bytes cyclic = file;
    Header c;
    ASSERT_TRUE(Header::Read(cyclic.data(), cyclic.size(), &c, &error)) << error;
    c.cryptMethod = kCryptCyclic;
    c.Write(cyclic.data());
    EXPECT_FALSE(ReadFileImage(cyclic, &back, &read, &error));
    EXPECT_NE(error.find("cyclic"), std::string::npos) << error;
}

// A commit writes only the blocks whose bytes changed: a long node changed
// at its end or in its middle costs its data tree block and that one leaf,
// a subnode left as it was costs nothing, and what is read back (whole, or
// node by node from the open file) is always the latest version.
TEST(NdbFile, ACommitKeepsTheBlocksWhoseBytesDidNotChange) {
    char dirTemplate[] = "/tmp/ndb-reuse-XXXXXX";
    ASSERT_NE(mkdtemp(dirTemplate), nullptr);
    const std::string path = std::string(dirTemplate) + "/reuse.pst";
    Bytes data(20 * kMaxBlockData);
    for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>(i * 7 + i / 251);
    NodeSet nodes;
    nodes[kNidMessageStore].node.data = data;
    nodes[kNidMessageStore].node.subnodes[0x3F].data = Bytes(3000, 0x5A);
    std::string error;
    ASSERT_TRUE(WriteFile(path, nodes, Header::ForNewFile(), &error)) << error;

    Header header;
    NodeSet read;
    std::unique_ptr<NdbFile> file = NdbFile::Open(path, &read, &header, &error);
    ASSERT_NE(file, nullptr) << error;
    auto blocksWritten = [&](const NodeSet& changed) {
        uint64_t before = header.nextBlockBid;
        EXPECT_TRUE(file->Commit(changed, {}, header.nextNidIndex, &error)) << error;
        std::ifstream in(path, std::ios::binary);
        Bytes bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        NodeSet back;
        EXPECT_TRUE(ReadFileImage(bytes, &header, &back, &error)) << error;
        for (const auto& [nid, top] : changed) {
            EXPECT_EQ(back.at(nid).node.data, top.node.data);
            EXPECT_EQ(back.at(nid).node.subnodes.size(), top.node.subnodes.size());
            Node fromFile;
            EXPECT_TRUE(file->ReadNode(nid, &fromFile, &error)) << error;
            EXPECT_EQ(fromFile.data, top.node.data);
            for (const auto& [sub, node] : top.node.subnodes)
                EXPECT_EQ(fromFile.subnodes.at(sub).data, node.data);
        }
        return (header.nextBlockBid - before) / 4;
    };
    nodes[kNidMessageStore].node.data.back() ^= 1;
    EXPECT_EQ(blocksWritten(nodes), 2u);  // the last leaf and the data tree
    nodes[kNidMessageStore].node.data[7 * kMaxBlockData + 5] ^= 1;
    EXPECT_EQ(blocksWritten(nodes), 2u);  // a leaf in the middle and the tree
    nodes[kNidMessageStore].node.data.push_back(9);
    EXPECT_EQ(blocksWritten(nodes), 2u);  // a new leaf (the others are full and stay) and the tree
    nodes[kNidMessageStore].node.subnodes[0x3F].data[0] = 1;
    EXPECT_EQ(blocksWritten(nodes), 2u);  // the subnode's block and its list
    EXPECT_EQ(blocksWritten(nodes), 0u);  // nothing changed, nothing written
    file.reset();
    std::filesystem::remove_all(dirTemplate);
}

}  // namespace
}  // namespace mapi::pst::fmt
