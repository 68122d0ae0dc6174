// Text conversion of a property value view.
#include "MapiPropValue.h"

#include "LocaleText.h"
#include "MapiBinary.h"

namespace {

void AppendUtf8(std::string& out, char32_t cp) {
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (cp >> 18));
        out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

// UTF-16 to this platform's 8-bit code page (UTF-8); unpaired surrogates
// become U+FFFD.
std::string Utf16ToUtf8(const WCHAR* text) {
    std::string out;
    if (!text) return out;
    for (const WCHAR* p = text; *p; ++p) {
        char32_t cp = *p;
        if (cp >= 0xD800 && cp <= 0xDBFF && p[1] >= 0xDC00 && p[1] <= 0xDFFF) {
            cp = 0x10000 + ((cp - 0xD800) << 10) + (p[1] - 0xDC00);
            ++p;
        } else if (cp >= 0xD800 && cp <= 0xDFFF) {
            cp = 0xFFFD;
        }
        AppendUtf8(out, cp);
    }
    return out;
}

template <class Item, class Format>
std::string Join(ULONG count, const Item* items, const char* separator, Format format) {
    std::string out;
    if (!items) return out;
    for (ULONG i = 0; i < count; ++i) {
        if (i) out += separator;
        out += format(items[i]);
    }
    return out;
}

uint64_t Ticks(const FILETIME& ft) {
    return (static_cast<uint64_t>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime;
}

}  // namespace

LPCSTR CMapiPropValue::String8() const {
    return Type() == PT_STRING8 ? m_value->Value.lpszA : nullptr;
}

std::string CMapiPropValue::ToString() const {
    if (!m_value) return {};
    const _PV& v = m_value->Value;
    switch (Type()) {
        case PT_STRING8:
            return v.lpszA ? v.lpszA : "";
        case PT_UNICODE:
            return Utf16ToUtf8(v.lpszW);
        case PT_I2:
            return std::to_string(static_cast<LONG>(v.i));
        case PT_LONG:
            return std::to_string(v.l);
        case PT_R4:
            return LocaleReal(v.flt, 7);
        case PT_DOUBLE:
            return LocaleReal(v.dbl, 15);
        case PT_CURRENCY:
            return LocaleCurrency(v.cur.int64);
        case PT_APPTIME:
            return LocaleAppTime(v.at);
        case PT_ERROR:
            return "NULL";
        case PT_BOOLEAN:
            return LocaleBool(v.b != 0);
        case PT_SYSTIME:
            return LocaleFileTime(Ticks(v.ft));
        case PT_BINARY:
            return BinaryToHex(v.bin.cb, v.bin.lpb);
        case PT_MV_LONG:
            return Join(v.MVl.cValues, v.MVl.lpl, "; ", [](LONG l) { return std::to_string(l); });
        case PT_MV_STRING8:
            return Join(v.MVszA.cValues, v.MVszA.lppszA, ";",
                        [](LPSTR s) { return std::string(s ? s : ""); });
        case PT_MV_BINARY:
            return Join(v.MVbin.cValues, v.MVbin.lpbin, ";",
                        [](const SBinary& b) { return BinaryToHex(b.cb, b.lpb); });
        default:
            return {};
    }
}
