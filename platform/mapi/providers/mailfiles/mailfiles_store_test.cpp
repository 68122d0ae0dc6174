// The three mail file stores through MAPI: what a new store offers, folders
// and items there and back, identity across sessions, the resume columns,
// the layouts' own rules (Maildir flags, mbox quoting) and damaged items.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <ftw.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <thread>
#include <sstream>

#include <mapix.h>
#include <mapiutil.h>

#include "mime/mail_tags.h"
#include "providers/mailfiles/mail_layout.h"
#include "providers/providers.h"
#include "runtime/mapi_ptr.h"
#include "runtime/message_copy.h"
#include "runtime/prop_convert.h"

namespace mapi::mailfiles {
namespace {

class TempDir {
public:
    TempDir() {
        char pattern[] = "/tmp/quirnel-mailfiles-XXXXXX";
        if (char* made = mkdtemp(pattern)) path_ = made;
    }
    ~TempDir() {
        nftw(path_.c_str(), [](const char* p, const struct stat*, int, struct FTW*) { return ::remove(p); },
             16, FTW_DEPTH | FTW_PHYS);
    }
    std::string Path(const std::string& name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

StoreProvider* ProviderOf(const std::string& kind) {
    if (kind == "maildir") return MaildirStoreProvider();
    if (kind == "mbox") return MboxStoreProvider();
    return EmlStoreProvider();
}

ComRef<IMsgStore> Open(const std::string& kind, const std::string& path) {
    IMsgStore* store = nullptr;
    std::string error;
    EXPECT_EQ(ProviderOf(kind)->OpenStore({"s", "Mail", kind, path}, &store, &error), S_OK) << error;
    return ComRef<IMsgStore>(store);
}

std::string Binary(IMAPIProp* object, ULONG tag) {
    LPSPropValue raw = nullptr;
    if (HrGetOneProp(object, tag, &raw) != S_OK) return {};
    MapiBuffer<SPropValue> v(raw);
    return std::string(reinterpret_cast<const char*>(v->Value.bin.lpb), v->Value.bin.cb);
}

ComRef<IMessage> OpenMessage(IMsgStore* store, const std::string& id, HRESULT* result) {
    ComRef<IUnknown> unknown;
    ULONG type = 0;
    *result = store->OpenEntry(static_cast<ULONG>(id.size()),
                               reinterpret_cast<LPENTRYID>(const_cast<char*>(id.data())),
                               &IID_IMessage, MAPI_BEST_ACCESS, &type, unknown.Out());
    return ComRef<IMessage>(reinterpret_cast<IMessage*>(unknown.Detach()));
}

ComRef<IMAPIFolder> OpenFolder(IMsgStore* store, const std::string& id) {
    ComRef<IUnknown> unknown;
    ULONG type = 0;
    EXPECT_EQ(store->OpenEntry(static_cast<ULONG>(id.size()),
                               reinterpret_cast<LPENTRYID>(const_cast<char*>(id.data())),
                               &IID_IMAPIFolder, MAPI_BEST_ACCESS, &type, unknown.Out()),
              S_OK);
    return ComRef<IMAPIFolder>(reinterpret_cast<IMAPIFolder*>(unknown.Detach()));
}

ComRef<IMAPIFolder> Create(IMAPIFolder* parent, const char* name, ULONG flags = OPEN_IF_EXISTS,
                           HRESULT* result = nullptr) {
    ComRef<IMAPIFolder> folder;
    HRESULT hr = parent->CreateFolder(FOLDER_GENERIC, const_cast<LPTSTR>(name), nullptr, nullptr,
                                      flags, folder.Out());
    if (result != nullptr) *result = hr;
    return folder;
}

void SetText(IMAPIProp* object, ULONG tag, const char* text) {
    SPropValue v{};
    v.ulPropTag = CHANGE_PROP_TYPE(tag, PT_STRING8);
    v.Value.lpszA = const_cast<char*>(text);
    ASSERT_EQ(HrSetOneProp(object, &v), S_OK);
}

// Saves a message with subject, body, one recipient and one attachment.
std::string SaveMessage(IMAPIFolder* folder, const char* subject, const char* body,
                        LONG messageFlags = MSGFLAG_READ) {
    ComRef<IMessage> message;
    EXPECT_EQ(folder->CreateMessage(nullptr, 0, message.Out()), S_OK);
    SetText(message.get(), PR_SUBJECT, subject);
    SetText(message.get(), PR_BODY, body);
    SetText(message.get(), PR_SENT_REPRESENTING_NAME, "Sender");
    SetText(message.get(), PR_SENT_REPRESENTING_EMAIL_ADDRESS, "sender@example.org");
    SPropValue flags{};
    flags.ulPropTag = PR_MESSAGE_FLAGS;
    flags.Value.l = messageFlags;
    EXPECT_EQ(HrSetOneProp(message.get(), &flags), S_OK);
    ComRef<IAttach> attach;
    ULONG number = 0;
    EXPECT_EQ(message->CreateAttach(nullptr, 0, &number, attach.Out()), S_OK);
    SPropValue data{};
    data.ulPropTag = PR_ATTACH_DATA_BIN;
    data.Value.bin.cb = 3;
    data.Value.bin.lpb = reinterpret_cast<LPBYTE>(const_cast<char*>("a\0b"));
    EXPECT_EQ(HrSetOneProp(attach.get(), &data), S_OK);
    SetText(attach.get(), PR_ATTACH_LONG_FILENAME, "ab.bin");
    EXPECT_EQ(attach->SaveChanges(0), S_OK);
    EXPECT_EQ(message->SaveChanges(0), S_OK);
    return Binary(message.get(), PR_ENTRYID);
}

std::vector<std::string> Subjects(IMAPIFolder* folder, ULONG extraColumn = PR_NULL,
                                  std::vector<std::string>* extra = nullptr) {
    ComRef<IMAPITable> table;
    EXPECT_EQ(folder->GetContentsTable(0, table.Out()), S_OK);
    SizedSPropTagArray(2, columns) = {2, {PR_SUBJECT, extraColumn}};
    LPSRowSet raw = nullptr;
    EXPECT_EQ(HrQueryAllRows(table.get(), reinterpret_cast<LPSPropTagArray>(&columns), nullptr,
                             nullptr, 0, &raw),
              S_OK);
    RowSetPtr rows(raw);
    std::vector<std::string> out;
    for (ULONG i = 0; rows && i < rows->cRows; ++i) {
        const SPropValue& s = rows->aRow[i].lpProps[0];
        out.push_back(PROP_TYPE(s.ulPropTag) == PT_STRING8 ? s.Value.lpszA : "<error>");
        if (extra != nullptr) {
            const SPropValue& e = rows->aRow[i].lpProps[1];
            extra->push_back(PROP_TYPE(e.ulPropTag) == PT_BINARY
                                 ? std::string(reinterpret_cast<char*>(e.Value.bin.lpb), e.Value.bin.cb)
                                 : "<none>");
        }
    }
    return out;
}

class MailStoreTest : public ::testing::TestWithParam<std::string> {
protected:
    void SetUp() override {
        path_ = dir_.Path("store");
        std::string error;
        ASSERT_EQ(ProviderOf(GetParam())->CreateStore(path_, "Mail", &error), S_OK) << error;
        store_ = Open(GetParam(), path_);
        ASSERT_TRUE(store_);
        subtree_ = OpenFolder(store_.get(), Binary(store_.get(), PR_IPM_SUBTREE_ENTRYID));
    }

    TempDir dir_;
    std::string path_;
    ComRef<IMsgStore> store_;
    ComRef<IMAPIFolder> subtree_;
};

// A store whose files may not be written says so in its mask, at once and
// for root too, so a copy refuses it before writing; it says so no more
// once they may.
TEST_P(MailStoreTest, AStoreWhoseFilesCannotBeWrittenSaysItIsReadOnly) {
    const auto mask = [&] {
        LPSPropValue raw = nullptr;
        EXPECT_EQ(HrGetOneProp(store_.get(), PR_STORE_SUPPORT_MASK, &raw), S_OK);
        MapiBuffer<SPropValue> held(raw);
        return held ? held->Value.l & (STORE_READONLY | STORE_MODIFY_OK) : 0;
    };
    EXPECT_EQ(mask(), STORE_MODIFY_OK);
    ASSERT_EQ(::chmod(path_.c_str(), 0555), 0);
    EXPECT_EQ(mask(), STORE_READONLY);
    ASSERT_EQ(::chmod(path_.c_str(), 0755), 0);
    EXPECT_EQ(mask(), STORE_MODIFY_OK);
}

// What the copy engine relies on in a new store, and folders and items
// written and read back, also after the store was opened anew.
TEST_P(MailStoreTest, NewStoreFoldersAndItemsAcrossSessions) {
    LPSPropValue raw = nullptr;
    ASSERT_EQ(HrGetOneProp(store_.get(), PR_STORE_SUPPORT_MASK, &raw), S_OK);
    MapiBuffer<SPropValue> mask(raw);
    EXPECT_EQ(mask->Value.l & (STORE_MODIFY_OK | STORE_CREATE_OK), STORE_MODIFY_OK | STORE_CREATE_OK);
    const std::string wastebasket = Binary(store_.get(), PR_IPM_WASTEBASKET_ENTRYID);
    const std::string sent = Binary(store_.get(), PR_IPM_SENTMAIL_ENTRYID);
    ASSERT_FALSE(wastebasket.empty());
    ASSERT_FALSE(sent.empty());
    ULONG cb = 0;
    LPENTRYID rawInbox = nullptr;
    ASSERT_EQ(store_->GetReceiveFolder(nullptr, 0, &cb, &rawInbox, nullptr), S_OK);
    MapiBuffer<ENTRYID> inboxId(rawInbox);
    const std::string inbox(reinterpret_cast<char*>(inboxId.get()), cb);
    // Every entry id carries the store's MAPIUID after four zero bytes.
    EXPECT_EQ(inbox.substr(0, 4), std::string(4, '\0'));
    EXPECT_EQ(inbox.substr(4, 16), Binary(store_.get(), PR_STORE_RECORD_KEY));

    // The inbox exists already: a second one is a collision, in any case.
    HRESULT hr = S_OK;
    Create(subtree_.get(), "INBOX", 0, &hr);
    EXPECT_EQ(hr, MAPI_E_COLLISION);
    ComRef<IMAPIFolder> inboxAgain = Create(subtree_.get(), "inbox");
    ASSERT_TRUE(inboxAgain);
    EXPECT_EQ(Binary(inboxAgain.get(), PR_ENTRYID), inbox);

    // Names with the layouts' separators survive.
    ComRef<IMAPIFolder> odd = Create(subtree_.get(), "a.b/c %2E");
    ASSERT_TRUE(odd);
    ComRef<IMAPIFolder> child = Create(odd.get(), "Kind.1");
    ASSERT_TRUE(child);
    SetText(child.get(), PR_CONTAINER_CLASS, "IPF.Appointment");  // kept for the next session
    const std::string first = SaveMessage(child.get(), "First", "one\r\n");
    const std::string second = SaveMessage(child.get(), "Zweite Grüße", "two\r\n");
    ASSERT_FALSE(first.empty());
    EXPECT_EQ(Subjects(child.get()), (std::vector<std::string>{"First", "Zweite Grüße"}));
    ComRef<IMAPIFolder> inboxFolder = OpenFolder(store_.get(), inbox);
    SaveMessage(inboxFolder.get(), "In the inbox", "x");

    // A new session: same identity, same folders, same items.
    store_.Reset();
    subtree_.Reset();
    child.Reset();
    odd.Reset();
    inboxFolder.Reset();
    inboxAgain.Reset();
    ComRef<IMsgStore> again = Open(GetParam(), path_);
    EXPECT_EQ(Binary(again.get(), PR_IPM_WASTEBASKET_ENTRYID), wastebasket);
    ComRef<IMessage> message = OpenMessage(again.get(), second, &hr);
    ASSERT_EQ(hr, S_OK);
    LPSPropValue subject = nullptr;
    ASSERT_EQ(HrGetOneProp(message.get(), PR_SUBJECT, &subject), S_OK);
    MapiBuffer<SPropValue> subjectHolder(subject);
    EXPECT_STREQ(subject->Value.lpszA, "Zweite Grüße");
    LPSPropValue flags = nullptr;
    ASSERT_EQ(HrGetOneProp(message.get(), PR_MESSAGE_FLAGS, &flags), S_OK);
    MapiBuffer<SPropValue> flagsHolder(flags);
    EXPECT_NE(flags->Value.l & MSGFLAG_READ, 0);
    EXPECT_NE(flags->Value.l & MSGFLAG_HASATTACH, 0);
    // What was read is not changed in place.
    SPropValue v{};
    v.ulPropTag = PR_IMPORTANCE;
    EXPECT_EQ(HrSetOneProp(message.get(), &v), MAPI_E_NO_ACCESS);

    ComRef<IMAPIFolder> parent =
        OpenFolder(again.get(), Binary(message.get(), PR_PARENT_ENTRYID));
    LPSPropValue name = nullptr;
    ASSERT_EQ(HrGetOneProp(parent.get(), PR_DISPLAY_NAME, &name), S_OK);
    MapiBuffer<SPropValue> nameHolder(name);
    EXPECT_STREQ(name->Value.lpszA, "Kind.1");
    LPSPropValue cls = nullptr;
    ASSERT_EQ(HrGetOneProp(parent.get(), PR_CONTAINER_CLASS, &cls), S_OK);
    MapiBuffer<SPropValue> clsHolder(cls);
    EXPECT_STREQ(cls->Value.lpszA, "IPF.Appointment");
    ComRef<IMAPITable> attachments;
    ASSERT_EQ(message->GetAttachmentTable(0, attachments.Out()), S_OK);
    ULONG count = 0;
    ASSERT_EQ(attachments->GetRowCount(0, &count), S_OK);
    EXPECT_EQ(count, 1u);
    ComRef<IAttach> attach;
    ASSERT_EQ(message->OpenAttach(0, nullptr, 0, attach.Out()), S_OK);
    EXPECT_EQ(Binary(attach.get(), PR_ATTACH_DATA_BIN), std::string("a\0b", 3));
}

// A run resumes by the provenance columns of the target's contents table:
// they must come back from the files, under the ids the store hands out.
TEST_P(MailStoreTest, ProvenanceIsAContentsColumn) {
    MAPINAMEID name{};
    GUID set = mime::PS_QUIRNEL;
    name.lpguid = &set;
    name.ulKind = MNID_STRING;
    name.Kind.lpwstrName = reinterpret_cast<LPWSTR>(const_cast<char16_t*>(u"SourceEntryId"));
    LPMAPINAMEID names[] = {&name};
    LPSPropTagArray rawTags = nullptr;
    ASSERT_EQ(subtree_->GetIDsFromNames(1, names, MAPI_CREATE, &rawTags), S_OK);
    MapiBuffer<SPropTagArray> tags(rawTags);
    const ULONG sourceEntry = CHANGE_PROP_TYPE(tags->aulPropTag[0], PT_BINARY);
    name.Kind.lpwstrName = reinterpret_cast<LPWSTR>(const_cast<char16_t*>(u"SourceStore"));
    ASSERT_EQ(subtree_->GetIDsFromNames(1, names, MAPI_CREATE, &rawTags), S_OK);
    MapiBuffer<SPropTagArray> storeTags(rawTags);
    const ULONG sourceStore = CHANGE_PROP_TYPE(storeTags->aulPropTag[0], PT_BINARY);

    ComRef<IMAPIFolder> folder = Create(subtree_.get(), "Resumed");
    ComRef<IMessage> message;
    ASSERT_EQ(folder->CreateMessage(nullptr, 0, message.Out()), S_OK);
    SetText(message.get(), PR_SUBJECT, "copied");
    SPropValue values[2] = {};
    values[0].ulPropTag = sourceEntry;
    values[0].Value.bin.cb = 5;
    values[0].Value.bin.lpb = reinterpret_cast<LPBYTE>(const_cast<char*>("\x00\x01id2"));
    values[1].ulPropTag = sourceStore;
    values[1].Value.bin.cb = 2;
    values[1].Value.bin.lpb = reinterpret_cast<LPBYTE>(const_cast<char*>("st"));
    ASSERT_EQ(message->SetProps(2, values, nullptr), S_OK);
    ASSERT_EQ(message->SaveChanges(0), S_OK);
    SaveMessage(folder.get(), "native", "not copied");

    std::vector<std::string> ids;
    EXPECT_EQ(Subjects(folder.get(), sourceEntry, &ids), (std::vector<std::string>{"copied", "native"}));
    EXPECT_EQ(ids, (std::vector<std::string>{std::string("\x00\x01id2", 5), "<none>"}));
}

// Items a foreign program left damaged fail alone; the others copy.
TEST_P(MailStoreTest, DamagedItemsFailAlone) {
    ComRef<IMAPIFolder> folder = Create(subtree_.get(), "Mixed");
    SaveMessage(folder.get(), "good one", "fine\r\n");
    const std::string kind = GetParam();
    const std::string damaged("\x00\x01\x02\x00 not a message at all\n", 26);
    if (kind == "maildir") {
        std::ofstream(path_ + "/.Mixed/cur/9999999999.bad:2,S", std::ios::binary) << damaged;
    } else if (kind == "eml") {
        std::ofstream(path_ + "/Mixed/999999 bad.eml", std::ios::binary) << damaged;
    } else {
        std::ofstream(path_ + "/Mixed", std::ios::binary | std::ios::app)
            << "From someone Mon Jan  1 00:00:00 2018\n" << damaged << "\n";
        // and a message cut off in its headers, as a truncated file ends
        std::ofstream(path_ + "/Mixed", std::ios::binary | std::ios::app)
            << "From x Mon Jan  1 00:00:00 2018\nSubject: cut";
    }
    SaveMessage(folder.get(), "good two", "also fine\r\n");

    std::vector<std::string> subjects = Subjects(folder.get());
    EXPECT_GE(subjects.size(), 3u);
    EXPECT_NE(std::find(subjects.begin(), subjects.end(), "<error>"), subjects.end());

    // Copy the folder into a second store of the same kind: the damaged
    // item fails with MAPI_E_CORRUPT_DATA, the good ones arrive.
    std::string error;
    ASSERT_EQ(ProviderOf(kind)->CreateStore(dir_.Path("copy"), "Copy", &error), S_OK);
    ComRef<IMsgStore> copy = Open(kind, dir_.Path("copy"));
    ComRef<IMAPIFolder> copySubtree = OpenFolder(copy.get(), Binary(copy.get(), PR_IPM_SUBTREE_ENTRYID));
    ComRef<IMAPIFolder> target = Create(copySubtree.get(), "Mixed");
    ComRef<IMAPITable> table;
    ASSERT_EQ(folder->GetContentsTable(0, table.Out()), S_OK);
    SizedSPropTagArray(1, columns) = {1, {PR_ENTRYID}};
    LPSRowSet raw = nullptr;
    ASSERT_EQ(HrQueryAllRows(table.get(), reinterpret_cast<LPSPropTagArray>(&columns), nullptr, nullptr,
                             0, &raw),
              S_OK);
    RowSetPtr rows(raw);
    // A placeholder column (a name the store does not know, as the copy
    // engine asks for) reads no message: the damaged one is not noticed.
    SizedSPropTagArray(2, placeholder) = {2, {PR_ENTRYID, PR_NULL}};
    ASSERT_EQ(HrQueryAllRows(table.get(), reinterpret_cast<LPSPropTagArray>(&placeholder), nullptr,
                             nullptr, 0, &raw),
              S_OK);
    RowSetPtr placeholders(raw);
    for (ULONG i = 0; i < placeholders->cRows; ++i)
        EXPECT_NE(placeholders->aRow[i].lpProps[1].Value.err, MAPI_E_CORRUPT_DATA) << i;
    int corrupt = 0, copied = 0;
    for (ULONG i = 0; i < rows->cRows; ++i) {
        ENTRYLIST list{1, &rows->aRow[i].lpProps[0].Value.bin};
        HRESULT hr = folder->CopyMessages(&list, nullptr, target.get(), 0, nullptr, 0);
        if (hr == MAPI_E_CORRUPT_DATA) ++corrupt;
        else if (hr == S_OK) ++copied;
        else ADD_FAILURE() << "unexpected code " << std::hex << hr;
    }
    EXPECT_GE(corrupt, 1);
    EXPECT_GE(copied, 2);
    std::vector<std::string> arrived = Subjects(target.get());
    EXPECT_NE(std::find(arrived.begin(), arrived.end(), "good one"), arrived.end());
    EXPECT_NE(std::find(arrived.begin(), arrived.end(), "good two"), arrived.end());
}

// A folder whose files went away under the store: saving into it fails
// with words that name the place, given by the message that failed (in
// either text width) and, for a copy, by the source folder.
TEST_P(MailStoreTest, AFailedWriteSaysWhereAndWhy) {
    ComRef<IMAPIFolder> source = Create(subtree_.get(), "Giving");
    SaveMessage(source.get(), "to be copied", "body\r\n");
    ComRef<IMAPIFolder> folder = Create(subtree_.get(), "Refusing");
    const std::string where = path_ + (GetParam() == "maildir" ? "/.Refusing" : "/Refusing");
    std::filesystem::remove_all(where);

    ComRef<IMessage> message;
    ASSERT_EQ(folder->CreateMessage(nullptr, 0, message.Out()), S_OK);
    SetText(message.get(), PR_SUBJECT, "nowhere to go");
    const HRESULT hr = message->SaveChanges(0);
    ASSERT_EQ(hr, MAPI_E_NOT_FOUND);
    LPMAPIERROR raw = nullptr;
    ASSERT_EQ(message->GetLastError(hr, 0, &raw), S_OK);
    MapiBuffer<MAPIERROR> narrow(raw);
    ASSERT_TRUE(narrow && narrow->lpszError != nullptr);
    EXPECT_EQ(std::string(narrow->lpszError), where + " is not there");
    EXPECT_STREQ(narrow->lpszComponent, GetParam().c_str());
    ASSERT_EQ(message->GetLastError(hr, MAPI_UNICODE, &raw), S_OK);
    MapiBuffer<MAPIERROR> wide(raw);
    ASSERT_TRUE(wide && wide->lpszError != nullptr);
    EXPECT_EQ(Utf16ToUtf8(reinterpret_cast<const WCHAR*>(wide->lpszError)), where + " is not there");
    // Another code, or a call that went well, has no words.
    ASSERT_EQ(message->GetLastError(MAPI_E_CALL_FAILED, 0, &raw), S_OK);
    EXPECT_EQ(raw, nullptr);
    if (GetParam() == "maildir") {
        // The system's own words when a write itself fails.
        ComRef<IMAPIFolder> jammed = Create(subtree_.get(), "Jammed");
        std::filesystem::remove_all(path_ + "/.Jammed/cur");
        std::ofstream(path_ + "/.Jammed/cur") << "a file where a directory belongs";
        ComRef<IMessage> stuck;
        ASSERT_EQ(jammed->CreateMessage(nullptr, 0, stuck.Out()), S_OK);
        const HRESULT failed = stuck->SaveChanges(0);
        EXPECT_EQ(failed, MAPI_E_DISK_ERROR);
        ASSERT_EQ(stuck->GetLastError(failed, 0, &raw), S_OK);
        MapiBuffer<MAPIERROR> words(raw);
        ASSERT_TRUE(words && words->lpszError != nullptr);
        EXPECT_EQ(std::string(words->lpszError),
                  "cannot write to " + path_ + "/.Jammed: " + std::strerror(ENOTDIR));
    }

    ComRef<IMAPITable> table;
    ASSERT_EQ(source->GetContentsTable(0, table.Out()), S_OK);
    SizedSPropTagArray(1, columns) = {1, {PR_ENTRYID}};
    LPSRowSet rawRows = nullptr;
    ASSERT_EQ(HrQueryAllRows(table.get(), reinterpret_cast<LPSPropTagArray>(&columns), nullptr,
                             nullptr, 0, &rawRows),
              S_OK);
    RowSetPtr rows(rawRows);
    ASSERT_EQ(rows->cRows, 1u);
    ENTRYLIST list{1, &rows->aRow[0].lpProps[0].Value.bin};
    const HRESULT copied = source->CopyMessages(&list, nullptr, folder.get(), 0, nullptr, 0);
    EXPECT_EQ(copied, MAPI_E_NOT_FOUND);
    EXPECT_EQ(CopyFailureText(source.get(), copied), where + " is not there");
}

INSTANTIATE_TEST_SUITE_P(Kinds, MailStoreTest, ::testing::Values("maildir", "mbox", "eml"));

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

// mboxrd: "From " at the start of a body line is quoted on the way in and
// unquoted on the way out, at any depth of earlier quoting.
TEST(MboxLayout, FromLinesAreQuotedAndComeBack) {
    TempDir dir;
    auto layout = MboxLayout(dir.Path(""));
    ASSERT_EQ(layout->CreateFolder({}, "Box"), S_OK);
    const std::string message = "Subject: q\n\nFrom here\n>From there\n>>From afar\nFrom\n";
    std::string key1, key2;
    ASSERT_EQ(layout->AddItem({"Box"}, message, {}, "", &key1), S_OK);
    ASSERT_EQ(layout->AddItem({"Box"}, "Subject: no newline at the end", {}, "", &key2), S_OK);
    const std::string file = ReadFile(dir.Path("Box"));
    EXPECT_NE(file.find("\n>From here\n>>From there\n>>>From afar\nFrom\n"), std::string::npos) << file;
    EXPECT_EQ(file.rfind("From ", 0), 0u);
    EXPECT_EQ(ReadFile(dir.Path("Box.lock")), "");  // the dot-lock is gone again
    std::vector<ItemEntry> items;
    ASSERT_EQ(layout->ListItems({"Box"}, &items), S_OK);
    ASSERT_EQ(items.size(), 2u);
    std::string bytes;
    ItemEntry entry;
    ASSERT_EQ(layout->ReadItem({"Box"}, key1, &bytes, &entry), S_OK);
    EXPECT_EQ(bytes, message);
    ASSERT_EQ(layout->ReadItem({"Box"}, key2, &bytes, &entry), S_OK);
    EXPECT_EQ(bytes, "Subject: no newline at the end\n");

    // Text before the first "From " belongs to no message: it is listed as
    // an item that fails to read, so it cannot go missing unnoticed.
    std::ofstream(dir.Path("Odd"), std::ios::binary)
        << "Fromage is cheese\nFrom x Mon Jan  1 00:00:00 2018\nSubject: after\n\nx\n";
    ASSERT_EQ(layout->ListItems({"Odd"}, &items), S_OK);
    ASSERT_EQ(items.size(), 2u);
    EXPECT_EQ(layout->ReadItem({"Odd"}, items[0].key, &bytes, &entry), MAPI_E_CORRUPT_DATA);
    ASSERT_EQ(layout->ReadItem({"Odd"}, items[1].key, &bytes, &entry), S_OK);
    EXPECT_EQ(bytes, "Subject: after\n\nx\n");
}

// Appending waits while another program holds the mailbox's dot-lock, and
// a lock left by a crashed writer long ago does not block for ever.
TEST(MboxLayout, AppendWaitsForTheDotLock) {
    TempDir dir;
    auto layout = MboxLayout(dir.Path(""));
    ASSERT_EQ(layout->CreateFolder({}, "Box"), S_OK);
    const std::string lock = dir.Path("Box.lock");
    std::ofstream(lock) << "";
    std::string key;
    HRESULT result = E_FAIL;
    std::thread writer([&] { result = layout->AddItem({"Box"}, "Subject: w\n\nx\n", {}, "", &key); });
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_EQ(ReadFile(dir.Path("Box")), "");  // nothing written under someone else's lock
    ::unlink(lock.c_str());
    writer.join();
    ASSERT_EQ(result, S_OK);
    EXPECT_NE(ReadFile(dir.Path("Box")).find("Subject: w"), std::string::npos);

    std::ofstream(lock) << "";
    struct timespec old[2] = {{1000000000, 0}, {1000000000, 0}};
    ASSERT_EQ(::utimensat(AT_FDCWD, lock.c_str(), old, 0), 0);
    EXPECT_EQ(layout->AddItem({"Box"}, "Subject: v\n\ny\n", {}, "", &key), S_OK);
}

// One mbox file on its own (an export) is a store with one folder.
TEST(MboxFile, OneFileIsAStore) {
    TempDir dir;
    const std::string file = dir.Path("Export.mbox");
    std::ofstream(file, std::ios::binary)
        << "From a@example.org Mon Jan  1 00:00:00 2018\nSubject: one\nStatus: RO\n\nbody\n"
           ">From the quoted line\n\nFrom b@example.org Mon Jan  1 00:00:00 2018\n"
           "Subject: two\n\nsecond\n";
    EXPECT_TRUE(MboxStoreProvider()->Recognizes(file));
    EXPECT_FALSE(EmlStoreProvider()->Recognizes(file));
    ComRef<IMsgStore> store = Open("mbox", file);
    ASSERT_TRUE(store);
    ComRef<IMAPIFolder> subtree = OpenFolder(store.get(), Binary(store.get(), PR_IPM_SUBTREE_ENTRYID));
    ComRef<IMAPIFolder> folder = Create(subtree.get(), "Export");
    ASSERT_TRUE(folder);
    EXPECT_EQ(Subjects(folder.get()), (std::vector<std::string>{"one", "two"}));
    HRESULT hr = S_OK;
    Create(subtree.get(), "Another", OPEN_IF_EXISTS, &hr);
    EXPECT_EQ(hr, MAPI_E_NO_SUPPORT);
    // Its identity lives beside it, so a second session sees the same ids.
    const std::string id = Binary(folder.get(), PR_ENTRYID);
    folder.Reset();
    subtree.Reset();
    store.Reset();
    ComRef<IMsgStore> again = Open("mbox", file);
    EXPECT_EQ(Binary(OpenFolder(again.get(), id).get(), PR_ENTRYID), id);
}

// Maildir keeps states in the file name, in the letters' ASCII order.
TEST(MaildirLayout, FlagsLiveInFileNames) {
    TempDir dir;
    const std::string root = dir.Path("md");
    ASSERT_EQ(::mkdir(root.c_str(), 0700), 0);
    auto layout = MaildirLayout(root);
    ASSERT_EQ(layout->CreateFolder({}, "Inbox"), S_OK);
    for (const char* sub : {"/cur", "/new", "/tmp"}) ::mkdir((root + sub).c_str(), 0700);
    mime::MailFlags flags;
    flags.seen = flags.flagged = flags.answered = true;
    std::string key;
    ASSERT_EQ(layout->AddItem({"Inbox"}, "Subject: f\n\nx\n", flags, "", &key), S_OK);
    std::vector<std::string> files = DirectoryEntries(root + "/cur");
    ASSERT_EQ(files.size(), 1u);
    EXPECT_EQ(files[0], key + ":2,FRS");
    EXPECT_TRUE(DirectoryEntries(root + "/tmp").empty());
    // Another client marks it forwarded and moves it: the key still finds it.
    ASSERT_EQ(::rename((root + "/cur/" + files[0]).c_str(), (root + "/cur/" + key + ":2,PS").c_str()), 0);
    std::string bytes;
    ItemEntry entry;
    ASSERT_EQ(layout->ReadItem({"Inbox"}, key, &bytes, &entry), S_OK);
    EXPECT_TRUE(entry.flags.forwarded && entry.flags.seen);
    EXPECT_FALSE(entry.flags.flagged || entry.flags.answered);
}

}  // namespace
}  // namespace mapi::mailfiles
