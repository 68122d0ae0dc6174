// The provider-independent message copy: properties (large ones by
// stream), recipients, attachments and embedded messages, with named
// properties remapped into the target store.
#include "message_copy.h"

#include <set>
#include <vector>

#include <mapiutil.h>

#include "mapi_ptr.h"
#include "named_prop_map.h"
#include "provenance.h"

namespace mapi {

namespace {

// Embedded messages nest; a damaged store can make them nest forever.
constexpr int kMaxEmbeddingDepth = 32;
constexpr ULONG kStreamChunk = 64 * 1024;

struct AdrListDeleter {
    void operator()(ADRLIST* list) const { FreePadrlist(list); }
};

HRESULT CopyStream(IStream* from, IStream* to) {
    std::vector<BYTE> buffer(kStreamChunk);
    for (;;) {
        ULONG read = 0;
        HRESULT hr = from->Read(buffer.data(), kStreamChunk, &read);
        if (FAILED(hr)) return hr;
        if (read == 0) break;
        ULONG written = 0;
        hr = to->Write(buffer.data(), read, &written);
        if (FAILED(hr)) return hr;
        if (written != read) return MAPI_E_DISK_ERROR;
    }
    return to->Commit(STGC_DEFAULT);
}

template <class I>
HRESULT OpenAs(IMAPIProp* object, ULONG tag, REFIID iid, ULONG flags, ComRef<I>* out) {
    ComRef<IUnknown> unknown;
    HRESULT hr = object->OpenProperty(tag, &iid, flags & MAPI_CREATE ? STGM_WRITE : STGM_READ,
                                      flags, unknown.Out());
    if (FAILED(hr)) return hr;
    if (!unknown) return MAPI_E_CALL_FAILED;
    return unknown->QueryInterface(iid, reinterpret_cast<void**>(out->Out()));
}

// A value GetProps would not hand out whole, copied through streams.
HRESULT CopyLargeProperty(IMAPIProp* src, ULONG srcTag, IMAPIProp* dst, ULONG dstTag) {
    ComRef<IStream> from, to;
    HRESULT hr = OpenAs(src, srcTag, IID_IStream, 0, &from);
    if (FAILED(hr)) return hr;
    hr = OpenAs(dst, dstTag, IID_IStream, MAPI_CREATE | MAPI_MODIFY, &to);
    if (FAILED(hr)) return hr;
    return CopyStream(from.get(), to.get());
}

// Copies every property of src but the store-internal ones, objects and
// skipIds to dst.
HRESULT CopyProperties(IMAPIProp* src, IMAPIProp* dst, NamedPropertyMap& names,
                       const std::set<ULONG>& skipIds) {
    LPSPropTagArray rawList = nullptr;
    HRESULT hr = src->GetPropList(0, &rawList);
    MapiBuffer<SPropTagArray> list(rawList);
    if (FAILED(hr)) return hr;
    if (!list) return MAPI_E_CALL_FAILED;

    std::vector<ULONG> wanted;
    for (ULONG i = 0; i < list->cValues; ++i) {
        const ULONG tag = list->aulPropTag[i];
        const ULONG type = PROP_TYPE(tag);
        if (type == PT_OBJECT || type == PT_ERROR || type == PT_NULL) continue;
        if (IsStoreInternalProperty(tag) || skipIds.count(PROP_ID(tag)) > 0) continue;
        wanted.push_back(tag);
    }
    if (wanted.empty()) return S_OK;
    hr = names.Resolve(wanted);
    if (FAILED(hr)) return hr;

    auto request = AllocateMapi<SPropTagArray>(CbNewSPropTagArray(wanted.size()));
    if (!request) return MAPI_E_NOT_ENOUGH_MEMORY;
    request->cValues = static_cast<ULONG>(wanted.size());
    std::copy(wanted.begin(), wanted.end(), request->aulPropTag);
    ULONG count = 0;
    LPSPropValue rawValues = nullptr;
    hr = src->GetProps(request.get(), 0, &count, &rawValues);
    MapiBuffer<SPropValue> values(rawValues);
    if (FAILED(hr)) return hr;
    if (!values || count != wanted.size()) return MAPI_E_CALL_FAILED;

    std::vector<SPropValue> out;
    std::vector<std::pair<ULONG, ULONG>> large;  // source tag, target tag
    for (ULONG i = 0; i < count; ++i) {
        SPropValue v = values.get()[i];
        const ULONG target = names.Map(wanted[i]);
        if (target == PR_NULL) continue;  // a name the source store lost
        if (PROP_TYPE(v.ulPropTag) == PT_ERROR) {
            if (v.Value.err == MAPI_E_NOT_ENOUGH_MEMORY)
                large.emplace_back(wanted[i], target);
            else if (v.Value.err != MAPI_E_NOT_FOUND)
                return v.Value.err;  // damage: no faithful copy possible
            continue;
        }
        v.ulPropTag = CHANGE_PROP_TYPE(target, PROP_TYPE(v.ulPropTag));
        out.push_back(v);
    }
    if (!out.empty()) {
        LPSPropProblemArray rawProblems = nullptr;
        hr = dst->SetProps(static_cast<ULONG>(out.size()), out.data(), &rawProblems);
        // Problems name properties the target computes itself; they are
        // not the copy's to set.
        MapiBuffer<SPropProblemArray> problems(rawProblems);
        if (FAILED(hr)) return hr;
    }
    for (const auto& [from, to] : large) {
        hr = CopyLargeProperty(src, from, dst, to);
        if (FAILED(hr)) return hr;
    }
    return S_OK;
}

HRESULT AllRows(IMAPITable* table, LPSPropTagArray columns, RowSetPtr* rows) {
    MapiBuffer<SPropTagArray> all;
    if (columns == nullptr) {
        LPSPropTagArray raw = nullptr;
        if (SUCCEEDED(table->QueryColumns(TBL_ALL_COLUMNS, &raw))) all.reset(raw);
        if (all && all->cValues > 0) columns = all.get();
    }
    LPSRowSet raw = nullptr;
    HRESULT hr = HrQueryAllRows(table, columns, nullptr, nullptr, 0, &raw);
    rows->reset(raw);
    if (FAILED(hr)) return hr;
    return *rows ? S_OK : MAPI_E_CALL_FAILED;
}

HRESULT CopyRecipients(IMessage* src, IMessage* dst, NamedPropertyMap& names) {
    ComRef<IMAPITable> table;
    HRESULT hr = src->GetRecipientTable(0, table.Out());
    if (hr == MAPI_E_NO_SUPPORT) return S_OK;
    if (FAILED(hr)) return hr;
    RowSetPtr rows;
    hr = AllRows(table.get(), nullptr, &rows);
    if (FAILED(hr)) return hr;
    if (rows->cRows == 0) return S_OK;

    std::vector<ULONG> tags;
    for (ULONG r = 0; r < rows->cRows; ++r)
        for (ULONG i = 0; i < rows->aRow[r].cValues; ++i)
            tags.push_back(rows->aRow[r].lpProps[i].ulPropTag);
    hr = names.Resolve(tags);
    if (FAILED(hr)) return hr;

    std::unique_ptr<ADRLIST, AdrListDeleter> list(
        AllocateMapi<ADRLIST>(CbNewADRLIST(rows->cRows)).release());
    if (!list) return MAPI_E_NOT_ENOUGH_MEMORY;
    list->cEntries = 0;
    for (ULONG r = 0; r < rows->cRows; ++r) {
        std::vector<SPropValue> keep;
        for (ULONG i = 0; i < rows->aRow[r].cValues; ++i) {
            SPropValue v = rows->aRow[r].lpProps[i];
            const ULONG id = PROP_ID(v.ulPropTag);
            // The row id and instance key belong to the source's table.
            if (id == PROP_ID(PR_ROWID) || id == PROP_ID(PR_INSTANCE_KEY)) continue;
            if (PROP_TYPE(v.ulPropTag) == PT_OBJECT) continue;
            if (PROP_TYPE(v.ulPropTag) == PT_ERROR) {
                if (v.Value.err == MAPI_E_NOT_FOUND) continue;
                return v.Value.err;
            }
            const ULONG target = names.Map(v.ulPropTag);
            if (target == PR_NULL) continue;
            v.ulPropTag = target;
            keep.push_back(v);
        }
        LPSPropValue copy = nullptr;
        hr = ScDupPropset(static_cast<int>(keep.size()), keep.data(), MAPIAllocateBuffer, &copy);
        if (FAILED(hr)) return hr;
        list->aEntries[r].ulReserved1 = 0;
        list->aEntries[r].cValues = static_cast<ULONG>(keep.size());
        list->aEntries[r].rgPropVals = copy;
        list->cEntries = r + 1;
    }
    return dst->ModifyRecipients(MODRECIP_ADD, list.get());
}

HRESULT CopyContents(IMessage* src, IMessage* dst, NamedPropertyMap& names, int depth);

HRESULT CopyEmbeddedMessage(IAttach* src, IAttach* dst, NamedPropertyMap& names, int depth) {
    if (depth >= kMaxEmbeddingDepth) return MAPI_E_CORRUPT_DATA;
    ComRef<IMessage> from, to;
    HRESULT hr = OpenAs(src, PR_ATTACH_DATA_OBJ, IID_IMessage, 0, &from);
    if (FAILED(hr)) return hr;
    hr = OpenAs(dst, PR_ATTACH_DATA_OBJ, IID_IMessage, MAPI_CREATE | MAPI_MODIFY, &to);
    if (FAILED(hr)) return hr;
    hr = CopyContents(from.get(), to.get(), names, depth + 1);
    if (FAILED(hr)) return hr;
    return to->SaveChanges(0);
}

HRESULT CopyAttachments(IMessage* src, IMessage* dst, NamedPropertyMap& names, int depth) {
    ComRef<IMAPITable> table;
    HRESULT hr = src->GetAttachmentTable(0, table.Out());
    if (hr == MAPI_E_NO_SUPPORT) return S_OK;
    if (FAILED(hr)) return hr;
    SizedSPropTagArray(1, columns) = {1, {PR_ATTACH_NUM}};
    RowSetPtr rows;
    hr = AllRows(table.get(), reinterpret_cast<LPSPropTagArray>(&columns), &rows);
    if (FAILED(hr)) return hr;

    for (ULONG r = 0; r < rows->cRows; ++r) {
        const SRow& row = rows->aRow[r];
        if (row.cValues < 1 || row.lpProps[0].ulPropTag != PR_ATTACH_NUM)
            return MAPI_E_CORRUPT_DATA;
        ComRef<IAttach> from, to;
        hr = src->OpenAttach(row.lpProps[0].Value.ul, nullptr, 0, from.Out());
        if (FAILED(hr)) return hr;
        ULONG number = 0;
        hr = dst->CreateAttach(nullptr, 0, &number, to.Out());
        if (FAILED(hr)) return hr;
        hr = CopyProperties(from.get(), to.get(), names, {PROP_ID(PR_ATTACH_NUM)});
        if (FAILED(hr)) return hr;

        LPSPropValue rawMethod = nullptr;
        MapiBuffer<SPropValue> method;
        if (HrGetOneProp(from.get(), PR_ATTACH_METHOD, &rawMethod) == S_OK) method.reset(rawMethod);
        if (method && method->Value.l == ATTACH_EMBEDDED_MSG) {
            hr = CopyEmbeddedMessage(from.get(), to.get(), names, depth);
            if (FAILED(hr)) return hr;
        }
        hr = to->SaveChanges(0);
        if (FAILED(hr)) return hr;
    }
    return S_OK;
}

HRESULT CopyContents(IMessage* src, IMessage* dst, NamedPropertyMap& names, int depth) {
    HRESULT hr = CopyProperties(src, dst, names, {});
    if (FAILED(hr)) return hr;
    hr = CopyRecipients(src, dst, names);
    if (FAILED(hr)) return hr;
    return CopyAttachments(src, dst, names, depth);
}

HRESULT IsAssociated(IMessage* message, bool* associated) {
    *associated = false;
    LPSPropValue raw = nullptr;
    HRESULT hr = HrGetOneProp(message, PR_MESSAGE_FLAGS, &raw);
    MapiBuffer<SPropValue> flags(raw);
    if (hr == MAPI_E_NOT_FOUND) return S_OK;
    if (FAILED(hr)) return hr;
    *associated = (flags->Value.l & MSGFLAG_ASSOCIATED) != 0;
    return S_OK;
}

// A failure fills *why with the words of the object whose call gave it.
HRESULT CopyOne(IMAPIFolder* source, const SBinary& id, IMAPIFolder* dest, bool stamp,
                std::string* why) {
    if (id.lpb == nullptr || id.cb == 0) return MAPI_E_INVALID_ENTRYID;
    ComRef<IUnknown> unknown;
    ULONG type = 0;
    HRESULT hr = source->OpenEntry(id.cb, reinterpret_cast<LPENTRYID>(id.lpb), &IID_IMessage, 0,
                                   &type, unknown.Out());
    if (FAILED(hr)) {
        *why = LastErrorText(source, hr);
        return hr;
    }
    if (!unknown) return MAPI_E_CALL_FAILED;
    if (type != MAPI_MESSAGE) return MAPI_E_INVALID_ENTRYID;
    ComRef<IMessage> src;
    hr = unknown->QueryInterface(IID_IMessage, reinterpret_cast<void**>(src.Out()));
    if (FAILED(hr)) return hr;

    bool associated = false;
    hr = IsAssociated(src.get(), &associated);
    if (FAILED(hr)) return hr;
    ComRef<IMessage> dst;
    hr = dest->CreateMessage(nullptr, associated ? MAPI_ASSOCIATED : 0, dst.Out());
    if (FAILED(hr)) {
        *why = LastErrorText(dest, hr);
        return hr;
    }
    hr = CopyMessageContents(src.get(), dst.get());
    if (FAILED(hr)) {
        // The copy reads one and writes the other: whichever has words for
        // the failure is the one that gave it.
        *why = LastErrorText(src.get(), hr);
        if (why->empty()) *why = LastErrorText(dst.get(), hr);
        return hr;  // dst goes unsaved: nothing of it reaches the target
    }
    // Only the top-level copy is marked: an embedded message is part of it.
    // An id without a store identity leaves the copy unmarked rather than
    // lost (a later run may then copy it once more).
    if (stamp) {
        hr = StampProvenance(src.get(), id, dst.get());
        if (FAILED(hr) && hr != MAPI_E_INVALID_ENTRYID) return hr;
    }
    hr = dst->SaveChanges(0);
    if (FAILED(hr)) *why = LastErrorText(dst.get(), hr);
    return hr;
}

}  // namespace

HRESULT CopyMessageContents(IMessage* src, IMessage* dst) {
    if (src == nullptr || dst == nullptr) return MAPI_E_INVALID_PARAMETER;
    NamedPropertyMap names(src, dst);
    return CopyContents(src, dst, names, 0);
}

namespace {

// The words of the last failed copy on this thread, for the source folder
// that asks next: the copy runs inside that folder's CopyMessages, and
// its caller asks right after it returns.
struct CopyFailure {
    const IMAPIFolder* source = nullptr;
    HRESULT code = S_OK;
    std::string words;
};
thread_local CopyFailure lastCopyFailure;

}  // namespace

std::string CopyFailureText(IMAPIFolder* source, HRESULT hr) {
    std::string words = LastErrorText(source, hr);
    if (words.empty() && source != nullptr && lastCopyFailure.source == source &&
        lastCopyFailure.code == hr)
        words = lastCopyFailure.words;
    return words;
}

std::string LastErrorText(IMAPIProp* object, HRESULT hr) {
    if (object == nullptr) return {};
    LPMAPIERROR raw = nullptr;
    // Asked for 8-bit text, which is UTF-8 here.
    if (object->GetLastError(hr, 0, &raw) != S_OK) return {};
    MapiBuffer<MAPIERROR> error(raw);
    if (!error || error->lpszError == nullptr) return {};
    return error->lpszError;
}

HRESULT CopyMessagesBetweenFolders(IMAPIFolder* source, LPENTRYLIST list, IMAPIFolder* dest,
                                   ULONG flags, std::string* why) {
    if (why != nullptr) why->clear();
    lastCopyFailure = CopyFailure();
    if (source == nullptr || list == nullptr || dest == nullptr ||
        (list->cValues > 0 && list->lpbin == nullptr))
        return MAPI_E_INVALID_PARAMETER;
    ULONG failed = 0;
    HRESULT firstFailure = S_OK;
    std::string firstWords;
    std::vector<SBinary> copied;
    for (ULONG i = 0; i < list->cValues; ++i) {
        // A moved message stays the one item it was: it is not marked as a
        // copy of its former self.
        std::string words;
        HRESULT hr = CopyOne(source, list->lpbin[i], dest, (flags & MESSAGE_MOVE) == 0, &words);
        if (FAILED(hr)) {
            if (failed++ == 0) {
                firstFailure = hr;
                firstWords = std::move(words);
            }
        } else {
            copied.push_back(list->lpbin[i]);
        }
    }
    bool deleteFailed = false;
    if ((flags & MESSAGE_MOVE) && !copied.empty()) {
        ENTRYLIST moved = {static_cast<ULONG>(copied.size()), copied.data()};
        deleteFailed = FAILED(source->DeleteMessages(&moved, 0, nullptr, 0));
    }
    if (failed == 0) return deleteFailed ? MAPI_W_PARTIAL_COMPLETION : S_OK;
    const HRESULT result = copied.empty() ? firstFailure : MAPI_W_PARTIAL_COMPLETION;
    if (!firstWords.empty()) lastCopyFailure = {source, result, firstWords};
    if (why != nullptr) *why = std::move(firstWords);
    return result;
}

bool IsStoreInternalProperty(ULONG tag) {
    switch (PROP_ID(tag)) {
        case PROP_ID(PR_ENTRYID):
        case PROP_ID(PR_OBJECT_TYPE):
        case PROP_ID(PR_STORE_ENTRYID):
        case PROP_ID(PR_STORE_RECORD_KEY):
        case PROP_ID(PR_RECORD_KEY):
        case PROP_ID(PR_MAPPING_SIGNATURE):
        case PROP_ID(PR_ACCESS_LEVEL):
        case PROP_ID(PR_INSTANCE_KEY):
        case PROP_ID(PR_ROW_TYPE):
        case PROP_ID(PR_ACCESS):
        case PROP_ID(PR_PARENT_ENTRYID):
        case PROP_ID(PR_MESSAGE_SIZE):
        case PROP_ID(PR_SEARCH_KEY):
        case PROP_ID(PR_ROWID):
        case PROP_ID(PR_STORE_SUPPORT_MASK):
        case PROP_ID(PR_STORE_STATE):
        case PROP_ID(PR_MDB_PROVIDER):
        case 0x65E0:  // PR_SOURCE_KEY: replication identity in the source store
        case 0x65E1:  // PR_PARENT_SOURCE_KEY
        case 0x65E2:  // PR_CHANGE_KEY
        case 0x65E3:  // PR_PREDECESSOR_CHANGE_LIST
            return true;
        default:
            return false;
    }
}

}  // namespace mapi
