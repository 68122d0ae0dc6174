// The IMAPIProp half shared by the store, folder, message and attachment
// objects of a mail file store.
//
// An object shows stored values (a PropBag it owns or shares; null for
// objects whose values are all computed) laid under the values it computes
// on each call. GetProps with no tag array answers native types; with tags
// it converts to the type asked for. Streams read any string or binary
// value and, on writable objects, write one when committed.
#pragma once

#include <memory>
#include <mutex>
#include <string>

#include <mapidefs.h>
#include <mapiguid.h>

#include "mime/mail_item.h"
#include "providers/mailfiles/store_core.h"
#include "runtime/com_object.h"

namespace mapi::mailfiles {

HRESULT GetPropsFrom(const mime::PropBag* stored, const mime::PropBag& computed,
                     LPSPropTagArray tags, ULONG flags, ULONG* count, LPSPropValue* values);
HRESULT GetPropListFrom(const mime::PropBag* stored, const mime::PropBag& computed,
                        LPSPropTagArray* tags);
// Sets values in stored; those of computed ids are reported as problems
// (MAPI_E_COMPUTED) and not set.
HRESULT SetPropsInto(mime::PropBag& stored, const mime::PropBag& computed, ULONG count,
                     LPSPropValue values, LPSPropProblemArray* problems);
HRESULT DeletePropsFrom(mime::PropBag& stored, const mime::PropBag& computed,
                        LPSPropTagArray tags, LPSPropProblemArray* problems);
// An IStream on tag. stored null: read-only. A stream opened for writing
// holds owner, and puts its bytes into stored as tag when committed.
HRESULT OpenStream(mime::PropBag* stored, const mime::PropBag& computed, ULONG tag, ULONG flags,
                   IUnknown* owner, LPUNKNOWN* out);

// A MAPIERROR (one MAPI buffer) with text and component, UTF-16 when flags
// has MAPI_UNICODE.
HRESULT MakeMapiError(const std::string& text, const std::string& component, ULONG flags,
                      LPMAPIERROR* error);

template <class I>
class MailObject : public ComObject<I> {
public:
    explicit MailObject(std::shared_ptr<StoreCore> core) : core_(std::move(core)) {}

