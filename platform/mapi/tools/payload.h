// Property values as text, in the PAYLOAD forms the command-line tools share.
//
// PT_LONG, PT_I2, PT_BOOLEAN decimal; PT_STRING8 and PT_UNICODE in double
// quotes (UTF-8, then every byte below 0x20 or above 0x7E as \xHH, and " and
// \ with a backslash); PT_SYSTIME YYYY-MM-DDTHH:MM:SS; PT_BINARY <HEX>;
// PT_CLSID {XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}; multi-valued [P, P];
// any other type ?.
#pragma once

#include <string>
#include <string_view>

#include <mapidefs.h>

namespace mapi::tools {

// 0x and 8 upper-case hex digits.
std::string FormatTag(ULONG tag);
std::string QuoteText(std::string_view utf8);
std::string FormatFileTime(const FILETIME& time);
std::string FormatGuid(const GUID& guid);
std::string FormatBinary(const BYTE* data, ULONG size);
// The value of v in the form its tag's type asks for.
std::string FormatPayload(const SPropValue& v);

}  // namespace mapi::tools
