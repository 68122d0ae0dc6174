#include "providers/pst/format/ndb_block.h"

#include <cstring>

#include "providers/pst/format/ndb_crc.h"
#include "providers/pst/format/ndb_header.h"
#include "providers/pst/format/ndb_ids.h"
#include "providers/pst/format/ndb_page.h"
#include "providers/pst/format/ndb_permute.h"

namespace mapi::pst::fmt {
namespace {

constexpr uint8_t kBTypeX = 0x01;
constexpr uint8_t kBTypeSubnode = 0x02;

bool Fail(std::string* error, const std::string& why) {
    if (error != nullptr) *error = why;
    return false;
}

}  // namespace

uint64_t BlockSizeOnDisk(size_t n) {
    uint64_t raw = n + kBlockTrailerSize;
    return (raw + kBlockAlign - 1) / kBlockAlign * kBlockAlign;
}

Bytes StoredForm(const Bytes& data, uint64_t bid, uint8_t crypt) {
    Bytes stored = data;
    EncodeBlockData(stored.data(), stored.size(), bid, crypt);
    return stored;
}

Bytes EncodeBlock(const Bytes& data, uint64_t bid, uint64_t ib, uint8_t crypt) {
    Bytes block(BlockSizeOnDisk(data.size()), 0);
    if (!data.empty()) std::memcpy(block.data(), data.data(), data.size());
    EncodeBlockData(block.data(), data.size(), bid, crypt);
    uint8_t* t = block.data() + block.size() - kBlockTrailerSize;
    Put16(t, static_cast<uint16_t>(data.size()));
    Put16(t + 2, ComputeSig(ib, bid));
    // The CRC covers the bytes as stored, so a reader checks a block
    // before it decodes it.
    Put32(t + 4, ComputeCrc(block.data(), data.size()));
    Put64(t + 8, bid);
    return block;
}

bool DecodeBlock(const uint8_t* block, size_t available, uint16_t cb, uint64_t bid, uint64_t ib, uint8_t crypt,
                 Bytes* data, std::string* error) {
    uint64_t size = BlockSizeOnDisk(cb);
    std::string where = " in the block " + std::to_string(bid) + " at " + std::to_string(ib);
    if (cb > kMaxBlockData || size > available) return Fail(error, "block beyond the file" + where);
    const uint8_t* t = block + size - kBlockTrailerSize;
    if (Get16(t) != cb) return Fail(error, "block size differs from its B-tree entry" + where);
    if (Get64(t + 8) != bid) return Fail(error, "block id differs from its B-tree entry" + where);
    if (Get16(t + 2) != ComputeSig(ib, bid)) return Fail(error, "wrong signature" + where);
    if (Get32(t + 4) != ComputeCrc(block, cb)) return Fail(error, "wrong CRC" + where);
    data->assign(block, block + cb);
    if (!DecodeBlockData(data->data(), data->size(), bid, crypt))
        return Fail(error, "a block in an encoding this reader does not know" + where);
    return true;
}

Bytes XBlock::Serialize() const {
    Bytes b;
    b.push_back(kBTypeX);
    b.push_back(level);
    Append16(b, static_cast<uint16_t>(bids.size()));
    Append32(b, totalBytes);
    for (uint64_t bid : bids) Append64(b, bid);
    return b;
}

bool XBlock::Parse(const Bytes& data, XBlock* out, std::string* error) {
    if (data.size() < 8 || data[0] != kBTypeX || (data[1] != 1 && data[1] != 2))
        return Fail(error, "not a data tree block");
    size_t count = Get16(data.data() + 2);
    if (8 + count * 8 > data.size()) return Fail(error, "data tree block with too many entries");
    XBlock x;
    x.level = data[1];
    x.totalBytes = Get32(data.data() + 4);
    for (size_t i = 0; i < count; ++i) x.bids.push_back(Get64(data.data() + 8 + 8 * i));
    *out = std::move(x);
    return true;
}

Bytes SubnodeBlock::Serialize() const {
    Bytes b;
    b.push_back(kBTypeSubnode);
    b.push_back(level);
    Append16(b, static_cast<uint16_t>(entries.size()));
    Append32(b, 0);
    for (const SubnodeEntry& e : entries) {
        Append64(b, e.nid);
        Append64(b, e.bidData);
        if (level == 0) Append64(b, e.bidSub);
    }
    return b;
}

bool SubnodeBlock::Parse(const Bytes& data, SubnodeBlock* out, std::string* error) {
    if (data.size() < 8 || data[0] != kBTypeSubnode || data[1] > 1)
        return Fail(error, "not a subnode tree block");
    SubnodeBlock s;
    s.level = data[1];
    size_t count = Get16(data.data() + 2);
    size_t size = s.level == 0 ? 24 : 16;
    if (8 + count * size > data.size()) return Fail(error, "subnode block with too many entries");
    for (size_t i = 0; i < count; ++i) {
        const uint8_t* e = data.data() + 8 + i * size;
        s.entries.push_back({Get64(e), Get64(e + 8), s.level == 0 ? Get64(e + 16) : 0});
    }
    *out = std::move(s);
    return true;
}

}  // namespace mapi::pst::fmt
