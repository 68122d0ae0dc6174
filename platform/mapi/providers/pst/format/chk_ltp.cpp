#include "providers/pst/format/chk_ltp.h"

#include "providers/pst/format/ltp_heap.h"

namespace mapi::pst::fmt {
namespace {

constexpr uint8_t kHeapSignature = 0xEC;  // bSig of HNHDR
constexpr uint8_t kBthSignature = 0xB5;   // bType of BTHHEADER
constexpr int kMaxBthLevels = 8;
constexpr uint16_t kTypeObject = 0x000D;  // PtypObject

bool Fail(std::string* error, const std::string& why) {
    if (error != nullptr) *error = why;
    return false;
}

}  // namespace

bool CheckedHeap::Open(const CheckedNode& node, std::string* error) {
    pages_.clear();
    if (!node.dataError.empty()) return Fail(error, node.dataError);
    if (node.pages.empty()) return Fail(error, "an empty node where a heap was expected");
    for (size_t i = 0; i < node.pages.size(); ++i) {
        Page page;
        const Bytes& data = node.pages[i];
        page.error = node.pageErrors[i];
        // Every heap page starts with ibHnpm, the offset of its HNPAGEMAP
        // ([MS-PST] 2.3.1.2 - 2.3.1.5); its allocations must rise within
        // the page and end before the map.
        if (page.error.empty()) {
            size_t ibMap = data.size() >= 2 ? Get16(data.data()) : data.size();
            size_t count = ibMap + 4 <= data.size() ? Get16(data.data() + ibMap) : 0;
            if (ibMap + 4 > data.size() || ibMap + 4 + 2 * (count + 1) > data.size()) {
                page.error = "a heap page whose map lies outside it";
            } else {
                for (size_t k = 0; k <= count; ++k) {
                    uint16_t off = Get16(data.data() + ibMap + 4 + 2 * k);
                    if (off > ibMap || (!page.offsets.empty() && off < page.offsets.back())) {
                        page.error = "a heap page whose allocations overlap or pass its map";
                        break;
                    }
                    page.offsets.push_back(off);
                }
            }
        }
        if (page.error.empty()) page.data = &data;
        pages_.push_back(std::move(page));
    }
    const Page& first = pages_[0];
    if (first.data == nullptr) return Fail(error, "the heap's first page: " + first.error);
    if (first.data->size() < 12 || (*first.data)[2] != kHeapSignature)
        return Fail(error, "a node that is not a heap-on-node");
    client_ = (*first.data)[3];
    userRoot_ = Get32(first.data->data() + 4);
    return true;
}

bool CheckedHeap::Get(uint32_t hid, Bytes* out, std::string* why) const {
    const uint8_t* data = nullptr;
    size_t size = 0;
    if (!View(hid, &data, &size, why)) return false;
    out->assign(data, data + size);
    return true;
}

bool CheckedHeap::View(uint32_t hid, const uint8_t** data, size_t* size, std::string* why) const {
    size_t page = hid >> 16, index = (hid >> 5) & 0x7FF;
    if (!IsHid(hid) || page >= pages_.size())
        return Fail(why, "a reference to a heap allocation the heap does not have");
    const Page& p = pages_[page];
    if (p.data == nullptr) return Fail(why, "a value in a damaged heap page (" + p.error + ")");
    if (index == 0 || index >= p.offsets.size())
        return Fail(why, "a reference to a heap allocation the heap does not have");
    *data = p.data->data() + p.offsets[index - 1];
    *size = p.offsets[index] - p.offsets[index - 1];
    return true;
}

namespace {

void ReadBthLevel(const CheckedHeap& heap, uint32_t hid, int level, size_t keySize, size_t dataSize,
                  uint64_t minKey, std::vector<CheckedBthRecord>* records, std::vector<std::string>* lost) {
    const uint8_t* bytes = nullptr;
    size_t count = 0;
    std::string why;
    if (!heap.View(hid, &bytes, &count, &why)) {
        lost->push_back("records of a property or row index: " + why);
        return;
    }
    size_t size = keySize + (level > 0 ? 4 : dataSize);
    if (count == 0 || count % size != 0) {
        lost->push_back("records of a property or row index in a block of the wrong size");
        return;
    }
    auto key = [&](const uint8_t* p) {
        uint64_t k = 0;
        for (size_t i = keySize; i-- > 0;) k = (k << 8) | p[i];
        return k;
    };
    uint64_t last = minKey;
    if (level == 0) records->reserve(records->size() + count / size);
    for (size_t at = 0; at < count; at += size) {
        const uint8_t* r = bytes + at;
        uint64_t k = key(r);
        // Keys must rise: a record out of order means damage the CRCs
        // missed (or a writer's bug); the rest of this block is not trusted.
        if (k < last || (at > 0 && k == last)) {
            lost->push_back("records of a property or row index out of key order");
            return;
        }
        last = k;
        if (level > 0) {
            ReadBthLevel(heap, Get32(r + keySize), level - 1, keySize, dataSize, k, records, lost);
        } else {
            records->push_back({k, r + keySize});
        }
    }
}

}  // namespace

bool ReadCheckedBth(const CheckedHeap& heap, uint32_t hid, uint8_t* keySize, uint8_t* dataSize,
                    std::vector<CheckedBthRecord>* records, std::vector<std::string>* lost,
                    std::string* error) {
    const uint8_t* h = nullptr;
    size_t size = 0;
    std::string why;
    if (!heap.View(hid, &h, &size, &why)) return Fail(error, why);
    // BTHHEADER ([MS-PST] 2.3.2.1): type, key and data sizes, levels, root.
    if (size != 8 || h[0] != kBthSignature || h[3] > kMaxBthLevels || h[1] == 0 || h[1] > 8)
        return Fail(error, "not a heap B-tree header");
    *keySize = h[1];
    *dataSize = h[2];
    records->clear();
    uint32_t root = Get32(h + 4);
    if (root != 0) ReadBthLevel(heap, root, h[3], h[1], h[2], 0, records, lost);
    return true;
}

bool ReadCheckedPc(const CheckedNode& node, std::vector<CheckedProp>* props,
                   std::vector<std::string>* lost, std::string* error, PcValues values) {
    CheckedHeap heap;
    if (!heap.Open(node, error)) return false;
    if (heap.client() != kHeapPropertyContext) return Fail(error, "a heap that is not a property context");
    uint8_t keySize = 0, dataSize = 0;
    std::vector<CheckedBthRecord> records;
    if (!ReadCheckedBth(heap, heap.userRoot(), &keySize, &dataSize, &records, lost, error)) return false;
    if (keySize != 2 || dataSize != 6) return Fail(error, "a property context with odd record sizes");
    props->clear();
    props->reserve(records.size());
    for (const CheckedBthRecord& r : records) {
        // PC record ([MS-PST] 2.3.3.3): id, type, value or HNID.
        uint16_t type = Get16(r.data);
        uint32_t hnid = Get32(r.data + 2);
        CheckedProp p;
        p.tag = (static_cast<uint32_t>(r.key) << 16) | type;
        size_t size = 0;
        if (StoredInline(type)) {
            p.bytes.assign(r.data + 2, r.data + 2 + FixedWidth(type));
            size = p.bytes.size();
        } else if (hnid == 0) {
            // An empty variable value has no allocation.
        } else if (IsHid(hnid)) {
            // An object value names the subnode of an embedded message,
            // which even a check has to follow.
            const uint8_t* at = nullptr;
            if (heap.View(hnid, &at, &size, &p.error) &&
                (values == PcValues::Copy || type == kTypeObject))
                p.bytes.assign(at, at + size);
        } else {
            auto it = node.subnodes.find(hnid);
            if (it == node.subnodes.end()) {
                p.error = node.subnodeError.empty() ? "its subnode is missing"
                                                    : "its subnode is missing (" + node.subnodeError + ")";
            } else if (!it->second.DataWhole()) {
                p.error = it->second.DataProblem();
            } else if (values == PcValues::Copy) {
                p.bytes = it->second.Joined();
                size = p.bytes.size();
            } else {
                for (const Bytes& page : it->second.pages) size += page.size();
            }
        }
        if (!p.error.empty()) p.bytes.clear();
        // A fixed-size value that does not have its type's width cannot be
        // read as that type.
        size_t width = FixedWidth(type);
        if (p.error.empty() && width > 4 && size != width) {
            p.error = "a value of the wrong size for its type";
            p.bytes.clear();
        }
        props->push_back(std::move(p));
    }
    return true;
}

bool WholeNode(const CheckedNode& in, Node* out, std::string* why) {
    if (!in.DataWhole()) return Fail(why, in.DataProblem());
    if (!in.subnodeError.empty()) return Fail(why, in.subnodeError);
    out->data = in.Joined();
    out->subnodes.clear();
    for (const auto& [nid, sub] : in.subnodes)
        if (!WholeNode(sub, &out->subnodes[nid], why)) return false;
    return true;
}

namespace {

bool Sound(const CheckedNode& in, std::string* why) {
    if (!in.DataWhole()) return Fail(why, in.DataProblem());
    if (!in.subnodeError.empty()) return Fail(why, in.subnodeError);
    for (const auto& [nid, sub] : in.subnodes)
        if (!Sound(sub, why)) return false;
    return true;
}

void TakeOver(CheckedNode& in, Node* out) {
    if (in.pages.size() == 1) out->data = std::move(in.pages.front());
    else out->data = in.Joined();
    in.pages.clear();
    in.pageErrors.clear();
    out->subnodes.clear();
    for (auto& [nid, sub] : in.subnodes) TakeOver(sub, &out->subnodes[nid]);
}

}  // namespace

bool WholeNode(CheckedNode&& in, Node* out, std::string* why) {
    if (!Sound(in, why)) return false;
    TakeOver(in, out);
    return true;
}

}  // namespace mapi::pst::fmt
