// IMAPIProp operations shared by every object of a personal folder file,
// written once over ItemProps and the file's name-to-id map.
//
// Returned buffers are single MAPI allocation chains the caller frees with
// MAPIFreeBuffer; nothing is returned on failure.
#pragma once

#include <mapidefs.h>

#include "providers/pst/pst_item_props.h"
#include "providers/pst/pst_named_map.h"

namespace mapi::pst {

// GetProps: tags null lists every value (8-bit strings as PT_UNICODE when
// flags has MAPI_UNICODE). A missing or unreadable value comes back as
// PT_ERROR and the call answers MAPI_W_ERRORS_RETURNED.
HRESULT GetPropsOf(ItemProps& props, const SPropTagArray* tags, ULONG flags, ULONG* count,
                   SPropValue** values);
HRESULT GetPropListOf(ItemProps& props, ULONG flags, SPropTagArray** tags);
// OpenProperty with IID_IStream: a read-only stream over a string or binary
// value (strings as their bytes: UTF-8 for PT_STRING8, UTF-16 for PT_UNICODE).
HRESULT OpenStreamOf(ItemProps& props, ULONG tag, ULONG flags, IUnknown** stream);

HRESULT NamesFromIds(const NamedPropMap& map, SPropTagArray** tags, const GUID* propSet,
                     ULONG flags, ULONG* count, MAPINAMEID*** names);
HRESULT IdsFromNames(const NamedPropMap& map, ULONG count, MAPINAMEID** names, ULONG flags,
                     SPropTagArray** tags);

}  // namespace mapi::pst
