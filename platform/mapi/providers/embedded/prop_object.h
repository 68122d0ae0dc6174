// The IMAPIProp behaviour shared by every object of the embedded store.
//
// An object provides its stored and computed properties through PropHost;
// PropObject<I> turns that into GetProps, GetPropList, SetProps, DeleteProps,
// OpenProperty streams and the named-property calls. Where changes go (the
// database at once for stores and folders, memory until SaveChanges for
// messages and attachments) is the object's business.
//
// GetProps with a null tag array returns every value in its native type
// (strings in the form they were stored), so a whole-object read keeps full
// fidelity; an explicit tag converts to the type it asks for. A string or
// binary value above 64 KiB comes back from GetProps as PT_ERROR
// MAPI_E_NOT_ENOUGH_MEMORY, as MAPI does; OpenProperty streams it.
#pragma once

#include <utility>
#include <vector>

#include <mapidefs.h>
#include <mapiguid.h>

#include "prop_codec.h"
#include "runtime/com_object.h"
#include "store_core.h"

namespace mapi::embedded {

inline constexpr size_t kLargeValueBytes = 64 * 1024;

class PropHost {
public:
    virtual ~PropHost() = default;
    virtual StoreCore& Core() = 0;
    // The computed value of propId (data allocated on parent), or false when
    // this object does not compute propId.
    virtual bool ComputedValue(ULONG propId, void* parent, SPropValue* out) = 0;
    // Full tags of the computed properties this object has now.
    virtual std::vector<ULONG> ComputedTags() = 0;
    // True for properties SetProps/DeleteProps must refuse (MAPI_E_COMPUTED).
    virtual bool IsReadOnlyProp(ULONG propId) = 0;
    virtual HRESULT StoredTypes(std::vector<std::pair<ULONG, ULONG>>* out) = 0;
    // MAPI_E_NOT_FOUND when absent; MAPI_E_CORRUPT_DATA when unreadable.
    virtual HRESULT ReadStored(ULONG propId, EncodedProp* out) = 0;
    virtual HRESULT WriteStored(ULONG propId, EncodedProp value) = 0;
    virtual HRESULT RemoveStored(ULONG propId) = 0;
    virtual bool CanWrite() = 0;
};

HRESULT GetPropsImpl(PropHost& host, LPSPropTagArray tags, ULONG flags, ULONG* count,
                     LPSPropValue* values);
HRESULT GetPropListImpl(PropHost& host, LPSPropTagArray* tags);
HRESULT SetPropsImpl(PropHost& host, ULONG count, LPSPropValue values,
                     LPSPropProblemArray* problems);
HRESULT DeletePropsImpl(PropHost& host, LPSPropTagArray tags, LPSPropProblemArray* problems);
// A stream on a string or binary property; self is AddRef'd by a writable
// stream so the object outlives it.
HRESULT OpenStreamImpl(PropHost& host, IUnknown* self, ULONG tag, LPCIID iid, ULONG flags,
                       LPUNKNOWN* out);

template <class I>
class PropObject : public ComObject<I>, protected PropHost {
public:
    HRESULT GetLastError(HRESULT, ULONG, LPMAPIERROR* error) override {
        if (error != nullptr) *error = nullptr;
        return MAPI_E_NO_SUPPORT;
    }
    HRESULT SaveChanges(ULONG) override { return S_OK; }
    HRESULT GetProps(LPSPropTagArray tags, ULONG flags, ULONG* count,
                     LPSPropValue* values) override {
        return GetPropsImpl(*this, tags, flags, count, values);
    }
    HRESULT GetPropList(ULONG, LPSPropTagArray* tags) override {
        return GetPropListImpl(*this, tags);
    }
    HRESULT OpenProperty(ULONG tag, LPCIID iid, ULONG, ULONG flags, LPUNKNOWN* out) override {
        return OpenStreamImpl(*this, static_cast<I*>(this), tag, iid, flags, out);
    }
    HRESULT SetProps(ULONG count, LPSPropValue values, LPSPropProblemArray* problems) override {
        return SetPropsImpl(*this, count, values, problems);
    }
    HRESULT DeleteProps(LPSPropTagArray tags, LPSPropProblemArray* problems) override {
        return DeletePropsImpl(*this, tags, problems);
    }
    HRESULT CopyTo(ULONG, LPCIID, LPSPropTagArray, ULONG_PTR, LPMAPIPROGRESS, LPCIID, LPVOID, ULONG,
                   LPSPropProblemArray*) override {
        return MAPI_E_NO_SUPPORT;
    }
    HRESULT CopyProps(LPSPropTagArray, ULONG_PTR, LPMAPIPROGRESS, LPCIID, LPVOID, ULONG,
                      LPSPropProblemArray*) override {
        return MAPI_E_NO_SUPPORT;
    }
    HRESULT GetNamesFromIDs(LPSPropTagArray* tags, LPGUID guid, ULONG flags, ULONG* count,
                            LPMAPINAMEID** names) override {
        return Core().NamesFromIds(tags, guid, flags, count, names);
    }
    HRESULT GetIDsFromNames(ULONG count, LPMAPINAMEID* names, ULONG flags,
                            LPSPropTagArray* tags) override {
        return Core().IdsFromNames(count, names, flags, tags);
    }
};

// Helpers for computed values.
HRESULT BinaryValue(ULONG tag, const std::string& bytes, void* parent, SPropValue* out);
SPropValue LongValue(ULONG tag, LONG v);
SPropValue BoolValue(ULONG tag, bool v);
HRESULT UnicodeValue(ULONG tag, const std::string& utf8, void* parent, SPropValue* out);

}  // namespace mapi::embedded
