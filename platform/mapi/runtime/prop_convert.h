// Property value helpers shared by tables, providers and the cross-store copy.
#pragma once

#include <string>

#include <mapidefs.h>
#include <mapiutil.h>

namespace mapi {

// Text conversion between this platform's 8-bit code page (UTF-8) and UTF-16.
// Invalid input is replaced, never rejected.
std::u16string Utf8ToUtf16(const std::string& text);
std::string Utf16ToUtf8(const std::u16string& text);
std::string Utf16ToUtf8(const WCHAR* text);
size_t Utf16Length(const WCHAR* text);

// Gives `native` in the form `wantedType` asks for, allocating any data with
// MAPIAllocateMore chained to parent: PT_UNSPECIFIED or the native type
// itself copy the value; PT_STRING8 <-> PT_UNICODE (and their multi-valued
// forms) convert the text. out->ulPropTag carries the id of native and the
// type delivered. A PT_ERROR native value is passed on as it is (S_OK).
// MAPI_E_INVALID_TYPE when the types cannot convert, MAPI_E_NOT_ENOUGH_MEMORY
// when allocation fails; then out is a PT_ERROR value with that code.
HRESULT ConvertValue(const SPropValue& native, ULONG wantedType, void* parent, SPropValue* out);

// Deep copy of src into *out, every piece of data allocated with allocMore
// chained to parent (PropCopyMore's work). Types without a published layout
// give MAPI_E_INVALID_TYPE; a value whose pointers are null where data is
// required gives MAPI_E_INVALID_PARAMETER. On failure *out is a PT_ERROR
// value with that code; whatever was allocated stays in parent's chain.
HRESULT CopyValueWith(ALLOCATEMORE* allocMore, void* parent, const SPropValue& src,
                      SPropValue* out);

// A PT_ERROR value for tag's id carrying code.
SPropValue ErrorValue(ULONG tag, SCODE code);

}  // namespace mapi
