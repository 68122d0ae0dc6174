#include "providers/pst/format/msg_inplace.h"

#include "providers/pst/format/ndb_bytes.h"
#include "providers/pst/format/ndb_ids.h"

namespace mapi::pst::fmt {
namespace {

constexpr uint8_t kHeapSig = 0xEC;
constexpr uint8_t kClientPc = 0xBC;
constexpr uint8_t kBthSig = 0xB5;
constexpr uint16_t kTypeLong = 0x0003;

// Where heap allocation hid lies in data: [*begin, *end). Each heap page
// is one data block's worth of the node, its map at the offset its first
// two bytes give.
bool Locate(const Bytes& data, uint32_t hid, size_t* begin, size_t* end) {
    if ((hid & 0x1F) != 0) return false;
    size_t page = hid >> 16, index = (hid >> 5) & 0x7FF;
    size_t start = page * kMaxBlockData;
    if (index == 0 || start + 2 > data.size()) return false;
    size_t size = std::min<size_t>(kMaxBlockData, data.size() - start);
    size_t ibMap = Get16(data.data() + start);
    if (ibMap + 4 > size) return false;
    size_t count = Get16(data.data() + start + ibMap);
    if (index > count || ibMap + 4 + 2 * (count + 1) > size) return false;
    const uint8_t* offsets = data.data() + start + ibMap + 4;
    size_t from = Get16(offsets + 2 * (index - 1)), to = Get16(offsets + 2 * index);
    if (from > to || to > ibMap) return false;
    *begin = start + from;
    *end = start + to;
    return true;
}

}  // namespace

bool InlineLong(Node& node, uint32_t tag, uint32_t* value, const uint32_t* replacement) {
    Bytes& data = node.data;
    if (data.size() < 12 || data[2] != kHeapSig || data[3] != kClientPc) return false;
    size_t begin = 0, end = 0;
    if (!Locate(data, Get32(data.data() + 4), &begin, &end) || end - begin < 8 ||
        data[begin] != kBthSig)
        return false;
    const uint8_t keySize = data[begin + 1], entrySize = data[begin + 2];
    int level = data[begin + 3];
    uint32_t hid = Get32(data.data() + begin + 4);
    if (keySize != 2 || entrySize != 6) return false;
    const uint16_t key = static_cast<uint16_t>(tag >> 16);
    // Index levels hold (key, hid of the level below); a heap has few
    // levels, and the count bounds a damaged loop.
    for (; level >= 0; --level) {
        if (!Locate(data, hid, &begin, &end)) return false;
        const size_t record = level > 0 ? 6 : 8;
        if ((end - begin) % record != 0) return false;
        size_t found = SIZE_MAX;
        for (size_t at = begin; at < end; at += record) {
            uint16_t k = Get16(data.data() + at);
            if (level > 0 ? k <= key : k == key) found = at;
            if (k >= key) break;
        }
        if (found == SIZE_MAX) return false;
        if (level > 0) {
            hid = Get32(data.data() + found + 2);
            continue;
        }
        if (Get16(data.data() + found + 2) != (tag & 0xFFFF) || (tag & 0xFFFF) != kTypeLong)
            return false;
        *value = Get32(data.data() + found + 4);
        if (replacement != nullptr) Put32(data.data() + found + 4, *replacement);
        return true;
    }
    return false;
}

}  // namespace mapi::pst::fmt
