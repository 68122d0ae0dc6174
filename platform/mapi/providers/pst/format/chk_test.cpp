// The checking reader on the sample files (against libpff, the
// independent reader) and on damage made from them at run time.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>

#include "providers/pst/format/chk_ltp.h"
#include "providers/pst/format/chk_message.h"
#include "providers/pst/format/chk_ndb.h"
#include "providers/pst/format/ltp_heap.h"
#include "providers/pst/format/ltp_pc.h"
#include "providers/pst/format/ltp_tc.h"
#include "providers/pst/format/msg_store.h"
#include "providers/pst/format/msg_values.h"
#include "providers/pst/format/ndb_file_writer.h"
#include "providers/pst/format/ndb_ids.h"
#include "providers/pst/format/ndb_permute.h"
#include "providers/pst/pst_file.h"
#include "providers/pst/pst_test_support.h"
#include "runtime/provider.h"

namespace mapi::pst::fmt {
namespace {

Bytes ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), {});
}

bool IsMessage(uint32_t nid) {
    return NidType(nid) == kNidTypeNormalMessage || NidType(nid) == kNidTypeAssocMessage;
}

bool IsPcNode(uint32_t nid) {
    return IsMessage(nid) || NidType(nid) == kNidTypeNormalFolder || NidType(nid) == kNidTypeSearchFolder ||
           nid == kNidMessageStore || nid == kNidNameToIdMap;
}

// The published head of mpbbR ([MS-PST] 5.1) pins the table's direction:
// a table inverted by mistake still round-trips but reads every file wrong.
TEST(CheckedReader, PermutationTableIsTheFormats) {
    uint8_t bytes[4] = {0, 1, 2, 3};
    EncodePermute(bytes, 4);
    EXPECT_EQ((std::vector<int>{bytes[0], bytes[1], bytes[2], bytes[3]}), (std::vector<int>{65, 54, 19, 98}));
    Bytes all(256);
    for (int i = 0; i < 256; ++i) all[i] = static_cast<uint8_t>(i);
    Bytes copy = all;
    EncodePermute(copy.data(), copy.size());
    DecodePermute(copy.data(), copy.size());
    EXPECT_EQ(copy, all);
    // The cyclic encoding undoes itself only if its middle table pairs
    // every byte with another: a key whose low byte is 0 feeds that table
    // R[b] + its high byte, so all keys' high bytes times all bytes reach
    // every entry.
    int wrong = 0;
    for (uint32_t high = 0; high < 256; ++high) {
        for (int b = 0; b < 256; ++b) {
            uint8_t byte = static_cast<uint8_t>(b);
            CryptCyclic(&byte, 1, high << 8);
            CryptCyclic(&byte, 1, high << 8);
            if (byte != b) ++wrong;
        }
    }
    EXPECT_EQ(wrong, 0);
}

