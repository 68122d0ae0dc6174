// The property directory of one object, packed into a single blob that lives
// in the object's own row.
//
// Every property of the object is listed with its type and value size; small
// values sit in the blob itself, large ones (bodies, attachment data,
// anything past the lazy threshold) stay in the props table and are marked
// as kept outside. Saving a new message then writes one row for it, and
// reading its property list reads that row alone.
//
// Blob layout (little-endian): a format byte (kPackedFormat), then per
// property in ascending id order: id (32 bits), type (32 bits), a flag byte
// (bit 0: value kept outside), the value's byte count (32 bits) and, unless
// kept outside, that many bytes of the value in prop_codec's form. Id and
// type are stored whole, wider than MAPI's 16 bits, so that damage to either
// reaches the checks of the readers instead of being cut to a valid value.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <mapidefs.h>

#include "prop_codec.h"

namespace mapi::embedded {

struct PackedValue {
    ULONG type = PT_NULL;
    bool outside = false;  // the bytes are in the props table, not here
    uint32_t size = 0;     // byte count of the value wherever it is kept
    std::string bytes;     // the value when !outside
};

using PackedDir = std::map<ULONG, PackedValue>;  // property id -> entry

inline constexpr unsigned char kPackedFormat = 1;

// The empty blob (and a null column) unpack to an empty directory.
std::string Pack(const PackedDir& dir);
// MAPI_E_CORRUPT_DATA when the blob is not a well-formed directory.
HRESULT Unpack(std::string_view blob, PackedDir* out);

// What an opened object reads from, filled straight from the blob with the
// checks of Unpack: the values kept in it by id, and when asked for, every
// entry's type and whether any value is kept outside. On failure the maps
// are left empty.
HRESULT UnpackSummary(std::string_view blob, std::map<ULONG, EncodedProp>* small,
                      std::map<ULONG, ULONG>* types, bool* anyOutside = nullptr);

// Walks a blob without copying anything: MAPI_E_CORRUPT_DATA exactly when
// Unpack would fail.
HRESULT CheckPacked(std::string_view blob);
// The entry of propId in a blob that passed CheckPacked; false when absent.
// bytes views the blob (empty for a value kept outside).
bool FindPacked(std::string_view blob, ULONG propId, ULONG* type, bool* outside,
                std::string_view* bytes);

// The sum of every value's byte count: what PR_MESSAGE_SIZE adds up.
uint64_t ValueBytes(const PackedDir& dir);

// The blob of a new object holding the values of changes (deletions in it
// are skipped) and the sum of their sizes, without building a directory
// first; the ids of the values it marks outside go to *outside.
std::string PackValues(const std::map<ULONG, std::optional<EncodedProp>>& changes, uint64_t* bytes,
                       std::vector<ULONG>* outside);

// The blob of a directory holding every value of props inside it, whatever
// its size (for objects whose values are only ever read together).
std::string PackAllInside(const std::map<ULONG, EncodedProp>& props);

// Sets propId to value in dir; large values are marked outside (the caller
// writes them to the props table) and keep no bytes here.
void PutValue(PackedDir& dir, ULONG propId, const EncodedProp& value);

}  // namespace mapi::embedded
