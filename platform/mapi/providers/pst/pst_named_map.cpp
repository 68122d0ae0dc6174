// Parsing of the name-to-id map streams (layout as published for the
// personal folder file format: NAMEID records of 8 bytes).
#include "providers/pst/pst_named_map.h"

#include <cstring>

#include <mapiguid.h>

namespace mapi::pst {
namespace {

uint32_t Le32(const uint8_t* p) {
    return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<uint32_t>(p[3]) << 24);
}
uint16_t Le16(const uint8_t* p) {
    return static_cast<uint16_t>(p[0] | (p[1] << 8));
}

bool SameGuid(const GUID& a, const GUID& b) {
    return std::memcmp(&a, &b, sizeof(GUID)) == 0;
}

}  // namespace

void NamedPropMap::Parse(const std::vector<uint8_t>& guids, const std::vector<uint8_t>& entries,
                         const std::vector<uint8_t>& strings) {
    byId_.clear();
    for (size_t at = 0; at + 8 <= entries.size(); at += 8) {
        const uint8_t* e = entries.data() + at;
        uint32_t value = Le32(e);
        uint16_t guidAndKind = Le16(e + 4);
        ULONG propId = 0x8000u + Le16(e + 6);
        if (propId > 0xFFFE) continue;

        NamedProp prop;
        uint16_t guidIndex = guidAndKind >> 1;
        if (guidIndex == 1) {
            prop.guid = PS_MAPI;
        } else if (guidIndex == 2) {
            prop.guid = PS_PUBLIC_STRINGS;
        } else if (guidIndex >= 3) {
            size_t offset = static_cast<size_t>(guidIndex - 3) * 16;
            if (offset + 16 > guids.size()) continue;
            std::memcpy(&prop.guid, guids.data() + offset, 16);
        } else {
            continue;  // index 0 names no property set
        }

        if ((guidAndKind & 1) == 0) {
            prop.kind = MNID_ID;
            prop.lid = static_cast<LONG>(value);
        } else {
            prop.kind = MNID_STRING;
            if (static_cast<size_t>(value) + 4 > strings.size()) continue;
            uint32_t length = Le32(strings.data() + value);
            if (length > strings.size() - value - 4) continue;
            const uint8_t* chars = strings.data() + value + 4;
            for (uint32_t i = 0; i + 1 < length; i += 2)
                prop.name.push_back(static_cast<char16_t>(Le16(chars + i)));
            while (!prop.name.empty() && prop.name.back() == u'\0') prop.name.pop_back();
        }
        byId_.emplace(propId, std::move(prop));
    }
}

const NamedProp* NamedPropMap::Find(ULONG propId) const {
    auto it = byId_.find(propId);
    return it == byId_.end() ? nullptr : &it->second;
}

ULONG NamedPropMap::IdOf(const MAPINAMEID& name) const {
    if (name.lpguid == nullptr) return 0;
    std::u16string wanted;
    if (name.ulKind == MNID_STRING) {
        if (name.Kind.lpwstrName == nullptr) return 0;
        for (const WCHAR* p = name.Kind.lpwstrName; *p != 0; ++p) wanted.push_back(*p);
    }
    for (const auto& [id, prop] : byId_) {
        if (prop.kind != name.ulKind || !SameGuid(prop.guid, *name.lpguid)) continue;
        if (prop.kind == MNID_ID ? prop.lid == name.Kind.lID : prop.name == wanted) return id;
    }
    return 0;
}

std::vector<ULONG> NamedPropMap::Ids() const {
    std::vector<ULONG> ids;
    ids.reserve(byId_.size());
    for (const auto& entry : byId_) ids.push_back(entry.first);
    return ids;
}

}  // namespace mapi::pst
