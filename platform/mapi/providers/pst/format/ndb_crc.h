// The checksum of headers, pages and blocks ([MS-PST] 5.3): the reflected
// CRC-32 of polynomial 0xEDB88320, started at 0 and with no final xor
// (unlike zlib's crc32, which inverts before and after).
#pragma once

#include <cstddef>
#include <cstdint>

namespace mapi::pst::fmt {

// Continues the checksum crc over n bytes at data; start with crc = 0.
uint32_t ComputeCrc(const void* data, size_t n, uint32_t crc = 0);

}  // namespace mapi::pst::fmt
