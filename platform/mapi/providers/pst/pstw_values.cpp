#include "providers/pst/pstw_values.h"

#include <bit>
#include <cstring>

#include <mapix.h>

#include "runtime/prop_convert.h"

namespace mapi::pst {
namespace {

static_assert(std::endian::native == std::endian::little,
              "values are copied as the file stores them, little-endian");

using fmt::Bytes;

void AppendRaw(Bytes& b, const void* p, size_t n) {
    const auto* c = static_cast<const uint8_t*>(p);
    b.insert(b.end(), c, c + n);
}

size_t ElementWidth(ULONG base) {
    switch (base) {
        case PT_I2: return 2;
        case PT_LONG:
        case PT_R4: return 4;
        case PT_DOUBLE:
        case PT_CURRENCY:
        case PT_APPTIME:
        case PT_SYSTIME:
        case PT_I8: return 8;
        case PT_CLSID: return 16;
        default: return 0;
    }
}

// The array pointer and count of a fixed-width multi-valued value.
const void* FixedArray(const SPropValue& v, ULONG* count) {
    *count = v.Value.MVl.cValues;  // every SxxxArray starts with cValues
    switch (PROP_TYPE(v.ulPropTag) & ~MV_FLAG) {
        case PT_I2: return v.Value.MVi.lpi;
        case PT_LONG: return v.Value.MVl.lpl;
        case PT_R4: return v.Value.MVflt.lpflt;
        case PT_DOUBLE: return v.Value.MVdbl.lpdbl;
        case PT_CURRENCY: return v.Value.MVcur.lpcur;
        case PT_APPTIME: return v.Value.MVat.lpat;
        case PT_SYSTIME: return v.Value.MVft.lpft;
        case PT_I8: return v.Value.MVli.lpli;
        case PT_CLSID: return v.Value.MVguid.lpguid;
        default: return nullptr;
    }
}

Bytes Utf16Bytes(const WCHAR* s) {
    Bytes b;
    for (; *s != 0; ++s) {
        b.push_back(static_cast<uint8_t>(*s));
        b.push_back(static_cast<uint8_t>(*s >> 8));
    }
    return b;
}

bool IsAscii(const char* s) {
    for (; *s != 0; ++s)
        if (static_cast<unsigned char>(*s) >= 0x80) return false;
    return true;
}

void* More(void* parent, size_t n) {
    void* p = nullptr;
    if (MAPIAllocateMore(static_cast<ULONG>(n == 0 ? 1 : n), parent, &p) != S_OK) return nullptr;
    return p;
}

}  // namespace

HRESULT EncodeValue(const SPropValue& v, fmt::PropValue* out) {
    ULONG type = PROP_TYPE(v.ulPropTag);
    out->tag = v.ulPropTag;
    Bytes& b = out->bytes;
    b.clear();
    switch (type) {
        case PT_I2: AppendRaw(b, &v.Value.i, 2); return S_OK;
        case PT_LONG: AppendRaw(b, &v.Value.l, 4); return S_OK;
        case PT_R4: AppendRaw(b, &v.Value.flt, 4); return S_OK;
        case PT_DOUBLE: AppendRaw(b, &v.Value.dbl, 8); return S_OK;
        case PT_CURRENCY: AppendRaw(b, &v.Value.cur, 8); return S_OK;
        case PT_APPTIME: AppendRaw(b, &v.Value.at, 8); return S_OK;
        case PT_SYSTIME: AppendRaw(b, &v.Value.ft, 8); return S_OK;
        case PT_I8: AppendRaw(b, &v.Value.li, 8); return S_OK;
        case PT_BOOLEAN: b.push_back(v.Value.b != 0 ? 1 : 0); return S_OK;
        case PT_CLSID:
            if (v.Value.lpguid == nullptr) return MAPI_E_INVALID_PARAMETER;
            AppendRaw(b, v.Value.lpguid, 16);
            return S_OK;
        case PT_STRING8:
            if (v.Value.lpszA == nullptr) return MAPI_E_INVALID_PARAMETER;
            if (!IsAscii(v.Value.lpszA)) {
                // Readers decode 8-bit strings with the file's code page, not
                // UTF-8: text beyond ASCII is kept as a Unicode string.
                out->tag = CHANGE_PROP_TYPE(v.ulPropTag, PT_UNICODE);
                b = Utf16Bytes(Utf8ToUtf16(v.Value.lpszA).c_str());
                return S_OK;
            }
            AppendRaw(b, v.Value.lpszA, std::strlen(v.Value.lpszA));
            return S_OK;
        case PT_UNICODE:
            if (v.Value.lpszW == nullptr) return MAPI_E_INVALID_PARAMETER;
            b = Utf16Bytes(v.Value.lpszW);
            return S_OK;
        case PT_BINARY:
            if (v.Value.bin.cb > 0 && v.Value.bin.lpb == nullptr) return MAPI_E_INVALID_PARAMETER;
            AppendRaw(b, v.Value.bin.lpb, v.Value.bin.cb);
            return S_OK;
        default: break;
    }
    if ((type & MV_FLAG) == 0) return MAPI_E_INVALID_TYPE;
    ULONG base = type & ~MV_FLAG;
    if (size_t w = ElementWidth(base); w != 0) {
        ULONG count = 0;
        const void* items = FixedArray(v, &count);
        if (count > 0 && items == nullptr) return MAPI_E_INVALID_PARAMETER;
        AppendRaw(b, items, w * count);
        return S_OK;
    }
    if (base != PT_STRING8 && base != PT_UNICODE && base != PT_BINARY) return MAPI_E_INVALID_TYPE;
    ULONG count = v.Value.MVbin.cValues;
    std::vector<Bytes> items;
    bool wide = false;
    for (ULONG i = 0; i < count; ++i) {
        if (base == PT_BINARY) {
            const SBinary* bins = v.Value.MVbin.lpbin;
            if (bins == nullptr || (bins[i].cb > 0 && bins[i].lpb == nullptr)) return MAPI_E_INVALID_PARAMETER;
            items.emplace_back(bins[i].lpb, bins[i].lpb + bins[i].cb);
        } else if (base == PT_STRING8) {
            if (v.Value.MVszA.lppszA == nullptr || v.Value.MVszA.lppszA[i] == nullptr)
                return MAPI_E_INVALID_PARAMETER;
            const char* s = v.Value.MVszA.lppszA[i];
            items.emplace_back(s, s + std::strlen(s));
            wide = wide || !IsAscii(s);
        } else {
            if (v.Value.MVszW.lppszW == nullptr || v.Value.MVszW.lppszW[i] == nullptr)
                return MAPI_E_INVALID_PARAMETER;
            items.push_back(Utf16Bytes(v.Value.MVszW.lppszW[i]));
        }
    }
    if (wide) {
        // As for single values: 8-bit text beyond ASCII goes in as Unicode.
        out->tag = CHANGE_PROP_TYPE(v.ulPropTag, PT_MV_UNICODE);
        for (Bytes& item : items)
            item = Utf16Bytes(Utf8ToUtf16(std::string(item.begin(), item.end())).c_str());
    }
    fmt::Append32(b, count);
    uint32_t offset = 4 + 4 * count;
    for (const Bytes& item : items) {
        fmt::Append32(b, offset);
        offset += static_cast<uint32_t>(item.size());
    }
    for (const Bytes& item : items) b.insert(b.end(), item.begin(), item.end());
    return S_OK;
}

HRESULT DecodeValue(const fmt::PropValue& v, void* parent, SPropValue* out) {
    ULONG type = PROP_TYPE(v.tag);
    const Bytes& b = v.bytes;
    out->ulPropTag = v.tag;
    out->dwAlignPad = 0;
    auto need = [&](size_t n) { return b.size() == n; };
    switch (type) {
        case PT_I2: if (!need(2)) break; std::memcpy(&out->Value.i, b.data(), 2); return S_OK;
        case PT_LONG: if (!need(4)) break; std::memcpy(&out->Value.l, b.data(), 4); return S_OK;
        case PT_R4: if (!need(4)) break; std::memcpy(&out->Value.flt, b.data(), 4); return S_OK;
        case PT_DOUBLE: if (!need(8)) break; std::memcpy(&out->Value.dbl, b.data(), 8); return S_OK;
        case PT_CURRENCY: if (!need(8)) break; std::memcpy(&out->Value.cur, b.data(), 8); return S_OK;
        case PT_APPTIME: if (!need(8)) break; std::memcpy(&out->Value.at, b.data(), 8); return S_OK;
        case PT_SYSTIME: if (!need(8)) break; std::memcpy(&out->Value.ft, b.data(), 8); return S_OK;
        case PT_I8: if (!need(8)) break; std::memcpy(&out->Value.li, b.data(), 8); return S_OK;
        case PT_BOOLEAN: if (b.empty()) break; out->Value.b = b[0] != 0; return S_OK;
        case PT_CLSID: {
            if (!need(16)) break;
            void* p = More(parent, 16);
            if (p == nullptr) return MAPI_E_NOT_ENOUGH_MEMORY;
            std::memcpy(p, b.data(), 16);
            out->Value.lpguid = static_cast<GUID*>(p);
            return S_OK;
        }
        case PT_STRING8: {
            auto* p = static_cast<char*>(More(parent, b.size() + 1));
            if (p == nullptr) return MAPI_E_NOT_ENOUGH_MEMORY;
            if (!b.empty()) std::memcpy(p, b.data(), b.size());
            p[b.size()] = 0;
            out->Value.lpszA = p;
            return S_OK;
        }
        case PT_UNICODE: {
            if (b.size() % 2 != 0) break;
            auto* p = static_cast<WCHAR*>(More(parent, b.size() + 2));
            if (p == nullptr) return MAPI_E_NOT_ENOUGH_MEMORY;
            for (size_t i = 0; i < b.size() / 2; ++i) p[i] = static_cast<WCHAR>(fmt::Get16(b.data() + 2 * i));
            p[b.size() / 2] = 0;
            out->Value.lpszW = p;
            return S_OK;
        }
        case PT_BINARY: {
            auto* p = static_cast<BYTE*>(More(parent, b.size()));
            if (p == nullptr) return MAPI_E_NOT_ENOUGH_MEMORY;
            if (!b.empty()) std::memcpy(p, b.data(), b.size());
            out->Value.bin.cb = static_cast<ULONG>(b.size());
            out->Value.bin.lpb = p;
            return S_OK;
        }
        default: {
            if ((type & MV_FLAG) == 0) return MAPI_E_INVALID_TYPE;
            ULONG base = type & ~MV_FLAG;
            if (size_t w = ElementWidth(base); w != 0) {
                if (b.size() % w != 0) break;
                void* p = More(parent, b.size());
                if (p == nullptr) return MAPI_E_NOT_ENOUGH_MEMORY;
                if (!b.empty()) std::memcpy(p, b.data(), b.size());
                out->Value.MVl.cValues = static_cast<ULONG>(b.size() / w);
                out->Value.MVl.lpl = static_cast<LONG*>(p);  // same layout for every array
                return S_OK;
            }
            if (base != PT_STRING8 && base != PT_UNICODE && base != PT_BINARY) return MAPI_E_INVALID_TYPE;
            if (b.size() < 4) break;
            uint32_t count = fmt::Get32(b.data());
            if (count > (b.size() - 4) / 4) break;
            std::vector<std::pair<size_t, size_t>> spans;
            for (uint32_t i = 0; i < count; ++i) {
                size_t from = fmt::Get32(b.data() + 4 + 4 * i);
                size_t to = i + 1 < count ? fmt::Get32(b.data() + 8 + 4 * i) : b.size();
                if (from > to || to > b.size()) return MAPI_E_CORRUPT_DATA;
                spans.emplace_back(from, to);
            }
            void* array = More(parent, sizeof(void*) * (count + 1) + sizeof(SBinary) * count);
            if (array == nullptr) return MAPI_E_NOT_ENOUGH_MEMORY;
            out->Value.MVbin.cValues = count;
            for (uint32_t i = 0; i < count; ++i) {
                fmt::PropValue one{PROP_TAG(base, 0), Bytes(b.begin() + static_cast<long>(spans[i].first),
                                                             b.begin() + static_cast<long>(spans[i].second))};
                SPropValue single{};
                HRESULT hr = DecodeValue(one, parent, &single);
                if (FAILED(hr)) return hr;
                if (base == PT_BINARY) static_cast<SBinary*>(array)[i] = single.Value.bin;
                else if (base == PT_STRING8) static_cast<LPSTR*>(array)[i] = single.Value.lpszA;
                else static_cast<LPWSTR*>(array)[i] = single.Value.lpszW;
            }
            if (base == PT_BINARY) out->Value.MVbin.lpbin = static_cast<SBinary*>(array);
            else if (base == PT_STRING8) out->Value.MVszA.lppszA = static_cast<LPSTR*>(array);
            else out->Value.MVszW.lppszW = static_cast<LPWSTR*>(array);
            return S_OK;
        }
    }
    return MAPI_E_CORRUPT_DATA;
}

}  // namespace mapi::pst
