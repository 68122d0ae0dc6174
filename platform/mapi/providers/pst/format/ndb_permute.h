// The compressible encoding of data blocks ([MS-PST] 5.1, NDB_CRYPT_PERMUTE):
// every byte of an external block's data is substituted through a fixed
// table. Internal blocks (data and subnode trees) are never encoded.
#pragma once

#include <cstddef>
#include <cstdint>

namespace mapi::pst::fmt {

// Turns the bytes as stored back into the data (the mpbbI table).
void DecodePermute(uint8_t* data, size_t n);
// The stored form of data (mpbbR, the inverse of mpbbI).
void EncodePermute(uint8_t* data, size_t n);

}  // namespace mapi::pst::fmt
