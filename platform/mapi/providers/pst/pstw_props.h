// IMAPIProp over values held as the file stores them (fmt::PropValue): the
// shared half of every object of a writable personal folder file.
//
// An object has stored values (what SaveChanges keeps) and computed ones
// (entry identifiers, object type, counts), which win over stored values of
// the same id and cannot be set. GetProps with a null tag array returns
// every value in its native type; an explicit tag converts to the type it
// asks for. A string or binary value above 64 KiB comes back from GetProps
// as PT_ERROR MAPI_E_NOT_ENOUGH_MEMORY, as MAPI does; OpenProperty streams
// it.
#pragma once

#include <functional>
#include <memory>
#include <mutex>
#include <vector>

#include <mapidefs.h>
#include <mapiguid.h>

#include "providers/pst/format/ltp_value.h"
#include "providers/pst/pstw_file.h"
#include "runtime/com_object.h"

namespace mapi::pst {

using Values = std::vector<fmt::PropValue>;

HRESULT GetPropsFrom(const Values& stored, const Values& computed, const SPropTagArray* tags,
                     ULONG* count, LPSPropValue* out);
HRESULT PropListFrom(const Values& stored, const Values& computed, LPSPropTagArray* out);
// Problems name the computed properties that were refused (MAPI_E_COMPUTED)
// and values that could not be stored.
HRESULT SetPropsInto(Values& stored, const std::function<bool(ULONG)>& isComputed, ULONG count,
                     const SPropValue* values, LPSPropProblemArray* problems);
HRESULT DeletePropsFrom(Values& stored, const std::function<bool(ULONG)>& isComputed,
                        const SPropTagArray* tags, LPSPropProblemArray* problems);

template <class I>
class PstwObject : public ComObject<I> {
public:
    explicit PstwObject(std::shared_ptr<WritableFile> file) : file_(std::move(file)) {}

    HRESULT GetLastError(HRESULT, ULONG, LPMAPIERROR* error) override {
        if (error != nullptr) *error = nullptr;
        return MAPI_E_NO_SUPPORT;
    }
    HRESULT GetProps(LPSPropTagArray tags, ULONG, ULONG* count, LPSPropValue* values) override {
        return Guard([&] { return GetPropsFrom(Stored(), Computed(), tags, count, values); });
    }
    HRESULT GetPropList(ULONG, LPSPropTagArray* tags) override {
        return Guard([&] { return PropListFrom(Stored(), Computed(), tags); });
    }
    HRESULT SetProps(ULONG count, LPSPropValue values, LPSPropProblemArray* problems) override {
        return Guard([&] {
            if (!Writable()) return HRESULT(MAPI_E_NO_ACCESS);
            return AfterChange(SetPropsInto(Stored(), [this](ULONG id) { return IsComputed(id); },
                                            count, values, problems));
        });
    }
    HRESULT DeleteProps(LPSPropTagArray tags, LPSPropProblemArray* problems) override {
        return Guard([&] {
            if (!Writable()) return HRESULT(MAPI_E_NO_ACCESS);
            return AfterChange(DeletePropsFrom(Stored(), [this](ULONG id) { return IsComputed(id); },
                                               tags, problems));
        });
    }
    HRESULT OpenProperty(ULONG tag, LPCIID iid, ULONG options, ULONG flags, LPUNKNOWN* out) override;
    HRESULT CopyTo(ULONG, LPCIID, LPSPropTagArray, ULONG_PTR, LPMAPIPROGRESS, LPCIID, LPVOID, ULONG,
                   LPSPropProblemArray*) override {
        return MAPI_E_NO_SUPPORT;
    }
    HRESULT CopyProps(LPSPropTagArray, ULONG_PTR, LPMAPIPROGRESS, LPCIID, LPVOID, ULONG,
                      LPSPropProblemArray*) override {
        return MAPI_E_NO_SUPPORT;
    }
    HRESULT GetNamesFromIDs(LPSPropTagArray* tags, LPGUID set, ULONG flags, ULONG* count,
                            LPMAPINAMEID** names) override {
        return Guard([&] { return file_->NamesFromIds(tags, set, flags, count, names); });
    }
    HRESULT GetIDsFromNames(ULONG count, LPMAPINAMEID* names, ULONG flags,
                            LPSPropTagArray* tags) override {
        return Guard([&] { return file_->IdsFromNames(count, names, flags, tags); });
    }

protected:
    // Called with the file's lock held.
    virtual Values& Stored() = 0;
    virtual Values Computed() = 0;
    virtual bool IsComputed(ULONG propId) = 0;
    virtual bool Writable() { return true; }
    // Folders write their own properties through at once; messages and
    // attachments wait for SaveChanges.
    virtual HRESULT AfterChange(HRESULT hr) { return hr; }
    // PT_OBJECT properties (embedded messages, tables); MAPI_E_NO_SUPPORT
    // lets the stream handling take over.
    virtual HRESULT OpenObject(ULONG tag, REFIID iid, ULONG flags, IUnknown** out) {
        (void)tag, (void)iid, (void)flags, (void)out;
        return MAPI_E_NO_SUPPORT;
    }

    template <class F>
    HRESULT Guard(F&& call) {
        try {
            std::lock_guard<std::recursive_mutex> lock(file_->Mutex());
            return call();
        } catch (const std::bad_alloc&) {
            return MAPI_E_NOT_ENOUGH_MEMORY;
        } catch (...) {
            return MAPI_E_CALL_FAILED;
        }
    }

    const std::shared_ptr<WritableFile>& File() const { return file_; }

private:
    std::shared_ptr<WritableFile> file_;
};

// OpenProperty for streams: the bytes of a string or binary value.
HRESULT OpenValueStream(Values& stored, bool writable, IUnknown* owner, ULONG tag, ULONG flags,
                        std::recursive_mutex& mutex, const std::function<HRESULT()>& afterChange,
                        IUnknown** out);

template <class I>
HRESULT PstwObject<I>::OpenProperty(ULONG tag, LPCIID iid, ULONG, ULONG flags, LPUNKNOWN* out) {
    if (out == nullptr || iid == nullptr) return MAPI_E_INVALID_PARAMETER;
    *out = nullptr;
    return Guard([&] {
        HRESULT hr = OpenObject(tag, *iid, flags, out);
        if (hr != MAPI_E_NO_SUPPORT) return hr;
        if (*iid != IID_IStream && *iid != IID_ISequentialStream) return HRESULT(MAPI_E_INTERFACE_NOT_SUPPORTED);
        if (IsComputed(PROP_ID(tag)) && (flags & (MAPI_CREATE | MAPI_MODIFY)) != 0)
            return HRESULT(MAPI_E_COMPUTED);
        return OpenValueStream(Stored(), Writable(), static_cast<I*>(this), tag, flags, file_->Mutex(),
                               [this] { return AfterChange(S_OK); }, out);
    });
}

}  // namespace mapi::pst
