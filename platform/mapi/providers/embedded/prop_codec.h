// The stored form of one property value.
//
// Values are kept in their native type, strings in full fidelity (PT_UNICODE
// stays UTF-16). The byte form is the same in memory (unsaved changes) and in
// the database, so saving a message copies bytes without re-encoding.
//
// Layout: fixed-width types are their little-endian bytes; PT_STRING8 is the
// UTF-8 bytes and PT_UNICODE the UTF-16 code units without terminator;
// PT_BINARY is the bytes; a multi-valued type is a 32-bit count followed by
// the elements (fixed-width elements as above, variable ones each prefixed
// with a 32-bit length).
#pragma once

#include <string>
#include <string_view>

#include <mapidefs.h>

namespace mapi::embedded {

struct EncodedProp {
    ULONG type = PT_NULL;  // PROP_TYPE of the native value
    std::string bytes;
};

// True for the types a store keeps (every published value type and its
// multi-valued form; not PT_NULL, PT_ERROR, PT_OBJECT, PT_UNSPECIFIED).
bool IsStorableType(ULONG type);

// MAPI_E_INVALID_TYPE for a type that cannot be stored; MAPI_E_INVALID_PARAMETER
// for a value whose pointers are null where data is required.
HRESULT EncodeValue(const SPropValue& value, EncodedProp* out);

// Builds the native SPropValue with property id propId, its data allocated
// with MAPIAllocateMore on parent. MAPI_E_CORRUPT_DATA when the bytes do not
// fit the type (damaged store); MAPI_E_NOT_ENOUGH_MEMORY on allocation failure.
HRESULT DecodeValue(ULONG propId, const EncodedProp& in, void* parent, SPropValue* out);
// The same from bytes held elsewhere (a directory read from the database).
HRESULT DecodeValue(ULONG propId, ULONG type, std::string_view bytes, void* parent,
                    SPropValue* out);

// Size of the value as MAPI counts it (PR_MESSAGE_SIZE, RES_SIZE): fixed types
// their width, PT_STRING8 length + 1, PT_UNICODE (length + 1) * 2, PT_BINARY
// its count, multi-valued the sum of the elements.
ULONG MapiValueSize(const EncodedProp& value);

}  // namespace mapi::embedded
