// The IMAP store through MAPI against a Dovecot started for the test: what
// a resumed run reads from the target's contents table (subject and the
// provenance columns, listed from a header fetch) and restricts on.

#include <cstdio>
#include <cstdlib>
#include <string>
#include <tuple>
#include <vector>

#include <gtest/gtest.h>
#include <mapix.h>
#include <mapiutil.h>

#include "mime/mail_tags.h"
#include "providers/imap/dovecot_process.h"
#include "providers/providers.h"
#include "runtime/mapi_ptr.h"

namespace mapi::imap {
namespace {

using testing::Dovecot;

ULONG NamedTag(IMAPIProp* object, const char16_t* name, ULONG type) {
    MAPINAMEID id{};
    GUID set = mime::PS_QUIRNEL;
    id.lpguid = &set;
    id.ulKind = MNID_STRING;
    id.Kind.lpwstrName = reinterpret_cast<LPWSTR>(const_cast<char16_t*>(name));
    LPMAPINAMEID names[] = {&id};
    LPSPropTagArray raw = nullptr;
    EXPECT_EQ(object->GetIDsFromNames(1, names, MAPI_CREATE, &raw), S_OK);
    MapiBuffer<SPropTagArray> tags(raw);
    return tags ? CHANGE_PROP_TYPE(tags->aulPropTag[0], type) : PR_NULL;
}

SPropValue Bin(ULONG tag, const std::string& bytes) {
    SPropValue v{};
    v.ulPropTag = tag;
    v.Value.bin.cb = static_cast<ULONG>(bytes.size());
    v.Value.bin.lpb = reinterpret_cast<LPBYTE>(const_cast<char*>(bytes.data()));
    return v;
}

TEST(ImapStore, ResumeColumnsComeFromTheListingAndRestrictionsSeeThem) {
    Dovecot server;
    ASSERT_TRUE(server.Up()) << "the test Dovecot did not start";
    char dir[] = "/tmp/imap-store-test-XXXXXX";
    ASSERT_NE(::mkdtemp(dir), nullptr);
    ::setenv("MAPI_PROFILE", (std::string(dir) + "/profile.ini").c_str(), 1);
    ::setenv("QUIRNEL_IMAP_PASSWORD", "secret", 1);
    ::setenv("QUIRNEL_IMAP_CA_FILE", server.Ca().c_str(), 1);
    const std::string url = "imap://alice@127.0.0.1:" + std::to_string(server.Port());

    ComRef<IMsgStore> store;
    std::string error;
    ASSERT_EQ(ImapStoreProvider()->OpenStore({"s", "Account", "imap", url}, store.Out(), &error),
              S_OK)
        << error;
    LPSPropValue raw = nullptr;
    ASSERT_EQ(HrGetOneProp(store.get(), PR_IPM_SUBTREE_ENTRYID, &raw), S_OK);
    MapiBuffer<SPropValue> subtreeId(raw);
    ComRef<IMAPIFolder> subtree;
    ULONG type = 0;
    ASSERT_EQ(store->OpenEntry(
                  subtreeId->Value.bin.cb, reinterpret_cast<LPENTRYID>(subtreeId->Value.bin.lpb),
                  nullptr, MAPI_BEST_ACCESS, &type, reinterpret_cast<LPUNKNOWN*>(subtree.Out())),
              S_OK);
    ComRef<IMAPIFolder> folder;
    ASSERT_EQ(subtree->CreateFolder(FOLDER_GENERIC,
                                    const_cast<LPTSTR>("Resumed Gr\xC3\xBC\xC3\x9F"
                                                       "e"),
                                    nullptr, nullptr, OPEN_IF_EXISTS, folder.Out()),
              S_OK);

    const ULONG sourceStore = NamedTag(folder.get(), u"SourceStore", PT_BINARY);
    const ULONG sourceEntry = NamedTag(folder.get(), u"SourceEntryId", PT_BINARY);
    const ULONG sourceModified = NamedTag(folder.get(), u"SourceModified", PT_SYSTIME);
    const std::string entries[] = {std::string("\x00\x00\x00\x00\x01id", 7), "second"};
    const std::string storeKey = "store-key";
    const char* subjects[] = {"copied \xC3\xA4", "copied =?: \xC3\xA4", "native"};
    for (int i = 0; i < 3; ++i) {
        ComRef<IMessage> message;
        ASSERT_EQ(folder->CreateMessage(nullptr, 0, message.Out()), S_OK);
        SPropValue v[4] = {};
        v[0].ulPropTag = PR_SUBJECT_A;
        v[0].Value.lpszA = const_cast<char*>(subjects[i]);
        ULONG count = 1;
        if (i < 2) {
            v[1] = Bin(sourceStore, storeKey);
            v[2] = Bin(sourceEntry, entries[i]);
            v[3].ulPropTag = sourceModified;
            v[3].Value.ft = {0x12345678u, 0x01D9ABCDu};
            count = 4;
        }
        ASSERT_EQ(message->SetProps(count, v, nullptr), S_OK);
        ASSERT_EQ(message->SaveChanges(0), S_OK);
    }

    ComRef<IMAPITable> table;
    ASSERT_EQ(folder->GetContentsTable(0, table.Out()), S_OK);
    SizedSPropTagArray(4, columns) = {4, {PR_SUBJECT_A, sourceStore, sourceEntry, sourceModified}};
    LPSRowSet rawRows = nullptr;
    ASSERT_EQ(HrQueryAllRows(table.get(), reinterpret_cast<LPSPropTagArray>(&columns), nullptr,
                             nullptr, 0, &rawRows),
              S_OK);
    RowSetPtr rows(rawRows);
    ASSERT_EQ(rows->cRows, 3u);
    for (ULONG i = 0; i < 3; ++i) {
        const SPropValue* p = rows->aRow[i].lpProps;
        ASSERT_EQ(p[0].ulPropTag, PR_SUBJECT_A);
        // The subject listed from the header fetch is the one the whole
        // message gives.
        SizedSPropTagArray(1, idColumn) = {1, {PR_ENTRYID}};
        LPSRowSet idRows = nullptr;
        ASSERT_EQ(HrQueryAllRows(table.get(), reinterpret_cast<LPSPropTagArray>(&idColumn), nullptr,
                                 nullptr, 0, &idRows),
                  S_OK);
        RowSetPtr ids(idRows);
        ComRef<IMessage> whole;
        ASSERT_EQ(
            folder->OpenEntry(ids->aRow[i].lpProps[0].Value.bin.cb,
                              reinterpret_cast<LPENTRYID>(ids->aRow[i].lpProps[0].Value.bin.lpb),
                              nullptr, 0, &type, reinterpret_cast<LPUNKNOWN*>(whole.Out())),
            S_OK);
        LPSPropValue rawSubject = nullptr;
        ASSERT_EQ(HrGetOneProp(whole.get(), PR_SUBJECT_A, &rawSubject), S_OK);
        MapiBuffer<SPropValue> subject(rawSubject);
        EXPECT_STREQ(p[0].Value.lpszA, subject->Value.lpszA);
        EXPECT_STREQ(p[0].Value.lpszA, subjects[i]);
        if (i == 2) {
            for (int c = 1; c < 4; ++c) EXPECT_EQ(PROP_TYPE(p[c].ulPropTag), PT_ERROR);
            continue;
        }
        ASSERT_EQ(p[1].ulPropTag, sourceStore);
        EXPECT_EQ(std::string(reinterpret_cast<char*>(p[1].Value.bin.lpb), p[1].Value.bin.cb),
                  storeKey);
        ASSERT_EQ(p[2].ulPropTag, sourceEntry);
        EXPECT_EQ(std::string(reinterpret_cast<char*>(p[2].Value.bin.lpb), p[2].Value.bin.cb),
                  entries[i]);
        ASSERT_EQ(p[3].ulPropTag, sourceModified);
        EXPECT_EQ(p[3].Value.ft.dwHighDateTime, 0x01D9ABCDu);
        EXPECT_EQ(p[3].Value.ft.dwLowDateTime, 0x12345678u);
    }

    // What the resume asks: is this source item there already?
    SPropValue wanted = Bin(sourceEntry, entries[1]);
    SRestriction r{};
    r.rt = RES_PROPERTY;
    r.res.resProperty.relop = RELOP_EQ;
    r.res.resProperty.ulPropTag = sourceEntry;
    r.res.resProperty.lpProp = &wanted;
    ASSERT_EQ(HrQueryAllRows(table.get(), reinterpret_cast<LPSPropTagArray>(&columns), &r, nullptr,
                             0, &rawRows),
              S_OK);
    RowSetPtr matched(rawRows);
    ASSERT_EQ(matched->cRows, 1u);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(matched->aRow[0].lpProps[2].Value.bin.lpb),
                          matched->aRow[0].lpProps[2].Value.bin.cb),
              "second");

