// Owning holder of one MAPI memory block (MAPIAllocateBuffer chain head).
//
// Property values, tag arrays and entry identifiers that MAPI hands out are
// freed with MAPIFreeBuffer, which frees the whole chain. Holding them in
// MapiBufferPtr frees them on every path, also when an exception leaves.
#pragma once

#include <memory>

#include <mapix.h>

struct MapiBufferDeleter {
    void operator()(void* p) const {
        if (p) MAPIFreeBuffer(p);
    }
};

template <class T>
using MapiBufferPtr = std::unique_ptr<T, MapiBufferDeleter>;
