// Lookup of PR_ names in the two generated tables: a hash index over the rows
// in table order, so that the first row of a name is the one kept.
#include <string_view>
#include <unordered_map>

#include "property_name_table.h"

namespace {

using Index = std::unordered_map<std::string_view, ULONG>;

void AddRows(const PropertyNameRow* rows, Index* index) {
    for (; rows->tag != 0; ++rows) index->emplace(rows->name, rows->tag);  // first one stays
}

const Index& NameIndex() {
    static const Index index = [] {
        Index built;
        built.reserve(PropertyNameTableRows + ExtendedPropertyNameTableRows);
        AddRows(PropertyNameTable, &built);
        AddRows(ExtendedPropertyNameTable, &built);
        return built;
    }();
    return index;
}

ULONG FindLinear(const PropertyNameRow* rows, std::string_view name) {
    for (; rows->tag != 0; ++rows)
        if (name == rows->name) return rows->tag;
    return 0;
}

}  // namespace

ULONG LookupPropertyName(std::string_view name) {
    const Index& index = NameIndex();
    auto it = index.find(name);
    return it == index.end() ? 0 : it->second;
}

ULONG LookupPropertyNameLinear(std::string_view name) {
    if (ULONG tag = FindLinear(PropertyNameTable, name)) return tag;
    return FindLinear(ExtendedPropertyNameTable, name);
}
