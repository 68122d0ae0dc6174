#include "providers/pst/format/msg_namemap.h"

#include <algorithm>
#include <cstring>
#include <tuple>

#include "providers/pst/format/msg_values.h"
#include "providers/pst/format/ndb_bytes.h"
#include "providers/pst/format/ndb_crc.h"

namespace mapi::pst::fmt {
namespace {

constexpr uint32_t kTagBucketCount = 0x00010003;
constexpr uint32_t kTagGuidStream = 0x00020102;
constexpr uint32_t kTagEntryStream = 0x00030102;
constexpr uint32_t kTagStringStream = 0x00040102;
constexpr uint32_t kTagFirstBucket = 0x10000102;

// wGuid: 1 and 2 name PS_MAPI and PS_PUBLIC_STRINGS without storing them;
// 3 on are positions in the GUID stream.
const Guid kPsMapi = {0x28, 0x03, 0x02, 0x00, 0x00, 0x00, 0x00, 0x00,
                      0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46};
const Guid kPsPublicStrings = {0x29, 0x03, 0x02, 0x00, 0x00, 0x00, 0x00, 0x00,
                               0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46};

Bytes Utf16Bytes(const std::u16string& s) {
    Bytes b;
    for (char16_t c : s) {
        b.push_back(static_cast<uint8_t>(c));
        b.push_back(static_cast<uint8_t>(c >> 8));
    }
    return b;
}

}  // namespace

bool PropertyName::operator<(const PropertyName& o) const {
    return std::tie(guid, isString, lid, name) < std::tie(o.guid, o.isString, o.lid, o.name);
}

uint16_t NameMap::IdOf(const PropertyName& name, bool create) {
    auto it = ids_.find(name);
    if (it != ids_.end()) return it->second;
    if (!create) return 0;
    uint16_t id = kFirstId;
    while (names_.count(id) != 0) {
        if (id == 0xFFFE) return 0;
        ++id;
    }
    ids_[name] = id;
    names_[id] = name;
    return id;
}

bool NameMap::NameOf(uint16_t id, PropertyName* name) const {
    auto it = names_.find(id);
    if (it == names_.end()) return false;
    *name = it->second;
    return true;
}

std::vector<PropValue> NameMap::ToProps() const {
    Bytes guids, entries, strings;
    std::vector<Bytes> buckets(kBucketCount);
    std::vector<Guid> guidList;
    for (const auto& [id, name] : names_) {
        uint16_t wGuid;
        if (name.guid == kPsMapi) {
            wGuid = 1;
        } else if (name.guid == kPsPublicStrings) {
            wGuid = 2;
        } else {
            auto g = std::find(guidList.begin(), guidList.end(), name.guid);
            if (g == guidList.end()) {
                guidList.push_back(name.guid);
                guids.insert(guids.end(), name.guid.begin(), name.guid.end());
                g = guidList.end() - 1;
            }
            wGuid = static_cast<uint16_t>(3 + (g - guidList.begin()));
        }
        uint32_t key = name.lid, hashKey = name.lid;
        if (name.isString) {
            // String names: the entry points into the string stream (a
            // length, the UTF-16 text, padding to 4 bytes); the bucket
            // holds the CRC of the text instead.
            Bytes text = Utf16Bytes(name.name);
            key = static_cast<uint32_t>(strings.size());
            Append32(strings, static_cast<uint32_t>(text.size()));
            strings.insert(strings.end(), text.begin(), text.end());
            while (strings.size() % 4 != 0) strings.push_back(0);
            hashKey = ComputeCrc(text.data(), text.size());
        }
        uint16_t guidAndKind = static_cast<uint16_t>((wGuid << 1) | (name.isString ? 1 : 0));
        uint16_t index = static_cast<uint16_t>(id - kFirstId);
        Append32(entries, key);
        Append16(entries, guidAndKind);
        Append16(entries, index);
        Bytes& bucket = buckets[(hashKey ^ guidAndKind) % kBucketCount];
        Append32(bucket, hashKey);
        Append16(bucket, guidAndKind);
        Append16(bucket, index);
    }
    std::vector<PropValue> props = {LongValue(kTagBucketCount, kBucketCount), {kTagGuidStream, guids},
                                    {kTagEntryStream, entries}, {kTagStringStream, strings}};
    for (uint32_t i = 0; i < kBucketCount; ++i) props.push_back({kTagFirstBucket + (i << 16), buckets[i]});
    return props;
}

bool NameMap::FromProps(const std::vector<PropValue>& props, std::string* error) {
    const PropValue* guids = FindValue(props, kTagGuidStream);
    const PropValue* entries = FindValue(props, kTagEntryStream);
    const PropValue* strings = FindValue(props, kTagStringStream);
    ids_.clear();
    names_.clear();
    if (entries == nullptr) return true;
    for (size_t at = 0; at + 8 <= entries->bytes.size(); at += 8) {
        const uint8_t* e = entries->bytes.data() + at;
        uint32_t key = Get32(e);
        uint16_t guidAndKind = Get16(e + 4);
        uint16_t id = static_cast<uint16_t>(kFirstId + Get16(e + 6));
        PropertyName name;
        uint16_t wGuid = guidAndKind >> 1;
        if (wGuid == 1) {
            name.guid = kPsMapi;
        } else if (wGuid == 2) {
            name.guid = kPsPublicStrings;
        } else if (wGuid >= 3 && guids != nullptr && (wGuid - 3u) * 16 + 16 <= guids->bytes.size()) {
            std::memcpy(name.guid.data(), guids->bytes.data() + (wGuid - 3) * 16, 16);
        } else {
            if (error != nullptr) *error = "a named property with an unknown GUID index";
            return false;
        }
        name.isString = (guidAndKind & 1) != 0;
        if (name.isString) {
            if (strings == nullptr || key + 4 > strings->bytes.size() ||
                key + 4 + Get32(strings->bytes.data() + key) > strings->bytes.size()) {
                if (error != nullptr) *error = "a named property whose name lies outside the strings";
                return false;
            }
            uint32_t length = Get32(strings->bytes.data() + key);
            for (uint32_t i = 0; i + 1 < length; i += 2)
                name.name.push_back(static_cast<char16_t>(Get16(strings->bytes.data() + key + 4 + i)));
        } else {
            name.lid = key;
        }
        ids_[name] = id;
        names_[id] = name;
    }
    return true;
}

}  // namespace mapi::pst::fmt
