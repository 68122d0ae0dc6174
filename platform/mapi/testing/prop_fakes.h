// Small in-memory MAPI objects for the runtime's own tests: a property
// bag with streams and a name map, a message with recipients and
// attachments, a folder, a store. Only what the tests exercise is real;
// every other method answers MAPI_E_NO_SUPPORT.
#pragma once

#include <algorithm>
#include <cstring>
#include <functional>
#include <map>
#include <set>
#include <memory>
#include <string>
#include <vector>

#include <mapiutil.h>

#include "runtime/com_object.h"
#include "runtime/mapi_ptr.h"
#include "runtime/memory_rows.h"
#include "runtime/prop_convert.h"
#include "runtime/table.h"

namespace mapi::testing {

// One store's name-to-id map: ids from 0x8000 in order of creation.
struct FakeNames {
    struct Name {
        GUID guid;
        ULONG kind;
        LONG id;
        std::u16string text;
    };
    std::vector<Name> names;

    ULONG Find(const MAPINAMEID& n, bool create) {
        for (size_t i = 0; i < names.size(); ++i) {
            const Name& k = names[i];
            if (k.guid == *n.lpguid && k.kind == n.ulKind &&
                (n.ulKind == MNID_ID ? k.id == n.Kind.lID : k.text == n.Kind.lpwstrName))
                return 0x8000 + static_cast<ULONG>(i);
        }
        if (!create) return 0;
        names.push_back({*n.lpguid, n.ulKind, n.ulKind == MNID_ID ? n.Kind.lID : 0,
                         n.ulKind == MNID_STRING ? n.Kind.lpwstrName : u""});
        return 0x8000 + static_cast<ULONG>(names.size() - 1);
    }
};

class FakeStream : public ComObject<IStream> {
public:
    std::vector<BYTE> data;
    size_t pos = 0;
    std::function<void(const std::vector<BYTE>&)> onCommit;

    HRESULT Read(void* pv, ULONG cb, ULONG* read) override {
        const ULONG n = static_cast<ULONG>(std::min<size_t>(cb, data.size() - pos));
        std::memcpy(pv, data.data() + pos, n);
        pos += n;
        if (read) *read = n;
        return S_OK;
    }
    HRESULT Write(const void* pv, ULONG cb, ULONG* written) override {
        const BYTE* p = static_cast<const BYTE*>(pv);
        data.insert(data.end(), p, p + cb);
        if (written) *written = cb;
        return S_OK;
    }
    HRESULT Commit(DWORD) override {
        if (onCommit) onCommit(data);
        return S_OK;
    }
    HRESULT Seek(LARGE_INTEGER, DWORD, ULARGE_INTEGER*) override { return E_NOTIMPL; }
    HRESULT SetSize(ULARGE_INTEGER) override { return E_NOTIMPL; }
    HRESULT CopyTo(IStream*, ULARGE_INTEGER, ULARGE_INTEGER*, ULARGE_INTEGER*) override {
        return E_NOTIMPL;
    }
    HRESULT Revert() override { return E_NOTIMPL; }
    HRESULT LockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override { return E_NOTIMPL; }
    HRESULT UnlockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override { return E_NOTIMPL; }
    HRESULT Stat(STATSTG*, DWORD) override { return E_NOTIMPL; }
    HRESULT Clone(IStream**) override { return E_NOTIMPL; }

private:
    bool SupportsInterface(REFIID riid) const override {
        return IidIn(riid, {IID_IStream, IID_ISequentialStream});
    }
};

// Properties by id, each value in its own MAPI chain. Ids listed in tooBig
// come back from GetProps as MAPI_E_NOT_ENOUGH_MEMORY (stream only); ids in
// damaged as MAPI_E_CORRUPT_DATA.
template <class I>
class FakeProp : public ComObject<I> {
public:
    std::map<ULONG, MapiBuffer<SPropValue>> props;
    std::set<ULONG> tooBig, damaged;
    std::shared_ptr<FakeNames> names = std::make_shared<FakeNames>();
    int saves = 0;

    HRESULT Set(const SPropValue& v) {
        LPSPropValue copy = nullptr;
        HRESULT hr = ScDupPropset(1, const_cast<LPSPropValue>(&v), MAPIAllocateBuffer, &copy);
        if (hr == S_OK) props[PROP_ID(v.ulPropTag)].reset(copy);
        return hr;
    }
    const SPropValue* Get(ULONG tag) const {
        auto it = props.find(PROP_ID(tag));
        return it == props.end() ? nullptr : it->second.get();
    }

