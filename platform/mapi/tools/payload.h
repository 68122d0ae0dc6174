// Property values as text, in the PAYLOAD forms the command-line tools share.
//
// PT_LONG, PT_I2, PT_BOOLEAN, PT_I8 decimal; PT_DOUBLE, PT_R4, PT_APPTIME the
// shortest decimal that reads back as the same value (1.5, 1e+300, -0, inf;
// a NaN as nan:0x and its bits in hex); PT_CURRENCY decimal with four
// places (12.3400); PT_ERROR the code as 0xXXXXXXXX; PT_STRING8 and
// PT_UNICODE in double quotes (UTF-8, then every byte below 0x20 or above
// 0x7E as \xHH, and " and \ with a backslash); PT_SYSTIME
// YYYY-MM-DDTHH:MM:SS; PT_BINARY <HEX>; PT_CLSID
// {XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}; multi-valued [P, P]; any other
// type (PT_NULL, PT_OBJECT, PT_UNSPECIFIED) ?.
#pragma once

#include <string>
#include <string_view>

#include <mapidefs.h>

namespace mapi::tools {

// 0x and 8 upper-case hex digits.
std::string FormatTag(ULONG tag);
std::string QuoteText(std::string_view utf8);
// text with each byte below 0x20 and 0x7F written \xHH and everything else
// as it is: for texts that stand unquoted in a line (folder paths), so that
// a name can neither break the line nor reach the terminal.
std::string EscapeControls(std::string_view text);
std::string FormatFileTime(const FILETIME& time);
std::string FormatGuid(const GUID& guid);
std::string FormatBinary(const BYTE* data, ULONG size);
// The value of v in the form its tag's type asks for.
std::string FormatPayload(const SPropValue& v);

}  // namespace mapi::tools
