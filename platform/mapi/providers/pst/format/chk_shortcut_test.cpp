// The checking reader's shortcuts against the long ways they stand for:
// the eight-byte CRC against the writer's byte loop, and the check of a
// whole item that copies no values against the full salvage.
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <random>
#include <vector>

#include "providers/pst/format/chk_crc.h"
#include "providers/pst/format/chk_ltp.h"
#include "providers/pst/format/chk_message.h"
#include "providers/pst/format/chk_ndb.h"
#include "providers/pst/format/chk_tc.h"
#include "providers/pst/format/ltp_tc.h"
#include "providers/pst/format/ndb_crc.h"
#include "providers/pst/format/ndb_ids.h"
#include "providers/pst/pst_test_support.h"

namespace mapi::pst::fmt {
namespace {

// Any slip in the folding (a table, a shift, the tail) makes every block
// of a file read as damaged.
TEST(CheckCrc, SameAsTheWritersForEveryLengthAlignmentAndStart) {
    std::mt19937 random(17);
    std::vector<uint8_t> bytes(8192 + 16);
    for (uint8_t& b : bytes) b = static_cast<uint8_t>(random());
    for (size_t offset = 0; offset < 8; ++offset)
        for (size_t n : {0, 1, 7, 8, 9, 15, 16, 17, 63, 64, 65, 500, 8176, 8192})
            for (uint32_t start : {0u, 0xFFFFFFFFu, 0x12345678u})
                ASSERT_EQ(CheckCrc(bytes.data() + offset, n, start), ComputeCrc(bytes.data() + offset, n, start))
                    << "offset " << offset << ", " << n << " bytes, start " << start;
    // Continuing over a split gives the CRC of the whole.
    EXPECT_EQ(CheckCrc(bytes.data() + 13, 1000, CheckCrc(bytes.data(), 13)), ComputeCrc(bytes.data(), 1013));
}

void Flip(CheckedNode* node, std::mt19937& random) {
    // Bytes of the node's own pages and of its subnodes (recipient and
    // attachment tables, attachments, bodies), weighted by their share.
    std::vector<Bytes*> pages;
    std::vector<CheckedNode*> todo{node};
    while (!todo.empty()) {
        CheckedNode* n = todo.back();
        todo.pop_back();
        for (Bytes& p : n->pages) pages.push_back(&p);
        for (auto& [nid, sub] : n->subnodes) todo.push_back(&sub);
    }
    size_t total = 0;
    for (Bytes* p : pages) total += p->size();
    if (total == 0) return;
    size_t at = random() % total;
    for (Bytes* p : pages) {
        if (at < p->size()) {
            (*p)[at] ^= static_cast<uint8_t>(1u << (random() % 8));
            return;
        }
        at -= p->size();
    }
}

Bytes ReadSample(const std::string& name) {
    std::ifstream in(testing::SamplePath(name), std::ios::binary);
    return Bytes{std::istreambuf_iterator<char>(in), {}};
}

// Every table of the samples (folders' hierarchy and contents tables,
// items' recipient and attachment tables), intact and with bits flipped
// anywhere in it: the check must refuse what the strict reader refuses and
// accept what it reads, with the same row ids. Accepting more would keep a
// damaged item whole that then fails when it is opened.
TEST(CheckTableContext, AgreesWithTheStrictReaderUnderDamage) {
    std::mt19937 random(29);
    size_t tables = 0, refused = 0;
    auto compare = [&](const Node& table, const std::string& what) {
        std::vector<uint32_t> columns, ids;
        std::vector<TableRow> rows;
        std::string theirs, ours;
        bool read = ReadTableContext(table, &columns, &rows, &theirs);
        bool checked = CheckTableContext(table, &ids, &ours);
        ASSERT_EQ(checked, read) << what << ": " << theirs << " / " << ours;
        refused += read ? 0 : 1;
        if (!read) return;
        ASSERT_EQ(ids.size(), rows.size()) << what;
        for (size_t i = 0; i < ids.size(); ++i) EXPECT_EQ(ids[i], rows[i].rowId) << what;
    };
    for (const std::string& name : testing::SampleNames()) {
        SCOPED_TRACE(name);
        Bytes image = ReadSample(name);
        CheckedFile file;
        std::string error;
        ASSERT_TRUE(file.Open(image.data(), image.size(), &error)) << error;
        std::vector<Node> found;
        for (const auto& [nid, entry] : file.Nodes()) {
            Node whole;
            if (!WholeNode(file.ReadNode(entry), &whole, &error)) continue;
            uint32_t type = NidType(nid);
            if (type == kNidTypeHierarchyTable || type == kNidTypeContentsTable) found.push_back(whole);
            for (uint32_t sub : {kNidRecipientTable, kNidAttachmentTable})
                if (auto it = whole.subnodes.find(sub); it != whole.subnodes.end()) found.push_back(it->second);
        }
        for (const Node& table : found) {
            ++tables;
            compare(table, "intact");
            for (int round = 0; round < 40 && !table.data.empty(); ++round) {
                Node bad = table;
                for (int flips = 1 + round % 2; flips > 0; --flips)
                    bad.data[random() % bad.data.size()] ^= static_cast<uint8_t>(1u << (random() % 8));
                compare(bad, "round " + std::to_string(round));
            }
        }
    }
    EXPECT_GT(tables, 10u);
    EXPECT_GT(refused, 0u);
}

// Damage the CRCs missed (a block whose CRC was made after it went bad):
// an item the shortcut calls whole must be whole for the full salvage
// too, or the rescue would keep a damaged node as the item. Intact items
// must take the shortcut, or it saves nothing.
TEST(MessageIsWhole, NeverWholeWhereTheSalvageLosesAPart) {
    std::mt19937 random(1713);
    size_t whole = 0, damaged = 0;
    for (const std::string& name : testing::SampleNames()) {
        SCOPED_TRACE(name);
        Bytes image = ReadSample(name);
        CheckedFile file;
        std::string error;
        ASSERT_TRUE(file.Open(image.data(), image.size(), &error)) << error;
        for (const auto& [nid, entry] : file.Nodes()) {
            if (NidType(nid) != kNidTypeNormalMessage && NidType(nid) != kNidTypeAssocMessage) continue;
            const CheckedNode intact = file.ReadNode(entry);
            EXPECT_TRUE(MessageIsWhole(intact)) << nid;
            for (int round = 0; round < 60; ++round) {
                CheckedNode node = intact;
                for (int flips = 1 + round % 3; flips > 0; --flips) Flip(&node, random);
                SalvagedMessage m;
                bool salvaged = SalvageMessage(node, &m, &error);
                if (!MessageIsWhole(node)) {
                    ++damaged;
                    continue;
                }
                ++whole;
                EXPECT_TRUE(salvaged && m.Whole()) << nid << " round " << round << ": " << m.Report() << error;
            }
        }
    }
    // The flips must reach both sides, or the test shows nothing.
    EXPECT_GT(whole, 0u);
    EXPECT_GT(damaged, 0u);
}

}  // namespace
}  // namespace mapi::pst::fmt
