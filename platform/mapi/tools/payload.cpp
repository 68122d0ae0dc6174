// Text forms of property values for the tools' output.
#include "payload.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "runtime/prop_convert.h"

namespace mapi::tools {
namespace {

const char kHex[] = "0123456789ABCDEF";

// Proleptic Gregorian date of a day count from 1970-01-01.
void CivilFromDays(int64_t days, int64_t* year, unsigned* month, unsigned* day) {
    days += 719468;
    const int64_t era = (days >= 0 ? days : days - 146096) / 146097;
    const unsigned doe = static_cast<unsigned>(days - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    *day = doy - (153 * mp + 2) / 5 + 1;
    *month = mp < 10 ? mp + 3 : mp - 9;
    *year = static_cast<int64_t>(yoe) + era * 400 + (*month <= 2 ? 1 : 0);
}

template <class Array, class Element>
std::string List(const Array& array, Element element) {
    std::string out = "[";
    for (ULONG i = 0; i < array.cValues; ++i) {
        if (i > 0) out += ", ";
        out += element(i);
    }
    return out + "]";
}

// The shortest decimal that reads back as the same value, so two dumps
// agree exactly when the values do; a NaN keeps its bits, which no decimal
// form carries.
template <class Real, class Bits>
std::string FormatReal(Real value) {
    if (std::isnan(value)) {
        Bits bits;
        std::memcpy(&bits, &value, sizeof bits);
        char text[32];
        std::snprintf(text, sizeof text, "nan:0x%0*llX", static_cast<int>(2 * sizeof bits),
                      static_cast<unsigned long long>(bits));
        return text;
    }
    char text[64];
    auto [end, ec] = std::to_chars(text, text + sizeof text, value);
    return ec == std::errc() ? std::string(text, end) : "?";
}

std::string FormatDouble(double value) {
    return FormatReal<double, uint64_t>(value);
}

std::string FormatFloat(float value) {
    return FormatReal<float, uint32_t>(value);
}

// Currency counts ten-thousandths: written with all four places.
std::string FormatCurrency(const CURRENCY& value) {
    const int64_t units = value.int64;
    const uint64_t magnitude =
        units < 0 ? 0 - static_cast<uint64_t>(units) : static_cast<uint64_t>(units);
    char text[32];
    std::snprintf(text, sizeof text, "%s%llu.%04llu", units < 0 ? "-" : "",
                  static_cast<unsigned long long>(magnitude / 10000),
                  static_cast<unsigned long long>(magnitude % 10000));
    return text;
}

}  // namespace

std::string FormatTag(ULONG tag) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08X", static_cast<unsigned>(tag));
    return text;
}

std::string QuoteText(std::string_view utf8) {
    std::string out = "\"";
    for (char c : utf8) {
        unsigned char b = static_cast<unsigned char>(c);
        if (b == '"' || b == '\\') {
            out += '\\';
            out += c;
        } else if (b < 0x20 || b > 0x7E) {
            out += "\\x";
            out += kHex[b >> 4];
            out += kHex[b & 15];
        } else {
            out += c;
        }
    }
    return out + "\"";
}

std::string EscapeControls(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        unsigned char b = static_cast<unsigned char>(c);
        if (b < 0x20 || b == 0x7F) {
            out += "\\x";
            out += kHex[b >> 4];
            out += kHex[b & 15];
        } else {
            out += c;
        }
    }
    return out;
}

