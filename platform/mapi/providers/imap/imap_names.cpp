// Modified UTF-7 and the escaping of folder names in mailbox names.
#include "providers/imap/imap_names.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>

#include "runtime/utf.h"

namespace mapi::imap {

namespace {

// The base64 alphabet of modified UTF-7 uses ',' where base64 has '/'.
constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+,";

int Sextet(char c) {
    if (c >= 'A' && c <= 'Z') return c - 'A';
    if (c >= 'a' && c <= 'z') return c - 'a' + 26;
    if (c >= '0' && c <= '9') return c - '0' + 52;
    if (c == '+') return 62;
    if (c == ',') return 63;
    return -1;
}

void FlushShifted(std::string& out, const std::u16string& units) {
    if (units.empty()) return;
    out.push_back('&');
    uint32_t bits = 0;
    int count = 0;
    for (char16_t u : units) {
        bits = (bits << 16) | u;
        count += 16;
        while (count >= 6) {
            count -= 6;
            out.push_back(kAlphabet[(bits >> count) & 63]);
        }
    }
    if (count > 0) out.push_back(kAlphabet[(bits << (6 - count)) & 63]);
    out.push_back('-');
}

char HexDigit(int v) {
    return "0123456789ABCDEF"[v & 15];
}

int HexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

}  // namespace

std::string EncodeMailboxName(std::string_view utf8) {
    std::string out;
    std::u16string shifted;
    for (char32_t cp : CodePointsFromUtf8(utf8)) {
        if (cp >= 0x20 && cp <= 0x7E) {
            FlushShifted(out, shifted);
            shifted.clear();
            out += cp == '&' ? "&-" : std::string(1, static_cast<char>(cp));
        } else {
            AppendUtf16(shifted, cp);
        }
    }
    FlushShifted(out, shifted);
    return out;
}

std::optional<std::string> DecodeMailboxName(std::string_view text) {
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c < 0x20 || c > 0x7E) return std::nullopt;
        if (c != '&') {
            out.push_back(c);
            continue;
        }
        const size_t end = text.find('-', i + 1);
        if (end == std::string_view::npos) return std::nullopt;
        if (end == i + 1) {
            out.push_back('&');
            i = end;
            continue;
        }
        std::u16string units;
        uint32_t bits = 0;
        int count = 0;
        for (size_t k = i + 1; k < end; ++k) {
            const int v = Sextet(text[k]);
            if (v < 0) return std::nullopt;
            bits = (bits << 6) | static_cast<uint32_t>(v);
            count += 6;
            if (count >= 16) {
                count -= 16;
                units.push_back(static_cast<char16_t>((bits >> count) & 0xFFFF));
            }
        }
        // Leftover bits must be padding zeros, fewer than a sextet's worth.
        if (count >= 6 || (bits & ((1u << count) - 1)) != 0) return std::nullopt;
        for (char32_t cp : CodePointsFromUtf16(units)) AppendUtf8(out, cp);
        i = end;
    }
    return out;
}

std::string EscapeLevel(std::string_view name, char delimiter, bool strict) {
    std::string out;
    for (size_t i = 0; i < name.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(name[i]);
        const bool escape = c < 0x20 || c == 0x7F || c == '%' || c == '*' ||
                            (delimiter != 0 && c == static_cast<unsigned char>(delimiter)) ||
                            (strict && (c == '.' || (i == 0 && c == '~')));
        if (escape) {
            out.push_back('%');
            out.push_back(HexDigit(c >> 4));
            out.push_back(HexDigit(c));
        } else {
            out.push_back(static_cast<char>(c));
        }
    }
    return out;
}

std::string UnescapeLevel(std::string_view level) {
    std::string out;
    for (size_t i = 0; i < level.size(); ++i) {
        if (level[i] == '%' && i + 2 < level.size()) {
            const int hi = HexValue(level[i + 1]), lo = HexValue(level[i + 2]);
            if (hi >= 0 && lo >= 0) {
                out.push_back(static_cast<char>(hi * 16 + lo));
                i += 2;
                continue;
            }
        }
        out.push_back(level[i]);
    }
    return out;
}

std::string EscapeServerText(std::string_view text, size_t maxBytes) {
    std::string out;
    const size_t keep = std::min(text.size(), maxBytes);
    out.reserve(keep + 8);
    for (size_t i = 0; i < keep; ++i) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        if (c < 0x20 || c == 0x7F) {
            char hex[5];
            std::snprintf(hex, sizeof hex, "\\x%02X", c);
            out += hex;
        } else {
            out += static_cast<char>(c);
        }
    }
    if (keep < text.size()) out += "...";
    return out;
}

}  // namespace mapi::imap
