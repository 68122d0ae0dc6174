// Deep copies and type conversions of property values into MAPI chains.
#include "prop_convert.h"

#include <cstring>
#include <string_view>

#include <mapix.h>
#include <mapiutil.h>

#include "utf.h"

namespace mapi {

namespace {

// Allocates count elements of T chained to parent through allocMore.
template <class T>
HRESULT AllocArray(ALLOCATEMORE* allocMore, void* parent, size_t count, T** out) {
    *out = nullptr;
    if (count == 0) return S_OK;
    if (count > 0xFFFFFFFFu / sizeof(T)) return MAPI_E_NOT_ENOUGH_MEMORY;
    void* p = nullptr;
    HRESULT hr = allocMore(static_cast<ULONG>(count * sizeof(T)), parent, &p);
    if (hr != S_OK) return hr;
    *out = static_cast<T*>(p);
    return S_OK;
}

HRESULT CopyBytes(ALLOCATEMORE* allocMore, void* parent, const void* data, size_t size,
                  void** out) {
    *out = nullptr;
    if (size == 0) return S_OK;
    if (data == nullptr) return MAPI_E_INVALID_PARAMETER;
    if (size > 0xFFFFFFFFu) return MAPI_E_NOT_ENOUGH_MEMORY;
    HRESULT hr = allocMore(static_cast<ULONG>(size), parent, out);
    if (hr != S_OK) return hr;
    std::memcpy(*out, data, size);
    return S_OK;
}

// A null string is copied as an empty one: readers never meet a null text.
HRESULT CopyString8(ALLOCATEMORE* allocMore, void* parent, std::string_view text, LPSTR* out) {
    void* p = nullptr;
    HRESULT hr = allocMore(static_cast<ULONG>(text.size() + 1), parent, &p);
    if (hr != S_OK) return hr;
    if (!text.empty()) std::memcpy(p, text.data(), text.size());
    static_cast<char*>(p)[text.size()] = 0;
    *out = static_cast<LPSTR>(p);
    return S_OK;
}

HRESULT CopyString16(ALLOCATEMORE* allocMore, void* parent, std::u16string_view text, LPWSTR* out) {
    void* p = nullptr;
    HRESULT hr = allocMore(static_cast<ULONG>((text.size() + 1) * sizeof(WCHAR)), parent, &p);
    if (hr != S_OK) return hr;
    if (!text.empty()) std::memcpy(p, text.data(), text.size() * sizeof(WCHAR));
    static_cast<WCHAR*>(p)[text.size()] = 0;
    *out = static_cast<LPWSTR>(p);
    return S_OK;
}

std::string_view View8(LPCSTR s) {
    return s == nullptr ? std::string_view() : s;
}
std::u16string_view View16(LPCWSTR s) {
    return s == nullptr ? std::u16string_view() : std::u16string_view(s, Utf16Length(s));
}

// Copies a multi-valued array of fixed-size elements.
template <class Array, class T>
HRESULT CopyFixedArray(ALLOCATEMORE* allocMore, void* parent, const Array& src, Array* dst,
                       T* Array::*member) {
    dst->cValues = src.cValues;
    T* data = nullptr;
    if (src.cValues > 0 && src.*member == nullptr) return MAPI_E_INVALID_PARAMETER;
    HRESULT hr = AllocArray(allocMore, parent, src.cValues, &data);
    if (hr != S_OK) return hr;
    if (src.cValues > 0) std::memcpy(data, src.*member, src.cValues * sizeof(T));
    dst->*member = data;
    return S_OK;
}

HRESULT CopyInto(ALLOCATEMORE* allocMore, void* parent, const SPropValue& src, SPropValue* dst) {
    dst->ulPropTag = src.ulPropTag;
    dst->dwAlignPad = 0;
    dst->Value = src.Value;
    switch (PROP_TYPE(src.ulPropTag)) {
        case PT_UNSPECIFIED:
        case PT_NULL:
        case PT_I2:
        case PT_LONG:
        case PT_R4:
        case PT_DOUBLE:
        case PT_CURRENCY:
        case PT_APPTIME:
        case PT_ERROR:
        case PT_BOOLEAN:
        case PT_OBJECT:
        case PT_I8:
        case PT_SYSTIME:
            return S_OK;
        case PT_STRING8:
            return CopyString8(allocMore, parent, View8(src.Value.lpszA), &dst->Value.lpszA);
        case PT_UNICODE:
            return CopyString16(allocMore, parent, View16(src.Value.lpszW), &dst->Value.lpszW);
        case PT_BINARY: {
            void* p = nullptr;
            HRESULT hr = CopyBytes(allocMore, parent, src.Value.bin.lpb, src.Value.bin.cb, &p);
            dst->Value.bin.lpb = static_cast<LPBYTE>(p);
            return hr;
        }
        case PT_CLSID: {
            if (src.Value.lpguid == nullptr) return MAPI_E_INVALID_PARAMETER;
            void* p = nullptr;
            HRESULT hr = CopyBytes(allocMore, parent, src.Value.lpguid, sizeof(GUID), &p);
            dst->Value.lpguid = static_cast<LPGUID>(p);
            return hr;
        }
        case PT_MV_I2:
            return CopyFixedArray(allocMore, parent, src.Value.MVi, &dst->Value.MVi,
                                  &SShortArray::lpi);
        case PT_MV_LONG:
            return CopyFixedArray(allocMore, parent, src.Value.MVl, &dst->Value.MVl,
                                  &SLongArray::lpl);
        case PT_MV_R4:
            return CopyFixedArray(allocMore, parent, src.Value.MVflt, &dst->Value.MVflt,
                                  &SRealArray::lpflt);
        case PT_MV_DOUBLE:
            return CopyFixedArray(allocMore, parent, src.Value.MVdbl, &dst->Value.MVdbl,
                                  &SDoubleArray::lpdbl);
        case PT_MV_CURRENCY:
            return CopyFixedArray(allocMore, parent, src.Value.MVcur, &dst->Value.MVcur,
                                  &SCurrencyArray::lpcur);
        case PT_MV_APPTIME:
            return CopyFixedArray(allocMore, parent, src.Value.MVat, &dst->Value.MVat,
                                  &SAppTimeArray::lpat);
        case PT_MV_SYSTIME:
            return CopyFixedArray(allocMore, parent, src.Value.MVft, &dst->Value.MVft,
                                  &SDateTimeArray::lpft);
        case PT_MV_I8:
            return CopyFixedArray(allocMore, parent, src.Value.MVli, &dst->Value.MVli,
                                  &SLargeIntegerArray::lpli);
        case PT_MV_CLSID:
            return CopyFixedArray(allocMore, parent, src.Value.MVguid, &dst->Value.MVguid,
                                  &SGuidArray::lpguid);
        case PT_MV_STRING8: {
            const SLPSTRArray& a = src.Value.MVszA;
            if (a.cValues > 0 && a.lppszA == nullptr) return MAPI_E_INVALID_PARAMETER;
            HRESULT hr = AllocArray(allocMore, parent, a.cValues, &dst->Value.MVszA.lppszA);
            for (ULONG i = 0; hr == S_OK && i < a.cValues; ++i)
                hr =
                    CopyString8(allocMore, parent, View8(a.lppszA[i]), &dst->Value.MVszA.lppszA[i]);
            return hr;
        }
        case PT_MV_UNICODE: {
            const SWStringArray& a = src.Value.MVszW;
            if (a.cValues > 0 && a.lppszW == nullptr) return MAPI_E_INVALID_PARAMETER;
            HRESULT hr = AllocArray(allocMore, parent, a.cValues, &dst->Value.MVszW.lppszW);
            for (ULONG i = 0; hr == S_OK && i < a.cValues; ++i)
                hr = CopyString16(allocMore, parent, View16(a.lppszW[i]),
                                  &dst->Value.MVszW.lppszW[i]);
            return hr;
        }
        case PT_MV_BINARY: {
            const SBinaryArray& a = src.Value.MVbin;
            if (a.cValues > 0 && a.lpbin == nullptr) return MAPI_E_INVALID_PARAMETER;
            HRESULT hr = AllocArray(allocMore, parent, a.cValues, &dst->Value.MVbin.lpbin);
            for (ULONG i = 0; hr == S_OK && i < a.cValues; ++i) {
                void* p = nullptr;
                hr = CopyBytes(allocMore, parent, a.lpbin[i].lpb, a.lpbin[i].cb, &p);
                dst->Value.MVbin.lpbin[i].cb = a.lpbin[i].cb;
                dst->Value.MVbin.lpbin[i].lpb = static_cast<LPBYTE>(p);
            }
            return hr;
        }
        default:
            return MAPI_E_INVALID_TYPE;
    }
}

HRESULT ToUnicode(const SPropValue& native, void* parent, SPropValue* out) {
    out->ulPropTag = CHANGE_PROP_TYPE(native.ulPropTag, PT_UNICODE);
    return CopyString16(MAPIAllocateMore, parent,
                        Utf8ToUtf16(std::string(View8(native.Value.lpszA))), &out->Value.lpszW);
}

HRESULT ToString8(const SPropValue& native, void* parent, SPropValue* out) {
    out->ulPropTag = CHANGE_PROP_TYPE(native.ulPropTag, PT_STRING8);
    return CopyString8(MAPIAllocateMore, parent, Utf16ToUtf8(native.Value.lpszW),
                       &out->Value.lpszA);
}

HRESULT ToMvUnicode(const SPropValue& native, void* parent, SPropValue* out) {
    out->ulPropTag = CHANGE_PROP_TYPE(native.ulPropTag, PT_MV_UNICODE);
    const SLPSTRArray& a = native.Value.MVszA;
    if (a.cValues > 0 && a.lppszA == nullptr) return MAPI_E_INVALID_PARAMETER;
    out->Value.MVszW.cValues = a.cValues;
    HRESULT hr = AllocArray(MAPIAllocateMore, parent, a.cValues, &out->Value.MVszW.lppszW);
    for (ULONG i = 0; hr == S_OK && i < a.cValues; ++i)
        hr = CopyString16(MAPIAllocateMore, parent, Utf8ToUtf16(std::string(View8(a.lppszA[i]))),
                          &out->Value.MVszW.lppszW[i]);
    return hr;
}

HRESULT ToMvString8(const SPropValue& native, void* parent, SPropValue* out) {
    out->ulPropTag = CHANGE_PROP_TYPE(native.ulPropTag, PT_MV_STRING8);
    const SWStringArray& a = native.Value.MVszW;
    if (a.cValues > 0 && a.lppszW == nullptr) return MAPI_E_INVALID_PARAMETER;
    out->Value.MVszA.cValues = a.cValues;
    HRESULT hr = AllocArray(MAPIAllocateMore, parent, a.cValues, &out->Value.MVszA.lppszA);
    for (ULONG i = 0; hr == S_OK && i < a.cValues; ++i)
        hr = CopyString8(MAPIAllocateMore, parent, Utf16ToUtf8(a.lppszW[i]),
                         &out->Value.MVszA.lppszA[i]);
    return hr;
}

}  // namespace

HRESULT CopyValueWith(ALLOCATEMORE* allocMore, void* parent, const SPropValue& src,
                      SPropValue* out) {
    if (out == nullptr || allocMore == nullptr || parent == nullptr)
        return MAPI_E_INVALID_PARAMETER;
    HRESULT hr = CopyInto(allocMore, parent, src, out);
    // Whatever was allocated before a failure stays in the parent's chain
    // and goes with it; the value itself must not point into half a copy.
    if (hr != S_OK) *out = ErrorValue(src.ulPropTag, hr);
    return hr;
}

HRESULT ConvertValue(const SPropValue& native, ULONG wantedType, void* parent, SPropValue* out) {
    if (out == nullptr || parent == nullptr) return MAPI_E_INVALID_PARAMETER;
    const ULONG nativeType = PROP_TYPE(native.ulPropTag);
    wantedType &= ~MV_INSTANCE;
    HRESULT hr;
    if (wantedType == PT_UNSPECIFIED || wantedType == nativeType || nativeType == PT_ERROR) {
        return CopyValueWith(MAPIAllocateMore, parent, native, out);
    } else if (nativeType == PT_STRING8 && wantedType == PT_UNICODE) {
        hr = ToUnicode(native, parent, out);
    } else if (nativeType == PT_UNICODE && wantedType == PT_STRING8) {
        hr = ToString8(native, parent, out);
    } else if (nativeType == PT_MV_STRING8 && wantedType == PT_MV_UNICODE) {
        hr = ToMvUnicode(native, parent, out);
    } else if (nativeType == PT_MV_UNICODE && wantedType == PT_MV_STRING8) {
        hr = ToMvString8(native, parent, out);
    } else {
        hr = MAPI_E_INVALID_TYPE;
    }
    if (hr != S_OK) *out = ErrorValue(native.ulPropTag, hr);
    return hr;
}

SPropValue ErrorValue(ULONG tag, SCODE code) {
    SPropValue v{};
    v.ulPropTag = CHANGE_PROP_TYPE(tag, PT_ERROR);
    v.Value.err = code;
    return v;
}

}  // namespace mapi