    HRESULT GetLastError(HRESULT, ULONG, LPMAPIERROR*) override { return MAPI_E_NO_SUPPORT; }
    HRESULT SaveChanges(ULONG) override {
        ++saves;
        return S_OK;
    }
    HRESULT GetProps(LPSPropTagArray tags, ULONG, ULONG* count, LPSPropValue* out) override {
        auto values = AllocateMapi<SPropValue>(
            static_cast<ULONG>(sizeof(SPropValue) * std::max<ULONG>(tags->cValues, 1)));
        if (!values) return MAPI_E_NOT_ENOUGH_MEMORY;
        bool errors = false;
        for (ULONG i = 0; i < tags->cValues; ++i) {
            const ULONG tag = tags->aulPropTag[i];
            SPropValue& v = values.get()[i];
            const SPropValue* stored = Get(tag);
            if (stored == nullptr || tooBig.count(PROP_ID(tag)) || damaged.count(PROP_ID(tag))) {
                v = ErrorValue(tag, stored == nullptr            ? MAPI_E_NOT_FOUND
                                    : tooBig.count(PROP_ID(tag)) ? MAPI_E_NOT_ENOUGH_MEMORY
                                                                 : MAPI_E_CORRUPT_DATA);
                errors = true;
            } else if (HRESULT hr = ConvertValue(*stored, PROP_TYPE(tag), values.get(), &v)) {
                if (hr == MAPI_E_NOT_ENOUGH_MEMORY) return hr;
                errors = true;
            }
        }
        *count = tags->cValues;
        *out = values.release();
        return errors ? MAPI_W_ERRORS_RETURNED : S_OK;
    }
    HRESULT GetPropList(ULONG, LPSPropTagArray* out) override {
        auto tags = AllocateMapi<SPropTagArray>(CbNewSPropTagArray(props.size()));
        if (!tags) return MAPI_E_NOT_ENOUGH_MEMORY;
        tags->cValues = 0;
        for (const auto& [id, v] : props) tags->aulPropTag[tags->cValues++] = v->ulPropTag;
        *out = tags.release();
        return S_OK;
    }
    HRESULT OpenProperty(ULONG tag, LPCIID iid, ULONG, ULONG flags, LPUNKNOWN* out) override {
        if (iid == nullptr || *iid != IID_IStream) return OpenObject(tag, iid, flags, out);
        auto* stream = new FakeStream;
        if (flags & MAPI_CREATE) {
            stream->onCommit = [this, tag](const std::vector<BYTE>& bytes) { Store(tag, bytes); };
        } else {
            const SPropValue* v = Get(tag);
            if (v == nullptr) {
                stream->Release();
                return MAPI_E_NOT_FOUND;
            }
            if (PROP_TYPE(v->ulPropTag) == PT_BINARY)
                stream->data.assign(v->Value.bin.lpb, v->Value.bin.lpb + v->Value.bin.cb);
            else if (PROP_TYPE(v->ulPropTag) == PT_STRING8)
                stream->data.assign(v->Value.lpszA, v->Value.lpszA + std::strlen(v->Value.lpszA));
        }
        *out = stream;
        return S_OK;
    }
    HRESULT SetProps(ULONG count, LPSPropValue values, LPSPropProblemArray* problems) override {
        if (problems) *problems = nullptr;
        for (ULONG i = 0; i < count; ++i)
            if (HRESULT hr = Set(values[i])) return hr;
        return S_OK;
    }
    HRESULT DeleteProps(LPSPropTagArray, LPSPropProblemArray*) override {
        return MAPI_E_NO_SUPPORT;
    }
    HRESULT CopyTo(ULONG, LPCIID, LPSPropTagArray, ULONG_PTR, LPMAPIPROGRESS, LPCIID, LPVOID, ULONG,
                   LPSPropProblemArray*) override {
        return MAPI_E_NO_SUPPORT;
    }
    HRESULT CopyProps(LPSPropTagArray, ULONG_PTR, LPMAPIPROGRESS, LPCIID, LPVOID, ULONG,
                      LPSPropProblemArray*) override {
        return MAPI_E_NO_SUPPORT;
    }
    HRESULT GetNamesFromIDs(LPSPropTagArray* tags, LPGUID, ULONG, ULONG* count,
                            LPMAPINAMEID** out) override {
        const ULONG n = (*tags)->cValues;
        auto list = AllocateMapi<LPMAPINAMEID>(sizeof(LPMAPINAMEID) * std::max<ULONG>(n, 1));
        if (!list) return MAPI_E_NOT_ENOUGH_MEMORY;
        for (ULONG i = 0; i < n; ++i) {
            list.get()[i] = nullptr;
            const ULONG index = PROP_ID((*tags)->aulPropTag[i]) - 0x8000;
            if (PROP_ID((*tags)->aulPropTag[i]) < 0x8000 || index >= names->names.size()) continue;
            const FakeNames::Name& k = names->names[index];
            void* p = nullptr;
            if (MAPIAllocateMore(sizeof(MAPINAMEID) + sizeof(GUID) + (k.text.size() + 1) * 2,
                                 list.get(), &p) != S_OK)
                return MAPI_E_NOT_ENOUGH_MEMORY;
            auto* name = static_cast<MAPINAMEID*>(p);
            auto* guid = reinterpret_cast<GUID*>(name + 1);
            auto* text = reinterpret_cast<WCHAR*>(guid + 1);
            *guid = k.guid;
            std::memcpy(text, k.text.c_str(), (k.text.size() + 1) * 2);
            name->lpguid = guid;
            name->ulKind = k.kind;
            if (k.kind == MNID_ID)
                name->Kind.lID = k.id;
            else
                name->Kind.lpwstrName = text;
            list.get()[i] = name;
        }
        *count = n;
        *out = list.release();
        return S_OK;
    }
    HRESULT GetIDsFromNames(ULONG count, LPMAPINAMEID* in, ULONG flags,
                            LPSPropTagArray* out) override {
        auto tags = AllocateMapi<SPropTagArray>(CbNewSPropTagArray(count));
        if (!tags) return MAPI_E_NOT_ENOUGH_MEMORY;
        tags->cValues = count;
        for (ULONG i = 0; i < count; ++i) {
            const ULONG id = names->Find(*in[i], (flags & MAPI_CREATE) != 0);
            tags->aulPropTag[i] = id ? PROP_TAG(PT_UNSPECIFIED, id) : PROP_TAG(PT_ERROR, 0);
        }
        *out = tags.release();
        return S_OK;
    }

protected:
    virtual HRESULT OpenObject(ULONG, LPCIID, ULONG, LPUNKNOWN*) { return MAPI_E_NO_SUPPORT; }

