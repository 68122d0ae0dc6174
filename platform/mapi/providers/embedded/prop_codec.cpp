// Encoding and decoding of stored property values.
#include "prop_codec.h"

#include <cstring>

#include <mapix.h>

namespace mapi::embedded {
namespace {

// Width of one element of a fixed-width base type, or 0 for variable types.
size_t FixedWidth(ULONG baseType) {
    switch (baseType) {
        case PT_I2:
        case PT_BOOLEAN:
            return 2;
        case PT_LONG:
        case PT_R4:
            return 4;
        case PT_DOUBLE:
        case PT_CURRENCY:
        case PT_APPTIME:
        case PT_I8:
        case PT_SYSTIME:
            return 8;
        case PT_CLSID:
            return 16;
        default:
            return 0;
    }
}

bool IsVariable(ULONG baseType) {
    return baseType == PT_STRING8 || baseType == PT_UNICODE || baseType == PT_BINARY;
}

void PutU32(std::string& out, uint32_t v) {
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<char>((v >> (8 * i)) & 0xFF));
}

bool GetU32(std::string_view in, size_t* pos, uint32_t* v) {
    if (*pos > in.size() || in.size() - *pos < 4) return false;
    uint32_t r = 0;
    for (int i = 0; i < 4; ++i)
        r |= static_cast<uint32_t>(static_cast<unsigned char>(in[*pos + i])) << (8 * i);
    *pos += 4;
    *v = r;
    return true;
}

size_t Utf16Len(const WCHAR* s) {
    size_t n = 0;
    while (s[n] != 0) ++n;
    return n;
}

// The bytes of one variable element; false when its pointer is null.
bool VariableBytes(ULONG baseType, const void* element, std::string* out) {
    switch (baseType) {
        case PT_STRING8: {
            const char* s = *static_cast<const LPSTR*>(element);
            if (s == nullptr) return false;
            out->assign(s);
            return true;
        }
        case PT_UNICODE: {
            const WCHAR* s = *static_cast<const LPWSTR*>(element);
            if (s == nullptr) return false;
            out->assign(reinterpret_cast<const char*>(s), Utf16Len(s) * sizeof(WCHAR));
            return true;
        }
        default: {
            const auto* bin = static_cast<const SBinary*>(element);
            if (bin->lpb == nullptr && bin->cb != 0) return false;
            out->assign(reinterpret_cast<const char*>(bin->lpb), bin->cb);
            return true;
        }
    }
}

// Fills one variable element (string pointer or SBinary) from bytes.
HRESULT MakeVariable(ULONG baseType, const char* data, size_t size, void* parent, void* element) {
    if (size > 0x7FFFFFF0) return MAPI_E_CORRUPT_DATA;
    void* p = nullptr;
    switch (baseType) {
        case PT_STRING8:
            if (MAPIAllocateMore(static_cast<ULONG>(size + 1), parent, &p) != S_OK)
                return MAPI_E_NOT_ENOUGH_MEMORY;
            std::memcpy(p, data, size);
            static_cast<char*>(p)[size] = 0;
            *static_cast<LPSTR*>(element) = static_cast<char*>(p);
            return S_OK;
        case PT_UNICODE: {
            if (size % sizeof(WCHAR) != 0) return MAPI_E_CORRUPT_DATA;
            if (MAPIAllocateMore(static_cast<ULONG>(size + sizeof(WCHAR)), parent, &p) != S_OK)
                return MAPI_E_NOT_ENOUGH_MEMORY;
            std::memcpy(p, data, size);
            static_cast<WCHAR*>(p)[size / sizeof(WCHAR)] = 0;
            *static_cast<LPWSTR*>(element) = static_cast<WCHAR*>(p);
            return S_OK;
        }
        default: {
            auto* bin = static_cast<SBinary*>(element);
            if (MAPIAllocateMore(static_cast<ULONG>(size == 0 ? 1 : size), parent, &p) != S_OK)
                return MAPI_E_NOT_ENOUGH_MEMORY;
            std::memcpy(p, data, size);
            bin->cb = static_cast<ULONG>(size);
            bin->lpb = static_cast<LPBYTE>(p);
            return S_OK;
        }
    }
}

size_t ElementSize(ULONG baseType) {
    switch (baseType) {
        case PT_STRING8:
            return sizeof(LPSTR);
        case PT_UNICODE:
            return sizeof(LPWSTR);
        case PT_BINARY:
            return sizeof(SBinary);
        case PT_CLSID:
            return sizeof(GUID);
        default:
            return FixedWidth(baseType);
    }
}

}  // namespace

bool IsStorableType(ULONG type) {
    ULONG base = type & ~static_cast<ULONG>(MV_FLAG);
    if ((type & ~static_cast<ULONG>(MV_FLAG | 0xFFFF)) != 0) return false;
    if ((type & MV_FLAG) != 0 && base == PT_BOOLEAN) return false;
    return FixedWidth(base) != 0 || IsVariable(base);
}

