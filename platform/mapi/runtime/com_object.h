// Reference counting for the platform's own COM-style objects.
//
// An implementation class derives from ComObject<Interface> and answers
// QueryInterface for the IIDs it lists in SupportsInterface. The count is
// atomic because the copy engine's worker and the user interface thread may
// both hold references to one object.
#pragma once

#include <atomic>
#include <initializer_list>

#include <mapidefs.h>
#include <mapiguid.h>

namespace mapi {

template <class Interface>
class ComObject : public Interface {
public:
    ComObject() = default;
    ComObject(const ComObject&) = delete;
    ComObject& operator=(const ComObject&) = delete;

    HRESULT QueryInterface(REFIID riid, void** ppv) override {
        if (ppv == nullptr) return E_POINTER;
        if (riid == IID_IUnknown || SupportsInterface(riid)) {
            *ppv = static_cast<Interface*>(this);
            this->AddRef();
            return S_OK;
        }
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    ULONG AddRef() override { return ++refs_; }
    ULONG Release() override {
        ULONG left = --refs_;
        if (left == 0) delete this;
        return left;
    }

protected:
    virtual ~ComObject() = default;
    // True for each IID this object can be used as (besides IUnknown).
    virtual bool SupportsInterface(REFIID riid) const = 0;

private:
    std::atomic<ULONG> refs_{1};
};

// True when riid is one of ids.
inline bool IidIn(REFIID riid, std::initializer_list<GUID> ids) {
    for (const GUID& id : ids)
        if (riid == id) return true;
    return false;
}

}  // namespace mapi