    void Store(ULONG tag, const std::vector<BYTE>& bytes) {
        std::string text(bytes.begin(), bytes.end());
        SPropValue v{};
        v.ulPropTag = tag;
        if (PROP_TYPE(tag) == PT_STRING8) {
            v.Value.lpszA = text.data();
        } else {
            v.Value.bin.cb = static_cast<ULONG>(bytes.size());
            v.Value.bin.lpb = const_cast<BYTE*>(bytes.data());
        }
        Set(v);
    }
};

class FakeMessage;

class FakeAttach : public FakeProp<IAttach> {
public:
    ComRef<FakeMessage> embedded;

protected:
    HRESULT OpenObject(ULONG tag, LPCIID iid, ULONG flags, LPUNKNOWN* out) override;

private:
    bool SupportsInterface(REFIID riid) const override {
        return IidIn(riid, {IID_IAttachment, IID_IMAPIProp});
    }
};

class FakeMessage : public FakeProp<IMessage> {
public:
    std::shared_ptr<MemoryRows> recipients = std::make_shared<MemoryRows>();
    std::vector<ComRef<FakeAttach>> attachments;

    FakeAttach* AddAttachment() {
        attachments.emplace_back(new FakeAttach);
        attachments.back()->names = names;
        return attachments.back().get();
    }

