// Ownership of GMime and GLib objects, and GMime's one-time set-up.
#pragma once

#include <memory>
#include <string>

#include <gmime/gmime.h>

namespace mapi::mime {

// Calls g_mime_init once per process; safe from any thread.
void EnsureGMime();

struct GObjectUnref {
    void operator()(void* object) const {
        if (object != nullptr) g_object_unref(object);
    }
};
template <class T>
using GPtr = std::unique_ptr<T, GObjectUnref>;

struct GFreeDeleter {
    void operator()(void* p) const { g_free(p); }
};
using GString8 = std::unique_ptr<char, GFreeDeleter>;

struct GDateTimeUnref {
    void operator()(GDateTime* d) const {
        if (d != nullptr) g_date_time_unref(d);
    }
};
using GDatePtr = std::unique_ptr<GDateTime, GDateTimeUnref>;

// Everything written to a memory stream so far.
std::string StreamBytes(GMimeStream* stream);

}  // namespace mapi::mime