    table.Reset();
    folder.Reset();
    subtree.Reset();
    store.Reset();
    std::system(("rm -rf '" + std::string(dir) + "'").c_str());
}

// The IPM subtree's folder name of store, made when missing.
ComRef<IMAPIFolder> TopFolder(IMsgStore* store, const char* name) {
    ComRef<IMAPIFolder> folder;
    LPSPropValue raw = nullptr;
    EXPECT_EQ(HrGetOneProp(store, PR_IPM_SUBTREE_ENTRYID, &raw), S_OK);
    MapiBuffer<SPropValue> id(raw);
    if (!id) return folder;
    ComRef<IMAPIFolder> subtree;
    ULONG type = 0;
    EXPECT_EQ(store->OpenEntry(id->Value.bin.cb, reinterpret_cast<LPENTRYID>(id->Value.bin.lpb),
                               nullptr, MAPI_BEST_ACCESS, &type,
                               reinterpret_cast<LPUNKNOWN*>(subtree.Out())),
              S_OK);
    if (subtree) {
        EXPECT_EQ(subtree->CreateFolder(FOLDER_GENERIC, const_cast<LPTSTR>(name), nullptr, nullptr,
                                        OPEN_IF_EXISTS, folder.Out()),
                  S_OK);
    }
    return folder;
}

