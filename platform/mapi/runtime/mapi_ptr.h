// Owning holders for MAPI memory and COM-style references.
//
// Every MAPI buffer and interface reference the platform hands around is held
// by one of these, so it is released on every path, early returns included.
// None of them is thread-safe by itself; the objects they point at decide that.
#pragma once

#include <memory>
#include <utility>

#include <mapix.h>

void FreeProws(LPSRowSet lpRows);

namespace mapi {

// Frees a whole MAPI allocation chain through its head.
struct MapiFreeDeleter {
    void operator()(void* p) const { MAPIFreeBuffer(p); }
};
template <class T>
using MapiBuffer = std::unique_ptr<T, MapiFreeDeleter>;

// Frees a row set the way QueryRows hands it out: each row, then the set.
struct RowSetDeleter {
    void operator()(SRowSet* rows) const { FreeProws(rows); }
};
using RowSetPtr = std::unique_ptr<SRowSet, RowSetDeleter>;

// Allocates a chain head of cb bytes owned by the returned holder; empty on
// failure.
template <class T>
MapiBuffer<T> AllocateMapi(ULONG cb) {
    void* p = nullptr;
    if (MAPIAllocateBuffer(cb, &p) != S_OK) return MapiBuffer<T>();
    return MapiBuffer<T>(static_cast<T*>(p));
}

// Holds exactly one reference to a COM-style interface. Copying adds a
// reference; destruction and Reset release it.
template <class I>
class ComRef {
public:
    ComRef() = default;
    // Takes over a reference the caller already owns.
    explicit ComRef(I* owned) : p_(owned) {}
    ComRef(const ComRef& other) : p_(other.p_) {
        if (p_ != nullptr) p_->AddRef();
    }
    ComRef(ComRef&& other) noexcept : p_(std::exchange(other.p_, nullptr)) {}
    ComRef& operator=(ComRef other) noexcept {
        std::swap(p_, other.p_);
        return *this;
    }
    ~ComRef() { Reset(); }

    // Adds a reference of its own to p.
    static ComRef Share(I* p) {
        if (p != nullptr) p->AddRef();
        return ComRef(p);
    }

    void Reset() {
        if (p_ != nullptr) std::exchange(p_, nullptr)->Release();
    }
    I* get() const { return p_; }
    I* operator->() const { return p_; }
    I& operator*() const { return *p_; }
    explicit operator bool() const { return p_ != nullptr; }
    // Hands the reference to the caller.
    I* Detach() { return std::exchange(p_, nullptr); }
    // For out-parameters: releases what is held, then gives the slot.
    I** Out() {
        Reset();
        return &p_;
    }
    // For out-parameters typed as IUnknown** or void**.
    template <class T>
    T** OutAs() {
        Reset();
        return reinterpret_cast<T**>(&p_);
    }

private:
    I* p_ = nullptr;
};

}  // namespace mapi
