// Little-endian field access for the on-disk structures of a personal
// folder file. Every structure of [MS-PST] is little-endian and packed, so
// the format code reads and writes fields by offset instead of overlaying
// C structs (which would depend on the compiler's padding and the host's
// byte order).
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace mapi::pst::fmt {

using Bytes = std::vector<uint8_t>;

inline uint16_t Get16(const uint8_t* p) {
    return static_cast<uint16_t>(p[0] | (p[1] << 8));
}
inline uint32_t Get32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
           (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}
inline uint64_t Get64(const uint8_t* p) {
    return static_cast<uint64_t>(Get32(p)) | (static_cast<uint64_t>(Get32(p + 4)) << 32);
}
inline void Put16(uint8_t* p, uint16_t v) {
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
}
inline void Put32(uint8_t* p, uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}
inline void Put64(uint8_t* p, uint64_t v) {
    Put32(p, static_cast<uint32_t>(v));
    Put32(p + 4, static_cast<uint32_t>(v >> 32));
}

// Appending writers, for structures built front to back.
inline void Append16(Bytes& b, uint16_t v) {
    size_t at = b.size();
    b.resize(at + 2);
    Put16(b.data() + at, v);
}
inline void Append32(Bytes& b, uint32_t v) {
    size_t at = b.size();
    b.resize(at + 4);
    Put32(b.data() + at, v);
}
inline void Append64(Bytes& b, uint64_t v) {
    size_t at = b.size();
    b.resize(at + 8);
    Put64(b.data() + at, v);
}

}  // namespace mapi::pst::fmt
