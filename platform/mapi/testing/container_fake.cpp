// The test container's name-to-identifier map.
#include "container_fake.h"

#include <cstdio>

#include <mapiguid.h>

namespace {

std::string GuidKey(const GUID* g) {
    if (g == nullptr) return "{null}";
    char text[48];
    std::snprintf(text, sizeof text, "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}",
                  static_cast<unsigned>(g->Data1), g->Data2, g->Data3, g->Data4[0], g->Data4[1],
                  g->Data4[2], g->Data4[3], g->Data4[4], g->Data4[5], g->Data4[6], g->Data4[7]);
    return text;
}

std::string NameKey(const MAPINAMEID& name) {
    if (name.ulKind == MNID_ID) {
        char id[16];
        std::snprintf(id, sizeof id, "0x%04X", static_cast<unsigned>(name.Kind.lID));
        return GuidKey(name.lpguid) + " id " + id;
    }
    std::string text;
    for (const WCHAR* p = name.Kind.lpwstrName; p != nullptr && *p != 0; ++p)
        text += *p < 0x80 ? static_cast<char>(*p) : '?';
    return GuidKey(name.lpguid) + " name " + text;
}

}  // namespace

HRESULT FakeContainer::QueryInterface(REFIID riid, void** ppv) {
    if (ppv == nullptr) return E_POINTER;
    if (riid == IID_IUnknown || riid == IID_IMAPIProp || riid == IID_IMAPIContainer) {
        *ppv = static_cast<IMAPIContainer*>(this);
        AddRef();
        return S_OK;
    }
    *ppv = nullptr;
    return E_NOINTERFACE;
}

HRESULT FakeContainer::GetIDsFromNames(ULONG cPropNames, LPMAPINAMEID* lppPropNames, ULONG ulFlags,
                                       LPSPropTagArray* lppPropTags) {
    if (failWith != S_OK) return failWith;
    void* block = nullptr;
    if (FAILED(MAPIAllocateBuffer(CbNewSPropTagArray(cPropNames), &block)))
        return MAPI_E_NOT_ENOUGH_MEMORY;
    auto* tags = static_cast<SPropTagArray*>(block);
    tags->cValues = cPropNames;
    for (ULONG i = 0; i < cPropNames; ++i) {
        const std::string key = NameKey(*lppPropNames[i]);
        requests.push_back(key);
        auto it = m_ids.find(key);
        if (it == m_ids.end() && (ulFlags & MAPI_CREATE)) {
            const ULONG id = 0x8000 + static_cast<ULONG>(m_ids.size());
            it = m_ids.emplace(key, id).first;
        }
        tags->aulPropTag[i] = it == m_ids.end() ? PROP_TAG(PT_ERROR, 0) : PROP_TAG(0, it->second);
    }
    *lppPropTags = tags;
    return S_OK;
}
