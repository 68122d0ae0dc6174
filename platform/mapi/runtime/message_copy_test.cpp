// Tests of the provider-independent message copy over small in-memory
// messages: fidelity, named-property remapping, large values, recipients,
// attachments, embedded messages, damage and moves.
#include "message_copy.h"

#include <cstring>

#include <gtest/gtest.h>

#include "alloc_fault.h"
#include "fakes.h"

namespace mapi {
namespace {

using FakeAttach = fake::Attach;
using FakeFolder = fake::Folder;
using FakeMessage = fake::Message;

const ULONG kNamedSource = PROP_TAG(PT_STRING8, 0x8005);

SPropValue Str(ULONG tag, const char* s) {
    SPropValue v{};
    v.ulPropTag = tag;
    v.Value.lpszA = const_cast<char*>(s);
    return v;
}
SPropValue Long(ULONG tag, LONG l) {
    SPropValue v{};
    v.ulPropTag = tag;
    v.Value.l = l;
    return v;
}
SPropValue Bin(ULONG tag, const char* bytes, ULONG cb) {
    SPropValue v{};
    v.ulPropTag = tag;
    v.Value.bin = {cb, reinterpret_cast<LPBYTE>(const_cast<char*>(bytes))};
    return v;
}

// Gives the source store a name map in which 0x8005 is ("Keywords" in
// PS_PUBLIC_STRINGS) and 0x8006 has no name.
void NameSourceIds(FakeFolder& folder) {
    MAPINAMEID filler{const_cast<GUID*>(&PSETID_Common), MNID_ID, {0}};
    for (LONG i = 0; i < 5; ++i) {
        filler.Kind.lID = i;
        folder.names->Find(filler, true);
    }
    MAPINAMEID keywords{const_cast<GUID*>(&PS_PUBLIC_STRINGS), MNID_STRING, {0}};
    keywords.Kind.lpwstrName = const_cast<WCHAR*>(u"Keywords");
    ASSERT_EQ(folder.names->Find(keywords, true), 0x8005u);
}

class MessageCopyTest : public ::testing::Test {
protected:
    void SetUp() override {
        baseline_ = LiveAllocationChains();
        source_ = fake::Make<FakeFolder>();
        target_ = fake::Make<FakeFolder>();
        NameSourceIds(*source_);
    }
    void TearDown() override {
        source_.Reset();
        target_.Reset();
        EXPECT_EQ(LiveAllocationChains(), baseline_) << "a MAPI buffer leaked";
    }

    // A message with every part the copy handles.
    FakeMessage* RichMessage() {
        FakeMessage* m = source_->AddMessage();
        m->Set(Str(PR_SUBJECT_A, "Quarterly numbers"));
        m->Set(Str(PR_BODY_A, "long body text"));
        m->valueErrors[PROP_ID(PR_BODY_A)] = MAPI_E_NOT_ENOUGH_MEMORY;
        m->Set(Str(kNamedSource, "blue"));
        m->Set(Str(PROP_TAG(PT_STRING8, 0x8006), "nameless"));
        m->Set(Bin(PR_ENTRYID, "\0\0\0\0source-entry", 16));
        m->Set(Long(PR_MESSAGE_SIZE, 12345));
        m->Set(Long(PR_IMPORTANCE, 2));
        SPropValue to[] = {Str(PR_DISPLAY_NAME_A, "Ann"), Long(PR_RECIPIENT_TYPE, MAPI_TO),
                           Long(PR_ROWID, 7)};
        m->recipients->AddRow(to, 3);
        SPropValue cc[] = {Str(PR_DISPLAY_NAME_A, "Bob"), Long(PR_RECIPIENT_TYPE, MAPI_CC),
                           Str(PR_EMAIL_ADDRESS_A, "bob@example.org")};
        m->recipients->AddRow(cc, 3);

        FakeAttach* file = m->AddAttachment();
        file->Set(Long(PR_ATTACH_METHOD, ATTACH_BY_VALUE));
        file->Set(Bin(PR_ATTACH_DATA_BIN, "PK\x03\x04zip", 7));
        file->valueErrors[PROP_ID(PR_ATTACH_DATA_BIN)] = MAPI_E_NOT_ENOUGH_MEMORY;
        file->Set(Str(PR_ATTACH_FILENAME_A, "a.zip"));

        FakeAttach* mail = m->AddAttachment();
        mail->Set(Long(PR_ATTACH_METHOD, ATTACH_EMBEDDED_MSG));
        LPUNKNOWN unk = nullptr;
        EXPECT_EQ(mail->OpenProperty(PR_ATTACH_DATA_OBJ, &IID_IMessage, 0, MAPI_CREATE, &unk),
                  S_OK);
        ComRef<IUnknown> hold(unk);
        mail->embedded->Set(Str(PR_SUBJECT_A, "Forwarded"));
        mail->embedded->Set(Str(kNamedSource, "green"));
        return m;
    }

