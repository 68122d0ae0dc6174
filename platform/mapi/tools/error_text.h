// Result codes in the tool's messages: the symbolic name where it is one of
// the codes stores and the session return, always with the number.
#pragma once

#include <string>

#include <mapiwin.h>

namespace mapi::tools {

// "MAPI_E_CORRUPT_DATA (0x8004011B)", or just "0x80040999" for a code
// without a name here.
std::string DescribeResult(HRESULT hr);

}  // namespace mapi::tools
