// Decompression of compressed RTF after [MS-OXRTFCP] section 2.2 and 3.1:
// a 16-byte header, then runs of eight items led by a control byte, each
// item a literal byte or a 12-bit offset and 4-bit length into a 4096-byte
// ring dictionary that starts out holding a fixed RTF prologue.
#include <cstdint>
#include <cstring>

#include "mime/rtf.h"

namespace mapi::mime {

namespace {

constexpr uint32_t kCompressed = 0x75465A4C;    // "LZFu"
constexpr uint32_t kUncompressed = 0x414C454D;  // "MELA"
constexpr size_t kDictionarySize = 4096;
constexpr size_t kHeaderSize = 16;
// Compressed data expands at most about eight to one; a claimed size far
// beyond that is damage, not a body.
constexpr uint64_t kMaxExpansion = 16;

constexpr char kPrologue[] =
    "{\\rtf1\\ansi\\mac\\deff0\\deftab720{\\fonttbl;}{\\f0\\fnil \\froman \\fswiss "
    "\\fmodern \\fscript \\fdecor MS Sans SerifSymbolArialTimes New RomanCourier"
    "{\\colortbl\\red0\\green0\\blue0\r\n\\par \\pard\\plain\\f0\\fs20\\b\\i\\u\\tab\\tx";
static_assert(sizeof(kPrologue) - 1 == 207, "the dictionary prologue is 207 bytes");

uint32_t Le32(const unsigned char* p) {
    return p[0] | p[1] << 8 | p[2] << 16 | static_cast<uint32_t>(p[3]) << 24;
}

// The CRC-32 of [MS-OXRTFCP] 3.1.3.2: the usual table, no final inversion.
uint32_t Crc(const unsigned char* data, size_t size) {
    static uint32_t table[256];
    static const bool ready = [] {
        for (uint32_t i = 0; i < 256; ++i) {
            uint32_t c = i;
            for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
            table[i] = c;
        }
        return true;
    }();
    (void)ready;
    uint32_t crc = 0;
    for (size_t i = 0; i < size; ++i) crc = table[(crc ^ data[i]) & 0xFF] ^ (crc >> 8);
    return crc;
}

}  // namespace

HRESULT DecompressRtf(std::string_view compressed, std::string* rtf) {
    rtf->clear();
    if (compressed.size() < kHeaderSize) return MAPI_E_CORRUPT_DATA;
    const auto* bytes = reinterpret_cast<const unsigned char*>(compressed.data());
    const uint32_t compSize = Le32(bytes);
    const uint32_t rawSize = Le32(bytes + 4);
    const uint32_t type = Le32(bytes + 8);
    const uint32_t crc = Le32(bytes + 12);
    // COMPSIZE counts everything after itself.
    if (compSize < kHeaderSize - 4 || compSize - (kHeaderSize - 4) > compressed.size() - kHeaderSize)
        return MAPI_E_CORRUPT_DATA;
    const unsigned char* data = bytes + kHeaderSize;
    const size_t dataSize = compSize - (kHeaderSize - 4);

    if (type == kUncompressed) {
        if (rawSize > dataSize) return MAPI_E_CORRUPT_DATA;
        rtf->assign(reinterpret_cast<const char*>(data), rawSize);
        return S_OK;
    }
    if (type != kCompressed) return MAPI_E_CORRUPT_DATA;
    if (Crc(data, dataSize) != crc) return MAPI_E_CORRUPT_DATA;
    if (rawSize > (static_cast<uint64_t>(dataSize) + 1) * kMaxExpansion) return MAPI_E_CORRUPT_DATA;

    unsigned char dictionary[kDictionarySize] = {};
    std::memcpy(dictionary, kPrologue, sizeof(kPrologue) - 1);
    size_t write = sizeof(kPrologue) - 1;
    rtf->reserve(rawSize);
    size_t in = 0;
    while (in < dataSize) {
        const unsigned char control = data[in++];
        for (int bit = 0; bit < 8; ++bit) {
            if (in >= dataSize) break;
            if ((control & (1 << bit)) == 0) {
                const unsigned char c = data[in++];
                rtf->push_back(static_cast<char>(c));
                dictionary[write] = c;
                write = (write + 1) % kDictionarySize;
                continue;
            }
            if (in + 2 > dataSize) return MAPI_E_CORRUPT_DATA;
            const unsigned reference = data[in] << 8 | data[in + 1];
            in += 2;
            const size_t offset = reference >> 4;
            const size_t length = (reference & 0xF) + 2;
            // A reference to the write position itself ends the data.
            if (offset == write) {
                if (rtf->size() < rawSize) return MAPI_E_CORRUPT_DATA;
                rtf->resize(rawSize);
                return S_OK;
            }
            for (size_t i = 0; i < length; ++i) {
                const unsigned char c = dictionary[(offset + i) % kDictionarySize];
                rtf->push_back(static_cast<char>(c));
                dictionary[write] = c;
                write = (write + 1) % kDictionarySize;
            }
            if (rtf->size() > rawSize + kDictionarySize) return MAPI_E_CORRUPT_DATA;
        }
    }
    // Some writers stop at the last item without an end marker; the text is
    // whole when it has the length the header claims.
    if (rtf->size() < rawSize) return MAPI_E_CORRUPT_DATA;
    rtf->resize(rawSize);
    return S_OK;
}

}  // namespace mapi::mime