// The file at path passes every check, and every property of every
// folder, message and attachment reads as libpff reads it. Counts the
// messages and properties compared into *messages and *props.
void ExpectAgreesWithLibpff(const std::string& path, size_t* messageCount, size_t* propCount) {
    Bytes image = ReadAll(path);
    CheckedFile file;
    std::string error;
    ASSERT_TRUE(file.Open(image.data(), image.size(), &error)) << error;
    for (const std::string& p : file.Problems()) ADD_FAILURE() << p;
    std::shared_ptr<PstFile> pff = PstFile::Open(path, &error);
    ASSERT_TRUE(pff) << error;
    size_t& messages = *messageCount, &props = *propCount;
    messages = props = 0;
    for (const auto& [nid, entry] : file.Nodes()) {
        CheckedNode node = file.ReadNode(entry);
        EXPECT_TRUE(node.DataWhole()) << nid << ": " << node.DataProblem();
        EXPECT_EQ(node.subnodeError, "") << nid;
        if (!IsPcNode(nid)) continue;
        std::vector<CheckedProp> ours;
        std::vector<std::string> lost;
        ASSERT_TRUE(ReadCheckedPc(node, &ours, &lost, &error)) << nid << ": " << error;
        EXPECT_TRUE(lost.empty()) << nid;
        SharedItem item;
        ASSERT_EQ(pff->ItemById(nid, &item), S_OK) << nid;
        std::lock_guard<std::recursive_mutex> lock(pff->Lock());
        for (const CheckedProp& p : ours) {
            EXPECT_EQ(p.error, "") << nid << " " << std::hex << p.tag;
            std::vector<uint8_t> theirs;
            uint32_t type = 0;
            ASSERT_TRUE(ReadRawEntry(item.get(), 0, PropId(p.tag), &theirs, &type))
                << nid << " " << std::hex << p.tag;
            EXPECT_EQ(type, PropType(p.tag)) << nid << " " << std::hex << p.tag;
            EXPECT_EQ(theirs, p.bytes) << nid << " " << std::hex << p.tag;
            ++props;
        }
        // libpff must not know of a property this reader did not see.
        libpff_record_set_t* rawSet = nullptr;
        int theirCount = -1;
        PffError setError;
        if (libpff_item_get_record_set_by_index(item.get(), 0, &rawSet, setError.Ptr()) == 1) {
            RecordSetHandle set(rawSet);
            libpff_record_set_get_number_of_entries(rawSet, &theirCount, setError.Ptr());
        }
        EXPECT_EQ(theirCount, static_cast<int>(ours.size())) << nid;
        if (!IsMessage(nid)) continue;
        SalvagedMessage m;
        ASSERT_TRUE(SalvageMessage(node, &m, &error)) << nid << ": " << error;
        EXPECT_TRUE(m.Whole()) << nid << ": " << m.Report();
        int recipients = 0, attachments = 0;
        PffError e;
        libpff_item_t* rawRecipients = nullptr;
        if (libpff_message_get_recipients(item.get(), &rawRecipients, e.Ptr()) == 1) {
            ItemHandle held(rawRecipients);
            libpff_item_get_number_of_record_sets(rawRecipients, &recipients, e.Ptr());
        }
        libpff_message_get_number_of_attachments(item.get(), &attachments, e.Ptr());
        EXPECT_EQ(static_cast<int>(m.content.recipients.size()), recipients) << nid;
        EXPECT_EQ(static_cast<int>(m.content.attachments.size()), attachments) << nid;
        ++messages;
    }
    std::cout << path << ": " << file.Nodes().size() << " nodes, " << messages << " messages, "
              << props << " properties agree, " << file.StrayNodes().size() << " stray node entries\n";
}

// Every sample (Unicode and ANSI, all with the compressible encoding).
TEST(CheckedReader, IntactSamplesAgreeWithLibpff) {
    for (const std::string& name : testing::SampleNames()) {
        SCOPED_TRACE(name);
        CheckedFile file;
        std::string error;
        ASSERT_TRUE(file.Open(testing::SamplePath(name), &error)) << error;
        EXPECT_EQ(file.Unicode(), name != "32-bit.pst");
        size_t messages = 0, props = 0;
        ExpectAgreesWithLibpff(testing::SamplePath(name), &messages, &props);
        EXPECT_GT(messages, 0u);
    }
}

