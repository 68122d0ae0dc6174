// CMapiBinary and the hexadecimal text form of byte blocks.
#include "MapiBinary.h"

#include <cstring>

#include "MapiPropValue.h"

CMapiBinary::CMapiBinary(ULONG cb, const BYTE* pb) {
    Assign(cb, pb);
}

CMapiBinary::CMapiBinary(const CMapiBinary& other) {
    Assign(other.m_cb, other.m_pb.get());
}

CMapiBinary::CMapiBinary(CMapiBinary&& other) noexcept
    : m_cb(other.m_cb), m_pb(std::move(other.m_pb)) {
    other.m_cb = 0;
}

CMapiBinary& CMapiBinary::operator=(const CMapiBinary& other) {
    if (this != &other) Assign(other.m_cb, other.m_pb.get());
    return *this;
}

CMapiBinary& CMapiBinary::operator=(CMapiBinary&& other) noexcept {
    if (this != &other) {
        m_pb = std::move(other.m_pb);
        m_cb = other.m_cb;
        other.m_cb = 0;
    }
    return *this;
}

void CMapiBinary::Assign(ULONG cb, const BYTE* pb) {
    if (!pb) {
        Clear();
        return;
    }
    // Built aside first so that a failing allocation leaves this block as it was.
    std::unique_ptr<BYTE[]> copy(new BYTE[cb]);
    if (cb) std::memcpy(copy.get(), pb, cb);
    m_pb = std::move(copy);
    m_cb = cb;
}

CMapiBinary& CMapiBinary::operator=(const SBinary& bin) {
    Assign(bin.cb, bin.lpb);
    return *this;
}

CMapiBinary& CMapiBinary::operator=(const CMapiPropValue& value) {
    if (value.Type() == PT_BINARY)
        Assign(value.get()->Value.bin.cb, value.get()->Value.bin.lpb);
    else
        Clear();
    return *this;
}

CMapiBinary& CMapiBinary::operator=(LPCSTR hex) {
    return *this = HexToBinary(hex);
}

void CMapiBinary::Clear() {
    m_pb.reset();
    m_cb = 0;
}

bool operator==(const CMapiBinary& a, const CMapiBinary& b) {
    if (a.m_pb.get() == b.m_pb.get()) return true;  // the same block, or both empty
    if (!a.m_pb || !b.m_pb) return false;
    return a.m_cb == b.m_cb && std::memcmp(a.m_pb.get(), b.m_pb.get(), a.m_cb) == 0;
}

std::string BinaryToHex(ULONG cb, const BYTE* pb) {
    static const char kDigits[] = "0123456789ABCDEF";
    std::string text;
    if (!pb) return text;
    text.resize(static_cast<size_t>(cb) * 2);
    for (ULONG i = 0; i < cb; ++i) {
        text[2 * i] = kDigits[pb[i] >> 4];
        text[2 * i + 1] = kDigits[pb[i] & 0x0F];
    }
    return text;
}

std::string BinaryToHex(const CMapiBinary& bin) {
    return BinaryToHex(bin.Size(), bin.Bytes());
}

namespace {

// Anything above '@' counts as a letter; lower case is deliberately not
// special-cased, so "a" reads as 42 rather than 10.
int HexDigitValue(unsigned char c) {
    return c <= 64 ? c - 48 : c - 55;
}

}  // namespace

CMapiBinary HexToBinary(LPCSTR hex) {
    CMapiBinary bin;
    if (!hex) return bin;
    const size_t count = std::strlen(hex) / 2;
    if (count == 0) return bin;
    std::unique_ptr<BYTE[]> bytes(new BYTE[count]);
    for (size_t i = 0; i < count; ++i) {
        const int value = HexDigitValue(static_cast<unsigned char>(hex[2 * i])) * 16 +
                          HexDigitValue(static_cast<unsigned char>(hex[2 * i + 1]));
        bytes[i] = static_cast<BYTE>(value & 0xFF);
    }
    bin.Assign(static_cast<ULONG>(count), bytes.get());
    return bin;
}
