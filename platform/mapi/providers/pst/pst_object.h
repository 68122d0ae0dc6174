// The IMAPIProp half of every object of a personal folder file (store,
// folder, message, attachment). The file is read-only: every write answers
// MAPI_E_NO_ACCESS.
#pragma once

#include <memory>

#include <mapiguid.h>

#include "providers/pst/pst_item_props.h"
#include "providers/pst/pst_prop_ops.h"
#include "runtime/com_object.h"

namespace mapi::pst {

template <class Interface>
class PstObject : public ComObject<Interface> {
public:
    explicit PstObject(std::unique_ptr<ItemProps> props) : props_(std::move(props)) {}

    HRESULT GetLastError(HRESULT, ULONG, LPMAPIERROR* error) override {
        if (error != nullptr) *error = nullptr;
        return S_OK;
    }
    HRESULT SaveChanges(ULONG) override { return MAPI_E_NO_ACCESS; }
    HRESULT GetProps(LPSPropTagArray tags, ULONG flags, ULONG* count,
                     LPSPropValue* values) override {
        return GuardCall([&] { return GetPropsOf(*props_, tags, flags, count, values); });
    }
    HRESULT GetPropList(ULONG flags, LPSPropTagArray* tags) override {
        return GuardCall([&] { return GetPropListOf(*props_, flags, tags); });
    }
    HRESULT OpenProperty(ULONG tag, LPCIID iid, ULONG options, ULONG flags,
                         LPUNKNOWN* object) override {
        if (object == nullptr || iid == nullptr) return MAPI_E_INVALID_PARAMETER;
        *object = nullptr;
        if ((flags & (MAPI_CREATE | MAPI_MODIFY)) != 0) return MAPI_E_NO_ACCESS;
        return GuardCall([&] {
            HRESULT hr = OpenObjectProperty(tag, *iid, options, flags, object);
            if (hr != MAPI_E_NO_SUPPORT) return hr;
            if (*iid == IID_IStream || *iid == IID_ISequentialStream)
                return OpenStreamOf(*props_, tag, flags, object);
            return MAPI_E_INTERFACE_NOT_SUPPORTED;
        });
    }
    HRESULT SetProps(ULONG, LPSPropValue, LPSPropProblemArray* problems) override {
        if (problems != nullptr) *problems = nullptr;
        return MAPI_E_NO_ACCESS;
    }
    HRESULT DeleteProps(LPSPropTagArray, LPSPropProblemArray* problems) override {
        if (problems != nullptr) *problems = nullptr;
        return MAPI_E_NO_ACCESS;
    }
    HRESULT CopyTo(ULONG, LPCIID, LPSPropTagArray, ULONG_PTR, LPMAPIPROGRESS, LPCIID, LPVOID, ULONG,
                   LPSPropProblemArray*) override {
        return MAPI_E_NO_SUPPORT;
    }
    HRESULT CopyProps(LPSPropTagArray, ULONG_PTR, LPMAPIPROGRESS, LPCIID, LPVOID, ULONG,
                      LPSPropProblemArray*) override {
        return MAPI_E_NO_SUPPORT;
    }
    HRESULT GetNamesFromIDs(LPSPropTagArray* tags, LPGUID propSet, ULONG flags, ULONG* count,
                            LPMAPINAMEID** names) override {
        return GuardCall([&] {
            return NamesFromIds(props_->File()->Names(), tags, propSet, flags, count, names);
        });
    }
    HRESULT GetIDsFromNames(ULONG count, LPMAPINAMEID* names, ULONG flags,
                            LPSPropTagArray* tags) override {
        return GuardCall(
            [&] { return IdsFromNames(props_->File()->Names(), count, names, flags, tags); });
    }

protected:
    // Objects behind PT_OBJECT properties (embedded messages, tables);
    // MAPI_E_NO_SUPPORT lets the stream handling take over.
    virtual HRESULT OpenObjectProperty(ULONG tag, REFIID iid, ULONG options, ULONG flags,
                                       IUnknown** object) {
        (void)tag, (void)iid, (void)options, (void)flags, (void)object;
        return MAPI_E_NO_SUPPORT;
    }

    // Runs a call so that running out of memory is an answer, not a crash.
    template <class F>
    static HRESULT GuardCall(F&& call) {
        try {
            return call();
        } catch (const std::bad_alloc&) {
            return MAPI_E_NOT_ENOUGH_MEMORY;
        } catch (...) {
            return MAPI_E_CALL_FAILED;
        }
    }

    ItemProps& Props() { return *props_; }
    const std::shared_ptr<PstFile>& File() const { return props_->File(); }

private:
    std::unique_ptr<ItemProps> props_;
};

}  // namespace mapi::pst
