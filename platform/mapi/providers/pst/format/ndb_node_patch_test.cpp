// Nodes committed as patches: what the blocks spell afterwards, which
// blocks a change writes and which it gives up, and the patches refused.
#include <gtest/gtest.h>

#include <algorithm>

#include "providers/pst/format/ndb_block.h"
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

}  // namespace
}  // namespace mapi::pst::fmt
