// GMime start-up and stream helpers.
#include "gmime_util.h"

#include <mutex>

namespace mapi::mime {

void EnsureGMime() {
    static std::once_flag once;
    std::call_once(once, [] { g_mime_init(); });
}

std::string StreamBytes(GMimeStream* stream) {
    GByteArray* bytes = g_mime_stream_mem_get_byte_array(GMIME_STREAM_MEM(stream));
    if (bytes == nullptr || bytes->len == 0) return {};
    return std::string(reinterpret_cast<const char*>(bytes->data), bytes->len);
}

}  // namespace mapi::mime
