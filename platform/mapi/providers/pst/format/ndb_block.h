// Blocks: the trailer every block ends with ([MS-PST] 2.2.2.8.1
// BLOCKTRAILER), the data trees of nodes larger than one block
// ([MS-PST] 2.2.2.8.3.2 XBLOCK, XXBLOCK) and the subnode trees
// ([MS-PST] 2.2.2.8.3.3 SLBLOCK, SIBLOCK).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "providers/pst/format/ndb_bytes.h"

namespace mapi::pst::fmt {

// Bytes a block with n bytes of data occupies in the file: data and
// trailer rounded up to 64.
uint64_t BlockSizeOnDisk(size_t n);

// Lays out a block: data (at most 8176 bytes) in the file's encoding
// (crypt, the header's bCryptMethod: none, permute or cyclic; tree blocks
// are never encoded), zero padding, and the trailer with signature and the
// CRC of the stored bytes.
Bytes EncodeBlock(const Bytes& data, uint64_t bid, uint64_t ib, uint8_t crypt);
// Checks a block read from ib whose BBT entry says cb bytes of data and id
// bid; returns the data, decoded, in *data. An unknown encoding is refused.
bool DecodeBlock(const uint8_t* block, size_t available, uint16_t cb, uint64_t bid, uint64_t ib, uint8_t crypt,
                 Bytes* data, std::string* error);
// The bytes a block with this data stores before its padding: data itself,
// or its encoded form (crypt none, permute or cyclic).
Bytes StoredForm(const Bytes& data, uint64_t bid, uint8_t crypt);

// XBLOCK (level 1: ids of data blocks) or XXBLOCK (level 2: ids of XBLOCKs).
struct XBlock {
    static constexpr size_t kMaxEntries = (8176 - 8) / 8;  // 1021
    uint8_t level = 1;
    uint32_t totalBytes = 0;  // lcbTotal: the node's whole data size
    std::vector<uint64_t> bids;

    Bytes Serialize() const;
    static bool Parse(const Bytes& data, XBlock* out, std::string* error);
};

// SLBLOCK (level 0: the subnodes) or SIBLOCK (level 1: ids of SLBLOCKs
// with the first subnode id of each).
struct SubnodeEntry {
    uint64_t nid = 0;
    uint64_t bidData = 0;  // SLENTRY: data; SIENTRY: the child SLBLOCK
    uint64_t bidSub = 0;   // SLENTRY only: the subnode's own subnodes
};
struct SubnodeBlock {
    static constexpr size_t kMaxLeafEntries = (8176 - 8) / 24;  // 340
    static constexpr size_t kMaxIndexEntries = (8176 - 8) / 16; // 510
    uint8_t level = 0;
    std::vector<SubnodeEntry> entries;

    Bytes Serialize() const;
    static bool Parse(const Bytes& data, SubnodeBlock* out, std::string* error);
};

}  // namespace mapi::pst::fmt
