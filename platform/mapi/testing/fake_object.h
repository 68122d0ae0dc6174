// Reference counting and fault injection shared by every test double.
//
// Counting is observable: refs starts at one (its creator's), and every
// AddRef/Release moves it; a Release past zero counts as an over-release and
// an AddRef from zero as a resurrection, where a real object would already
// be gone. A double made on the stack is never deleted by Release, so a test
// can check afterwards that wrappers gave back exactly what they took. One
// made with Make<T>() is owned by its references and deleted at zero, like a
// provider's object.
//
// Faults: Fail(call, hr) makes that call of this object answer hr (S_OK
// clears it). Which calls an object honours is said where it is declared.
#pragma once

#include <atomic>
#include <map>
#include <utility>
#include <vector>

#include <mapix.h>

#include "fake_unsupported.h"
#include "runtime/com_object.h"
#include "runtime/mapi_ptr.h"

namespace fake {

using Bytes = std::vector<BYTE>;

enum class Call {
    GetProps,
    SetProps,
    SaveChanges,
    GetIDsFromNames,
    OpenEntry,
    GetContentsTable,
    GetHierarchyTable,
    CreateFolder,
    CopyMessages,
    QueryRows,  // a table's QueryRows and GetRowCount
    Restrict,
    GetMsgStoresTable,
    GetReceiveFolder,
};

template <class I>
class Object : public Unsupported<I> {
public:
    Object() = default;
    Object(const Object&) = delete;
    Object& operator=(const Object&) = delete;
    ~Object() override = default;

    HRESULT QueryInterface(REFIID riid, void** ppv) override {
        if (ppv == nullptr) return E_POINTER;
        if (riid == IID_IUnknown || Supports(riid)) {
            *ppv = static_cast<I*>(this);
            AddRef();
            return S_OK;
        }
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    ULONG AddRef() override {
        if (refs <= 0) ++resurrections;
        return static_cast<ULONG>(++refs);
    }
    ULONG Release() override {
        if (refs <= 0) ++overReleases;
        const long left = --refs;
        if (left == 0 && ownedByReferences_) delete this;
        return static_cast<ULONG>(left);
    }

    void Fail(Call call, HRESULT hr) {
        if (hr == S_OK)
            failures_.erase(call);
        else
            failures_[call] = hr;
    }
    HRESULT Failure(Call call) const {
        auto it = failures_.find(call);
        return it == failures_.end() ? S_OK : it->second;
    }

    std::atomic<long> refs{1};
    int overReleases = 0;
    int resurrections = 0;

protected:
    // The IIDs besides IUnknown this object answers QueryInterface for.
    virtual bool Supports(REFIID) const { return false; }

private:
    template <class T, class... Args>
    friend mapi::ComRef<T> Make(Args&&... args);

    bool ownedByReferences_ = false;
    std::map<Call, HRESULT> failures_;
};

// A new double owned by the one reference handed back.
template <class T, class... Args>
mapi::ComRef<T> Make(Args&&... args) {
    T* made = new T(std::forward<Args>(args)...);
    made->ownedByReferences_ = true;
    return mapi::ComRef<T>(made);
}

}  // namespace fake
