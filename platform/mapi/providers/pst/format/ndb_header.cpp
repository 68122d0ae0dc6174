#include "providers/pst/format/ndb_header.h"

#include <cstring>

#include "providers/pst/format/ndb_bytes.h"
#include "providers/pst/format/ndb_crc.h"
#include "providers/pst/format/ndb_ids.h"

namespace mapi::pst::fmt {
namespace {

// Field offsets of the Unicode HEADER ([MS-PST] 2.2.2.6).
constexpr size_t kOffCrcPartial = 4;
constexpr size_t kOffMagicClient = 8;
constexpr size_t kOffVer = 10;
constexpr size_t kOffVerClient = 12;
constexpr size_t kOffPlatformCreate = 14;
constexpr size_t kOffPlatformAccess = 15;
constexpr size_t kOffNextP = 32;
constexpr size_t kOffUnique = 40;
constexpr size_t kOffRgnid = 44;
constexpr size_t kOffRoot = 180;
constexpr size_t kOffFM = 256;
constexpr size_t kOffFP = 384;
constexpr size_t kOffSentinel = 512;
constexpr size_t kOffCrypt = 513;
constexpr size_t kOffNextB = 516;
constexpr size_t kOffCrcFull = 524;
// The partial CRC covers 471 bytes from wMagicClient, the full one 516.
constexpr size_t kCrcPartialLen = 471;
constexpr size_t kCrcFullLen = 516;

void WriteBref(uint8_t* p, const Bref& b) {
    Put64(p, b.bid);
    Put64(p + 8, b.ib);
}
Bref ReadBref(const uint8_t* p) { return Bref{Get64(p), Get64(p + 8)}; }

}  // namespace

Header Header::ForNewFile() {
    Header h;
    // Index 0x400 is the first a writer hands out for every type; the
    // indexes below are reserved for the special nodes. Normal messages
    // and search folders start higher, as files made by Outlook show.
    h.nextNidIndex.fill(0x400);
    h.nextNidIndex[kNidTypeSearchFolder] = 0x4000;
    h.nextNidIndex[kNidTypeNormalMessage] = 0x10000;
    h.nextNidIndex[kNidTypeAssocMessage] = 0x8000;
    h.nextPageBid = 1;
    h.nextBlockBid = 4;
    h.unique = 1;
    // Outlook makes new files compressible by default, and tools that read
    // .pst files expect it of them.
    h.cryptMethod = kCryptPermute;
    return h;
}

void Header::Write(uint8_t* out) const {
    std::memset(out, 0, kSize);
    std::memcpy(out, "!BDN", 4);
    out[kOffMagicClient] = 'S';
    out[kOffMagicClient + 1] = 'M';
    Put16(out + kOffVer, kVersionUnicode);
    Put16(out + kOffVerClient, kVersionClient);
    out[kOffPlatformCreate] = 0x01;
    out[kOffPlatformAccess] = 0x01;
    Put64(out + kOffNextP, nextPageBid);
    Put32(out + kOffUnique, unique);
    for (size_t i = 0; i < nextNidIndex.size(); ++i) Put32(out + kOffRgnid + 4 * i, nextNidIndex[i]);
    uint8_t* r = out + kOffRoot;
    Put64(r + 4, root.fileEof);
    Put64(r + 12, root.amapLast);
    Put64(r + 20, root.amapFree);
    Put64(r + 28, root.pmapFree);
    WriteBref(r + 36, root.nbt);
    WriteBref(r + 52, root.bbt);
    r[68] = root.amapValid;
    // The old free maps are no longer used; readers expect them filled.
    std::memset(out + kOffFM, 0xFF, 128);
    std::memset(out + kOffFP, 0xFF, 128);
    out[kOffSentinel] = 0x80;
    out[kOffCrypt] = cryptMethod;
    Put64(out + kOffNextB, nextBlockBid);
    Put32(out + kOffCrcPartial, ComputeCrc(out + kOffMagicClient, kCrcPartialLen));
    Put32(out + kOffCrcFull, ComputeCrc(out + kOffMagicClient, kCrcFullLen));
}

bool Header::Read(const uint8_t* in, size_t n, Header* out, std::string* error) {
    auto fail = [&](const char* why) {
        if (error != nullptr) *error = why;
        return false;
    };
    if (n < kSize) return fail("the file is shorter than its header");
    if (std::memcmp(in, "!BDN", 4) != 0) return fail("not a personal folder file (no !BDN magic)");
    if (in[kOffMagicClient] != 'S' || in[kOffMagicClient + 1] != 'M')
        return fail("not a personal folder file (no SM client magic)");
    uint16_t version = Get16(in + kOffVer);
    if (version < kVersionUnicode) return fail("an ANSI (32-bit) file; only Unicode files are handled");
    if (Get32(in + kOffCrcPartial) != ComputeCrc(in + kOffMagicClient, kCrcPartialLen))
        return fail("the header's partial CRC is wrong");
    if (Get32(in + kOffCrcFull) != ComputeCrc(in + kOffMagicClient, kCrcFullLen))
        return fail("the header's full CRC is wrong");
    Header h;
    h.nextPageBid = Get64(in + kOffNextP);
    h.unique = Get32(in + kOffUnique);
    for (size_t i = 0; i < h.nextNidIndex.size(); ++i) h.nextNidIndex[i] = Get32(in + kOffRgnid + 4 * i);
    const uint8_t* r = in + kOffRoot;
    h.root.fileEof = Get64(r + 4);
    h.root.amapLast = Get64(r + 12);
    h.root.amapFree = Get64(r + 20);
    h.root.pmapFree = Get64(r + 28);
    h.root.nbt = ReadBref(r + 36);
    h.root.bbt = ReadBref(r + 52);
    h.root.amapValid = r[68];
    h.cryptMethod = in[kOffCrypt];
    h.nextBlockBid = Get64(in + kOffNextB);
    *out = h;
    return true;
}

}  // namespace mapi::pst::fmt
