// Provenance of copied messages: the named properties and their stamping.
#include "provenance.h"

#include <vector>

#include <mapiutil.h>

#include "mapi_ptr.h"

namespace mapi {

const GUID PS_QUIRNEL = {0xf3c4d0d7, 0xb05b, 0x4214, {0xa8, 0x17, 0xa8, 0x19, 0x21, 0x2e, 0xa8, 0x42}};

namespace {

// An entry id starts with four flag bytes, then the 16-byte MAPIUID.
constexpr ULONG kUidOffset = 4;
constexpr ULONG kUidSize = 16;

ULONG TagOf(ULONG returned, ULONG type) {
    if (PROP_TYPE(returned) == PT_ERROR || PROP_ID(returned) < 0x8000 ||
        PROP_ID(returned) == PROP_ID_INVALID)
        return PR_NULL;
    return PROP_TAG(type, PROP_ID(returned));
}

}  // namespace

HRESULT GetProvenanceTags(IMAPIProp* object, bool create, ProvenanceTags* tags) {
    if (object == nullptr || tags == nullptr) return MAPI_E_INVALID_PARAMETER;
    *tags = ProvenanceTags();
    GUID guid = PS_QUIRNEL;
    const char16_t* names[] = {kSourceStoreName, kSourceEntryIdName, kSourceModifiedName};
    MAPINAMEID ids[3];
    LPMAPINAMEID pointers[3];
    for (int i = 0; i < 3; ++i) {
        ids[i].lpguid = &guid;
        ids[i].ulKind = MNID_STRING;
        ids[i].Kind.lpwstrName = const_cast<LPWSTR>(names[i]);
        pointers[i] = &ids[i];
    }
    LPSPropTagArray raw = nullptr;
    HRESULT hr = object->GetIDsFromNames(3, pointers, create ? MAPI_CREATE : 0, &raw);
    MapiBuffer<SPropTagArray> found(raw);
    // Without create, a store that knows none of the names may say so as a
    // whole: nothing was ever stamped there.
    if (!create && (hr == MAPI_E_NOT_FOUND || hr == MAPI_E_NO_SUPPORT)) return S_OK;
    if (FAILED(hr)) return hr;
    if (!found || found->cValues != 3) return create ? MAPI_E_CALL_FAILED : S_OK;
    tags->sourceStore = TagOf(found->aulPropTag[0], PT_BINARY);
    tags->sourceEntryId = TagOf(found->aulPropTag[1], PT_BINARY);
    tags->sourceModified = TagOf(found->aulPropTag[2], PT_SYSTIME);
    if (create && !tags->Known()) return MAPI_E_CALL_FAILED;
    return S_OK;
}

std::string StoreIdentityOf(const BYTE* entryId, ULONG size) {
    if (entryId == nullptr || size < kUidOffset + kUidSize) return std::string();
    return std::string(reinterpret_cast<const char*>(entryId) + kUidOffset, kUidSize);
}

HRESULT StampProvenance(IMessage* src, const SBinary& sourceId, IMessage* dst) {
    if (src == nullptr || dst == nullptr) return MAPI_E_INVALID_PARAMETER;
    // The id the message was opened by is the one a later run lists in the
    // source's contents table, so it is the one recorded.
    std::string identity = StoreIdentityOf(sourceId.lpb, sourceId.cb);
    if (identity.empty()) return MAPI_E_INVALID_ENTRYID;
    LPSPropValue rawModified = nullptr;
    HRESULT hr = HrGetOneProp(src, PR_LAST_MODIFICATION_TIME, &rawModified);
    MapiBuffer<SPropValue> modifiedValue(rawModified);
    if (FAILED(hr) && hr != MAPI_E_NOT_FOUND) return hr;

    ProvenanceTags tags;
    hr = GetProvenanceTags(dst, true, &tags);
    if (FAILED(hr)) return hr;
    std::vector<SPropValue> out(2);
    out[0].ulPropTag = tags.sourceStore;
    out[0].Value.bin.cb = static_cast<ULONG>(identity.size());
    out[0].Value.bin.lpb = reinterpret_cast<LPBYTE>(identity.data());
    out[1].ulPropTag = tags.sourceEntryId;
    out[1].Value.bin = sourceId;
    if (modifiedValue && modifiedValue->ulPropTag == PR_LAST_MODIFICATION_TIME) {
        SPropValue modified;
        modified.ulPropTag = tags.sourceModified;
        modified.Value.ft = modifiedValue->Value.ft;
        out.push_back(modified);
    }
    LPSPropProblemArray rawProblems = nullptr;
    hr = dst->SetProps(static_cast<ULONG>(out.size()), out.data(), &rawProblems);
    MapiBuffer<SPropProblemArray> problems(rawProblems);
    if (FAILED(hr)) return hr;
    if (problems && problems->cProblem > 0) return problems->aProblem[0].scode;
    if (out.size() == 2) {
        // A source that is itself a copy brought its own source's time
        // along; without a time of its own, none is recorded.
        SizedSPropTagArray(1, stale) = {1, {tags.sourceModified}};
        LPSPropProblemArray rawDeleteProblems = nullptr;
        hr = dst->DeleteProps(reinterpret_cast<LPSPropTagArray>(&stale), &rawDeleteProblems);
        MapiBuffer<SPropProblemArray> deleteProblems(rawDeleteProblems);
        if (FAILED(hr)) return hr;
    }
    return S_OK;
}

}  // namespace mapi
