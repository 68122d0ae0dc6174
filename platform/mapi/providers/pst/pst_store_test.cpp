// Tests of the personal folder file provider on the real sample files: the
// store and its special folders, the folder tree against pffexport, a
// message with recipients and attachments, named properties, code pages,
// restrictions, and refusals of writes.
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>

#include <gtest/gtest.h>
#include <mapiutil.h>

#include "providers/pst/pst_codepage.h"
#include "providers/pst/pst_item_props.h"
#include "providers/providers.h"
#include "providers/pst/pst_test_support.h"
#include "providers/pst/pst_stream.h"
#include "providers/pst/pst_values.h"
#include "runtime/alloc_fault.h"
#include "runtime/provider.h"

namespace mapi::pst {
namespace {

using namespace mapi::pst::testing;

ComRef<IMAPIFolder> OpenFolder(IMsgStore* store, const std::vector<BYTE>& id) {
    ComRef<IUnknown> object;
    ULONG type = 0;
    HRESULT hr = store->OpenEntry(static_cast<ULONG>(id.size()),
                                  reinterpret_cast<LPENTRYID>(const_cast<BYTE*>(id.data())),
                                  &IID_IMAPIFolder, MAPI_BEST_ACCESS, &type, object.Out());
    EXPECT_EQ(hr, S_OK);
    EXPECT_EQ(type, MAPI_FOLDER);
    return ComRef<IMAPIFolder>(reinterpret_cast<IMAPIFolder*>(object.Detach()));
}

ComRef<IMAPIFolder> RootFolder(IMsgStore* store) {
    return OpenFolder(store, {});
}

const FolderSummary* FindPath(const std::vector<FolderSummary>& folders, const std::string& path) {
    for (const auto& f : folders)
        if (f.path == path) return &f;
    return nullptr;
}

// Entry ids of the folder's messages in table order.
std::vector<std::vector<BYTE>> MessageIds(IMAPIFolder* folder) {
    ComRef<IMAPITable> table;
    EXPECT_EQ(folder->GetContentsTable(0, table.Out()), S_OK);
    SizedSPropTagArray(1, columns) = {1, {PR_ENTRYID}};
    LPSRowSet raw = nullptr;
    EXPECT_EQ(HrQueryAllRows(table.get(), reinterpret_cast<LPSPropTagArray>(&columns), nullptr,
                             nullptr, 0, &raw),
              S_OK);
    RowSetPtr rows(raw);
    std::vector<std::vector<BYTE>> ids;
    for (ULONG i = 0; rows && i < rows->cRows; ++i) {
        const SBinary& b = rows->aRow[i].lpProps[0].Value.bin;
        ids.emplace_back(b.lpb, b.lpb + b.cb);
    }
    return ids;
}

ComRef<IMessage> OpenMessage(IMAPIFolder* folder, const std::vector<BYTE>& id) {
    ComRef<IUnknown> object;
    ULONG type = 0;
    EXPECT_EQ(folder->OpenEntry(static_cast<ULONG>(id.size()),
                                reinterpret_cast<LPENTRYID>(const_cast<BYTE*>(id.data())), nullptr,
                                MAPI_BEST_ACCESS, &type, object.Out()),
              S_OK);
    EXPECT_EQ(type, MAPI_MESSAGE);
    return ComRef<IMessage>(reinterpret_cast<IMessage*>(object.Detach()));
}

TEST(PstStore, OpensEverySampleAndFailsClearlyOnOtherFiles) {
    for (const std::string& name : SampleNames()) {
        HRESULT hr = E_FAIL;
        std::string error;
        ComRef<IMsgStore> store = OpenStoreFile(SamplePath(name), &hr, &error);
        ASSERT_EQ(hr, S_OK) << name << ": " << error;
        EXPECT_EQ(StringProp(store.get(), PR_DISPLAY_NAME), "Sample") << name;
        MAPIUID provider = PstStoreProvider()->ProviderUid();
        EXPECT_EQ(BinaryProp(store.get(), PR_MDB_PROVIDER),
                  std::vector<BYTE>(provider.ab, provider.ab + 16));
        // The store's own id routes back to it: bytes 4..19 are its record key.
        std::vector<BYTE> storeId = BinaryProp(store.get(), PR_STORE_ENTRYID);
        std::vector<BYTE> recordKey = BinaryProp(store.get(), PR_RECORD_KEY);
        ASSERT_EQ(storeId.size(), 24u);
        ASSERT_EQ(recordKey.size(), 16u);
        EXPECT_TRUE(std::equal(recordKey.begin(), recordKey.end(), storeId.begin() + 4));
        EXPECT_TRUE(PstStoreProvider()->Recognizes(SamplePath(name)));
    }

    std::string dir = MakeTempDir();
    std::string notPst = dir + "/not.pst";
    std::ofstream(notPst) << "this is no personal folder file";
    EXPECT_FALSE(PstStoreProvider()->Recognizes(notPst));
    HRESULT hr = S_OK;
    std::string error;
    EXPECT_FALSE(OpenStoreFile(notPst, &hr, &error));
    EXPECT_EQ(hr, MAPI_E_CORRUPT_STORE);
    EXPECT_NE(error.find(notPst), std::string::npos) << error;
    EXPECT_FALSE(OpenStoreFile(dir + "/missing.pst", &hr, &error));
    EXPECT_EQ(hr, MAPI_E_CORRUPT_STORE);

    // A damaged header: the message names libpff's own finding.
    std::ifstream in(SamplePath("outlook.pst"), std::ios::binary);
    std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::fill(bytes.begin() + 0xA8, bytes.begin() + 0x200, 0);
    std::string damaged = dir + "/header.pst";
    std::ofstream(damaged, std::ios::binary).write(bytes.data(), static_cast<long>(bytes.size()));
    EXPECT_FALSE(OpenStoreFile(damaged, &hr, &error));
    EXPECT_EQ(hr, MAPI_E_CORRUPT_STORE);
    EXPECT_NE(error.find("checksum"), std::string::npos) << error;

    EXPECT_EQ(PstStoreProvider()->CreateStore(dir + "/new.pst", "New", &error), MAPI_E_NO_SUPPORT);
    EXPECT_NE(error.find("embedded"), std::string::npos) << error;
    EXPECT_FALSE(std::filesystem::exists(dir + "/new.pst"));
    std::filesystem::remove_all(dir);
}

TEST(PstStore, SpecialFolderIdsEqualTheFoldersEntryIds) {
    ComRef<IMsgStore> store = OpenStoreFile(SamplePath("outlook.pst"));
    ASSERT_TRUE(store);
    std::vector<std::string> failures;
    ComRef<IMAPIFolder> root = RootFolder(store.get());
    std::vector<FolderSummary> folders = WalkFolders(root.get(), &failures);
    EXPECT_TRUE(failures.empty());

    const std::pair<ULONG, const char*> specials[] = {
        {PR_IPM_SUBTREE_ENTRYID, "Top of Personal Folders"},
        {PR_IPM_OUTBOX_ENTRYID, "Top of Personal Folders/Outbox"},
        {PR_IPM_WASTEBASKET_ENTRYID, "Top of Personal Folders/Deleted Items"},
        {PR_IPM_SENTMAIL_ENTRYID, "Top of Personal Folders/Sent Items"},
    };
    for (const auto& [tag, path] : specials) {
        const FolderSummary* folder = FindPath(folders, path);
        ASSERT_NE(folder, nullptr) << path;
        EXPECT_EQ(BinaryProp(store.get(), tag), folder->entryId) << path;
        ComRef<IMAPIFolder> opened = OpenFolder(store.get(), folder->entryId);
        EXPECT_EQ(BinaryProp(opened.get(), PR_ENTRYID), folder->entryId);
        ULONG same = FALSE;
        std::vector<BYTE> id = folder->entryId;
        EXPECT_EQ(store->CompareEntryIDs(24, reinterpret_cast<LPENTRYID>(id.data()), 24,
                                         reinterpret_cast<LPENTRYID>(id.data()), 0, &same),
                  S_OK);
        EXPECT_TRUE(same);
    }

    // The default receive folder is the inbox, for the empty class and for a
    // class without an entry of its own. In this file that is the localised
    // inbox; the folder named "Inbox" is an ordinary one.
    for (const char* cls : {"", "IPM.Note", "ipm.note.smime"}) {
        ULONG cb = 0;
        LPENTRYID raw = nullptr;
        LPSTR explicitClass = nullptr;
        ASSERT_EQ(store->GetReceiveFolder(const_cast<LPSTR>(cls), 0, &cb, &raw, &explicitClass),
                  S_OK);
        MapiBuffer<ENTRYID> id(raw);
        MapiBuffer<char> usedClass(explicitClass);
        std::vector<BYTE> bytes(reinterpret_cast<BYTE*>(raw), reinterpret_cast<BYTE*>(raw) + cb);
        EXPECT_EQ(bytes, FindPath(folders, "Top of Personal Folders/\u6536\u4EF6\u7BB1")->entryId)
            << cls;
    }
    ComRef<IMAPITable> receive;
    ASSERT_EQ(store->GetReceiveFolderTable(0, receive.Out()), S_OK);
    ULONG rows = 0;
    EXPECT_EQ(receive->GetRowCount(0, &rows), S_OK);
    EXPECT_EQ(rows, 4u);

    // Folder types: the root, generic folders and the search folders below
    // the finder.
    LPSPropValue type = nullptr;
    ASSERT_EQ(HrGetOneProp(root.get(), PR_FOLDER_TYPE, &type), S_OK);
    EXPECT_EQ(type->Value.l, static_cast<LONG>(FOLDER_ROOT));
    MAPIFreeBuffer(type);
    EXPECT_EQ(FindPath(folders, "Top of Personal Folders/Inbox")->folderType,
              static_cast<LONG>(FOLDER_GENERIC));
}

TEST(PstStore, SearchFoldersAreMarked) {
    ComRef<IMsgStore> store = OpenStoreFile(SamplePath("passworded.pst"));
    ASSERT_TRUE(store);
    std::vector<std::string> failures;
    std::vector<FolderSummary> folders = WalkFolders(RootFolder(store.get()).get(), &failures);
    const FolderSummary* search = FindPath(folders, "Search Root/All Messages");
    ASSERT_NE(search, nullptr);
    EXPECT_EQ(search->folderType, static_cast<LONG>(FOLDER_SEARCH));
}

// pffexport reads the same files with the same library but through its own
// walk; the provider must show every folder it shows with as many items.
TEST(PstStore, FolderTreesAndItemCountsAgreeWithPffexport) {
    std::string dir = MakeTempDir();
    for (const std::string& name : SampleNames()) {
        ComRef<IMsgStore> store = OpenStoreFile(SamplePath(name));
        ASSERT_TRUE(store) << name;
        std::vector<std::string> failures;
        std::vector<FolderSummary> folders = WalkFolders(RootFolder(store.get()).get(), &failures);
        EXPECT_TRUE(failures.empty()) << name << ": " << failures.front();

        std::map<std::string, ULONG> expected;
        std::string exportRoot;
        ASSERT_TRUE(PffexportCounts(SamplePath(name), dir + "/" + name, &expected, &exportRoot))
            << "pffexport failed on " << name;
        std::map<std::string, ULONG> actual;
        for (const auto& f : folders) actual[f.path] = f.items;
        EXPECT_EQ(actual, expected) << name;
    }
    std::filesystem::remove_all(dir);
}

TEST(PstMessage, PropertiesRecipientsAndAttachmentsMatchPffexport) {
    ComRef<IMsgStore> store = OpenStoreFile(SamplePath("outlook.pst"));
    ASSERT_TRUE(store);
    std::vector<BYTE> subtree = BinaryProp(store.get(), PR_IPM_SUBTREE_ENTRYID);
    std::vector<std::string> failures;
    std::vector<FolderSummary> folders =
        WalkFolders(OpenFolder(store.get(), subtree).get(), &failures);
    ComRef<IMAPIFolder> inbox = OpenFolder(store.get(), FindPath(folders, "Inbox")->entryId);
    std::vector<std::vector<BYTE>> ids = MessageIds(inbox.get());
    ASSERT_EQ(ids.size(), 1u);
    ComRef<IMessage> message = OpenMessage(inbox.get(), ids[0]);

    EXPECT_EQ(StringProp(message.get(), PR_SUBJECT), "Welcome to Microsoft Office Outlook 2003");
    EXPECT_EQ(BinaryProp(message.get(), PR_ENTRYID), ids[0]);
    EXPECT_EQ(BinaryProp(message.get(), PR_PARENT_ENTRYID), FindPath(folders, "Inbox")->entryId);
    LPSPropValue raw = nullptr;
    ASSERT_EQ(HrGetOneProp(message.get(), PR_MESSAGE_FLAGS, &raw), S_OK);
    EXPECT_EQ(raw->Value.l, 0x11);
    MAPIFreeBuffer(raw);
    // The Unicode form of a Unicode file's string is the stored one.
    ASSERT_EQ(HrGetOneProp(message.get(), PROP_TAG(PT_UNICODE, 0x0037), &raw), S_OK);
    EXPECT_EQ(std::u16string(raw->Value.lpszW), u"Welcome to Microsoft Office Outlook 2003");
    MAPIFreeBuffer(raw);

    // Every listed property can be read; none is lost to a type the
    // platform has no member for.
    long chains = LiveAllocationChains();
    ULONG count = 0;
    LPSPropValue all = nullptr;
    HRESULT hr = message->GetProps(nullptr, 0, &count, &all);
    EXPECT_EQ(hr, S_OK);
    MapiBuffer<SPropValue> allValues(all);
    EXPECT_GT(count, 30u);
    for (ULONG i = 0; i < count; ++i)
        EXPECT_NE(PROP_TYPE(all[i].ulPropTag), PT_ERROR) << std::hex << all[i].ulPropTag;
    allValues.reset();
    EXPECT_EQ(LiveAllocationChains(), chains);

    ComRef<IMAPITable> recipients;
    ASSERT_EQ(message->GetRecipientTable(0, recipients.Out()), S_OK);
    LPSRowSet rawRows = nullptr;
    ASSERT_EQ(HrQueryAllRows(recipients.get(), nullptr, nullptr, nullptr, 0, &rawRows), S_OK);
    RowSetPtr rows(rawRows);
    ASSERT_EQ(rows->cRows, 1u);
    LPSPropValue name =
        PpropFindProp(rows->aRow[0].lpProps, rows->aRow[0].cValues, PR_DISPLAY_NAME);
    ASSERT_NE(name, nullptr);
    EXPECT_STREQ(name->Value.lpszA, "New Outlook User");
    LPSPropValue recipientType =
        PpropFindProp(rows->aRow[0].lpProps, rows->aRow[0].cValues, PR_RECIPIENT_TYPE);
    ASSERT_NE(recipientType, nullptr);
    EXPECT_EQ(recipientType->Value.l, static_cast<LONG>(MAPI_TO));
    // A copy asks the recipient table for all its columns: every property a
    // recipient holds must be offered, not only the few default columns.
    LPSPropTagArray rawColumns = nullptr;
    ASSERT_EQ(recipients->QueryColumns(TBL_ALL_COLUMNS, &rawColumns), S_OK);
    MapiBuffer<SPropTagArray> allColumns(rawColumns);
    ASSERT_EQ(HrQueryAllRows(recipients.get(), allColumns.get(), nullptr, nullptr, 0, &rawRows),
              S_OK);
    RowSetPtr wide(rawRows);
    ASSERT_EQ(wide->cRows, 1u);
    EXPECT_GT(wide->aRow[0].cValues, rows->aRow[0].cValues);
    bool hasName = false;
    for (ULONG c = 0; c < wide->aRow[0].cValues; ++c) {
        const ULONG tag = wide->aRow[0].lpProps[c].ulPropTag;
        EXPECT_NE(PROP_TYPE(tag), PT_ERROR) << std::hex << tag;
        hasName |= PROP_ID(tag) == PROP_ID(PR_DISPLAY_NAME);
    }
    EXPECT_TRUE(hasName);

    // Attachments: the data read through MAPI is byte for byte what
    // pffexport writes for the same attachment.
    std::string dir = MakeTempDir();
    std::map<std::string, ULONG> counts;
    std::string exportRoot;
    ASSERT_TRUE(PffexportCounts(SamplePath("outlook.pst"), dir, &counts, &exportRoot));
    std::string exported = exportRoot + "/Top of Personal Folders/Inbox/Message00001/Attachments";
    ComRef<IMAPITable> attachments;
    ASSERT_EQ(message->GetAttachmentTable(0, attachments.Out()), S_OK);
    ULONG attachmentCount = 0;
    ASSERT_EQ(attachments->GetRowCount(0, &attachmentCount), S_OK);
    ASSERT_EQ(attachmentCount, 11u);
    for (ULONG i = 0; i < attachmentCount; ++i) {
        ComRef<IAttach> attach;
        ASSERT_EQ(message->OpenAttach(i, nullptr, MAPI_BEST_ACCESS, attach.Out()), S_OK);
        std::vector<BYTE> data = BinaryProp(attach.get(), PR_ATTACH_DATA_BIN);
        std::string prefix = (i + 1 < 10 ? "0" : "") + std::to_string(i + 1) + "_";
        std::string file;
        for (const auto& entry : std::filesystem::directory_iterator(exported))
            if (entry.path().filename().string().rfind(prefix, 0) == 0) file = entry.path();
        ASSERT_FALSE(file.empty()) << prefix;
        std::ifstream in(file, std::ios::binary);
        std::vector<BYTE> expected((std::istreambuf_iterator<char>(in)),
                                   std::istreambuf_iterator<char>());
        EXPECT_EQ(data, expected) << file;

        // The same bytes through a stream.
        ComRef<IUnknown> object;
        ASSERT_EQ(attach->OpenProperty(PR_ATTACH_DATA_BIN, &IID_IStream, 0, 0, object.Out()), S_OK);
        auto* stream = reinterpret_cast<IStream*>(object.get());
        std::vector<BYTE> streamed(expected.size() + 10);
        ULONG read = 0;
        EXPECT_EQ(stream->Read(streamed.data(), static_cast<ULONG>(streamed.size()), &read), S_OK);
        streamed.resize(read);
        EXPECT_EQ(streamed, expected);
        EXPECT_EQ(stream->Write("x", 1, nullptr), STG_E_ACCESSDENIED);

        // Data attachments hold no message.
        ComRef<IUnknown> embedded;
        EXPECT_EQ(attach->OpenProperty(PR_ATTACH_DATA_OBJ, &IID_IMessage, 0, 0, embedded.Out()),
                  MAPI_E_NOT_FOUND);
    }
    EXPECT_EQ(message->OpenAttach(attachmentCount, nullptr, 0, nullptr), MAPI_E_INVALID_PARAMETER);
    ComRef<IAttach> none;
    EXPECT_EQ(message->OpenAttach(attachmentCount, nullptr, 0, none.Out()), MAPI_E_NOT_FOUND);
    std::filesystem::remove_all(dir);
}

TEST(PstMessage, NamedPropertiesResolveThroughTheFilesMap) {
    ComRef<IMsgStore> store = OpenStoreFile(SamplePath("outlook.pst"));
    ASSERT_TRUE(store);
    std::vector<std::string> failures;
    std::vector<FolderSummary> folders = WalkFolders(RootFolder(store.get()).get(), &failures);
    ComRef<IMAPIFolder> inbox =
        OpenFolder(store.get(), FindPath(folders, "Top of Personal Folders/Inbox")->entryId);
    ComRef<IMessage> message = OpenMessage(inbox.get(), MessageIds(inbox.get()).at(0));

    LPSPropTagArray rawList = nullptr;
    ASSERT_EQ(message->GetPropList(0, &rawList), S_OK);
    MapiBuffer<SPropTagArray> list(rawList);
    std::vector<ULONG> named;
    for (ULONG i = 0; i < list->cValues; ++i)
        if (PROP_ID(list->aulPropTag[i]) >= 0x8000) named.push_back(list->aulPropTag[i]);
    ASSERT_FALSE(named.empty());

    auto tags = AllocateMapi<SPropTagArray>(static_cast<ULONG>(CbNewSPropTagArray(named.size())));
    tags->cValues = static_cast<ULONG>(named.size());
    std::copy(named.begin(), named.end(), tags->aulPropTag);
    LPSPropTagArray tagsIn = tags.get();
    ULONG count = 0;
    LPMAPINAMEID* rawNames = nullptr;
    ASSERT_EQ(message->GetNamesFromIDs(&tagsIn, nullptr, 0, &count, &rawNames), S_OK);
    MapiBuffer<LPMAPINAMEID> names(rawNames);
    ASSERT_EQ(count, named.size());

    // Back from names to the same ids.
    LPSPropTagArray rawIds = nullptr;
    ASSERT_EQ(message->GetIDsFromNames(count, rawNames, 0, &rawIds), S_OK);
    MapiBuffer<SPropTagArray> ids(rawIds);
    for (ULONG i = 0; i < count; ++i) {
        ASSERT_NE(rawNames[i], nullptr);
        EXPECT_EQ(PROP_ID(ids->aulPropTag[i]), PROP_ID(named[i]));
    }

    // An id the file never mapped has no name, and an unknown name no id.
    SizedSPropTagArray(1, unknown) = {1, {PROP_TAG(PT_LONG, 0xFFF0)}};
    LPSPropTagArray unknownIn = reinterpret_cast<LPSPropTagArray>(&unknown);
    LPMAPINAMEID* noNames = nullptr;
    EXPECT_EQ(message->GetNamesFromIDs(&unknownIn, nullptr, 0, &count, &noNames),
              MAPI_W_ERRORS_RETURNED);
    EXPECT_EQ(noNames[0], nullptr);
    MAPIFreeBuffer(noNames);
    GUID set = PS_PUBLIC_STRINGS;
    MAPINAMEID madeUp{&set, MNID_STRING, {}};
    madeUp.Kind.lpwstrName = const_cast<WCHAR*>(u"no-such-name-in-the-file");
    LPMAPINAMEID madeUpList[] = {&madeUp};
    LPSPropTagArray noIds = nullptr;
    EXPECT_EQ(message->GetIDsFromNames(1, madeUpList, MAPI_CREATE, &noIds), MAPI_W_ERRORS_RETURNED);
    EXPECT_EQ(PROP_TYPE(noIds->aulPropTag[0]), PT_ERROR);
    MAPIFreeBuffer(noIds);
}

TEST(PstMessage, AnsiFileStringsComeOutInBothForms) {
    ComRef<IMsgStore> store = OpenStoreFile(SamplePath("32-bit.pst"));
    ASSERT_TRUE(store);
    std::vector<std::string> failures;
    std::vector<FolderSummary> folders = WalkFolders(RootFolder(store.get()).get(), &failures);
    const FolderSummary* calendar = FindPath(folders, "Top of Personal Folders/Calendar");
    ASSERT_NE(calendar, nullptr);
    ComRef<IMAPIFolder> folder = OpenFolder(store.get(), calendar->entryId);
    ComRef<IMessage> message = OpenMessage(folder.get(), MessageIds(folder.get()).at(0));

    // Stored as 8-bit text; listed in that type.
    LPSPropTagArray rawList = nullptr;
    ASSERT_EQ(message->GetPropList(0, &rawList), S_OK);
    MapiBuffer<SPropTagArray> list(rawList);
    bool subjectListed = false;
    for (ULONG i = 0; i < list->cValues; ++i)
        subjectListed |= list->aulPropTag[i] == PROP_TAG(PT_STRING8, 0x0037);
    EXPECT_TRUE(subjectListed);

    EXPECT_EQ(StringProp(message.get(), PR_SUBJECT), "Updated: Olympus training for new hires");
    LPSPropValue raw = nullptr;
    ASSERT_EQ(HrGetOneProp(message.get(), PROP_TAG(PT_UNICODE, 0x0037), &raw), S_OK);
    EXPECT_EQ(std::u16string(raw->Value.lpszW), u"Updated: Olympus training for new hires");
    MAPIFreeBuffer(raw);
    EXPECT_EQ(StringProp(message.get(), PROP_TAG(PT_STRING8, 0x0C1A)), "Cyndy Foulkrod");
}

// Seeks whose target leaves the representable range are refused and keep
// the position; reads past the end read nothing.
TEST(PstStream, SeeksOutOfRangeAreRefused) {
    IStream* raw = nullptr;
    ASSERT_EQ(CreateReadOnlyStream({'a', 'b', 'c'}, &raw), S_OK);
    ComRef<IStream> stream(raw);
    const struct {
        DWORD origin;
        int64_t move;
        HRESULT result;
        uint64_t position;  // after the call
    } cases[] = {
        {STREAM_SEEK_SET, INT64_MAX, S_OK, INT64_MAX},
        {STREAM_SEEK_CUR, INT64_MAX, STG_E_INVALIDFUNCTION, INT64_MAX},
        {STREAM_SEEK_CUR, INT64_MIN, STG_E_INVALIDFUNCTION, INT64_MAX},
        {STREAM_SEEK_END, INT64_MAX, STG_E_INVALIDFUNCTION, INT64_MAX},
        {STREAM_SEEK_END, -4, STG_E_INVALIDFUNCTION, INT64_MAX},
        {STREAM_SEEK_END, -1, S_OK, 2},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::Message() << c.origin << " " << c.move);
        LARGE_INTEGER move{};
        move.QuadPart = c.move;
        EXPECT_EQ(stream->Seek(move, c.origin, nullptr), c.result);
        ULARGE_INTEGER at{};
        move.QuadPart = 0;
        ASSERT_EQ(stream->Seek(move, STREAM_SEEK_CUR, &at), S_OK);
        EXPECT_EQ(at.QuadPart, c.position);
        char byte = 0;
        ULONG read = 9;
        EXPECT_EQ(stream->Read(&byte, 1, &read), S_OK);
        EXPECT_EQ(read, c.position < 3 ? 1u : 0u);
        move.QuadPart = static_cast<int64_t>(c.position);
        ASSERT_EQ(stream->Seek(move, STREAM_SEEK_SET, nullptr), S_OK);
    }
}

// The decoding behind ANSI files: the code page of the message decides what
// a byte above 0x7F means.
TEST(PstValues, EightBitStringsDecodeWithTheirCodePage) {
    const uint8_t cafe[] = {'c', 'a', 'f', 0xE9};
    EXPECT_EQ(DecodeCodepage(cafe, 4, 1252), "caf\xC3\xA9");
    const uint8_t privet[] = {0xEF, 0xF0, 0xE8, 0xE2, 0xE5, 0xF2};
    EXPECT_EQ(DecodeCodepage(privet, 6, 1251), "\xD0\xBF\xD1\x80\xD0\xB8\xD0\xB2\xD0\xB5\xD1\x82");
    const uint8_t nihon[] = {0x93, 0xFA, 0x96, 0x7B};
    EXPECT_EQ(DecodeCodepage(nihon, 4, 932), "\xE6\x97\xA5\xE6\x9C\xAC");
    // A byte the code page leaves undefined and a cut-off double-byte
    // character become U+FFFD instead of ending the text.
    const uint8_t broken[] = {'a', 0x81, 'b'};
    EXPECT_EQ(DecodeCodepage(broken, 3, 1252),
              "a\xEF\xBF\xBD"
              "b");
    const uint8_t cut[] = {'x', 0x93};
    EXPECT_EQ(DecodeCodepage(cut, 2, 932), "x\xEF\xBF\xBD");
    // Unknown code pages fall back to Western rather than losing the text.
    EXPECT_EQ(DecodeCodepage(cafe, 4, 7), "caf\xC3\xA9");

    ValueArena arena;
    _PV value{};
    const uint8_t stored[] = {'c', 'a', 'f', 0xE9, 0, 0};
    ASSERT_EQ(DecodeSingle(PT_STRING8, stored, sizeof stored, 1252, arena, &value), S_OK);
    EXPECT_STREQ(value.lpszA, "caf\xC3\xA9");
    const uint8_t wide[] = {'h', 0, 'i', 0, 0, 0};
    ASSERT_EQ(DecodeSingle(PT_UNICODE, wide, sizeof wide, 0, arena, &value), S_OK);
    EXPECT_EQ(std::u16string(value.lpszW), u"hi");
    // Too few bytes for a fixed-size type is damage, not a guess.
    EXPECT_EQ(DecodeSingle(PT_SYSTIME, stored, 4, 0, arena, &value), MAPI_E_CORRUPT_DATA);
    EXPECT_EQ(PlatformType(0x00FB), PT_BINARY);
    EXPECT_EQ(PlatformType(PT_MV_UNICODE), static_cast<ULONG>(PT_MV_UNICODE));
}

// How a record set's entries become the index values are listed and read
// from: an entry that is lost must make the list fail, while the entries
// around it stay readable one by one.
TEST(PstItemProps, LostRecordEntriesMarkTheListDamaged) {
    struct Header {
        bool readable;
        uint32_t id;
        uint32_t valueType;
    };
    auto index = [](const std::vector<Header>& headers, std::map<ULONG, StoredEntry>* out) {
        return IndexRecordEntries(
            static_cast<int>(headers.size()),
            [&](int i, uint32_t* id, uint32_t* valueType) {
                const Header& h = headers.at(static_cast<size_t>(i));
                *id = h.id;
                *valueType = h.valueType;
                return h.readable;
            },
            out);
    };
    std::map<ULONG, StoredEntry> entries;

    EXPECT_TRUE(index({{true, 0x0037, PT_UNICODE}, {true, 0x0E07, PT_LONG}}, &entries));
    EXPECT_EQ(entries.size(), 2u);
    EXPECT_TRUE(index({}, &entries));
    EXPECT_TRUE(entries.empty());

    // The unreadable middle entry is damage; its neighbours keep their
    // positions so a single named value still reads.
    EXPECT_FALSE(
        index({{true, 0x0037, PT_UNICODE}, {false, 0x1000, PT_UNICODE}, {true, 0x0E07, PT_LONG}},
              &entries));
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(entries.at(0x0037).index, 0);
    EXPECT_EQ(entries.at(0x0037).valueType, static_cast<uint32_t>(PT_UNICODE));
    EXPECT_EQ(entries.at(0x0E07).index, 2);
    EXPECT_EQ(entries.count(0x1000), 0u);
    EXPECT_FALSE(index({{false, 0, 0}}, &entries));

    // Ids no property can have, and an id stored twice, lose a value just
    // the same.
    EXPECT_FALSE(index({{true, 0x0000, PT_LONG}, {true, 0x0E07, PT_LONG}}, &entries));
    EXPECT_EQ(entries.count(0x0E07), 1u);
    EXPECT_FALSE(index({{true, 0xFFFF, PT_LONG}}, &entries));
    EXPECT_FALSE(index({{true, 0x0037, PT_UNICODE}, {true, 0x0037, PT_BINARY}}, &entries));
    EXPECT_EQ(entries.at(0x0037).index, 0);
    EXPECT_TRUE(index({{true, 0x8000, PT_LONG}, {true, 0xFFFE, PT_LONG}}, &entries));
}

// An attachment libpff reads as an embedded message must say so in its
// method, since a copy copies the embedded message only when the method is
// ATTACH_EMBEDDED_MSG; a method that cannot be read stays damage.
TEST(PstItemProps, EmbeddedMessagesReportTheEmbeddedMethod) {
    auto method = [](ULONG tag, LONG value) {
        SPropValue v{};
        v.ulPropTag = tag;
        v.Value.l = value;
        return v;
    };
    const SPropValue embedded = method(PR_ATTACH_METHOD, ATTACH_EMBEDDED_MSG);
    const SPropValue byValue = method(PR_ATTACH_METHOD, ATTACH_BY_VALUE);
    const SPropValue none = method(PR_ATTACH_METHOD, 0);
    const SPropValue unreadable =
        method(PROP_TAG(PT_ERROR, PROP_ID(PR_ATTACH_METHOD)), MAPI_E_CORRUPT_DATA);
    const SPropValue oddType = method(PROP_TAG(PT_I2, PROP_ID(PR_ATTACH_METHOD)), 5);

    EXPECT_TRUE(ReportsEmbeddedMethod(LIBPFF_ATTACHMENT_TYPE_ITEM, nullptr));
    EXPECT_TRUE(ReportsEmbeddedMethod(LIBPFF_ATTACHMENT_TYPE_ITEM, &byValue));
    EXPECT_TRUE(ReportsEmbeddedMethod(LIBPFF_ATTACHMENT_TYPE_ITEM, &none));
    EXPECT_TRUE(ReportsEmbeddedMethod(LIBPFF_ATTACHMENT_TYPE_ITEM, &oddType));
    EXPECT_FALSE(ReportsEmbeddedMethod(LIBPFF_ATTACHMENT_TYPE_ITEM, &embedded));
    EXPECT_FALSE(ReportsEmbeddedMethod(LIBPFF_ATTACHMENT_TYPE_ITEM, &unreadable));

    // Attachments of other types keep whatever they store, or nothing.
    for (int type : {int{LIBPFF_ATTACHMENT_TYPE_DATA}, int{LIBPFF_ATTACHMENT_TYPE_REFERENCE},
                     int{LIBPFF_ATTACHMENT_TYPE_UNDEFINED}}) {
        EXPECT_FALSE(ReportsEmbeddedMethod(type, nullptr)) << type;
        EXPECT_FALSE(ReportsEmbeddedMethod(type, &byValue)) << type;
        EXPECT_FALSE(ReportsEmbeddedMethod(type, &embedded)) << type;
    }
}

TEST(PstTables, RestrictSelectsThroughThePlatformEvaluator) {
    ComRef<IMsgStore> store = OpenStoreFile(SamplePath("support.pst"));
    ASSERT_TRUE(store);
    std::vector<std::string> failures;
    std::vector<FolderSummary> folders = WalkFolders(RootFolder(store.get()).get(), &failures);
    const FolderSummary* sent = FindPath(folders, "Top of Personal Folders/Sent Messages");
    ASSERT_NE(sent, nullptr);
    ASSERT_EQ(sent->items, 11u);
    ComRef<IMAPIFolder> folder = OpenFolder(store.get(), sent->entryId);

    // Count by hand which subjects contain a word, then let Restrict do it.
    ComRef<IMAPITable> table;
    ASSERT_EQ(folder->GetContentsTable(0, table.Out()), S_OK);
    SizedSPropTagArray(1, columns) = {1, {PR_SUBJECT}};
    LPSRowSet raw = nullptr;
    ASSERT_EQ(HrQueryAllRows(table.get(), reinterpret_cast<LPSPropTagArray>(&columns), nullptr,
                             nullptr, 0, &raw),
              S_OK);
    RowSetPtr rows(raw);
    ASSERT_GT(rows->cRows, 0u);
    std::string word = PROP_TYPE(rows->aRow[0].lpProps[0].ulPropTag) == PT_STRING8
                           ? std::string(rows->aRow[0].lpProps[0].Value.lpszA).substr(0, 4)
                           : "";
    ASSERT_FALSE(word.empty());
    ULONG expected = 0;
    for (ULONG i = 0; i < rows->cRows; ++i) {
        const SPropValue& v = rows->aRow[i].lpProps[0];
        if (PROP_TYPE(v.ulPropTag) != PT_STRING8) continue;
        std::string subject = v.Value.lpszA, lower = subject, w = word;
        for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        for (char& c : w) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        if (lower.find(w) != std::string::npos) ++expected;
    }

    SPropValue needle{};
    needle.ulPropTag = PR_SUBJECT;
    needle.Value.lpszA = word.data();
    SRestriction content{};
    content.rt = RES_CONTENT;
    content.res.resContent = {FL_SUBSTRING | FL_IGNORECASE, PR_SUBJECT, &needle};
    ASSERT_EQ(table->Restrict(&content, TBL_BATCH), S_OK);
    ULONG matched = 0;
    ASSERT_EQ(table->GetRowCount(0, &matched), S_OK);
    EXPECT_EQ(matched, expected);
    EXPECT_LT(matched, rows->cRows + 1);

    // A sub-restriction over the recipients: every sent message has one.
    SRestriction exists{};
    exists.rt = RES_EXIST;
    exists.res.resExist.ulPropTag = PR_DISPLAY_NAME;
    SRestriction sub{};
    sub.rt = RES_SUBRESTRICTION;
    sub.res.resSub = {PR_MESSAGE_RECIPIENTS, &exists};
    ASSERT_EQ(table->Restrict(&sub, TBL_BATCH), S_OK);
    ASSERT_EQ(table->GetRowCount(0, &matched), S_OK);
    EXPECT_EQ(matched, 11u);
}

TEST(PstStore, WritesAreRefused) {
    ComRef<IMsgStore> store = OpenStoreFile(SamplePath("outlook.pst"));
    ASSERT_TRUE(store);
    ComRef<IMAPIFolder> root = RootFolder(store.get());
    SPropValue name{};
    name.ulPropTag = PR_DISPLAY_NAME;
    name.Value.lpszA = const_cast<char*>("renamed");
    EXPECT_EQ(root->SetProps(1, &name, nullptr), MAPI_E_NO_ACCESS);
    EXPECT_EQ(store->SetProps(1, &name, nullptr), MAPI_E_NO_ACCESS);
    ComRef<IMAPIFolder> created;
    EXPECT_EQ(root->CreateFolder(FOLDER_GENERIC, const_cast<LPSTR>("x"), nullptr, nullptr, 0,
                                 created.Out()),
              MAPI_E_NO_ACCESS);
    ComRef<IMessage> message;
    EXPECT_EQ(root->CreateMessage(nullptr, 0, message.Out()), MAPI_E_NO_ACCESS);
    EXPECT_EQ(root->SaveChanges(0), MAPI_E_NO_ACCESS);
    EXPECT_EQ(store->SetReceiveFolder(nullptr, 0, 0, nullptr), MAPI_E_NO_ACCESS);
    ComRef<IUnknown> object;
    EXPECT_EQ(store->OpenEntry(0, nullptr, nullptr, MAPI_MODIFY, nullptr, object.Out()),
              MAPI_E_NO_ACCESS);
    // Entry ids of another store are refused, not misread.
    std::vector<BYTE> foreign(24, 0x5A);
    EXPECT_EQ(store->OpenEntry(24, reinterpret_cast<LPENTRYID>(foreign.data()), nullptr, 0, nullptr,
                               object.Out()),
              MAPI_E_INVALID_ENTRYID);
}

}  // namespace
}  // namespace mapi::pst
