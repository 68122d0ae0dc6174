// The property side every test double with properties shares: values by id,
// GetProps/SetProps/DeleteProps/GetPropList, large values through
// OpenProperty streams, named properties through the store's name map, and
// an entry identifier registered for OpenEntry.
#pragma once

#include <functional>
#include <map>
#include <string>

#include "fake_values.h"

namespace fake {

// A stream over bytes; with onCommit set (a stream opened with MAPI_CREATE)
// Commit hands the written bytes back to the property they belong to.
class Stream : public Object<IStream> {
public:
    Bytes data;
    size_t pos = 0;
    std::function<void(const Bytes&)> onCommit;

    HRESULT Read(void* pv, ULONG cb, ULONG* read) override;
    HRESULT Write(const void* pv, ULONG cb, ULONG* written) override;
    HRESULT Commit(DWORD) override;

protected:
    bool Supports(REFIID riid) const override;
};

// Faults honoured: GetProps, SetProps, SaveChanges, GetIDsFromNames (Fail),
// and per property id failGet (the whole GetProps call fails) and
// valueErrors (that one value comes back as an error; a stream still opens).
template <class I>
class PropObject : public Object<I> {
public:
    // objectType is what OpenEntry reports; with registered, the object gets
    // an entry identifier in context's registry.
    PropObject(Context context, ULONG objectType, bool registered);
    ~PropObject() override;

    std::map<ULONG, mapi::MapiBuffer<SPropValue>> props;  // by property id
    std::map<ULONG, HRESULT> failGet;
    std::map<ULONG, SCODE> valueErrors;
    std::shared_ptr<NameMap> names;
    std::shared_ptr<Entries> entries;
    int saves = 0;
    ULONG savedFlags = 0xFFFFFFFF;

    HRESULT Set(const SPropValue& v);
    void Set(const Value& v) { Set(v.get()); }
    void Erase(ULONG tag) { props.erase(PROP_ID(tag)); }
    // The stored value (of any type) with tag's id, or null.
    const SPropValue* Get(ULONG tag) const;
    // The stored 8-bit text or bytes; empty when missing or of another type.
    std::string Text(ULONG tag) const;
    Bytes Binary(ULONG tag) const;
    // The entry identifier OpenEntry finds this object by (PR_ENTRYID too,
    // unless a value of its own was set).
    const Bytes& Eid() const { return eid_; }

    HRESULT SaveChanges(ULONG flags) override;
    HRESULT GetProps(LPSPropTagArray tags, ULONG, ULONG* count, LPSPropValue* out) override;
    HRESULT GetPropList(ULONG, LPSPropTagArray* out) override;
    HRESULT OpenProperty(ULONG tag, LPCIID iid, ULONG, ULONG flags, LPUNKNOWN* out) override;
    HRESULT SetProps(ULONG count, LPSPropValue values, LPSPropProblemArray* problems) override;
    HRESULT DeleteProps(LPSPropTagArray tags, LPSPropProblemArray* problems) override;
    HRESULT GetNamesFromIDs(LPSPropTagArray* tags, LPGUID, ULONG, ULONG* count,
                            LPMAPINAMEID** out) override;
    HRESULT GetIDsFromNames(ULONG count, LPMAPINAMEID* in, ULONG flags,
                            LPSPropTagArray* out) override;

protected:
    // OpenProperty of anything but a stream (an attachment's message).
    virtual HRESULT OpenObject(ULONG, LPCIID, ULONG, LPUNKNOWN*) { return MAPI_E_NO_SUPPORT; }
    Context Shared() const { return {entries, names}; }

private:
    void StoreStream(ULONG tag, const Bytes& bytes);
    HRESULT Fill(ULONG tag, void* parent, SPropValue* out) const;

    Bytes eid_;
};

}  // namespace fake
