// libFuzzer target for the MIME-to-MAPI path: any byte string must read as
// a message or fail with MAPI_E_CORRUPT_DATA, without a crash, a hang or a
// leak; a message that reads must write again, and what it writes must
// read again.
#include <cstdint>
#include <cstdlib>
#include <map>
#include <string>

#include "mime/mime_convert.h"

namespace {

class Names : public mapi::mime::NameResolver {
public:
    ULONG IdOf(const mapi::mime::PropName& name) override {
        auto [it, added] = ids_.emplace(name, 0x8000 + static_cast<ULONG>(ids_.size()));
        return it->second;
    }

private:
    std::map<mapi::mime::PropName, ULONG> ids_;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Names names;
    mapi::mime::MailItem item;
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    HRESULT hr = mapi::mime::ReadMime(bytes, names, &item);
    if (hr != S_OK && hr != MAPI_E_CORRUPT_DATA) std::abort();
    if (hr != S_OK) return 0;
    std::string written;
    if (mapi::mime::WriteMime(item, names, {true}, &written) != S_OK) std::abort();
    mapi::mime::MailItem again;
    if (mapi::mime::ReadMime(written, names, &again) != S_OK) std::abort();
    return 0;
}
