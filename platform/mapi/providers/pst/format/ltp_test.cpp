// The LTP structures written and read back in the shapes that stress them:
// heaps over many pages (with a bitmap page), B-trees with index levels,
// values too large for the heap, row matrices over several blocks.
#include <gtest/gtest.h>

#include <memory>

#include "providers/pst/format/ltp_bth.h"
#include "providers/pst/format/ltp_heap.h"
#include "providers/pst/format/ltp_pc.h"
#include "providers/pst/format/ltp_tc.h"
#include "providers/pst/format/ndb_ids.h"
#include "providers/pst/format/ndb_node_patch_test_support.h"

namespace mapi::pst::fmt {
namespace {

Bytes Text(const std::string& s) {
    Bytes b;
    for (char c : s) {
        b.push_back(static_cast<uint8_t>(c));
        b.push_back(0);
    }
    return b;
}

TEST(LtpHeap, AllocationsOverManyPagesComeBackAndPagesAreWholeBlocks) {
    HeapWriter heap(kHeapBTree);
    std::vector<std::pair<uint32_t, Bytes>> written;
    for (uint32_t i = 0; i < 4000; ++i) {
        Bytes b(i % 37, static_cast<uint8_t>(i));
        written.emplace_back(heap.Allocate(b), b);
    }
    Bytes big(kMaxHeapAlloc, 0xAB);
    written.emplace_back(heap.Allocate(big), big);
    heap.SetUserRoot(written[5].first);
    Bytes data = heap.Finish();
    ASSERT_GT(data.size(), 9 * kMaxBlockData) << "the test needs a bitmap page (page 8)";
    EXPECT_EQ(data[2], 0xEC);
    EXPECT_EQ(data[3], kHeapBTree);

    HeapReader reader;
    std::string error;
    ASSERT_TRUE(reader.Open(data, &error)) << error;
    EXPECT_EQ(reader.userRoot(), written[5].first);
    for (const auto& [hid, bytes] : written) {
        Bytes back;
        ASSERT_TRUE(reader.Get(hid, &back)) << hid;
        EXPECT_EQ(back, bytes) << hid;
    }
    Bytes none;
    EXPECT_FALSE(reader.Get(MakeHid(0, 2000), &none));
    EXPECT_FALSE(reader.Get(0x21, &none)) << "a subnode id is not an allocation";

    // Page 8's header is two bytes longer than a plain page's map offset
    // would allow if it were taken for one: its map must still be found.
    EXPECT_GE(Get16(data.data() + 8 * kMaxBlockData), 66);
    Bytes damaged = data;
    Put16(damaged.data() + kMaxBlockData, 9000);
    EXPECT_FALSE(reader.Open(damaged, &error));
}

TEST(LtpBth, RecordsComeBackInOrderThroughIndexLevels) {
    for (size_t count : {0u, 1u, 447u, 448u, 5000u}) {
        HeapWriter heap(kHeapBTree);
        std::vector<BthRecord> records;
        for (uint32_t i = 0; i < count; ++i) {
            Bytes key(4), data(4);
            Put32(key.data(), i * 3 + 1);
            Put32(data.data(), i);
            records.push_back({key, data});
        }
        uint32_t header = WriteBth(heap, 4, 4, records);
        heap.SetUserRoot(header);
        Bytes node = heap.Finish();
        HeapReader reader;
        std::string error;
        ASSERT_TRUE(reader.Open(node, &error)) << error;
        uint8_t ks = 0, ds = 0;
        std::vector<BthRecord> back;
        ASSERT_TRUE(ReadBth(reader, header, &ks, &ds, &back, &error)) << count << ": " << error;
        EXPECT_EQ(ks, 4);
        EXPECT_EQ(ds, 4);
        ASSERT_EQ(back.size(), count);
        for (size_t i = 0; i < count; ++i) EXPECT_EQ(Get32(back[i].data.data()), i);
    }
}

TEST(LtpPropertyContext, EveryKindOfValueComesBack) {
    std::vector<PropValue> props;
    props.push_back({0x0E070003, {0x11, 0x22, 0x33, 0x44}});                 // inline long
    props.push_back({0x0017000B, {0x01}});                                   // inline boolean
    props.push_back({0x00390040, {1, 2, 3, 4, 5, 6, 7, 8}});                 // time: heap
    props.push_back({0x0037001F, Text("Subject line")});                     // string: heap
    props.push_back({0x1000001F, Bytes(20000, 'x')});                        // body: subnode
    props.push_back({0x0070001F, {}});                                       // empty string
    props.push_back({0x00020002, {0x05, 0x00}});                             // short
    for (uint16_t id = 0x8000; id < 0x8000 + 600; ++id)                      // index level
        props.push_back({(static_cast<uint32_t>(id) << 16) | 0x0003, {static_cast<uint8_t>(id), 0, 0, 0}});
    Node node;
    node.subnodes[0x692].data = Bytes(10, 1);  // another subnode stays
    WritePropertyContext(props, &node);
    EXPECT_EQ(node.subnodes.size(), 2u);
    EXPECT_TRUE(node.subnodes.count(0x692));

    std::vector<PropValue> back;
    std::string error;
    ASSERT_TRUE(ReadPropertyContext(node, &back, &error)) << error;
    ASSERT_EQ(back.size(), props.size());
    for (const PropValue& p : props) {
        auto it = std::find_if(back.begin(), back.end(), [&](const PropValue& b) { return b.tag == p.tag; });
        ASSERT_NE(it, back.end()) << std::hex << p.tag;
        EXPECT_EQ(it->bytes, p.bytes) << std::hex << p.tag;
    }
    Node table;
    WriteTableContext({}, {}, &table);
    EXPECT_FALSE(ReadPropertyContext(table, &back, &error)) << "a table is not a property context";
}

TEST(LtpTableContext, RowsOfEveryWidthComeBackAcrossBlocks) {
    std::vector<uint32_t> columns = {0x0037001F, 0x0E060040, 0x0E080003, 0x0E17000B, 0x00170003,
                                     0x10800002, 0x0E1B000B, 0x0FFF0102};
    std::vector<TableRow> rows;
    for (uint32_t i = 0; i < 1500; ++i) {
        TableRow r;
        r.rowId = MakeNid(kNidTypeNormalMessage, 0x10000 + 1500 - i);  // not in id order
        r.cells.push_back({0x0037001F, Text("message " + std::to_string(i))});
        r.cells.push_back({0x0E060040, {1, 2, 3, 4, 5, 6, 7, static_cast<uint8_t>(i)}});
        r.cells.push_back({0x0E080003, {static_cast<uint8_t>(i), 1, 0, 0}});
        if (i % 2 == 0) r.cells.push_back({0x0E17000B, {1}});
        r.cells.push_back({0x10800002, {static_cast<uint8_t>(i), 0}});
        if (i == 7) r.cells.push_back({0x0FFF0102, Bytes(5000, 7)});  // cell in a subnode
        r.cells.push_back({0x12340003, {9, 9, 9, 9}});                   // not a column
        rows.push_back(std::move(r));
    }
    Node node;
    WriteTableContext(columns, rows, &node);
    std::vector<uint32_t> cols;
    std::vector<TableRow> back;
    std::string error;
    ASSERT_TRUE(ReadTableContext(node, &cols, &back, &error)) << error;
    EXPECT_EQ(cols.size(), columns.size() + 2);
    EXPECT_TRUE(std::is_sorted(cols.begin(), cols.end()));
    ASSERT_EQ(back.size(), rows.size());
    for (size_t i = 0; i < rows.size(); ++i) {
        EXPECT_EQ(back[i].rowId, rows[i].rowId);
        // Less the unknown column, plus the row version every row has.
        size_t expected = rows[i].cells.size() - 1 + 1;
        ASSERT_EQ(back[i].cells.size(), expected) << i;
        for (const PropValue& c : back[i].cells) {
            if (c.tag == kTagLtpRowVer) {
                EXPECT_EQ(c.bytes, (Bytes{0, 0, 0, 0}));
                continue;
            }
            auto it = std::find_if(rows[i].cells.begin(), rows[i].cells.end(),
                                   [&](const PropValue& p) { return p.tag == c.tag; });
            ASSERT_NE(it, rows[i].cells.end());
            EXPECT_EQ(c.bytes, it->bytes) << i << " " << std::hex << c.tag;
        }
    }
    Node empty;
    WriteTableContext(columns, {}, &empty);
    ASSERT_TRUE(ReadTableContext(empty, &cols, &back, &error)) << error;
    EXPECT_TRUE(back.empty());
}

// A table grown a row at a time and handed on as patches spells, after
// every patch, the node Write gives for it; each row costs a few blocks
// however long the table has grown; and a table that cannot take a row at
// its end (a lower id, a row matrix that would outgrow the heap) says so,
// and is built again as the store does.
TEST(LtpTableContext, RowsAddedOneByOneChangeFewBlocksAndSpellTheWholeTable) {
    const uint32_t kSubject = 0x0037001F, kFlags = 0x0E070003;
    const std::vector<uint32_t> columns{kSubject, kFlags};
    std::vector<TableRow> rows;
    auto build = [&]() {
        auto t = std::make_unique<TableBuilder>(columns);
        for (const TableRow& r : rows) EXPECT_TRUE(t->Append(r.rowId, r.cells));
        return t;
    };
    std::unique_ptr<TableBuilder> table = build();
    BlockStore store;
    NodeLayout layout;
    bool based = false;
    size_t rebuilt = 0, mostLate = 0;
    std::string error;
    for (uint32_t i = 0; i < 1500; ++i) {
        TableRow row{0x200004u + 32 * i, {{kSubject, Text("subject " + std::to_string(i) + std::string(i % 40, '.'))},
                                          {kFlags, Bytes{static_cast<uint8_t>(i % 2), 0, 0, 0}}}};
        if (i == 900) row.cells[0].bytes = Bytes(kMaxHeapAlloc + 10, 'y');  // a value in a subnode of its own
        rows.push_back(row);
        if (i > 0 && !table->CanAppend(row.rowId)) {
            EXPECT_FALSE(table->Append(row.rowId, row.cells));
            table = build();
            ++rebuilt;
        } else {
            ASSERT_TRUE(table->Append(row.rowId, row.cells));
        }
        size_t before = store.count();
        NodeLayout next;
        std::vector<uint64_t> dropped;
        ASSERT_TRUE(ApplyNodePatch(based ? &layout : nullptr, *table->TakePatch(), store.Sink(), &next, &dropped, &error))
            << error << " at row " << i;
        if (i >= 1000) mostLate = std::max(mostLate, store.count() - before);
        store.Forget(dropped);
        layout = std::move(next);
        based = true;
        if (i % 150 != 149 && i != 40) continue;
        Node whole;
        table->Write(&whole);
        Node patched = store.AssembleNode(layout);
        ASSERT_EQ(patched.data, whole.data) << "at row " << i;
        ASSERT_EQ(patched.subnodes.size(), whole.subnodes.size());
        for (const auto& [nid, sub] : whole.subnodes) EXPECT_EQ(patched.subnodes.at(nid).data, sub.data) << nid;
        EXPECT_EQ(store.live(layout), store.count()) << "blocks given up are all the old version had";
        std::vector<uint32_t> cols;
        std::vector<TableRow> back;
        ASSERT_TRUE(ReadTableContext(patched, &cols, &back, &error)) << error;
        ASSERT_EQ(back.size(), rows.size());
        EXPECT_EQ(back.back().rowId, rows.back().rowId);
        EXPECT_EQ(back[900 % back.size()].cells.size(), 3u);
        if (i == 1499) {
            EXPECT_EQ(back[900].cells[0].bytes, rows[900].cells[0].bytes);  // cells come in tag order
        }
    }
    EXPECT_EQ(rebuilt, 1u) << "once, when the row matrix left the heap";
    EXPECT_GT(layout.data.leaves.size(), 8u) << "the test needs a heap of many pages";
    EXPECT_LE(mostLate, 8u) << "blocks written for one row of a long table";
    EXPECT_FALSE(table->CanAppend(rows.back().rowId)) << "a row id not above the others";
}

}  // namespace
}  // namespace mapi::pst::fmt
