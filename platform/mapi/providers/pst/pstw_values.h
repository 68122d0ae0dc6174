// Property values between the platform's SPropValue and the bytes the file
// stores ([MS-PST] 2.3.3.4: fixed types little-endian at their own width,
// strings without terminator, multi-valued variable types as a count, an
// offset per value and the values).
//
// PT_STRING8 values are stored with the platform's 8-bit code page, UTF-8.
#pragma once

#include <mapidefs.h>

#include "providers/pst/format/ltp_value.h"

namespace mapi::pst {

// MAPI_E_INVALID_TYPE for types that are not stored as values (PT_OBJECT,
// PT_ERROR, PT_NULL, unknown ones); MAPI_E_INVALID_PARAMETER for a value
// whose pointers are null where data is needed.
HRESULT EncodeValue(const SPropValue& value, fmt::PropValue* out);

// Data is allocated with MAPIAllocateMore on parent. MAPI_E_CORRUPT_DATA
// when the bytes do not fit the type.
HRESULT DecodeValue(const fmt::PropValue& value, void* parent, SPropValue* out);

}  // namespace mapi::pst
