// Compressed RTF bodies (PR_RTF_COMPRESSED): the LZ decompression of
// [MS-OXRTFCP] and a reader that recovers the HTML an RTF body wraps
// ([MS-OXRTFEX], \fromhtml1) or its plain text.
#pragma once

#include <string>
#include <string_view>

#include <mapidefs.h>

namespace mapi::mime {

// The RTF inside a PR_RTF_COMPRESSED value, compressed ("LZFu") or stored
// ("MELA"). MAPI_E_CORRUPT_DATA when the header or the data is damaged
// (sizes that do not fit, a reference past the written text, a bad CRC).
HRESULT DecompressRtf(std::string_view compressed, std::string* rtf);

// The HTML of an RTF body that encapsulates HTML; false when it does not
// (no \fromhtml1 in its header).
bool HtmlFromRtf(std::string_view rtf, std::string* html);

// The text of an RTF body in UTF-8, paragraphs as CRLF; formatting and
// hidden destinations (font and colour tables, pictures) left out.
std::string TextFromRtf(std::string_view rtf);

}  // namespace mapi::mime
