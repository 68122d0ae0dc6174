// The PR_ name tables behind field resolution, and the lookup over them.
//
// Both tables are generated (scripts/gen/gen_propnames.py) and end with a row
// whose tag is 0. PropertyNameTable is consulted first, so where both tables
// name a string property its PT_STRING8 form wins.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include <mapidefs.h>

struct PropertyNameRow {
    const char* name;
    ULONG tag;
    ULONG reserved;  // always 0
};

extern const PropertyNameRow PropertyNameTable[];
extern const size_t PropertyNameTableRows;
extern const PropertyNameRow ExtendedPropertyNameTable[];
extern const size_t ExtendedPropertyNameTableRows;

// Tag of the first row named name (exact, case-sensitive) in PropertyNameTable,
// then ExtendedPropertyNameTable; 0 when neither has it. Uses an index built
// on first use (thread-safe) that keeps the first-match result.
ULONG LookupPropertyName(std::string_view name);

// The same answer by walking both tables row by row; kept as the reference
// that the index is measured and tested against.
ULONG LookupPropertyNameLinear(std::string_view name);

// The PR_ name a field of the query language stands for:
// `LastModificationTime` -> `PR_LAST_MODIFICATION_TIME`.
std::string PropertyNameOf(const std::string& field);
