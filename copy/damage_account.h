// The source store's account of its damage above the items, read through
// MAPI alone: any store may set the two properties of Quirnel's own set on
// its store object (see runtime/provenance.h); a store that sets none has
// no damage to account for.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include <MapiWrapper.h>

namespace quirnel {

struct DamageRecord {
    std::string text;         // UTF-8, as the store wrote it (not yet escaped)
    uint64_t itemsLost = 0;   // items the structure is known to have cost
};

// The records of store's account, in its order; empty when it has none or
// the store cannot say. Never throws.
std::vector<DamageRecord> ReadDamageAccount(const IMsgStorePtr& store);

}  // namespace quirnel
