// Nodes committed as patches: what the blocks spell afterwards, which
// blocks a change writes and which it gives up, and the patches refused.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <random>

#include "providers/pst/format/ndb_block.h"
#include "providers/pst/format/ndb_commit.h"
#include "providers/pst/format/ndb_file_reader.h"
#include "providers/pst/format/ndb_file_writer.h"
#include "providers/pst/format/ndb_header.h"
#include "providers/pst/format/ndb_ids.h"
#include "providers/pst/format/ndb_node_patch.h"
#include "providers/pst/format/ndb_node_patch_test_support.h"

namespace mapi::pst::fmt {
namespace {

Bytes Pattern(size_t size, uint8_t seed) {
    Bytes b(size);
    for (size_t i = 0; i < size; ++i) b[i] = static_cast<uint8_t>(i * 13 + i / 4093 + seed);
    return b;
}

DataPatch Whole(const Bytes& data) {
    DataPatch p{data.size(), {}};
    for (size_t at = 0; at < data.size(); at += kMaxBlockData)
        p.blocks[at / kMaxBlockData] = Bytes(data.begin() + static_cast<long>(at),
                                             data.begin() + static_cast<long>(std::min(data.size(), at + kMaxBlockData)));
    return p;
}

// A stream long enough for a two-level data tree grows and changes at its
// end: each change writes its leaf, the inner XBLOCK over it and the top,
// keeps every other block, and gives up exactly what it replaced.
TEST(NodePatch, ATwoLevelDataTreeChangesOnlyAlongTheChangedLeaf) {
    BlockStore store;
    Bytes data = Pattern((XBlock::kMaxEntries + 40) * kMaxBlockData - 100, 1);
    NodePatch first;
    first.whole = true;
    first.data = Whole(data);
    first.subnodes[0x3F] = Whole(Pattern(5000, 2));
    NodeLayout layout;
    std::vector<uint64_t> dropped;
    std::string error;
    ASSERT_TRUE(ApplyNodePatch(nullptr, first, store.Sink(), &layout, &dropped, &error)) << error;
    EXPECT_TRUE(dropped.empty());
    ASSERT_EQ(layout.data.middles.size(), 2u);
    EXPECT_EQ(store.Assemble(layout), data);
    EXPECT_EQ(store.live(layout), store.count());

    // The last block fills up and a new one starts.
    size_t last = data.size() / kMaxBlockData;
    data.resize(data.size() + 300, 0x77);
    NodePatch grow;
    grow.data.size = data.size();
    for (size_t i : {last, last + 1})
        grow.data.blocks[i] = Bytes(data.begin() + static_cast<long>(i * kMaxBlockData),
                                    data.begin() + static_cast<long>(std::min(data.size(), (i + 1) * kMaxBlockData)));
    NodeLayout next;
    size_t before = store.count();
    dropped.clear();
    ASSERT_TRUE(ApplyNodePatch(&layout, grow, store.Sink(), &next, &dropped, &error)) << error;
    EXPECT_EQ(store.count() - before, 4u);  // two leaves, the second inner XBLOCK, the top
    EXPECT_EQ(next.data.middles.front(), layout.data.middles.front());
    EXPECT_EQ(next.subnodeRoot, layout.subnodeRoot);
    // Given up: the old last leaf, the old second XBLOCK and the old top.
    std::vector<uint64_t> expected{layout.data.leaves[last], layout.data.middles[1], layout.data.root};
    std::sort(expected.begin(), expected.end());
    std::sort(dropped.begin(), dropped.end());
    EXPECT_EQ(dropped, expected);
    EXPECT_EQ(store.Assemble(next), data);
    store.Forget(dropped);
    EXPECT_EQ(store.live(next), store.count());

    // A patch that leaves a block unknown is refused: one changing the
    // length without the last block, and a whole node on no base missing one.
    NodePatch shorter;
    shorter.data.size = data.size() - 10;
    NodeLayout refused;
    BlockStore scratch;
    std::vector<uint64_t> ignored;
    EXPECT_FALSE(ApplyNodePatch(&next, shorter, scratch.Sink(), &refused, &ignored, &error));
    NodePatch partial = first;
    partial.data.blocks.erase(3);
    EXPECT_FALSE(ApplyNodePatch(nullptr, partial, scratch.Sink(), &refused, &ignored, &error));
    EXPECT_NE(error.find("unknown"), std::string::npos) << error;

    // A whole node replaces every subnode the last version had.
    NodePatch again;
    again.whole = true;
    again.data = Whole(Pattern(100, 3));
    again.subnodes[0x5F] = Whole(Pattern(10, 4));
    dropped.clear();
    ASSERT_TRUE(ApplyNodePatch(&next, again, store.Sink(), &layout, &dropped, &error)) << error;
    store.Forget(dropped);
    EXPECT_EQ(layout.subnodes.count(0x3F), 0u);
    EXPECT_EQ(store.Assemble(layout), Pattern(100, 3));
    EXPECT_EQ(store.live(layout), store.count()) << "every block the old version had is given up";
}

// Hundreds of commits, each growing a patched node at its end while other
// nodes arrive in no order (splitting leaves of the node B-tree in its
// middle) and leave again (emptying leaves of both trees): the file read
// afresh, with every structure checked, holds exactly the last version.
TEST(NodePatch, ManyCommitsOfPatchedAndWholeNodesReadBackFromTheFile) {
    char dirTemplate[] = "/tmp/ndb-patch-XXXXXX";
    ASSERT_NE(mkdtemp(dirTemplate), nullptr);
    const std::string path = std::string(dirTemplate) + "/patched.pst";
    NodeSet initial;
    initial[kNidMessageStore].node.data = Pattern(100, 9);
    std::string error;
    ASSERT_TRUE(WriteFile(path, initial, Header::ForNewFile(), &error)) << error;
    Header header;
    NodeSet read;
    std::unique_ptr<NdbFile> file = NdbFile::Open(path, &read, &header, &error);
    ASSERT_NE(file, nullptr) << error;

    const uint32_t grownNid = MakeNid(kNidTypeNormalMessage, 0x10);
    Bytes grown;
    std::map<uint32_t, Bytes> expected{{kNidMessageStore, initial[kNidMessageStore].node.data}};
    // Enough nodes for several pages above the leaves of both trees.
    constexpr size_t kPerCommit = 4;
    std::vector<uint32_t> order;
    for (uint32_t i = 0; i < 1200; ++i) order.push_back(MakeNid(kNidTypeNormalMessage, 0x100 + i));
    std::shuffle(order.begin(), order.end(), std::mt19937(12));
    for (size_t round = 0; round * kPerCommit < order.size(); ++round) {
        NodeSet changed;
        size_t from = grown.size() / kMaxBlockData;
        grown.resize(grown.size() + 2500, static_cast<uint8_t>(round));
        auto patch = std::make_shared<NodePatch>();
        patch->whole = round == 0;
        patch->data.size = grown.size();
        for (size_t b = round == 0 ? 0 : from; b * kMaxBlockData < grown.size(); ++b)
            patch->data.blocks[b] = Bytes(grown.begin() + static_cast<long>(b * kMaxBlockData),
                                          grown.begin() + static_cast<long>(std::min(grown.size(), (b + 1) * kMaxBlockData)));
        changed[grownNid].patch = patch;
        std::set<uint32_t> removed;
        for (size_t k = round * kPerCommit; k < (round + 1) * kPerCommit; ++k) {
            changed[order[k]].node.data = Pattern(20 + k % 300, static_cast<uint8_t>(k));
            expected[order[k]] = changed[order[k]].node.data;
            // Every third node leaves again a few commits later.
            if (k % 3 == 2 && k >= 40) {
                removed.insert(order[k - 40]);
                expected.erase(order[k - 40]);
            }
        }
        ASSERT_TRUE(file->Commit(changed, removed, header.nextNidIndex, &error)) << error << " in round " << round;
        // A tree page left stale by one commit could be put right by the
        // next: each commit's file is read whole.
        std::ifstream in(path, std::ios::binary);
        Bytes image((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        Header onDisk;
        NodeSet now;
        ASSERT_TRUE(ReadFileImage(image, &onDisk, &now, &error)) << error << " in round " << round;
        ASSERT_EQ(now.size(), expected.size() + 1) << "in round " << round;  // + the grown node
    }
    expected[grownNid] = grown;
    Node fromFile;
    ASSERT_TRUE(file->ReadNode(grownNid, &fromFile, &error)) << error;
    EXPECT_EQ(fromFile.data, grown);
    file.reset();

    NodeSet back;
    file = NdbFile::Open(path, &back, &header, &error);
    ASSERT_NE(file, nullptr) << error;
    std::map<uint32_t, Bytes> found;
    for (const auto& [nid, top] : back) found[nid] = top.node.data;
    EXPECT_EQ(found.size(), expected.size());
    EXPECT_TRUE(found == expected) << "a node differs from its last version";
    file.reset();
    std::filesystem::remove_all(dirTemplate);
}

}  // namespace
}  // namespace mapi::pst::fmt
