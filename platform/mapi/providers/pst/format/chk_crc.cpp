#include "providers/pst/format/chk_crc.h"

#include <array>
#include <cstring>

namespace mapi::pst::fmt {
namespace {

using Tables = std::array<std::array<uint32_t, 256>, 8>;

// tables[k][b] is the CRC of byte b followed by k zero bytes, so eight
// bytes fold in with eight lookups and no dependency between them.
Tables MakeTables() {
    Tables t{};
    for (uint32_t i = 0; i < 256; ++i) {
        uint32_t c = i;
        for (int bit = 0; bit < 8; ++bit) c = (c & 1) ? (c >> 1) ^ 0xEDB88320u : c >> 1;
        t[0][i] = c;
    }
    for (uint32_t i = 0; i < 256; ++i)
        for (size_t k = 1; k < 8; ++k) t[k][i] = (t[k - 1][i] >> 8) ^ t[0][t[k - 1][i] & 0xFF];
    return t;
}

}  // namespace

uint32_t CheckCrc(const void* data, size_t n, uint32_t crc) {
    static const Tables t = MakeTables();
    const auto* p = static_cast<const uint8_t*>(data);
    // The words are read as little-endian, which this platform is.
    static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__);
    while (n >= 8) {
        uint32_t lo, hi;
        std::memcpy(&lo, p, 4);
        std::memcpy(&hi, p + 4, 4);
        lo ^= crc;
        crc = t[7][lo & 0xFF] ^ t[6][(lo >> 8) & 0xFF] ^ t[5][(lo >> 16) & 0xFF] ^ t[4][lo >> 24] ^
              t[3][hi & 0xFF] ^ t[2][(hi >> 8) & 0xFF] ^ t[1][(hi >> 16) & 0xFF] ^ t[0][hi >> 24];
        p += 8;
        n -= 8;
    }
    while (n-- > 0) crc = t[0][(crc ^ *p++) & 0xFF] ^ (crc >> 8);
    return crc;
}

}  // namespace mapi::pst::fmt
