// The widths the checking reader's node database code shares between its
// files (chk_ndb.cpp, chk_ndb_scan.cpp). Private to the checking reader.
#pragma once

#include <cstddef>
#include <cstdint>

#include "providers/pst/format/ndb_bytes.h"

namespace mapi::pst::fmt::chk {

// The widths that differ between the ANSI and the Unicode format
// ([MS-PST] 2.2.2.7.1, 2.2.2.7.7, 2.2.2.8.1, 2.2.2.8.3).
struct Geometry {
    size_t id;            // a BID or B-tree key
    size_t pageTrailer;   // PAGETRAILER
    size_t entryBytes;    // rgentries of a BTPAGE
    size_t blockTrailer;  // BLOCKTRAILER
    size_t internalHeader;  // XBLOCK and SLBLOCK headers before their entries
};
constexpr Geometry kUnicode{8, 16, 488, 16, 8};
constexpr Geometry kAnsi{4, 12, 496, 12, 4};

// A BID, IB or B-tree key of the given width.
inline uint64_t GetId(const uint8_t* p, size_t width) {
    return width == 8 ? Get64(p) : Get32(p);
}

}  // namespace mapi::pst::fmt::chk
