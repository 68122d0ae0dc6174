// The name-to-id map ([MS-PST] 2.4.7): the GUID, entry and string streams
// and the hash buckets, in the property context of node 0x61.
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "providers/pst/format/ltp_value.h"

namespace mapi::pst::fmt {

using Guid = std::array<uint8_t, 16>;  // as stored: Data1-3 little-endian

struct PropertyName {
    Guid guid{};
    bool isString = false;
    uint32_t lid = 0;        // when !isString
    std::u16string name;     // when isString
    bool operator<(const PropertyName& o) const;
};

class NameMap {
public:
    static constexpr uint32_t kBucketCount = 251;
    static constexpr uint16_t kFirstId = 0x8000;

    // The id of name; with create, a new id (the lowest free from 0x8000)
    // when it has none. 0 when unknown and not created, or the ids are
    // used up.
    uint16_t IdOf(const PropertyName& name, bool create);
    // The name of id; false when id is not mapped.
    bool NameOf(uint16_t id, PropertyName* name) const;

    std::vector<PropValue> ToProps() const;
    bool FromProps(const std::vector<PropValue>& props, std::string* error);

private:
    std::map<PropertyName, uint16_t> ids_;
    std::map<uint16_t, PropertyName> names_;
};

}  // namespace mapi::pst::fmt
