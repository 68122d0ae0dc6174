// The sample store's named properties: their published set, id or name and type.
#include "sample_names.h"

#include <mapiguid.h>

#include "runtime/mapi_ptr.h"

namespace mapi::tools {
namespace {

struct NameFact {
    const GUID* set;
    LONG id;            // MNID_ID when name is null
    const WCHAR* name;  // MNID_STRING otherwise
    ULONG type;
};

// Ids from the published property set documentation.
const NameFact kFacts[kSampleNamedCount] = {
    {&PS_PUBLIC_STRINGS, 0, u"Keywords", PT_MV_STRING8},
    {&PSETID_Address, 0x8005, nullptr, PT_UNICODE},
    {&PSETID_Address, 0x8080, nullptr, PT_UNICODE},
    {&PSETID_Address, 0x8082, nullptr, PT_UNICODE},
    {&PSETID_Address, 0x8083, nullptr, PT_UNICODE},
    {&PSETID_Appointment, 0x8205, nullptr, PT_LONG},
    {&PSETID_Appointment, 0x8208, nullptr, PT_UNICODE},
    {&PSETID_Appointment, 0x820D, nullptr, PT_SYSTIME},
    {&PSETID_Appointment, 0x820E, nullptr, PT_SYSTIME},
    {&PSETID_Appointment, 0x8213, nullptr, PT_LONG},
    {&PSETID_Appointment, 0x8215, nullptr, PT_BOOLEAN},
    {&PSETID_Common, 0x8501, nullptr, PT_LONG},
    {&PSETID_Common, 0x8503, nullptr, PT_BOOLEAN},
    {&PSETID_Common, 0x8516, nullptr, PT_SYSTIME},
    {&PSETID_Common, 0x8517, nullptr, PT_SYSTIME},
};

}  // namespace

HRESULT SampleNamedTags::Resolve(IMAPIProp* store) {
    // GetIDsFromNames takes non-const pointers; hand it copies.
    std::array<GUID, kSampleNamedCount> sets;
    std::array<MAPINAMEID, kSampleNamedCount> names;
    std::array<LPMAPINAMEID, kSampleNamedCount> list;
    for (size_t i = 0; i < kSampleNamedCount; ++i) {
        sets[i] = *kFacts[i].set;
        names[i].lpguid = &sets[i];
        if (kFacts[i].name != nullptr) {
            names[i].ulKind = MNID_STRING;
            names[i].Kind.lpwstrName = const_cast<LPWSTR>(kFacts[i].name);
        } else {
            names[i].ulKind = MNID_ID;
            names[i].Kind.lID = kFacts[i].id;
        }
        list[i] = &names[i];
    }
    LPSPropTagArray rawTags = nullptr;
    HRESULT hr = store->GetIDsFromNames(kSampleNamedCount, list.data(), MAPI_CREATE, &rawTags);
    MapiBuffer<SPropTagArray> tags(rawTags);
    if (FAILED(hr)) return hr;
    // A warning means some name got no id; the generator needs them all.
    if (hr != S_OK || !tags || tags->cValues != kSampleNamedCount) return MAPI_E_CALL_FAILED;
    for (size_t i = 0; i < kSampleNamedCount; ++i) {
        ULONG id = PROP_ID(tags->aulPropTag[i]);
        if (id < 0x8000 || id == PROP_ID_INVALID) return MAPI_E_CALL_FAILED;
        tags_[i] = PROP_TAG(kFacts[i].type, id);
    }
    return S_OK;
}

}  // namespace mapi::tools
