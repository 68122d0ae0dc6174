#include "providers/pst/format/ndb_crc.h"

#include <array>

namespace mapi::pst::fmt {
namespace {

// The byte table is derived from the polynomial once, rather than kept as
// 256 literals that could hide a typing error.
std::array<uint32_t, 256> MakeTable() {
    std::array<uint32_t, 256> table{};
    for (uint32_t i = 0; i < 256; ++i) {
        uint32_t c = i;
        for (int bit = 0; bit < 8; ++bit) c = (c & 1) ? (c >> 1) ^ 0xEDB88320u : c >> 1;
        table[i] = c;
    }
    return table;
}

}  // namespace

uint32_t ComputeCrc(const void* data, size_t n, uint32_t crc) {
    static const std::array<uint32_t, 256> table = MakeTable();
    const auto* p = static_cast<const uint8_t*>(data);
    for (size_t i = 0; i < n; ++i) crc = table[(crc ^ p[i]) & 0xFF] ^ (crc >> 8);
    return crc;
}

}  // namespace mapi::pst::fmt