    // Copies the source's messages at these places (a place past the end
    // names no message).
    HRESULT Copy(std::vector<BYTE> indices, ULONG flags = 0) {
        std::vector<fake::Bytes> eids;
        for (BYTE i : indices)
            eids.push_back(i < source_->messages.size() ? source_->messages[i]->Eid()
                                                        : fake::Bytes{'n', 'o', 'n', 'e'});
        std::vector<SBinary> ids;
        for (fake::Bytes& eid : eids) ids.push_back({static_cast<ULONG>(eid.size()), eid.data()});
        ENTRYLIST list{static_cast<ULONG>(ids.size()), ids.data()};
        return CopyMessagesBetweenFolders(source_.get(), &list, target_.get(), flags);
    }

    ComRef<FakeFolder> source_, target_;
    long baseline_ = 0;
};

TEST_F(MessageCopyTest, CopiesTheWholeMessage) {
    RichMessage();
    ASSERT_EQ(Copy({0}), S_OK);
    ASSERT_EQ(target_->messages.size(), 1u);
    FakeMessage& copy = *target_->messages[0];
    EXPECT_EQ(copy.saves, 1);
    EXPECT_STREQ(copy.Get(PR_SUBJECT_A)->Value.lpszA, "Quarterly numbers");
    ASSERT_NE(copy.Get(PR_BODY_A), nullptr) << "large value read by stream";
    EXPECT_STREQ(copy.Get(PR_BODY_A)->Value.lpszA, "long body text");
    EXPECT_EQ(copy.Get(PR_IMPORTANCE)->Value.l, 2);
    // Store-internal properties are the target's to assign.
    EXPECT_EQ(copy.Get(PR_ENTRYID), nullptr);
    EXPECT_EQ(copy.Get(PR_MESSAGE_SIZE), nullptr);
    // The named property moved to the target's first free id; the nameless
    // one had nothing to map to.
    ASSERT_NE(copy.Get(PROP_TAG(PT_STRING8, 0x8000)), nullptr);
    EXPECT_STREQ(copy.Get(PROP_TAG(PT_STRING8, 0x8000))->Value.lpszA, "blue");
    EXPECT_EQ(target_->names->names.size(), 1u);
    EXPECT_EQ(target_->names->names[0].text, u"Keywords");
    EXPECT_EQ(copy.props.size(), 4u);

    ASSERT_EQ(copy.recipients->Count(), 2u);
    auto bob = copy.recipients->Row(1);
    EXPECT_STREQ(bob->GetById(PROP_ID(PR_EMAIL_ADDRESS))->Value.lpszA, "bob@example.org");
    EXPECT_EQ(copy.recipients->Row(0)->GetById(PROP_ID(PR_ROWID)), nullptr);

    ASSERT_EQ(copy.attachments.size(), 2u);
    FakeAttach& file = *copy.attachments[0];
    EXPECT_EQ(file.saves, 1);
    ASSERT_NE(file.Get(PR_ATTACH_DATA_BIN), nullptr);
    EXPECT_EQ(file.Get(PR_ATTACH_DATA_BIN)->Value.bin.cb, 7u);
    EXPECT_EQ(std::memcmp(file.Get(PR_ATTACH_DATA_BIN)->Value.bin.lpb, "PK\x03\x04zip", 7), 0);
    EXPECT_STREQ(file.Get(PR_ATTACH_FILENAME_A)->Value.lpszA, "a.zip");

    FakeAttach& mail = *copy.attachments[1];
    ASSERT_TRUE(mail.embedded);
    EXPECT_EQ(mail.embedded->saves, 1);
    EXPECT_EQ(mail.saves, 1);
    EXPECT_STREQ(mail.embedded->Get(PR_SUBJECT_A)->Value.lpszA, "Forwarded");
    EXPECT_STREQ(mail.embedded->Get(PROP_TAG(PT_STRING8, 0x8000))->Value.lpszA, "green");
}

TEST_F(MessageCopyTest, DamagedMessageFailsAloneAndIsNotSaved) {
    RichMessage();
    FakeMessage* damaged = source_->AddMessage();
    damaged->Set(Str(PR_SUBJECT_A, "broken"));
    damaged->Set(Str(PR_BODY_A, "x"));
    damaged->valueErrors[PROP_ID(PR_BODY_A)] = MAPI_E_CORRUPT_DATA;
    FakeMessage* third = source_->AddMessage();
    third->Set(Str(PR_SUBJECT_A, "fine"));

    EXPECT_EQ(Copy({1}), MAPI_E_CORRUPT_DATA);
    ASSERT_EQ(target_->messages.size(), 1u);
    EXPECT_EQ(target_->messages[0]->saves, 0) << "a half copy must never be committed";

    EXPECT_EQ(Copy({0, 1, 2}), MAPI_W_PARTIAL_COMPLETION);
    int saved = 0;
    for (auto& m : target_->messages) saved += m->saves;
    EXPECT_EQ(saved, 2);
    EXPECT_EQ(Copy({9}), MAPI_E_NOT_FOUND);
}

// A target that refuses new messages and says why, as a server does.
class RefusingFolder : public FakeFolder {
public:
    HRESULT CreateMessage(LPCIID, ULONG, LPMESSAGE* out) override {
        *out = nullptr;
        return MAPI_E_CALL_FAILED;
    }
    HRESULT GetLastError(HRESULT hr, ULONG, LPMAPIERROR* error) override {
        *error = nullptr;
        if (hr != MAPI_E_CALL_FAILED) return S_OK;
        auto out = AllocateMapi<MAPIERROR>(static_cast<ULONG>(sizeof(MAPIERROR) + 32));
        if (!out) return MAPI_E_NOT_ENOUGH_MEMORY;
        *out = MAPIERROR{};
        char* text = reinterpret_cast<char*>(out.get() + 1);
        std::strcpy(text, "NO quota exceeded");
        out->lpszError = text;
        *error = out.release();
        return S_OK;
    }
};

TEST_F(MessageCopyTest, TheFailingObjectsWordsReachTheCallerAndTheSourceFolder) {
    source_->AddMessage()->Set(Str(PR_SUBJECT_A, "one"));
    source_->AddMessage()->Set(Str(PR_SUBJECT_A, "two"));
    ComRef<RefusingFolder> refusing = fake::Make<RefusingFolder>();
    fake::Bytes first = source_->messages[0]->Eid(), second = source_->messages[1]->Eid();
    SBinary one{static_cast<ULONG>(first.size()), first.data()};
    ENTRYLIST list{1, &one};
    std::string why = "stale";
    EXPECT_EQ(CopyMessagesBetweenFolders(source_.get(), &list, refusing.get(), 0, &why),
              MAPI_E_CALL_FAILED);
    EXPECT_EQ(why, "NO quota exceeded");
    // The source folder's own GetLastError knows nothing of it; the copy
    // keeps the words for whoever asks about that folder and that code.
    EXPECT_EQ(CopyFailureText(source_.get(), MAPI_E_CALL_FAILED), "NO quota exceeded");
    EXPECT_EQ(CopyFailureText(source_.get(), MAPI_E_NOT_FOUND), "");
    EXPECT_EQ(CopyFailureText(target_.get(), MAPI_E_CALL_FAILED), "");

    // Two items, both refused: the words go with the code the call gives.
    SBinary two[] = {one, {static_cast<ULONG>(second.size()), second.data()}};
    ENTRYLIST pair{2, two};
    EXPECT_EQ(CopyMessagesBetweenFolders(source_.get(), &pair, refusing.get(), 0, &why),
              MAPI_E_CALL_FAILED);
    EXPECT_EQ(why, "NO quota exceeded");

    // A later copy that fails without words, or succeeds, leaves none over.
    EXPECT_EQ(CopyMessagesBetweenFolders(source_.get(), &list, target_.get(), 0, &why), S_OK);
    EXPECT_EQ(why, "");
    EXPECT_EQ(CopyFailureText(source_.get(), MAPI_E_CALL_FAILED), "");
    BYTE missing = 9;
    SBinary gone{1, &missing};
    ENTRYLIST absent{1, &gone};
    EXPECT_EQ(CopyMessagesBetweenFolders(source_.get(), &absent, refusing.get(), 0, &why),
              MAPI_E_NOT_FOUND);
    EXPECT_EQ(why, "");
    EXPECT_EQ(CopyFailureText(source_.get(), MAPI_E_NOT_FOUND), "");
}

TEST_F(MessageCopyTest, MoveDeletesOnlyWhatWasCopied) {
    source_->AddMessage()->Set(Str(PR_SUBJECT_A, "one"));
    FakeMessage* assoc = source_->AddMessage();
    assoc->Set(Long(PR_MESSAGE_FLAGS, MSGFLAG_ASSOCIATED));
    FakeMessage* bad = source_->AddMessage();
    bad->Set(Str(PR_SUBJECT_A, "bad"));
    bad->valueErrors[PROP_ID(PR_SUBJECT_A)] = MAPI_E_CORRUPT_DATA;

    const std::vector<fake::Bytes> copied = {source_->messages[0]->Eid(),
                                             source_->messages[1]->Eid()};
    EXPECT_EQ(Copy({0, 1, 2}, MESSAGE_MOVE), MAPI_W_PARTIAL_COMPLETION);
    EXPECT_EQ(source_->deleted, copied);
    ASSERT_EQ(target_->createFlags.size(), 3u);
    EXPECT_EQ(target_->createFlags[0], 0u);
    EXPECT_EQ(target_->createFlags[1], MAPI_ASSOCIATED);
}

TEST_F(MessageCopyTest, OutOfMemoryFailsCleanly) {
    RichMessage();
    for (long countdown = 0; countdown < 40; countdown += 3) {
        const size_t before = target_->messages.size();
        SetAllocationFailureCountdown(countdown);
        HRESULT hr = Copy({0});
        SetAllocationFailureCountdown(-1);
        EXPECT_TRUE(hr == S_OK || hr == MAPI_E_NOT_ENOUGH_MEMORY) << std::hex << hr;
        if (hr != S_OK && target_->messages.size() > before) {
            EXPECT_EQ(target_->messages.back()->saves, 0) << "failed copy was committed";
        }
    }
}

TEST(StoreInternalPropertyTest, KnowsWhatBelongsToTheStore) {
    for (ULONG tag : {PR_ENTRYID, PR_RECORD_KEY, PR_SEARCH_KEY, PR_PARENT_ENTRYID, PR_STORE_ENTRYID,
                      PR_MESSAGE_SIZE, PR_INSTANCE_KEY, PR_ROWID})
        EXPECT_TRUE(IsStoreInternalProperty(tag)) << std::hex << tag;
    for (ULONG tag : {PR_SUBJECT_A, PR_SUBJECT_W, PR_BODY_A, PR_MESSAGE_FLAGS, PR_ATTACH_DATA_BIN,
                      PR_DISPLAY_NAME_A, PROP_TAG(PT_LONG, 0x8000)})
        EXPECT_FALSE(IsStoreInternalProperty(tag)) << std::hex << tag;
}

}  // namespace
}  // namespace mapi
