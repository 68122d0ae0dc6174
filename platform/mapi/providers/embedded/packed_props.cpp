// Packing and unpacking an object's property directory.
#include "packed_props.h"

#include <cstring>

#include "store_core.h"

namespace mapi::embedded {
namespace {

void Put32(std::string& out, uint32_t v) {
    const char bytes[4] = {static_cast<char>(v & 0xFF), static_cast<char>((v >> 8) & 0xFF),
                           static_cast<char>((v >> 16) & 0xFF), static_cast<char>(v >> 24)};
    out.append(bytes, 4);
}

uint32_t Get(std::string_view in, size_t at, int bytes) {
    uint32_t v = 0;
    for (int i = bytes - 1; i >= 0; --i)
        v = (v << 8) | static_cast<unsigned char>(in[at + static_cast<size_t>(i)]);
    return v;
}

constexpr size_t kEntryHeader = 4 + 4 + 1 + 4;

}  // namespace

std::string Pack(const PackedDir& dir) {
    std::string out;
    size_t total = 1;
    for (const auto& [id, v] : dir) total += kEntryHeader + (v.outside ? 0 : v.bytes.size());
    out.reserve(total);
    out.push_back(static_cast<char>(kPackedFormat));
    for (const auto& [id, v] : dir) {
        Put32(out, id);
        Put32(out, v.type);
        out.push_back(v.outside ? 1 : 0);
        Put32(out, v.size);
        if (!v.outside) out.append(v.bytes);
    }
    return out;
}

std::string PackValues(const std::map<ULONG, std::optional<EncodedProp>>& changes, uint64_t* bytes,
                       std::vector<ULONG>* outside) {
    std::string out;
    size_t total = 1;
    for (const auto& [id, value] : changes)
        if (value) total += kEntryHeader + value->bytes.size();
    out.reserve(total);
    out.push_back(static_cast<char>(kPackedFormat));
    *bytes = 0;
    for (const auto& [id, value] : changes) {
        if (!value) continue;
        bool large = IsLazyProp(id, value->bytes.size());
        Put32(out, id);
        Put32(out, value->type);
        out.push_back(large ? 1 : 0);
        Put32(out, static_cast<uint32_t>(value->bytes.size()));
        if (large)
            outside->push_back(id);
        else
            out.append(value->bytes);
        *bytes += value->bytes.size();
    }
    return out;
}

std::string PackAllInside(const std::map<ULONG, EncodedProp>& props) {
    std::string out;
    size_t total = 1;
    for (const auto& [id, value] : props) total += kEntryHeader + value.bytes.size();
    out.reserve(total);
    out.push_back(static_cast<char>(kPackedFormat));
    for (const auto& [id, value] : props) {
        Put32(out, id);
        Put32(out, value.type);
        out.push_back(0);
        Put32(out, static_cast<uint32_t>(value.bytes.size()));
        out.append(value.bytes);
    }
    return out;
}

namespace {

// Calls each(id, type, outside, bytes) per entry until it returns false;
// MAPI_E_CORRUPT_DATA as soon as the blob stops making sense.
template <class Each>
HRESULT Walk(std::string_view blob, Each each) {
    if (blob.empty()) return S_OK;
    if (static_cast<unsigned char>(blob[0]) != kPackedFormat) return MAPI_E_CORRUPT_DATA;
    size_t at = 1;
    bool first = true;
    ULONG last = 0;
    while (at < blob.size()) {
        if (blob.size() - at < kEntryHeader) return MAPI_E_CORRUPT_DATA;
        ULONG id = Get(blob, at, 4);
        ULONG type = Get(blob, at + 4, 4);
        unsigned char flags = static_cast<unsigned char>(blob[at + 8]);
        uint32_t size = Get(blob, at + 9, 4);
        at += kEntryHeader;
        // Ids strictly ascending: a repeated or shuffled id is damage, and
        // taking either copy would silently drop the other.
        if (flags > 1 || (!first && id <= last)) return MAPI_E_CORRUPT_DATA;
        first = false;
        last = id;
        std::string_view bytes;
        if (flags == 0) {
            if (blob.size() - at < size) return MAPI_E_CORRUPT_DATA;
            bytes = blob.substr(at, size);
            at += size;
        }
        if (!each(id, type, flags == 1, size, bytes)) break;
    }
    return S_OK;
}

}  // namespace

HRESULT CheckPacked(std::string_view blob) {
    return Walk(blob, [](ULONG, ULONG, bool, uint32_t, std::string_view) { return true; });
}

bool FindPacked(std::string_view blob, ULONG propId, ULONG* type, bool* outside,
                std::string_view* bytes) {
    bool found = false;
    Walk(blob, [&](ULONG id, ULONG t, bool out, uint32_t, std::string_view b) {
        if (id < propId) return true;
        if (id == propId) {
            found = true;
            *type = t;
            *outside = out;
            *bytes = b;
        }
        return false;
    });
    return found;
}

HRESULT Unpack(std::string_view blob, PackedDir* out) {
    out->clear();
    return Walk(blob, [&](ULONG id, ULONG type, bool outside, uint32_t size, std::string_view b) {
        PackedValue v;
        v.type = type;
        v.outside = outside;
        v.size = size;
        if (!outside) v.bytes.assign(b);
        out->emplace_hint(out->end(), id, std::move(v));
        return true;
    });
}

HRESULT UnpackSummary(std::string_view blob, std::map<ULONG, EncodedProp>* small,
                      std::map<ULONG, ULONG>* types, bool* anyOutside) {
    small->clear();
    if (types != nullptr) types->clear();
    bool outside = false;
    // Ids come in ascending order: every entry goes in at the end.
    HRESULT hr = Walk(blob, [&](ULONG id, ULONG type, bool out, uint32_t, std::string_view b) {
        if (types != nullptr) types->emplace_hint(types->end(), id, type);
        outside |= out;
        if (!out) small->emplace_hint(small->end(), id, EncodedProp{type, std::string(b)});
        return true;
    });
    if (FAILED(hr)) {
        small->clear();
        if (types != nullptr) types->clear();
        return hr;
    }
    if (anyOutside != nullptr) *anyOutside = outside;
    return S_OK;
}

uint64_t ValueBytes(const PackedDir& dir) {
    uint64_t total = 0;
    for (const auto& [id, v] : dir) total += v.size;
    return total;
}

void PutValue(PackedDir& dir, ULONG propId, const EncodedProp& value) {
    PackedValue& v = dir[propId];
    v.type = value.type;
    v.size = static_cast<uint32_t>(value.bytes.size());
    v.outside = IsLazyProp(propId, value.bytes.size());
    if (v.outside)
        v.bytes.clear();
    else
        v.bytes = value.bytes;
}

}  // namespace mapi::embedded
