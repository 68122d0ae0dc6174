// The block and page CRC of a personal folder file, computed eight bytes at
// a time. The checking reader verifies every byte of a file at open, and
// the writer's byte-at-a-time loop was the largest single cost of that;
// the value is the same as ComputeCrc's for every input.
#pragma once

#include <cstddef>
#include <cstdint>

namespace mapi::pst::fmt {

uint32_t CheckCrc(const void* data, size_t n, uint32_t crc = 0);

}  // namespace mapi::pst::fmt