// A store our writer makes in the cyclic encoding: libpff, which decodes
// that encoding on its own, reads every property as this reader does, so
// the encoding's tables and key are the format's; a body long enough for
// several blocks checks the key of each block. The file is this reader's,
// not libpff's, and one changed byte of an encoded block is a bad CRC,
// never data.
TEST(CheckedReader, CyclicFileAgreesWithLibpff) {
    const StoreUid uid = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16};
    StoreModel model = StoreModel::NewStore(uid, "High encoding");
    std::string longBody;
    for (int i = 0; longBody.size() < 30000; ++i) longBody += "line " + std::to_string(i) + " of a long body\n";
    for (int i = 0; i < 3; ++i) {
        MessageContent m;
        m.props = {UnicodeValue(0x001A001F, "IPM.Note"), UnicodeValue(0x0037001F, "subject " + std::to_string(i)),
                   UnicodeValue(0x1000001F, i == 0 ? longBody : "body " + std::to_string(i))};
        m.recipients.push_back({UnicodeValue(0x3001001F, "Someone"), LongValue(0x0C150003, 1)});
        if (i == 1) {
            AttachmentContent a;
            const std::string text = "the attached text";
            a.props = {LongValue(0x37050003, 1), UnicodeValue(0x3707001F, "a.txt"),
                       BinaryValue(0x37010102, Bytes(text.begin(), text.end()))};
            m.attachments.push_back(a);
        }
        model.AddMessage(model.inbox(), m);
    }
    Header header;
    NodeSet nodes = model.Build(&header);
    header.cryptMethod = kCryptCyclic;
    const std::string dir = testing::MakeTempDir();
    ASSERT_FALSE(dir.empty());
    const std::string path = dir + "/cyclic.pst";
    std::string error;
    ASSERT_TRUE(WriteFile(path, nodes, header, &error)) << error;

    Bytes image = ReadAll(path);
    ASSERT_GT(image.size(), 513u);
    EXPECT_EQ(image[513], kCryptCyclic);
    size_t messages = 0, props = 0;
    ExpectAgreesWithLibpff(path, &messages, &props);
    EXPECT_EQ(messages, 3u);
    EXPECT_STREQ(ProviderForFile(path)->Name(), "pst-checked");

    CheckedFile file;
    ASSERT_TRUE(file.Open(image.data(), image.size(), &error)) << error;
    const NbtEntry& store = file.Nodes().at(kNidMessageStore);
    uint64_t ib = 0;
    uint16_t cb = 0;
    ASSERT_TRUE(file.BlockPlace(store.bidData, &ib, &cb));
    ASSERT_GT(cb, 20u);
    image[ib + 20] ^= 0x01;
    CheckedFile damaged;
    ASSERT_TRUE(damaged.Open(image.data(), image.size(), &error)) << error;
    CheckedNode node = damaged.ReadNode(damaged.Nodes().at(kNidMessageStore));
    EXPECT_FALSE(node.DataWhole());
    EXPECT_NE(node.DataProblem().find("CRC"), std::string::npos) << node.DataProblem();
    std::filesystem::remove_all(dir);
}

// Found by fuzzing: a table whose row size is 0, shorter than a row id or
// longer than a block made the table reader divide by zero or read past
// its rows. Such a table is damage, reported like any other.
TEST(CheckedReader, TablesWithImpossibleRowSizesAreRefused) {
    Node node;
    WriteTableContext({0x0037001F, 0x0E080003}, {{1, {{0x0E080003, {1, 0, 0, 0}}}}, {2, {}}}, &node);
    std::vector<uint32_t> columns;
    std::vector<TableRow> rows;
    std::string error;
    ASSERT_TRUE(ReadTableContext(node, &columns, &rows, &error)) << error;
    ASSERT_EQ(rows.size(), 2u);
    // TCINFO is the heap's first allocation, right after the 12-byte HNHDR;
    // its row size (the end of the bitmap, rgib[TCI_bm]) is at byte 8.
    for (uint16_t size : {0, 2, 9000}) {
        Node bad = node;
        Put16(bad.data.data() + 12 + 8, size);
        EXPECT_FALSE(ReadTableContext(bad, &columns, &rows, &error)) << size;
    }
}

// Found by fuzzing too: a heap B-tree header with keys of no bytes made the
// strict reader divide by zero. Both readers refuse it.
TEST(CheckedReader, HeapTreesWithEmptyKeysAreRefused) {
    Node node;
    WritePropertyContext({{0x0037001F, {'a', 0}}, {0x0E080003, {7, 0, 0, 0}}}, &node);
    HeapReader heap;
    std::string error;
    ASSERT_TRUE(heap.Open(node.data, &error)) << error;
    // The header's allocation, found through the first page's map.
    uint32_t root = heap.userRoot();
    ASSERT_EQ(root >> 16, 0u);
    size_t map = Get16(node.data.data());
    size_t at = Get16(node.data.data() + map + 4 + 2 * (((root >> 5) & 0x7FF) - 1));
    ASSERT_EQ(node.data[at], 0xB5);
    node.data[at + 1] = 0;
    std::vector<PropValue> props;
    EXPECT_FALSE(ReadPropertyContext(node, &props, &error));
    CheckedNode checked;
    checked.pages.push_back(node.data);
    checked.pageErrors.emplace_back();
    std::vector<CheckedProp> ours;
    std::vector<std::string> lost;
    EXPECT_FALSE(ReadCheckedPc(checked, &ours, &lost, &error));
}

}  // namespace
}  // namespace mapi::pst::fmt
