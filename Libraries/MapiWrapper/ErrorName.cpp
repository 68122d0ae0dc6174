// GetErrorName: result code to symbolic name through the error-name table.
//
// There is no system message table on this platform, so a code the table
// lacks keeps its "Unknown Error %x" text. That text is formatted into a
// buffer of the calling thread rather than one shared buffer: the copy
// run's worker and the dialog thread both look names up, and a shared
// buffer would let one overwrite the text the other is reading.
#include <cstdio>

#include "ErrorTable.h"
#include "MapiException.h"

LPCSTR GetErrorName(HRESULT hr) {
    if (hr == 0) return "";
    for (const ErrorNameRecord* r = g_errorNameTable; r->name; ++r)
        if (r->code == hr) return r->name;

    thread_local char t_unknown[128];
    std::snprintf(t_unknown, sizeof t_unknown, "Unknown Error %x", static_cast<unsigned>(hr));
    return t_unknown;
}
