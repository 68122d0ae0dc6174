// Names of the result codes the tool reports to its user.
#include "error_text.h"

#include <mapicode.h>

#include "payload.h"

namespace mapi::tools {
namespace {

struct NamedCode {
    HRESULT code;
    const char* name;
};

// The codes a provider, the session or a table gives back for a store that
// cannot be used; names and values as mapicode.h publishes them.
#define CODE(c) \
    { c, #c }
const NamedCode kCodes[] = {
    CODE(MAPI_E_CALL_FAILED),       CODE(MAPI_E_NOT_ENOUGH_MEMORY),
    CODE(MAPI_E_INVALID_PARAMETER), CODE(MAPI_E_INTERFACE_NOT_SUPPORTED),
    CODE(MAPI_E_NO_ACCESS),         CODE(MAPI_E_NO_SUPPORT),
    CODE(MAPI_E_INVALID_ENTRYID),   CODE(MAPI_E_BUSY),
    CODE(MAPI_E_NOT_ENOUGH_DISK),   CODE(MAPI_E_NOT_FOUND),
    CODE(MAPI_E_VERSION),           CODE(MAPI_E_LOGON_FAILED),
    CODE(MAPI_E_DISK_ERROR),        CODE(MAPI_E_CORRUPT_DATA),
    CODE(MAPI_E_UNKNOWN_ENTRYID),   CODE(MAPI_E_INVALID_TYPE),
    CODE(MAPI_E_CORRUPT_STORE),     CODE(MAPI_E_COLLISION),
    CODE(MAPI_E_NOT_INITIALIZED),
};
#undef CODE

}  // namespace

std::string DescribeResult(HRESULT hr) {
    std::string number = FormatTag(static_cast<ULONG>(hr));
    for (const NamedCode& c : kCodes)
        if (c.code == hr) return std::string(c.name) + " (" + number + ")";
    return number;
}

}  // namespace mapi::tools