    HRESULT GetAttachmentTable(ULONG, LPMAPITABLE* out) override {
        auto rows = std::make_shared<MemoryRows>();
        for (size_t i = 0; i < attachments.size(); ++i) {
            SPropValue num{};
            num.ulPropTag = PR_ATTACH_NUM;
            num.Value.l = static_cast<LONG>(i);
            if (HRESULT hr = rows->AddRow(&num, 1)) return hr;
        }
        SizedSPropTagArray(1, cols) = {1, {PR_ATTACH_NUM}};
        return CreateTable(rows, reinterpret_cast<LPSPropTagArray>(&cols), out);
    }
    HRESULT OpenAttach(ULONG num, LPCIID, ULONG, LPATTACH* out) override {
        if (num >= attachments.size()) return MAPI_E_NOT_FOUND;
        *out = ComRef<FakeAttach>::Share(attachments[num].get()).Detach();
        return S_OK;
    }
    HRESULT CreateAttach(LPCIID, ULONG, ULONG* num, LPATTACH* out) override {
        FakeAttach* a = AddAttachment();
        *num = static_cast<ULONG>(attachments.size() - 1);
        *out = ComRef<FakeAttach>::Share(a).Detach();
        return S_OK;
    }
    HRESULT DeleteAttach(ULONG, ULONG_PTR, LPMAPIPROGRESS, ULONG) override {
        return MAPI_E_NO_SUPPORT;
    }
    HRESULT GetRecipientTable(ULONG, LPMAPITABLE* out) override {
        SizedSPropTagArray(1, cols) = {1, {PR_DISPLAY_NAME_A}};
        return CreateTable(recipients, reinterpret_cast<LPSPropTagArray>(&cols), out);
    }
    HRESULT ModifyRecipients(ULONG flags, LPADRLIST list) override {
        if (flags != MODRECIP_ADD) return MAPI_E_NO_SUPPORT;
        for (ULONG i = 0; i < list->cEntries; ++i)
            if (HRESULT hr =
                    recipients->AddRow(list->aEntries[i].rgPropVals, list->aEntries[i].cValues))
                return hr;
        return S_OK;
    }
    HRESULT SubmitMessage(ULONG) override { return MAPI_E_NO_SUPPORT; }
    HRESULT SetReadFlag(ULONG) override { return MAPI_E_NO_SUPPORT; }

private:
    bool SupportsInterface(REFIID riid) const override {
        return IidIn(riid, {IID_IMessage, IID_IMAPIProp});
    }
};

inline HRESULT FakeAttach::OpenObject(ULONG tag, LPCIID iid, ULONG flags, LPUNKNOWN* out) {
    if (tag != PR_ATTACH_DATA_OBJ || *iid != IID_IMessage) return MAPI_E_NO_SUPPORT;
    if (!embedded) {
        if (!(flags & MAPI_CREATE)) return MAPI_E_NOT_FOUND;
        embedded = ComRef<FakeMessage>(new FakeMessage);
        embedded->names = names;
    }
    *out = ComRef<FakeMessage>::Share(embedded.get()).Detach();
    return S_OK;
}

// A folder whose entry ids are one byte: the index into messages.
class FakeFolder : public FakeProp<IMAPIFolder> {
public:
    std::vector<ComRef<FakeMessage>> messages;
    std::vector<ULONG> createFlags;
    std::vector<BYTE> deleted;

    FakeMessage* AddMessage() {
        messages.emplace_back(new FakeMessage);
        messages.back()->names = names;
        return messages.back().get();
    }

