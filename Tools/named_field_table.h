// The fields of the query language that are named properties (Categories,
// Email1Address, ...): how each one is looked up in a store.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include <mapidefs.h>

struct NamedField {
    std::string name;           // as written in a query; compared case-sensitively
    USHORT id = 0;              // MNID_ID name; 0 when stringName is used
    USHORT type = 0;            // property type ORed into the looked-up identifier
    GUID propertySet{};         // PS_PUBLIC_STRINGS when none was given
    std::u16string stringName;  // MNID_STRING name; empty when id is used
};

// Filled once by the compiler's constructor, in table order; the first record
// of a name is the one found.
using NamedFieldTable = std::vector<std::unique_ptr<NamedField>>;