std::string FormatFileTime(const FILETIME& time) {
    uint64_t ticks = (static_cast<uint64_t>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
    // Seconds from 1601-01-01, then days relative to 1970-01-01.
    int64_t seconds = static_cast<int64_t>(ticks / 10000000ULL);
    int64_t days = seconds / 86400 - 134774;
    int64_t secondOfDay = seconds % 86400;
    int64_t year;
    unsigned month, day;
    CivilFromDays(days, &year, &month, &day);
    char text[48];
    std::snprintf(
        text, sizeof text, "%04lld-%02u-%02uT%02lld:%02lld:%02lld", static_cast<long long>(year),
        month, day, static_cast<long long>(secondOfDay / 3600),
        static_cast<long long>(secondOfDay / 60 % 60), static_cast<long long>(secondOfDay % 60));
    return text;
}

std::string FormatGuid(const GUID& g) {
    char text[48];
    std::snprintf(text, sizeof text, "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}",
                  static_cast<unsigned>(g.Data1), g.Data2, g.Data3, g.Data4[0], g.Data4[1],
                  g.Data4[2], g.Data4[3], g.Data4[4], g.Data4[5], g.Data4[6], g.Data4[7]);
    return text;
}

std::string FormatBinary(const BYTE* data, ULONG size) {
    std::string out;
    out.reserve(2 + size * 2);
    out += '<';
    for (ULONG i = 0; i < size; ++i) {
        out += kHex[data[i] >> 4];
        out += kHex[data[i] & 15];
    }
    return out + '>';
}

std::string FormatPayload(const SPropValue& v) {
    const _PV& pv = v.Value;
    switch (PROP_TYPE(v.ulPropTag)) {
        case PT_I2:
            return std::to_string(pv.i);
        case PT_LONG:
            return std::to_string(pv.l);
        case PT_BOOLEAN:
            return std::to_string(pv.b);
        case PT_I8:
            return std::to_string(pv.li.QuadPart);
        case PT_R4:
            return FormatFloat(pv.flt);
        case PT_DOUBLE:
            return FormatDouble(pv.dbl);
        case PT_APPTIME:
            return FormatDouble(pv.at);
        case PT_CURRENCY:
            return FormatCurrency(pv.cur);
        case PT_ERROR:
            return FormatTag(static_cast<ULONG>(pv.err));
        case PT_STRING8:
            return QuoteText(pv.lpszA != nullptr ? pv.lpszA : "");
        case PT_UNICODE:
            return QuoteText(pv.lpszW != nullptr ? Utf16ToUtf8(pv.lpszW) : "");
        case PT_SYSTIME:
            return FormatFileTime(pv.ft);
        case PT_BINARY:
            return FormatBinary(pv.bin.lpb, pv.bin.cb);
        case PT_CLSID:
            return pv.lpguid != nullptr ? FormatGuid(*pv.lpguid) : "?";
        case PT_MV_I2:
            return List(pv.MVi, [&](ULONG i) { return std::to_string(pv.MVi.lpi[i]); });
        case PT_MV_LONG:
            return List(pv.MVl, [&](ULONG i) { return std::to_string(pv.MVl.lpl[i]); });
        case PT_MV_STRING8:
            return List(pv.MVszA, [&](ULONG i) { return QuoteText(pv.MVszA.lppszA[i]); });
        case PT_MV_UNICODE:
            return List(pv.MVszW,
                        [&](ULONG i) { return QuoteText(Utf16ToUtf8(pv.MVszW.lppszW[i])); });
        case PT_MV_I8:
            return List(pv.MVli, [&](ULONG i) { return std::to_string(pv.MVli.lpli[i].QuadPart); });
        case PT_MV_R4:
            return List(pv.MVflt, [&](ULONG i) { return FormatFloat(pv.MVflt.lpflt[i]); });
        case PT_MV_DOUBLE:
            return List(pv.MVdbl, [&](ULONG i) { return FormatDouble(pv.MVdbl.lpdbl[i]); });
        case PT_MV_APPTIME:
            return List(pv.MVat, [&](ULONG i) { return FormatDouble(pv.MVat.lpat[i]); });
        case PT_MV_CURRENCY:
            return List(pv.MVcur, [&](ULONG i) { return FormatCurrency(pv.MVcur.lpcur[i]); });
        case PT_MV_SYSTIME:
            return List(pv.MVft, [&](ULONG i) { return FormatFileTime(pv.MVft.lpft[i]); });
        case PT_MV_BINARY:
            return List(pv.MVbin, [&](ULONG i) {
                return FormatBinary(pv.MVbin.lpbin[i].lpb, pv.MVbin.lpbin[i].cb);
            });
        case PT_MV_CLSID:
            return List(pv.MVguid, [&](ULONG i) { return FormatGuid(pv.MVguid.lpguid[i]); });
        default:
            // Every multi-valued array starts with its count, so the shape
            // of an unprintable list still shows.
            if ((PROP_TYPE(v.ulPropTag) & MV_FLAG) != 0)
                return List(pv.MVl, [](ULONG) { return std::string("?"); });
            return "?";
    }
}

}  // namespace mapi::tools
