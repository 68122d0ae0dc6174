// The checking reader's shortcuts against the long ways they stand for:
// the eight-byte CRC against the writer's byte loop, and the check of a
// whole item that copies no values against the full salvage.
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <random>
#include <vector>

#include "providers/pst/format/chk_crc.h"
#include "providers/pst/format/chk_message.h"
#include "providers/pst/format/chk_ndb.h"
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

// Damage the CRCs missed (a block whose CRC was made after it went bad):
// an item the shortcut calls whole must be whole for the full salvage
// too, or the rescue would keep a damaged node as the item. Intact items
// must take the shortcut, or it saves nothing.
TEST(MessageIsWhole, NeverWholeWhereTheSalvageLosesAPart) {
    std::mt19937 random(1713);
    size_t whole = 0, damaged = 0;
    for (const std::string& name : testing::SampleNames()) {
        SCOPED_TRACE(name);
        std::ifstream in(testing::SamplePath(name), std::ios::binary);
        Bytes image{std::istreambuf_iterator<char>(in), {}};
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
