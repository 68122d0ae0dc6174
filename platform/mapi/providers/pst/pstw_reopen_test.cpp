// Reopening a file for writing reads its B-trees and its folders, not its
// messages: a damaged message is found when it is opened, not before, while
// damage to what the open reads refuses the file; and messages the open never
// read still give their space back when they are deleted.
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <mapiutil.h>

#include "providers/providers.h"
#include "providers/pst/format/ndb_header.h"
#include "providers/pst/format/ndb_permute.h"
#include "providers/pst/pst_test_support.h"
#include "runtime/mapi_ptr.h"
#include "runtime/provider.h"

namespace mapi::pst {
namespace {

using namespace mapi::pst::testing;

class ReopenTest : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = MakeTempDir();
        path_ = dir_ + "/reopen.pst";
        std::string error;
        ASSERT_EQ(PstWriterStoreProvider()->CreateStore(path_, "Reopen", &error), S_OK) << error;
    }
    void TearDown() override { std::filesystem::remove_all(dir_); }

    HRESULT Open(ComRef<IMsgStore>* store, std::string* error) {
        ProfileEntry entry{"t", "Reopen", PstWriterStoreProvider()->Name(), path_};
        return PstWriterStoreProvider()->OpenStore(entry, store->Out(), error);
    }

    ComRef<IMAPIFolder> Inbox(IMsgStore* store) {
        ULONG cb = 0;
        LPENTRYID raw = nullptr;
        EXPECT_EQ(store->GetReceiveFolder(nullptr, 0, &cb, &raw, nullptr), S_OK);
        MapiBuffer<ENTRYID> id(raw);
        return ComRef<IMAPIFolder>(static_cast<IMAPIFolder*>(OpenEntry(store, cb, raw).Detach()));
    }

    static ComRef<IUnknown> OpenEntry(IMsgStore* store, ULONG cb, const void* id) {
        ComRef<IUnknown> object;
        ULONG type = 0;
        store->OpenEntry(cb, static_cast<LPENTRYID>(const_cast<void*>(id)), nullptr, MAPI_BEST_ACCESS, &type,
                         object.Out());
        return object;
    }

    // A message with a plain-text body and, when attachmentBytes is not 0,
    // one attachment; returns its entry id.
    std::vector<BYTE> Add(IMAPIFolder* folder, const char* subject, const char* body, size_t attachmentBytes) {
        ComRef<IMessage> m;
        EXPECT_EQ(folder->CreateMessage(nullptr, 0, m.Out()), S_OK);
        SPropValue v[2];
        v[0].ulPropTag = PR_SUBJECT_A;
        v[0].Value.lpszA = const_cast<char*>(subject);
        v[1].ulPropTag = PR_BODY_A;
        v[1].Value.lpszA = const_cast<char*>(body);
        EXPECT_EQ(m->SetProps(2, v, nullptr), S_OK);
        if (attachmentBytes != 0) {
            ComRef<IAttach> attach;
            ULONG number = 0;
            EXPECT_EQ(m->CreateAttach(nullptr, 0, &number, attach.Out()), S_OK);
            std::vector<BYTE> data(attachmentBytes);
            for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<BYTE>(i * 13 + i / 509);
            SPropValue a[2];
            a[0].ulPropTag = PR_ATTACH_METHOD;
            a[0].Value.l = ATTACH_BY_VALUE;
            a[1].ulPropTag = PR_ATTACH_DATA_BIN;
            a[1].Value.bin = SBinary{static_cast<ULONG>(data.size()), data.data()};
            EXPECT_EQ(attach->SetProps(2, a, nullptr), S_OK);
            EXPECT_EQ(attach->SaveChanges(0), S_OK);
        }
        EXPECT_EQ(m->SaveChanges(KEEP_OPEN_READWRITE), S_OK);
        LPSPropValue raw = nullptr;
        EXPECT_EQ(HrGetOneProp(m.get(), PR_ENTRYID, &raw), S_OK);
        MapiBuffer<SPropValue> id(raw);
        return raw == nullptr ? std::vector<BYTE>{} : std::vector<BYTE>(id->Value.bin.lpb, id->Value.bin.lpb + id->Value.bin.cb);
    }