RowSetPtr Rows(IMAPIFolder* folder, ULONG a, ULONG b) {
    ComRef<IMAPITable> table;
    EXPECT_EQ(folder->GetContentsTable(0, table.Out()), S_OK);
    SizedSPropTagArray(3, columns) = {3, {PR_ENTRYID, a, b}};
    LPSRowSet raw = nullptr;
    if (table) {
        EXPECT_EQ(HrQueryAllRows(table.get(), reinterpret_cast<LPSPropTagArray>(&columns), nullptr,
                                 nullptr, 0, &raw),
                  S_OK);
    }
    return RowSetPtr(raw);
}

// CopyMessages between two folders of one account is the server's COPY:
// the copies are the messages as they were, so they carry no stamp of a
// copy. Into another store (the same account by another address, so
// another store object) it is the MIME copy, which stamps each copy.
TEST(ImapStore, CopiesWithinAnAccountOnTheServerAndBetweenStoresThroughMime) {
    Dovecot server;
    ASSERT_TRUE(server.Up()) << "the test Dovecot did not start";
    char dir[] = "/tmp/imap-store-test-XXXXXX";
    ASSERT_NE(::mkdtemp(dir), nullptr);
    ::setenv("MAPI_PROFILE", (std::string(dir) + "/profile.ini").c_str(), 1);
    ::setenv("QUIRNEL_IMAP_PASSWORD", "secret", 1);
    ::setenv("QUIRNEL_IMAP_CA_FILE", server.Ca().c_str(), 1);
    ComRef<IMsgStore> plain, tls;
    std::string error;
    ASSERT_EQ(ImapStoreProvider()->OpenStore(
                  {"a", "A", "imap", "imap://alice@127.0.0.1:" + std::to_string(server.Port())},
                  plain.Out(), &error),
              S_OK)
        << error;
    ASSERT_EQ(ImapStoreProvider()->OpenStore(
                  {"b", "B", "imap", "imaps://alice@127.0.0.1:" + std::to_string(server.TlsPort())},
                  tls.Out(), &error),
              S_OK)
        << error;
    ComRef<IMAPIFolder> source = TopFolder(plain.get(), "Copy source");
    ComRef<IMAPIFolder> inside = TopFolder(plain.get(), "Copy inside");
    ComRef<IMAPIFolder> across = TopFolder(tls.get(), "Copy across");
    ASSERT_TRUE(source && inside && across);
    const char* subjects[] = {"server copy one \xC3\xA4", "server copy two"};
    for (const char* subject : subjects) {
        ComRef<IMessage> message;
        ASSERT_EQ(source->CreateMessage(nullptr, 0, message.Out()), S_OK);
        SPropValue v[2] = {};
        v[0].ulPropTag = PR_SUBJECT_A;
        v[0].Value.lpszA = const_cast<char*>(subject);
        v[1].ulPropTag = PR_MESSAGE_FLAGS;
        v[1].Value.l = subject == subjects[0] ? MSGFLAG_READ : 0;
        ASSERT_EQ(message->SetProps(2, v, nullptr), S_OK);
        ASSERT_EQ(message->SaveChanges(0), S_OK);
    }
    RowSetPtr originals = Rows(source.get(), PR_SUBJECT_A, PR_MESSAGE_FLAGS);
    ASSERT_TRUE(originals);
    ASSERT_EQ(originals->cRows, 2u);
    std::vector<SBinary> ids;
    for (ULONG i = 0; i < originals->cRows; ++i) ids.push_back(originals->aRow[i].lpProps[0].Value.bin);
    ENTRYLIST list{static_cast<ULONG>(ids.size()), ids.data()};
    ASSERT_EQ(source->CopyMessages(&list, nullptr, inside.get(), 0, nullptr, 0), S_OK);
    ASSERT_EQ(source->CopyMessages(&list, nullptr, across.get(), 0, nullptr, 0), S_OK);

    const ULONG insideStamp = NamedTag(inside.get(), u"SourceEntryId", PT_BINARY);
    const ULONG acrossStamp = NamedTag(across.get(), u"SourceEntryId", PT_BINARY);
    for (auto [folder, stamp, stamped] : {std::tuple{inside.get(), insideStamp, false},
                                          std::tuple{across.get(), acrossStamp, true}}) {
        RowSetPtr copies = Rows(folder, PR_SUBJECT_A, stamp);
        ASSERT_TRUE(copies);
        ASSERT_EQ(copies->cRows, 2u) << (stamped ? "across" : "inside");
        for (ULONG i = 0; i < 2; ++i) {
            const SPropValue* p = copies->aRow[i].lpProps;
            ASSERT_EQ(p[1].ulPropTag, PR_SUBJECT_A);
            EXPECT_STREQ(p[1].Value.lpszA, subjects[i]);
            EXPECT_EQ(PROP_TYPE(p[2].ulPropTag) != PT_ERROR, stamped) << subjects[i];
        }
        // Flags travel with either copy.
        RowSetPtr flags = Rows(folder, PR_SUBJECT_A, PR_MESSAGE_FLAGS);
        ASSERT_TRUE(flags && flags->cRows == 2u);
        for (ULONG i = 0; i < 2; ++i)
            EXPECT_EQ((flags->aRow[i].lpProps[2].Value.l & MSGFLAG_READ) != 0, i == 0)
                << subjects[i];
    }

    source.Reset();
    inside.Reset();
    across.Reset();
    plain.Reset();
    tls.Reset();
    std::system(("rm -rf '" + std::string(dir) + "'").c_str());
}

}  // namespace
}  // namespace mapi::imap
