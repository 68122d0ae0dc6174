// Property values read from libpff record entries.
//
// A record entry carries a property id, a value type (the published MAPI
// type numbers) and the stored bytes. Reading turns it into an SPropValue in
// the type this platform uses for it: 8-bit strings are decoded from the
// object's code page into UTF-8, UTF-16 strings stay UTF-16, types this
// platform has no SPropValue member for are kept as their raw bytes
// (PT_BINARY), so nothing stored is lost.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include <mapidefs.h>

#include "providers/pst/pst_libpff.h"

namespace mapi::pst {

// Owns the data that values point at; values stay valid as long as it.
class ValueArena {
public:
    void* Allocate(size_t size);
    // A copy of size bytes (a one byte block for size 0, never null).
    void* Copy(const void* data, size_t size);

private:
    std::vector<std::unique_ptr<uint8_t[]>> blocks_;
};

// The property type a stored value type is handed out as.
ULONG PlatformType(uint32_t valueType);

// Reads entry (property propId, stored type valueType) into *out. String
// bytes of 8-bit values are decoded with codepage. Returns S_OK, or
// MAPI_E_CORRUPT_DATA when the bytes cannot be read or do not fit the type
// (then *out is untouched). The caller holds the file's lock.
HRESULT ReadEntryValue(libpff_record_entry_t* entry, ULONG propId, uint32_t valueType,
                       uint32_t codepage, ValueArena& arena, SPropValue* out);

constexpr ULONG kIdSubject = 0x0037;
constexpr ULONG kIdSubjectPrefix = 0x003D;
constexpr ULONG kIdNormalizedSubject = 0x0E1D;

// A subject as read from the file (ReadEntryValue keeps the format's prefix
// marker, see format/msg_subject.h) split into what MAPI serves: parts[0]
// the subject without the marker and, when it had one, parts[1] its prefix
// and parts[2] the normalized subject, in the subject's type, allocated in
// arena. Returns how many parts it set (1 or 3).
int SplitSubject(const SPropValue& stored, ValueArena& arena, SPropValue parts[3]);

// Decodes the bytes of one single value of type `type` (a platform type
// without MV_FLAG) into *out. Exposed for tests of the byte layouts.
HRESULT DecodeSingle(ULONG type, const uint8_t* data, size_t size, uint32_t codepage,
                     ValueArena& arena, _PV* out);

}  // namespace mapi::pst
