// The messaging layer: a new store has every node a file needs, in the
// shape readers look for, and messages keep their recipients, attachments
// and the sizes the format asks for.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>

#include "providers/pst/format/ltp_pc.h"
#include "providers/pst/format/ltp_tc.h"
#include "providers/pst/format/msg_store.h"
#include "providers/pst/format/ndb_file_reader.h"
#include "providers/pst/format/ndb_file_writer.h"
#include "providers/pst/format/ndb_ids.h"

namespace mapi::pst::fmt {
namespace {

const StoreUid kUid = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16};

NodeSet WriteAndRead(const StoreModel& model) {
    Header h;
    NodeSet nodes = model.Build(&h);
    Bytes file;
    std::string error;
    EXPECT_TRUE(LayOutFile(nodes, &h, &file, &error)) << error;
    NodeSet back;
    EXPECT_TRUE(ReadFileImage(file, &h, &back, &error)) << error;
    return back;
}

std::vector<PropValue> Props(const Node& n) {
    std::vector<PropValue> props;
    std::string error;
    EXPECT_TRUE(ReadPropertyContext(n, &props, &error)) << error;
    return props;
}

std::vector<TableRow> Rows(const Node& n) {
    std::vector<uint32_t> cols;
    std::vector<TableRow> rows;
    std::string error;
    EXPECT_TRUE(ReadTableContext(n, &cols, &rows, &error)) << error;
    return rows;
}

std::string Narrow(const Bytes& utf16) {
    std::string s;
    for (size_t i = 0; i + 1 < utf16.size(); i += 2) s.push_back(static_cast<char>(utf16[i]));
    return s;
}

uint32_t Long(const std::vector<PropValue>& props, uint32_t tag) {
    const PropValue* v = FindValue(props, tag);
    return v == nullptr || v->bytes.size() != 4 ? 0xDEADBEEF : Get32(v->bytes.data());
}

TEST(MsgStore, ANewStoreHasEveryRequiredNodeAndFolder) {
    StoreModel model = StoreModel::NewStore(kUid, "Rescued mail");
    NodeSet nodes = WriteAndRead(model);
    for (uint32_t nid : {0x21u, 0x61u, 0xA1u, 0xC1u, 0x122u, 0x12Du, 0x12Eu, 0x12Fu, 0x1E1u, 0x201u,
                         0x261u, 0x281u, 0x321u, 0x60Du, 0x60Eu, 0x60Fu, 0x610u, 0x671u, 0x692u, 0x62Bu,
                         0x64Cu, 0x6B6u, 0x6D7u, 0x6F8u, 0xC01u, 0xEC1u, 0x8022u, 0x802Du, 0x802Eu,
                         0x802Fu, 0x8042u, 0x2223u})
        EXPECT_TRUE(nodes.count(nid)) << std::hex << nid;
    // The folder templates are empty property contexts, the outgoing queue
    // an empty table: a reader that parses them must find them well formed.
    for (uint32_t nid : {0xA1u, 0xC1u}) EXPECT_TRUE(Props(nodes.at(nid).node).empty()) << std::hex << nid;
    std::vector<uint32_t> cols;
    std::vector<TableRow> rows;
    std::string error;
    ASSERT_TRUE(ReadTableContext(nodes.at(kNidOutgoingQueueTable).node, &cols, &rows, &error)) << error;
    EXPECT_TRUE(rows.empty());
    EXPECT_NE(std::find(cols.begin(), cols.end(), 0x0E140003u), cols.end());
    EXPECT_EQ(nodes.at(kNidRootFolder).parent, kNidRootFolder);
    EXPECT_EQ(nodes.at(kNidIpmSubtree).parent, kNidRootFolder);

    auto store = Props(nodes.at(kNidMessageStore).node);
    ASSERT_NE(FindValue(store, 0x0FF90102), nullptr);
    EXPECT_EQ(FindValue(store, 0x0FF90102)->bytes, Bytes(kUid.begin(), kUid.end()));
    EXPECT_EQ(FindValue(store, 0x35E00102)->bytes, EntryIdBytes(kUid, kNidIpmSubtree));
    EXPECT_EQ(FindValue(store, 0x35E30102)->bytes, EntryIdBytes(kUid, model.deletedItems()));
    EXPECT_EQ(Narrow(FindValue(store, 0x3001001F)->bytes), "Rescued mail");

    // The root lists the three top folders; the IPM subtree the special ones.
    EXPECT_EQ(Rows(nodes.at(0x12D).node).size(), 3u);
    std::vector<std::string> names;
    for (const TableRow& r : Rows(nodes.at(0x802D).node)) {
        names.push_back(Narrow(FindValue(r.cells, 0x3001001F)->bytes));
        EXPECT_TRUE(nodes.count(r.rowId));
        EXPECT_EQ(nodes.at(r.rowId).parent, kNidIpmSubtree);
    }
    EXPECT_EQ(names, (std::vector<std::string>{"Inbox", "Outbox", "Deleted Items", "Sent Items"}));
    auto subtree = Props(nodes.at(kNidIpmSubtree).node);
    EXPECT_EQ(Narrow(FindValue(subtree, 0x3001001F)->bytes), "Top of Personal Folders");
    EXPECT_EQ(FindValue(subtree, 0x360A000B)->bytes, Bytes{1});

    // Mail of every class is received in the inbox.
    auto receive = Rows(nodes.at(kNidReceiveFolderTable).node);
    ASSERT_EQ(receive.size(), 3u);
    for (const TableRow& r : receive) EXPECT_EQ(Long(r.cells, 0x66050003), model.inbox());
}

TEST(MsgStore, AFileLackingInternalNodesGetsThemAtItsNextCommit) {
    StoreModel model = StoreModel::NewStore(kUid, "Old file");
    Header h;
    NodeSet nodes = model.Build(&h);
    // As the writer made files before it wrote these.
    for (uint32_t nid : {0xA1u, 0xC1u, 0x64Cu, 0x6B6u, 0xEC1u}) nodes.erase(nid);
    StoreModel loaded;
    std::string error;
    ASSERT_TRUE(StoreModel::Load(nodes, h, &loaded, &error)) << error;
    std::set<uint32_t> removed;
    std::array<uint32_t, 32> counters{};
    NodeSet changes = loaded.TakeChanges(&removed, &counters);
    std::set<uint32_t> written;
    for (const auto& [nid, top] : changes) written.insert(nid);
    EXPECT_EQ(written, (std::set<uint32_t>{0xA1u, 0xC1u, 0x64Cu, 0x6B6u, 0xEC1u}));
    EXPECT_TRUE(Props(changes.at(0xA1u).node).empty());
    // Once written, they are not written again.
    EXPECT_TRUE(loaded.TakeChanges(&removed, &counters).empty());
}

TEST(MsgNameMap, NamesRoundTripAndSitInTheirHashBuckets) {
    NameMap map;
    Guid guid = {0x11, 0x22};
    Guid psPublic = {0x29, 0x03, 0x02, 0, 0, 0, 0, 0, 0xC0, 0, 0, 0, 0, 0, 0, 0x46};
    EXPECT_EQ(map.IdOf({guid, false, 0x8501, {}}, false), 0);
    EXPECT_EQ(map.IdOf({guid, false, 0x8501, {}}, true), 0x8000);
    EXPECT_EQ(map.IdOf({psPublic, true, 0, u"Keywords"}, true), 0x8001);
    EXPECT_EQ(map.IdOf({guid, true, 0, u"x"}, true), 0x8002);
    EXPECT_EQ(map.IdOf({guid, false, 0x8501, {}}, true), 0x8000);

    std::vector<PropValue> props = map.ToProps();
    NameMap back;
    std::string error;
    ASSERT_TRUE(back.FromProps(props, &error)) << error;
    PropertyName name;
    ASSERT_TRUE(back.NameOf(0x8001, &name));
    EXPECT_TRUE(name.isString);
    EXPECT_EQ(name.name, u"Keywords");
    EXPECT_EQ(name.guid, psPublic);
    EXPECT_EQ(back.IdOf({guid, false, 0x8501, {}}, false), 0x8000);
    // Only our own GUID goes to the GUID stream; PS_PUBLIC_STRINGS is wGuid 2.
    EXPECT_EQ(FindValue(props, 0x00020102)->bytes.size(), 16u);
    // The numeric name: bucket (lid ^ (wGuid << 1)) % 251, wGuid 3.
    uint32_t bucket = (0x8501u ^ (3u << 1)) % NameMap::kBucketCount;
    const PropValue* b = FindValue(props, 0x10000102u + (bucket << 16));
    ASSERT_NE(b, nullptr);
    ASSERT_GE(b->bytes.size(), 8u);
    EXPECT_EQ(Get32(b->bytes.data()), 0x8501u);
    EXPECT_EQ(Get16(b->bytes.data() + 6), 0);  // index of 0x8000
}

TEST(MsgMessage, RecipientsAttachmentsAndSizesAreStoredAndCounted) {
    StoreModel model = StoreModel::NewStore(kUid, "Store");
    uint32_t folder = model.AddFolder(model.ipmSubtree(), "Projects", "IPF.Note");
    ASSERT_NE(folder, 0u);
    MessageContent m;
    m.props = {UnicodeValue(0x0037001F, "Hello"), LongValue(0x0E070003, 0x1 /* read */),
               {0x1000001F, Bytes(30000, 'a')}};
    m.recipients = {{UnicodeValue(0x3001001F, "Ann"), LongValue(0x0C150003, 1)},
                    {UnicodeValue(0x3001001F, "Bob"), LongValue(0x0C150003, 2)}};
    AttachmentContent byValue;
    byValue.props = {UnicodeValue(0x3707001F, "data.bin"), LongValue(0x37050003, 1),
                     {0x37010102, Bytes(20000, 7)}};
    AttachmentContent embedded;
    embedded.embedded = std::make_shared<MessageContent>();
    embedded.embedded->props = {UnicodeValue(0x0037001F, "Inner")};
    m.attachments = {byValue, embedded};
    uint32_t nid = model.AddMessage(folder, m);
    uint32_t unread = model.AddMessage(folder, MessageContent{});
    ASSERT_NE(nid, 0u);
    EXPECT_EQ(model.AddMessage(0x12345, m), 0u) << "no such folder";

    NodeSet nodes = WriteAndRead(model);
    const Node& node = nodes.at(nid).node;
    EXPECT_EQ(nodes.at(nid).parent, folder);
    auto props = Props(node);
    EXPECT_EQ(Long(props, 0x0E070003) & 0x10, 0x10u) << "MSGFLAG_HASATTACH";
    size_t stored = node.data.size();
    std::function<size_t(const Node&)> total = [&](const Node& n) {
        size_t t = n.data.size();
        for (const auto& [k, s] : n.subnodes) t += total(s);
        return t;
    };
    stored = total(node);
    EXPECT_EQ(Long(props, 0x0E080003), stored) << "PR_MESSAGE_SIZE is the size as stored";

    auto recipients = Rows(node.subnodes.at(kNidRecipientTable));
    ASSERT_EQ(recipients.size(), 2u);
    EXPECT_EQ(Narrow(FindValue(recipients[1].cells, 0x3001001F)->bytes), "Bob");
    auto attachments = Rows(node.subnodes.at(kNidAttachmentTable));
    ASSERT_EQ(attachments.size(), 2u);
    auto first = Props(node.subnodes.at(attachments[0].rowId));
    EXPECT_EQ(FindValue(first, 0x37010102)->bytes, Bytes(20000, 7));
    EXPECT_EQ(Long(first, 0x370B0003), 0xFFFFFFFFu) << "not rendered";
    EXPECT_EQ(Long(first, 0x0E200003), total(node.subnodes.at(attachments[0].rowId)));
    EXPECT_EQ(Long(attachments[0].cells, 0x0E200003), Long(first, 0x0E200003));
    const Node& att = node.subnodes.at(attachments[1].rowId);
    auto second = Props(att);
    EXPECT_EQ(Long(second, 0x37050003), 5u);
    const PropValue* object = FindValue(second, 0x3701000D);
    ASSERT_NE(object, nullptr);
    ASSERT_EQ(object->bytes.size(), 8u);
    auto inner = Props(att.subnodes.at(Get32(object->bytes.data())));
    EXPECT_EQ(Narrow(FindValue(inner, 0x0037001F)->bytes), "Inner");

    // The folder's contents table and counts follow its messages.
    auto contents = Rows(nodes.at(SiblingNid(folder, kNidTypeContentsTable)).node);
    ASSERT_EQ(contents.size(), 2u);
    EXPECT_EQ(contents[0].rowId, nid);
    EXPECT_EQ(Narrow(FindValue(contents[0].cells, 0x0037001F)->bytes), "Hello");
    EXPECT_EQ(contents[1].rowId, unread);
    auto folderProps = Props(nodes.at(folder).node);
    EXPECT_EQ(Long(folderProps, 0x36020003), 2u);
    EXPECT_EQ(Long(folderProps, 0x36030003), 1u);
    auto subtreeRows = Rows(nodes.at(0x802D).node);
    auto projects = std::find_if(subtreeRows.begin(), subtreeRows.end(),
                                 [&](const TableRow& r) { return r.rowId == folder; });
    ASSERT_NE(projects, subtreeRows.end());
    EXPECT_EQ(Long(projects->cells, 0x36020003), 2u);
}

}  // namespace
}  // namespace mapi::pst::fmt