    // The words kept for the last failure of this object, when hr is that
    // failure's code; S_OK with no MAPIERROR when there are none.
    HRESULT GetLastError(HRESULT hr, ULONG flags, LPMAPIERROR* error) override {
        if (error == nullptr) return MAPI_E_INVALID_PARAMETER;
        *error = nullptr;
        std::string text;
        {
            std::lock_guard<std::mutex> lock(explainedLock_);
            if (explainedCode_ == hr) text = explained_;
        }
        if (text.empty()) return S_OK;
        return Guard([&] { return MakeMapiError(text, core_->Layout().Kind(), flags, error); });
    }
    HRESULT SaveChanges(ULONG) override { return S_OK; }
    HRESULT GetProps(LPSPropTagArray tags, ULONG flags, ULONG* count,
                     LPSPropValue* values) override {
        return Guard([&] {
            mime::PropBag computed;
            ComputeFor(tags, computed);
            return GetPropsFrom(Stored(), computed, tags, flags, count, values);
        });
    }
    HRESULT GetPropList(ULONG, LPSPropTagArray* tags) override {
        return Guard([&] {
            mime::PropBag computed;
            Compute(computed);
            return GetPropListFrom(Stored(), computed, tags);
        });
    }
    HRESULT OpenProperty(ULONG tag, LPCIID iid, ULONG, ULONG flags, LPUNKNOWN* out) override {
        if (out == nullptr || iid == nullptr) return MAPI_E_INVALID_PARAMETER;
        *out = nullptr;
        return Guard([&] {
            HRESULT hr = OpenObject(tag, *iid, flags, out);
            if (hr != MAPI_E_NO_SUPPORT) return hr;
            if (*iid != IID_IStream && *iid != IID_ISequentialStream)
                return MAPI_E_INTERFACE_NOT_SUPPORTED;
            mime::PropBag computed;
            Compute(computed);
            mime::PropBag* stored = Writable() ? MutableStored() : nullptr;
            if ((flags & (MAPI_CREATE | MAPI_MODIFY)) != 0 && stored == nullptr)
                return MAPI_E_NO_ACCESS;
            return OpenStream(stored, computed, tag, flags, static_cast<I*>(this), out);
        });
    }
    HRESULT SetProps(ULONG count, LPSPropValue values, LPSPropProblemArray* problems) override {
        if (problems != nullptr) *problems = nullptr;
        return Guard([&] {
            mime::PropBag* stored = Writable() ? MutableStored() : nullptr;
            if (stored == nullptr) return SetOther(count, values, problems);
            mime::PropBag computed;
            Compute(computed);
            return SetPropsInto(*stored, computed, count, values, problems);
        });
    }
    HRESULT DeleteProps(LPSPropTagArray tags, LPSPropProblemArray* problems) override {
        if (problems != nullptr) *problems = nullptr;
        return Guard([&] {
            mime::PropBag* stored = Writable() ? MutableStored() : nullptr;
            if (stored == nullptr) return MAPI_E_NO_ACCESS;
            mime::PropBag computed;
            Compute(computed);
            return DeletePropsFrom(*stored, computed, tags, problems);
        });
    }
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
        return Guard([&] { return core_->NamesFromIds(tags, set, flags, count, names); });
    }
    HRESULT GetIDsFromNames(ULONG count, LPMAPINAMEID* names, ULONG flags,
                            LPSPropTagArray* tags) override {
        return Guard([&] { return core_->IdsFromNames(count, names, flags, tags); });
    }

protected:
    // Values computed on each call (entry ids, counts, sizes).
    virtual void Compute(mime::PropBag& out) = 0;
    // For GetProps of tags (null: all); objects whose values cost a server
    // round trip may leave out those not asked for.
    virtual void ComputeFor(LPSPropTagArray /*tags*/, mime::PropBag& out) { Compute(out); }
    // The stored values, or null.
    virtual const mime::PropBag* Stored() { return nullptr; }
    virtual mime::PropBag* MutableStored() { return nullptr; }
    virtual bool Writable() { return false; }
    // SetProps on an object without stored values (store, folder).
    virtual HRESULT SetOther(ULONG, LPSPropValue, LPSPropProblemArray*) { return MAPI_E_NO_ACCESS; }
    // Objects behind PT_OBJECT properties; MAPI_E_NO_SUPPORT for streams.
    virtual HRESULT OpenObject(ULONG, REFIID, ULONG, LPUNKNOWN*) { return MAPI_E_NO_SUPPORT; }

    // Running out of memory or a library throwing is an answer, not a crash.
    template <class F>
    static HRESULT Guard(F&& call) {
        try {
            return call();
        } catch (const std::bad_alloc&) {
            return MAPI_E_NOT_ENOUGH_MEMORY;
        } catch (...) {
            return MAPI_E_CALL_FAILED;
        }
    }

    const std::shared_ptr<StoreCore>& Core() const { return core_; }

    // Keeps text as the explanation GetLastError gives for hr; gives hr.
    HRESULT Explain(HRESULT hr, std::string text) {
        if (hr != S_OK) {
            std::lock_guard<std::mutex> lock(explainedLock_);
            explainedCode_ = hr;
            explained_ = std::move(text);
        }
        return hr;
    }
    // For the result of a layout call made under the store's lock: a
    // failure is explained by the layout's words for it.
    HRESULT ExplainLayout(HRESULT hr) {
        return FAILED(hr) ? Explain(hr, core_->Layout().TakeLastError()) : hr;
    }

private:
    std::shared_ptr<StoreCore> core_;
    std::mutex explainedLock_;
    HRESULT explainedCode_ = S_OK;
    std::string explained_;
};

// Problem arrays for SetProps on objects that keep nothing themselves.
HRESULT AllProblems(ULONG count, LPSPropValue values, SCODE code, LPSPropProblemArray* problems);

}  // namespace mapi::mailfiles
