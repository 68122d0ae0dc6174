// Typed property access shared by every object wrapper, and the named
// property lookup.
#include "MapiPropPtr.h"

#include <mapiutil.h>

#include "MapiException.h"
#include "MapiPropValue.h"

namespace {

ULONG LookUpName(LPMAPIPROP prop, MAPINAMEID& name, ULONG type, ULONG flags) {
    if (!prop) throw CMAPIException(MAPI_E_INVALID_OBJECT, nullptr);
    LPMAPINAMEID names[1] = {&name};
    LPSPropTagArray raw = nullptr;
    const HRESULT hr = prop->GetIDsFromNames(1, names, flags, &raw);
    MapiBufferPtr<SPropTagArray> tags(raw);
    CheckHr(hr);
    // A store that cannot give the name an id (a read-only one asked to
    // create it, or any store asked without MAPI_CREATE) answers with a
    // warning and a PT_ERROR tag; adding the caller's type to that would
    // make a tag of some unrelated property.
    if (!tags || tags->cValues == 0 || PROP_TYPE(tags->aulPropTag[0]) == PT_ERROR)
        throw CMAPIException(MAPI_E_NOT_FOUND, "CGenMapiPropPtr::GetIDFromName");
    // The store answers with type 0; the caller's type completes the tag.
    return tags->aulPropTag[0] + type;
}

MAPINAMEID StringName(const GUID& propSet, LPCWSTR name) {
    MAPINAMEID id{};
    id.lpguid = const_cast<LPGUID>(&propSet);
    id.ulKind = MNID_STRING;
    id.Kind.lpwstrName = const_cast<LPWSTR>(name);
    return id;
}

}  // namespace

LPMAPIPROP CGenMapiPropPtr::RequireProp() const {
    LPMAPIPROP prop = _rawInterface();
    if (!prop) throw CMAPIException(MAPI_E_INVALID_OBJECT, nullptr);
    return prop;
}

HRESULT CGenMapiPropPtr::SetProp(LPSPropValue value) const {
    LPMAPIPROP prop = _rawInterface();
    if (!prop) return MAPI_E_INVALID_OBJECT;
    return HrSetOneProp(prop, value);
}

HRESULT CGenMapiPropPtr::GetProp(ULONG tag, MapiBufferPtr<SPropValue>& value) const {
    value.reset();
    LPMAPIPROP prop = _rawInterface();
    if (!prop) return MAPI_E_INVALID_OBJECT;
    LPSPropValue raw = nullptr;
    const HRESULT hr = HrGetOneProp(prop, tag, &raw);
    value.reset(raw);
    return hr;
}

HRESULT CGenMapiPropPtr::SaveChanges(ULONG flags) const {
    return CheckHr(RequireProp()->SaveChanges(flags));
}

LONG CGenMapiPropPtr::GetLongProp(ULONG tag) const {
    MapiBufferPtr<SPropValue> value;
    const HRESULT hr = GetProp(tag, value);
    if (FAILED(hr)) throw CMAPIException(hr, "CGenMapiPropPtr::GetLongProp");
    return value ? value->Value.l : 0;
}

std::string CGenMapiPropPtr::GetStringProp(ULONG tag) const {
    MapiBufferPtr<SPropValue> value;
    CheckHr(GetProp(tag, value));
    LPCSTR text = CMapiPropValue(value.get()).String8();
    return text ? text : "";
}

std::string CGenMapiPropPtr::GetStringPropOrEmpty(ULONG tag) const noexcept {
    try {
        if (PROP_TYPE(tag) != PT_STRING8) return {};
        MapiBufferPtr<SPropValue> value;
        if (FAILED(GetProp(tag, value))) return {};
        LPCSTR text = CMapiPropValue(value.get()).String8();
        return text ? text : "";
    } catch (...) {
        return {};
    }
}

CMapiBinary CGenMapiPropPtr::GetBinaryProp(ULONG tag) const {
    MapiBufferPtr<SPropValue> value;
    CheckHr(GetProp(tag, value));
    CMapiBinary bin;
    bin = CMapiPropValue(value.get());
    return bin;
}

void CGenMapiPropPtr::SetStringProp(ULONG tag, LPCSTR text) const {
    if (!text) return;
    SPropValue value{};
    value.ulPropTag = tag;
    value.Value.lpszA = const_cast<LPSTR>(text);
    CheckHr(SetProp(&value));
}

HRESULT CGenMapiPropPtr::SetBinaryProp(ULONG tag, const CMapiBinary& bin) const {
    SPropValue value{};
    value.ulPropTag = tag;
    value.Value.bin.cb = bin.Size();
    value.Value.bin.lpb = const_cast<LPBYTE>(bin.Bytes());
    return SetProp(&value);
}

ULONG CGenMapiPropPtr::GetIDFromName(const GUID& propSet, LPCWSTR name, ULONG type,
                                     ULONG flags) const {
    MAPINAMEID id = StringName(propSet, name);
    return LookUpName(_rawInterface(), id, type, flags);
}

ULONG CGenMapiPropPtr::GetIDFromName(const GUID& propSet, LONG numericId, ULONG type,
                                     ULONG flags) const {
    MAPINAMEID id{};
    id.lpguid = const_cast<LPGUID>(&propSet);
    id.ulKind = MNID_ID;
    id.Kind.lID = numericId;
    return LookUpName(_rawInterface(), id, type, flags);
}

ULONG GetIDFromName(LPMAPIPROP prop, const GUID& propSet, LPCWSTR name, ULONG type, ULONG flags) {
    MAPINAMEID id = StringName(propSet, name);
    return LookUpName(prop, id, type, flags);
}
