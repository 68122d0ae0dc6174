#include "providers/pst/format/ltp_pc.h"

#include <algorithm>
#include <cstring>

#include "providers/pst/format/ltp_bth.h"

namespace mapi::pst::fmt {

void WritePropertyContext(const std::vector<PropValue>& props, Node* node) {
    std::vector<PropValue> sorted = props;
    std::sort(sorted.begin(), sorted.end(),
              [](const PropValue& a, const PropValue& b) { return PropId(a.tag) < PropId(b.tag); });
    HeapWriter heap(kHeapPropertyContext);
    std::vector<BthRecord> records;
    for (const PropValue& v : sorted) {
        uint16_t type = PropType(v.tag);
        uint32_t hnid = 0;
        if (StoredInline(type)) {
            uint8_t raw[4] = {0, 0, 0, 0};
            std::memcpy(raw, v.bytes.data(), std::min<size_t>(4, v.bytes.size()));
            hnid = Get32(raw);
        } else if (v.bytes.size() <= kMaxHeapAlloc) {
            hnid = heap.Allocate(v.bytes);
        } else {
            hnid = NextLtpSubnode(node->subnodes);
            node->subnodes[hnid].data = v.bytes;
        }
        Bytes key(2), data(6);
        Put16(key.data(), PropId(v.tag));
        Put16(data.data(), type);
        Put32(data.data() + 2, hnid);
        records.push_back({key, data});
    }
    heap.SetUserRoot(WriteBth(heap, 2, 6, records));
    node->data = heap.Finish();
}

bool ReadPropertyContext(const Node& node, std::vector<PropValue>* props, std::string* error) {
    HeapReader heap;
    if (!heap.Open(node.data, error)) return false;
    if (heap.client() != kHeapPropertyContext) {
        if (error != nullptr) *error = "a heap that is not a property context";
        return false;
    }
    uint8_t keySize = 0, dataSize = 0;
    std::vector<BthRecord> records;
    if (!ReadBth(heap, heap.userRoot(), &keySize, &dataSize, &records, error)) return false;
    if (keySize != 2 || dataSize != 6) {
        if (error != nullptr) *error = "a property context with odd record sizes";
        return false;
    }
    props->clear();
    for (const BthRecord& r : records) {
        uint16_t type = Get16(r.data.data());
        uint32_t hnid = Get32(r.data.data() + 2);
        PropValue v{(static_cast<uint32_t>(Get16(r.key.data())) << 16) | type, {}};
        if (StoredInline(type)) {
            v.bytes.assign(r.data.begin() + 2, r.data.begin() + 2 + static_cast<long>(FixedWidth(type)));
        } else if (hnid == 0) {
            // An empty value has no allocation.
        } else if (IsHid(hnid)) {
            if (!heap.Get(hnid, &v.bytes)) {
                if (error != nullptr) *error = "a property refers to a missing heap allocation";
                return false;
            }
        } else {
            auto it = node.subnodes.find(hnid);
            if (it == node.subnodes.end()) {
                if (error != nullptr) *error = "a property refers to a missing subnode";
                return false;
            }
            v.bytes = it->second.data;
        }
        props->push_back(std::move(v));
    }
    return true;
}

}  // namespace mapi::pst::fmt