    HRESULT GetContentsTable(ULONG, LPMAPITABLE*) override { return MAPI_E_NO_SUPPORT; }
    HRESULT GetHierarchyTable(ULONG, LPMAPITABLE*) override { return MAPI_E_NO_SUPPORT; }
    HRESULT OpenEntry(ULONG cb, LPENTRYID id, LPCIID, ULONG, ULONG* type, LPUNKNOWN* out) override {
        const BYTE index = reinterpret_cast<BYTE*>(id)[0];
        if (cb != 1 || index >= messages.size()) return MAPI_E_NOT_FOUND;
        *type = MAPI_MESSAGE;
        *out = ComRef<FakeMessage>::Share(messages[index].get()).Detach();
        return S_OK;
    }
    HRESULT SetSearchCriteria(LPSRestriction, LPENTRYLIST, ULONG) override {
        return MAPI_E_NO_SUPPORT;
    }
    HRESULT GetSearchCriteria(ULONG, LPSRestriction*, LPENTRYLIST*, ULONG*) override {
        return MAPI_E_NO_SUPPORT;
    }
    HRESULT CreateMessage(LPCIID, ULONG flags, LPMESSAGE* out) override {
        createFlags.push_back(flags);
        *out = ComRef<FakeMessage>::Share(AddMessage()).Detach();
        return S_OK;
    }
    HRESULT CopyMessages(LPENTRYLIST, LPCIID, LPVOID, ULONG_PTR, LPMAPIPROGRESS, ULONG) override {
        return MAPI_E_NO_SUPPORT;
    }
    HRESULT DeleteMessages(LPENTRYLIST list, ULONG_PTR, LPMAPIPROGRESS, ULONG) override {
        for (ULONG i = 0; i < list->cValues; ++i) deleted.push_back(list->lpbin[i].lpb[0]);
        return S_OK;
    }
    HRESULT CreateFolder(ULONG, LPTSTR, LPTSTR, LPCIID, ULONG, LPMAPIFOLDER*) override {
        return MAPI_E_NO_SUPPORT;
    }
    HRESULT CopyFolder(ULONG, LPENTRYID, LPCIID, LPVOID, LPTSTR, ULONG_PTR, LPMAPIPROGRESS,
                       ULONG) override {
        return MAPI_E_NO_SUPPORT;
    }
    HRESULT DeleteFolder(ULONG, LPENTRYID, ULONG_PTR, LPMAPIPROGRESS, ULONG) override {
        return MAPI_E_NO_SUPPORT;
    }
    HRESULT SetReadFlags(LPENTRYLIST, ULONG_PTR, LPMAPIPROGRESS, ULONG) override {
        return MAPI_E_NO_SUPPORT;
    }
    HRESULT GetMessageStatus(ULONG, LPENTRYID, ULONG, ULONG*) override { return MAPI_E_NO_SUPPORT; }
    HRESULT SetMessageStatus(ULONG, LPENTRYID, ULONG, ULONG, ULONG*) override {
        return MAPI_E_NO_SUPPORT;
    }
    HRESULT SaveContentsSort(LPSSortOrderSet, ULONG) override { return MAPI_E_NO_SUPPORT; }
    HRESULT EmptyFolder(ULONG_PTR, LPMAPIPROGRESS, ULONG) override { return MAPI_E_NO_SUPPORT; }

private:
    bool SupportsInterface(REFIID riid) const override {
        return IidIn(riid, {IID_IMAPIFolder, IID_IMAPIContainer, IID_IMAPIProp});
    }
};

// A store that reports entryId as its own and records what it was asked
// to open.
class FakeStore : public FakeProp<IMsgStore> {
public:
    explicit FakeStore(std::vector<BYTE> entryId) {
        SPropValue v{};
        v.ulPropTag = PR_STORE_ENTRYID;
        v.Value.bin.cb = static_cast<ULONG>(entryId.size());
        v.Value.bin.lpb = entryId.data();
        Set(v);
    }
    std::vector<BYTE> lastOpened;

    HRESULT Advise(ULONG, LPENTRYID, ULONG, LPMAPIADVISESINK, ULONG_PTR*) override {
        return MAPI_E_NO_SUPPORT;
    }
    HRESULT Unadvise(ULONG_PTR) override { return MAPI_E_NO_SUPPORT; }
    HRESULT CompareEntryIDs(ULONG cb1, LPENTRYID id1, ULONG cb2, LPENTRYID id2, ULONG,
                            ULONG* result) override {
        *result = cb1 == cb2 && std::memcmp(id1, id2, cb1) == 0;
        return S_OK;
    }
    HRESULT OpenEntry(ULONG cb, LPENTRYID id, LPCIID, ULONG, ULONG* type, LPUNKNOWN* out) override {
        lastOpened.assign(reinterpret_cast<BYTE*>(id), reinterpret_cast<BYTE*>(id) + cb);
        *type = MAPI_FOLDER;
        *out = ComRef<FakeStore>::Share(this).Detach();
        return S_OK;
    }
    HRESULT SetReceiveFolder(LPTSTR, ULONG, ULONG, LPENTRYID) override { return MAPI_E_NO_SUPPORT; }
    HRESULT GetReceiveFolder(LPTSTR, ULONG, ULONG*, LPENTRYID*, LPTSTR*) override {
        return MAPI_E_NO_SUPPORT;
    }
    HRESULT GetReceiveFolderTable(ULONG, LPMAPITABLE*) override { return MAPI_E_NO_SUPPORT; }
    HRESULT StoreLogoff(ULONG*) override { return MAPI_E_NO_SUPPORT; }
    HRESULT AbortSubmit(ULONG, LPENTRYID, ULONG) override { return MAPI_E_NO_SUPPORT; }
    HRESULT GetOutgoingQueue(ULONG, LPMAPITABLE*) override { return MAPI_E_NO_SUPPORT; }
    HRESULT SetLockState(LPMESSAGE, ULONG) override { return MAPI_E_NO_SUPPORT; }
    HRESULT FinishedMsg(ULONG, ULONG, LPENTRYID) override { return MAPI_E_NO_SUPPORT; }
    HRESULT NotifyNewMail(LPNOTIFICATION) override { return MAPI_E_NO_SUPPORT; }

private:
    bool SupportsInterface(REFIID riid) const override {
        return IidIn(riid, {IID_IMsgStore, IID_IMAPIProp});
    }
};

}  // namespace mapi::testing