    // Flips one byte of every place text is stored (in UTF-16 or in 8 bits);
    // the count.
    int Damage(const std::string& text) {
        std::string wide;
        for (char c : text) wide += std::string{c, '\0'};
        std::fstream f(path_, std::ios::binary | std::ios::in | std::ios::out);
        std::string bytes((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
        // New files are written with the compressible encoding, a byte-for-byte
        // substitution: look for the text as stored.
        auto stored = [](std::string plain) {
            mapi::pst::fmt::EncodePermute(reinterpret_cast<uint8_t*>(plain.data()), plain.size());
            return plain;
        };
        int hits = 0;
        for (const std::string& needle : {wide, text, stored(wide), stored(text)})
            for (size_t at = bytes.find(needle); at != std::string::npos; at = bytes.find(needle, at + 1), ++hits) {
                f.seekp(static_cast<std::streamoff>(at));
                f.put(static_cast<char>(bytes[at] ^ 0x20));
            }
        return hits;
    }

    uint64_t FreeBytes() {
        uint8_t bytes[fmt::Header::kSize];
        std::ifstream in(path_, std::ios::binary);
        in.read(reinterpret_cast<char*>(bytes), sizeof bytes);
        fmt::Header header;
        std::string error;
        EXPECT_TRUE(fmt::Header::Read(bytes, sizeof bytes, &header, &error)) << error;
        return header.root.amapFree;
    }

    std::string dir_, path_;
};

TEST_F(ReopenTest, MessagesAreReadWhenOpenedAndDamageToTheFoldersRefusesTheFile) {
    std::vector<BYTE> kept, damaged, large;
    {
        ComRef<IMsgStore> store;
        std::string error;
        ASSERT_EQ(Open(&store, &error), S_OK) << error;
        ComRef<IMAPIFolder> inbox = Inbox(store.get());
        kept = Add(inbox.get(), "Kept row subject", "kept body", 0);
        damaged = Add(inbox.get(), "Damaged row subject", "damaged body marker", 0);
        large = Add(inbox.get(), "Large row subject", "large body", 300000);
        ComRef<IMAPIFolder> folder;
        ASSERT_EQ(inbox->CreateFolder(FOLDER_GENERIC, const_cast<LPTSTR>("Folder to damage"), nullptr, nullptr, 0,
                                      folder.Out()),
                  S_OK);
    }
    // Only the damaged message's own block holds its body.
    ASSERT_EQ(Damage("damaged body marker"), 1);
    uint64_t freeBefore = 0;
    {
        ComRef<IMsgStore> store;
        std::string error;
        ASSERT_EQ(Open(&store, &error), S_OK) << error;
        ComRef<IMAPIFolder> inbox = Inbox(store.get());
        LPSPropValue count = nullptr;
        ASSERT_EQ(HrGetOneProp(inbox.get(), PR_CONTENT_COUNT, &count), S_OK);
        MapiBuffer<SPropValue> countValue(count);
        EXPECT_EQ(count->Value.l, 3);
        EXPECT_FALSE(OpenEntry(store.get(), static_cast<ULONG>(damaged.size()), damaged.data()));
        // The contents table reads what its rows lack from the messages: the
        // damaged one makes it fail rather than show a row without them.
        ComRef<IMAPITable> table;
        EXPECT_NE(inbox->GetContentsTable(0, table.Out()), S_OK);
        ComRef<IUnknown> good = OpenEntry(store.get(), static_cast<ULONG>(kept.size()), kept.data());
        ASSERT_TRUE(good);
        LPSPropValue body = nullptr;
        ASSERT_EQ(HrGetOneProp(static_cast<IMessage*>(good.get()), PR_BODY_A, &body), S_OK);
        MapiBuffer<SPropValue> bodyValue(body);
        EXPECT_STREQ(body->Value.lpszA, "kept body");

        // Dropping messages the open never read frees their blocks: space a
        // commit stops using is handed out again two commits later.
        freeBefore = FreeBytes();
        SBinary ids[] = {{static_cast<ULONG>(damaged.size()), damaged.data()},
                         {static_cast<ULONG>(large.size()), large.data()}};
        ENTRYLIST list{2, ids};
        EXPECT_EQ(inbox->DeleteMessages(&list, 0, nullptr, 0), S_OK);
        Add(inbox.get(), "after 1", "", 0);
        Add(inbox.get(), "after 2", "", 0);
        EXPECT_GT(FreeBytes(), freeBefore + 250000);
    }
    {
        ComRef<IMsgStore> store;
        std::string error;
        ASSERT_EQ(Open(&store, &error), S_OK) << error;
        ComRef<IMAPITable> table;
        ASSERT_EQ(Inbox(store.get())->GetContentsTable(0, table.Out()), S_OK);
        ULONG rows = 0;
        ASSERT_EQ(table->GetRowCount(0, &rows), S_OK);
        EXPECT_EQ(rows, 3u);
    }
    const std::string sound = dir_ + "/sound.pst";
    std::filesystem::copy_file(path_, sound);
    // A folder's nodes are read at open: damage there (its properties, its
    // parent's hierarchy table) refuses the file with a reason.
    ASSERT_GE(Damage("Folder to damage"), 1);
    ComRef<IMsgStore> store;
    std::string error;
    EXPECT_NE(Open(&store, &error), S_OK);
    EXPECT_NE(error.find("cannot be written here"), std::string::npos) << error;

    // So is damage to a page of the node B-tree, which the open walks.
    std::filesystem::copy_file(sound, path_, std::filesystem::copy_options::overwrite_existing);
    ASSERT_EQ(Open(&store, &error), S_OK) << error;
    store.Reset();
    {
        uint8_t bytes[fmt::Header::kSize];
        std::ifstream in(path_, std::ios::binary);
        in.read(reinterpret_cast<char*>(bytes), sizeof bytes);
        fmt::Header header;
        ASSERT_TRUE(fmt::Header::Read(bytes, sizeof bytes, &header, &error)) << error;
        std::fstream f(path_, std::ios::binary | std::ios::in | std::ios::out);
        f.seekp(static_cast<std::streamoff>(header.root.nbt.ib + 3));
        f.put('\x7F');
    }
    error.clear();
    EXPECT_NE(Open(&store, &error), S_OK);
    EXPECT_NE(error, "");
}

}  // namespace
}  // namespace mapi::pst
