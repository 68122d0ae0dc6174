// The file header of a Unicode personal folder file ([MS-PST] 2.2.2.6
// HEADER, with its ROOT and BREF). ANSI files are recognised and refused:
// this code writes and checks only the 64-bit format.
#pragma once

#include <array>
#include <cstdint>
#include <string>

namespace mapi::pst::fmt {

// A block or page reference: its id and its byte index in the file
// ([MS-PST] 2.2.2.4 BREF).
struct Bref {
    uint64_t bid = 0;
    uint64_t ib = 0;
    bool operator==(const Bref&) const = default;
};

// [MS-PST] 2.2.2.5 ROOT: where the B-trees start and how full the file is.
struct Root {
    uint64_t fileEof = 0;       // ibFileEof: the file's size
    uint64_t amapLast = 0;      // ibAMapLast: the last AMap page
    uint64_t amapFree = 0;      // cbAMapFree: free bytes the AMaps record
    uint64_t pmapFree = 0;      // cbPMapFree
    Bref nbt;                   // root page of the node B-tree
    Bref bbt;                   // root page of the block B-tree
    uint8_t amapValid = 0x02;   // fAMapValid: VALID_AMAP2
    bool operator==(const Root&) const = default;
};

enum CryptMethod : uint8_t { kCryptNone = 0x00, kCryptPermute = 0x01, kCryptCyclic = 0x02 };

struct Header {
    static constexpr size_t kSize = 564;
    static constexpr uint16_t kVersionUnicode = 23;
    static constexpr uint16_t kVersionClient = 19;

    uint64_t nextPageBid = 0;    // bidNextP
    uint64_t nextBlockBid = 0;   // bidNextB
    uint32_t unique = 0;         // dwUnique: changes with every commit
    std::array<uint32_t, 32> nextNidIndex{};  // rgnid: next free index per NID type
    Root root;
    uint8_t cryptMethod = kCryptNone;

    // A header for a new file: the index counters at their first values.
    static Header ForNewFile();

    // Writes the 564 bytes, both CRCs included.
    void Write(uint8_t* out) const;
    // Reads and checks magic, version and both CRCs; false with a reason
    // in *error when the bytes are not a sound Unicode header.
    static bool Read(const uint8_t* in, size_t n, Header* out, std::string* error);
};

}  // namespace mapi::pst::fmt
