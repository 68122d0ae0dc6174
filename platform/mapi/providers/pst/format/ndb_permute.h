// The encodings of external data blocks. Internal blocks (data and subnode
// trees) are never encoded.
//  - compressible ([MS-PST] 5.1, NDB_CRYPT_PERMUTE): every byte substituted
//    through a fixed table;
//  - cyclic, Outlook's "high encryption" ([MS-PST] 5.2, NDB_CRYPT_CYCLIC):
//    three substitutions around a 16-bit word that starts from the block's
//    id and steps once per byte, so equal bytes differ by place and block.
#pragma once

#include <cstddef>
#include <cstdint>

namespace mapi::pst::fmt {

// Turns the bytes as stored back into the data (the mpbbI table).
void DecodePermute(uint8_t* data, size_t n);
// The stored form of data (mpbbR, the inverse of mpbbI).
void EncodePermute(uint8_t* data, size_t n);

// The cyclic encoding is its own inverse: the same call stores and reads.
// key is the low 32 bits of the block's id.
void CryptCyclic(uint8_t* data, size_t n, uint32_t key);

// An external block's data, stored or read in the file's encoding crypt
// (the header's bCryptMethod) under the block id bid; internal blocks and
// unencoded files pass unchanged. False for an encoding no reader knows.
bool EncodeBlockData(uint8_t* data, size_t n, uint64_t bid, uint8_t crypt);
bool DecodeBlockData(uint8_t* data, size_t n, uint64_t bid, uint8_t crypt);

}  // namespace mapi::pst::fmt