HRESULT EncodeValue(const SPropValue& value, EncodedProp* out) {
    ULONG type = PROP_TYPE(value.ulPropTag) & ~static_cast<ULONG>(MV_INSTANCE);
    if (!IsStorableType(type)) return MAPI_E_INVALID_TYPE;
    ULONG base = type & ~static_cast<ULONG>(MV_FLAG);
    out->type = type;
    out->bytes.clear();
    if ((type & MV_FLAG) == 0) {
        if (base == PT_CLSID) {
            if (value.Value.lpguid == nullptr) return MAPI_E_INVALID_PARAMETER;
            out->bytes.assign(reinterpret_cast<const char*>(value.Value.lpguid), sizeof(GUID));
            return S_OK;
        }
        if (size_t w = FixedWidth(base); w != 0) {
            out->bytes.assign(reinterpret_cast<const char*>(&value.Value), w);
            return S_OK;
        }
        return VariableBytes(base, &value.Value, &out->bytes) ? S_OK : MAPI_E_INVALID_PARAMETER;
    }
    // Every multi-valued structure is a count followed by one array pointer.
    ULONG count = value.Value.MVl.cValues;
    const char* array = reinterpret_cast<const char*>(value.Value.MVl.lpl);
    if (count != 0 && array == nullptr) return MAPI_E_INVALID_PARAMETER;
    PutU32(out->bytes, count);
    size_t step = ElementSize(base);
    std::string element;
    for (ULONG i = 0; i < count; ++i) {
        const char* e = array + i * step;
        if (!IsVariable(base)) {
            out->bytes.append(e, step);
            continue;
        }
        if (!VariableBytes(base, e, &element)) return MAPI_E_INVALID_PARAMETER;
        PutU32(out->bytes, static_cast<uint32_t>(element.size()));
        out->bytes += element;
    }
    return S_OK;
}

HRESULT DecodeValue(ULONG propId, ULONG type, std::string_view bytes, void* parent,
                    SPropValue* out) {
    if (!IsStorableType(type)) return MAPI_E_CORRUPT_DATA;
    ULONG base = type & ~static_cast<ULONG>(MV_FLAG);
    std::memset(out, 0, sizeof(*out));
    out->ulPropTag = PROP_TAG(type, propId);
    if ((type & MV_FLAG) == 0) {
        if (base == PT_CLSID) {
            if (bytes.size() != sizeof(GUID)) return MAPI_E_CORRUPT_DATA;
            void* p = nullptr;
            if (MAPIAllocateMore(sizeof(GUID), parent, &p) != S_OK) return MAPI_E_NOT_ENOUGH_MEMORY;
            std::memcpy(p, bytes.data(), sizeof(GUID));
            out->Value.lpguid = static_cast<LPGUID>(p);
            return S_OK;
        }
        if (size_t w = FixedWidth(base); w != 0) {
            if (bytes.size() != w) return MAPI_E_CORRUPT_DATA;
            std::memcpy(&out->Value, bytes.data(), w);
            return S_OK;
        }
        return MakeVariable(base, bytes.data(), bytes.size(), parent, &out->Value);
    }
    size_t pos = 0;
    uint32_t count = 0;
    if (!GetU32(bytes, &pos, &count)) return MAPI_E_CORRUPT_DATA;
    size_t step = ElementSize(base);
    // Each element takes at least 4 bytes (length) or its width; a count that
    // cannot fit the bytes is damage, not a huge allocation.
    size_t minimum = IsVariable(base) ? 4 : FixedWidth(base);
    if (count > (bytes.size() - pos) / minimum) return MAPI_E_CORRUPT_DATA;
    void* array = nullptr;
    if (MAPIAllocateMore(static_cast<ULONG>(count == 0 ? 1 : count * step), parent, &array) != S_OK)
        return MAPI_E_NOT_ENOUGH_MEMORY;
    for (uint32_t i = 0; i < count; ++i) {
        char* e = static_cast<char*>(array) + i * step;
        if (!IsVariable(base)) {
            std::memcpy(e, bytes.data() + pos, step);
            pos += step;
            continue;
        }
        uint32_t len = 0;
        if (!GetU32(bytes, &pos, &len) || len > bytes.size() - pos) return MAPI_E_CORRUPT_DATA;
        HRESULT hr = MakeVariable(base, bytes.data() + pos, len, parent, e);
        if (FAILED(hr)) return hr;
        pos += len;
    }
    if (pos != bytes.size()) return MAPI_E_CORRUPT_DATA;
    out->Value.MVl.cValues = count;
    out->Value.MVl.lpl = static_cast<LONG*>(array);
    return S_OK;
}

HRESULT DecodeValue(ULONG propId, const EncodedProp& in, void* parent, SPropValue* out) {
    return DecodeValue(propId, in.type, in.bytes, parent, out);
}

ULONG MapiValueSize(const EncodedProp& value) {
    ULONG base = value.type & ~static_cast<ULONG>(MV_FLAG);
    auto variable = [base](size_t bytes) -> size_t {
        if (base == PT_STRING8) return bytes + 1;
        if (base == PT_UNICODE) return bytes + 2;
        return bytes;
    };
    if ((value.type & MV_FLAG) == 0)
        return static_cast<ULONG>(IsVariable(base) ? variable(value.bytes.size())
                                                   : value.bytes.size());
    size_t pos = 0;
    uint32_t count = 0;
    if (!GetU32(value.bytes, &pos, &count)) return 0;
    if (!IsVariable(base)) return static_cast<ULONG>(value.bytes.size() - 4);
    size_t total = 0;
    for (uint32_t i = 0; i < count; ++i) {
        uint32_t len = 0;
        if (!GetU32(value.bytes, &pos, &len) || len > value.bytes.size() - pos) break;
        total += variable(len);
        pos += len;
    }
    return static_cast<ULONG>(total);
}

}  // namespace mapi::embedded
