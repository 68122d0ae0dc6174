// Owning holder of one counted reference to a MAPI (COM-style) interface.
//
// Contract:
// - Constructing from a raw pointer takes a reference of its own (AddRef):
//   the caller keeps whatever reference it had.
// - Adopt() takes over a reference the caller already owns (for example the
//   one a MAPI method hands out through an out parameter) without AddRef.
// - Copying takes one further reference; assignment takes the reference on
//   the new interface before releasing the old one, so self-assignment is
//   harmless. Moving transfers the reference.
// - Destruction releases the reference; an empty holder releases nothing.
// - Receive() releases what is held and returns the slot a MAPI out
//   parameter fills; whatever MAPI writes there is owned by the holder.
// Not thread-safe as an object: one holder is used by one thread at a time
// (the interface's own count is the platform's business).
#pragma once

#include <utility>

#include <mapidefs.h>

template <class T>
class CInterfaceRef {
public:
    CInterfaceRef() = default;
    explicit CInterfaceRef(T* p) : m_p(p) {
        if (m_p) m_p->AddRef();
    }
    CInterfaceRef(const CInterfaceRef& other) : CInterfaceRef(other.m_p) {}
    CInterfaceRef(CInterfaceRef&& other) noexcept : m_p(std::exchange(other.m_p, nullptr)) {}
    ~CInterfaceRef() { Reset(); }

    CInterfaceRef& operator=(const CInterfaceRef& other) {
        T* old = m_p;
        if (other.m_p) other.m_p->AddRef();
        m_p = other.m_p;
        if (old) old->Release();
        return *this;
    }
    CInterfaceRef& operator=(CInterfaceRef&& other) noexcept {
        if (this != &other) {
            Reset();
            m_p = std::exchange(other.m_p, nullptr);
        }
        return *this;
    }

    // Takes over a reference the caller owns; no AddRef.
    static CInterfaceRef Adopt(T* p) {
        CInterfaceRef ref;
        ref.m_p = p;
        return ref;
    }

    void Reset() {
        if (T* old = std::exchange(m_p, nullptr)) old->Release();
    }
    // Releases the held reference and hands out the empty slot for an out
    // parameter; the holder owns whatever is written there.
    T** Receive() {
        Reset();
        return &m_p;
    }
    // Gives up ownership without releasing; the caller now owns the reference.
    [[nodiscard]] T* Detach() { return std::exchange(m_p, nullptr); }

    T* get() const { return m_p; }
    T* operator->() const { return m_p; }
    explicit operator bool() const { return m_p != nullptr; }

private:
    T* m_p = nullptr;
};

// A table reference: tables come from _rawContentsTable, _rawAssociatedTable,
// _rawHierrarchyTable (each adopting the one reference MAPI hands out).
using IMAPITablePtr = CInterfaceRef<IMAPITable>;
