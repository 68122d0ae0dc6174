// Entry identifiers of the embedded store.
//
// Layout (29 bytes): 4 zero flag bytes, the store's 16-byte MAPIUID, one
// object kind byte, the object's row id as 8 bytes little endian. The session
// routes an identifier to its store by bytes 4 to 19; the rest is ours.
#pragma once

#include <cstdint>
#include <string>

#include <mapidefs.h>

namespace mapi::embedded {

enum class ObjectKind : uint8_t {
    kStore = 1,
    kFolder = 2,
    kMessage = 3,
    kAttachment = 4,
    kRecipient = 5,  // rows of files before format 4 only, until their upgrade
};

inline constexpr ULONG kEntryIdSize = 4 + 16 + 1 + 8;

std::string MakeEntryId(const MAPIUID& store, ObjectKind kind, int64_t id);

struct ParsedEntryId {
    MAPIUID store;
    ObjectKind kind;
    int64_t id;
};

// False for anything that is not one of our identifiers (wrong size, non-zero
// flags, unknown kind); the store UID is not checked here.
bool ParseEntryId(const void* bytes, ULONG size, ParsedEntryId* out);

}  // namespace mapi::embedded
