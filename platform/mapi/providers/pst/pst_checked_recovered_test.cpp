// Recovered items on a file that really has them: one our own writer made
// and then changed in a commit that deleted one message and replaced
// another. The deleted message is offered in "Recovered items" with its
// content; the older revision of the replaced one, whose node is still
// live, is not offered at all, and no folder appears twice. Whatever
// pffexport -m all recovers from the same file must be among ours.
#include <gtest/gtest.h>

#include <mapiutil.h>
#include <mapix.h>

#include <filesystem>
#include <fstream>
#include <regex>
#include <set>

#include "providers/providers.h"
#include "providers/pst/format/chk_rescue.h"
#include "providers/pst/format/msg_store.h"
#include "providers/pst/format/msg_values.h"
#include "providers/pst/format/ndb_commit.h"
#include "providers/pst/format/ndb_file_writer.h"
#include "providers/pst/pst_test_support.h"
#include "runtime/mapi_ptr.h"
#include "runtime/provider.h"

namespace mapi::pst {
namespace {

using namespace fmt;

MessageContent Note(const std::string& subject, const std::string& body) {
    MessageContent m;
    m.props = {UnicodeValue(0x001A001F, "IPM.Note"), UnicodeValue(0x0037001F, subject),
               UnicodeValue(0x1000001F, body)};
    AttachmentContent a;
    std::string text = "attached to " + subject;
    a.props = {LongValue(0x37050003, 1), UnicodeValue(0x3707001F, "note.txt"),
               BinaryValue(0x37010102, Bytes(text.begin(), text.end()))};
    m.attachments.push_back(a);
    return m;
}

bool SameNode(const Node& a, const Node& b) {
    if (a.data != b.data || a.subnodes.size() != b.subnodes.size()) return false;
    for (auto i = a.subnodes.begin(), k = b.subnodes.begin(); i != a.subnodes.end(); ++i, ++k)
        if (i->first != k->first || !SameNode(i->second, k->second)) return false;
    return true;
}

// Writes (kept, deleted), then commits the store without "deleted" and
// with "kept" replaced, the way the writer's store objects commit.
void MakeFile(const std::string& path) {
    const StoreUid uid = {9, 8, 7, 6, 5, 4, 3, 2, 1, 0, 1, 2, 3, 4, 5, 6};
    StoreModel before = StoreModel::NewStore(uid, "Revisions");
    before.AddMessage(before.inbox(), Note("kept, first version", "the first body"));
    uint32_t deleted = before.AddMessage(before.inbox(), Note("deleted later", "the deleted body"));
    Header header;
    std::string error;
    ASSERT_TRUE(WriteFile(path, before.Build(&header), header, &error)) << error;
    NodeSet onDisk;
    auto file = NdbFile::Open(path, &onDisk, &header, &error);
    ASSERT_TRUE(file) << error;
    // Node ids follow the order of adding, so this model is the first one
    // without its second message.
    StoreModel after = StoreModel::NewStore(uid, "Revisions");
    after.AddMessage(after.inbox(), Note("kept, second version", "the second body"));
    NodeSet now = after.Build(&header), changed;
    for (const auto& [nid, node] : now) {
        auto was = onDisk.find(nid);
        if (was == onDisk.end() || was->second.parent != node.parent || !SameNode(was->second.node, node.node))
            changed[nid] = node;
    }
    ASSERT_TRUE(file->Commit(changed, {deleted}, header.nextNidIndex, &error)) << error;
}

// Subjects of the items pffexport -m all writes outside the folders it
// exports (its recovered and orphan items).
std::multiset<std::string> PffexportRecovered(const std::string& path, const std::string& dir) {
    namespace fs = std::filesystem;
    std::multiset<std::string> subjects;
    fs::create_directories(dir);
    std::string command = "pffexport -q -m all -t '" + dir + "/x' '" + path + "' >/dev/null 2>&1";
    EXPECT_EQ(std::system(command.c_str()), 0);
    const std::regex item("[A-Za-z]+[0-9]{5}");
    for (const auto& entry : fs::recursive_directory_iterator(dir)) {
        std::string where = entry.path().string();
        if (!entry.is_directory() || !std::regex_match(entry.path().filename().string(), item) ||
            (where.find("ecovered") == std::string::npos && where.find("rphan") == std::string::npos))
            continue;
        for (const auto& file : fs::directory_iterator(entry.path())) {
            std::ifstream in(file.path());
            std::string line;
            while (std::getline(in, line))
                if (line.rfind("Subject:", 0) == 0) subjects.insert(line.substr(line.find_first_not_of(" \t", 8)));
        }
    }
    return subjects;
}

TEST(CheckedRecovered, DeletedItemsAreOfferedOlderRevisionsOfLiveOnesAreNot) {
    std::string dir = testing::MakeTempDir(), path = dir + "/revisions.pst";
    MakeFile(path);
    if (HasFatalFailure()) return;
    ProfileEntry entry{"test", "Revisions", "pst-checked", path};
    ComRef<IMsgStore> store;
    std::string error;
    ASSERT_EQ(PstCheckedStoreProvider()->OpenStore(entry, store.Out(), &error), S_OK) << error;
    ComRef<IUnknown> root;
    ULONG type = 0;
    ASSERT_EQ(store->OpenEntry(0, nullptr, nullptr, 0, &type, root.Out()), S_OK);
    std::vector<std::string> failures;
    auto folders = testing::WalkFolders(reinterpret_cast<IMAPIFolder*>(root.get()), &failures);
    ASSERT_TRUE(failures.empty()) << failures.front();
    std::set<std::string> paths;
    std::multiset<std::string> recovered, inbox;
    for (const auto& f : folders) {
        EXPECT_TRUE(paths.insert(f.path).second) << f.path << " twice";
        EXPECT_EQ(f.path.find(kRecoveredFoldersName), std::string::npos) << f.path;
        bool isRecovered = f.path.ends_with(kRecoveredItemsName), isInbox = f.path.ends_with("Inbox");
        if (!isRecovered && !isInbox) continue;
        ComRef<IUnknown> opened;
        ASSERT_EQ(store->OpenEntry(static_cast<ULONG>(f.entryId.size()),
                                   reinterpret_cast<LPENTRYID>(const_cast<BYTE*>(f.entryId.data())), nullptr, 0, &type,
                                   opened.Out()),
                  S_OK);
        ComRef<IMAPITable> contents;
        ASSERT_EQ(reinterpret_cast<IMAPIFolder*>(opened.get())->GetContentsTable(0, contents.Out()), S_OK);
        SizedSPropTagArray(1, columns) = {1, {PR_SUBJECT_A}};
        LPSRowSet raw = nullptr;
        ASSERT_EQ(HrQueryAllRows(contents.get(), reinterpret_cast<LPSPropTagArray>(&columns), nullptr, nullptr, 0, &raw),
                  S_OK);
        RowSetPtr rows(raw);
        for (ULONG i = 0; i < rows->cRows; ++i) {
            const SPropValue& v = rows->aRow[i].lpProps[0];
            (isRecovered ? recovered : inbox).insert(PROP_TYPE(v.ulPropTag) == PT_STRING8 ? v.Value.lpszA : "?");
        }
    }
    EXPECT_EQ(inbox, std::multiset<std::string>{"kept, second version"});
    EXPECT_EQ(recovered, std::multiset<std::string>{"deleted later"});
    // The recovered item reads whole apart from its note: body and
    // attachment as written.
    auto prints = testing::FingerprintStore(store.get());
    for (const auto& [id, print] : prints) EXPECT_NE(print, "fail") << id;
    for (const std::string& subject : PffexportRecovered(path, dir + "/pff"))
        EXPECT_EQ(recovered.count(subject), 1u) << "pffexport recovers \"" << subject << "\", we do not";
    std::filesystem::remove_all(dir);
}

}  // namespace
}  // namespace mapi::pst
