// Code page decoding through glibc's iconv.
#include "providers/pst/pst_codepage.h"

#include <cerrno>
#include <iconv.h>

namespace mapi::pst {
namespace {

constexpr char kReplacement[] = "\xEF\xBF\xBD";  // U+FFFD in UTF-8

class Converter {
public:
    explicit Converter(const std::string& from) : cd_(iconv_open("UTF-8", from.c_str())) {}
    Converter(const Converter&) = delete;
    Converter& operator=(const Converter&) = delete;
    ~Converter() {
        if (ok()) iconv_close(cd_);
    }
    bool ok() const { return cd_ != reinterpret_cast<iconv_t>(-1); }

    std::string Run(const uint8_t* text, size_t size) {
        std::string out;
        char* in = reinterpret_cast<char*>(const_cast<uint8_t*>(text));
        size_t inLeft = size;
        char buffer[1024];
        while (inLeft > 0) {
            char* dst = buffer;
            size_t dstLeft = sizeof buffer;
            size_t r = iconv(cd_, &in, &inLeft, &dst, &dstLeft);
            out.append(buffer, dst - buffer);
            if (r != static_cast<size_t>(-1)) continue;
            if (errno == E2BIG) continue;
            // An unmappable byte or a sequence cut off at the end: mark it and
            // resume after one byte, as a reader of damaged text expects.
            out += kReplacement;
            ++in;
            --inLeft;
            iconv(cd_, nullptr, nullptr, nullptr, nullptr);
        }
        char* dst = buffer;
        size_t dstLeft = sizeof buffer;
        iconv(cd_, nullptr, nullptr, &dst, &dstLeft);
        out.append(buffer, dst - buffer);
        return out;
    }

private:
    iconv_t cd_;
};

}  // namespace

std::string IconvName(uint32_t codepage) {
    switch (codepage) {
        case 65001:
            return "UTF-8";
        case 1200:
            return "UTF-16LE";
        case 1201:
            return "UTF-16BE";
        case 20127:
            return "ASCII";
        case 20866:
            return "KOI8-R";
        case 21866:
            return "KOI8-U";
        case 50220:
        case 50221:
        case 50222:
            return "ISO-2022-JP";
        case 51932:
            return "EUC-JP";
        case 51949:
            return "EUC-KR";
        case 52936:
            return "HZ";
        case 54936:
            return "GB18030";
        case 10000:
            return "MACINTOSH";
        default:
            break;
    }
    if (codepage >= 28591 && codepage <= 28606)
        return "ISO-8859-" + std::to_string(codepage - 28590);
    return "CP" + std::to_string(codepage);
}

std::string DecodeCodepage(const uint8_t* text, size_t size, uint32_t codepage) {
    bool ascii = true;
    for (size_t i = 0; i < size && ascii; ++i) ascii = text[i] < 0x80;
    if (ascii || codepage == 65001) return std::string(reinterpret_cast<const char*>(text), size);

    Converter converter(IconvName(codepage));
    if (converter.ok()) return converter.Run(text, size);
    // A code page iconv does not know: the file's text is most likely
    // Western, and a readable approximation beats losing the value.
    Converter fallback(IconvName(kDefaultCodepage));
    if (fallback.ok()) return fallback.Run(text, size);
    std::string out;
    for (size_t i = 0; i < size; ++i) out += text[i] < 0x80 ? static_cast<char>(text[i]) : '?';
    return out;
}

}  // namespace mapi::pst
