// The property side of the test doubles.
#include "fake_prop.h"

#include <algorithm>
#include <cstring>

#include <mapiutil.h>

#include "runtime/prop_convert.h"

namespace fake {

// --- Stream ------------------------------------------------------------------

HRESULT Stream::Read(void* pv, ULONG cb, ULONG* read) {
    const ULONG n = static_cast<ULONG>(std::min<size_t>(cb, data.size() - pos));
    if (n > 0) std::memcpy(pv, data.data() + pos, n);
    pos += n;
    if (read) *read = n;
    return S_OK;
}

HRESULT Stream::Write(const void* pv, ULONG cb, ULONG* written) {
    const BYTE* p = static_cast<const BYTE*>(pv);
    data.insert(data.end(), p, p + cb);
    if (written) *written = cb;
    return S_OK;
}

HRESULT Stream::Commit(DWORD) {
    if (onCommit) onCommit(data);
    return S_OK;
}

bool Stream::Supports(REFIID riid) const {
    return riid == IID_IStream || riid == IID_ISequentialStream;
}

// --- Properties --------------------------------------------------------------

template <class I>
PropObject<I>::PropObject(Context context, ULONG objectType, bool registered)
    : names(std::move(context.names)), entries(std::move(context.entries)) {
    if (!registered) return;
    eid_ = entries->NewEid();
    entries->Add(eid_, static_cast<IUnknown*>(static_cast<I*>(this)), objectType);
}

template <class I>
PropObject<I>::~PropObject() {
    if (!eid_.empty()) entries->Remove(eid_, static_cast<IUnknown*>(static_cast<I*>(this)));
}

template <class I>
HRESULT PropObject<I>::Set(const SPropValue& v) {
    LPSPropValue copy = nullptr;
    HRESULT hr = ScDupPropset(1, const_cast<LPSPropValue>(&v), MAPIAllocateBuffer, &copy);
    if (hr == S_OK) props[PROP_ID(v.ulPropTag)].reset(copy);
    return hr;
}

template <class I>
const SPropValue* PropObject<I>::Get(ULONG tag) const {
    auto it = props.find(PROP_ID(tag));
    return it == props.end() ? nullptr : it->second.get();
}

template <class I>
std::string PropObject<I>::Text(ULONG tag) const {
    const SPropValue* v = Get(tag);
    if (v == nullptr || PROP_TYPE(v->ulPropTag) != PT_STRING8 || v->Value.lpszA == nullptr)
        return {};
    return v->Value.lpszA;
}

template <class I>
Bytes PropObject<I>::Binary(ULONG tag) const {
    const SPropValue* v = Get(tag);
    if (v == nullptr || PROP_TYPE(v->ulPropTag) != PT_BINARY) return {};
    return BytesOf(v->Value.bin.cb, v->Value.bin.lpb);
}

template <class I>
HRESULT PropObject<I>::SaveChanges(ULONG flags) {
    savedFlags = flags;
    if (HRESULT hr = this->Failure(Call::SaveChanges)) return hr;
    ++saves;
    return S_OK;
}

// One value of GetProps: the stored one in the type asked for, or PT_ERROR.
// A value that cannot take that type comes back in its own, as some
// providers answer; the callers must cope with that. Fails only when memory
// runs out.
template <class I>
HRESULT PropObject<I>::Fill(ULONG tag, void* parent, SPropValue* out) const {
    const ULONG id = PROP_ID(tag);
    const SPropValue* stored = Get(tag);
    SPropValue eid{};
    if (stored == nullptr && id == PROP_ID(PR_ENTRYID) && !eid_.empty()) {
        eid.ulPropTag = PR_ENTRYID;
        eid.Value.bin.cb = static_cast<ULONG>(eid_.size());
        eid.Value.bin.lpb = const_cast<BYTE*>(eid_.data());
        stored = &eid;
    }
    if (stored == nullptr) {
        *out = mapi::ErrorValue(tag, MAPI_E_NOT_FOUND);
        return S_OK;
    }
    if (auto error = valueErrors.find(id); error != valueErrors.end()) {
        *out = mapi::ErrorValue(tag, error->second);
        return S_OK;
    }
    HRESULT hr = mapi::ConvertValue(*stored, PROP_TYPE(tag), parent, out);
    if (hr == MAPI_E_INVALID_TYPE) hr = mapi::CopyValueWith(MAPIAllocateMore, parent, *stored, out);
    return hr == MAPI_E_NOT_ENOUGH_MEMORY ? hr : S_OK;
}

template <class I>
HRESULT PropObject<I>::GetProps(LPSPropTagArray tags, ULONG, ULONG* count, LPSPropValue* out) {
    *out = nullptr;
    *count = 0;
    if (HRESULT hr = this->Failure(Call::GetProps)) return hr;
    std::vector<ULONG> wanted;
    if (tags != nullptr) {
        wanted.assign(tags->aulPropTag, tags->aulPropTag + tags->cValues);
    } else {
        for (const auto& [id, v] : props) wanted.push_back(v->ulPropTag);
    }
    for (ULONG tag : wanted)
        if (auto failure = failGet.find(PROP_ID(tag)); failure != failGet.end())
            return failure->second;
    auto values = mapi::AllocateMapi<SPropValue>(
        static_cast<ULONG>(sizeof(SPropValue) * std::max<size_t>(wanted.size(), 1)));
    if (!values) return MAPI_E_NOT_ENOUGH_MEMORY;
    bool errors = false;
    for (size_t i = 0; i < wanted.size(); ++i) {
        if (HRESULT hr = Fill(wanted[i], values.get(), &values.get()[i])) return hr;
        errors |= PROP_TYPE(values.get()[i].ulPropTag) == PT_ERROR;
    }
    *count = static_cast<ULONG>(wanted.size());
    *out = values.release();
    return errors ? MAPI_W_ERRORS_RETURNED : S_OK;
}

template <class I>
HRESULT PropObject<I>::GetPropList(ULONG, LPSPropTagArray* out) {
    auto tags = mapi::AllocateMapi<SPropTagArray>(CbNewSPropTagArray(props.size()));
    if (!tags) return MAPI_E_NOT_ENOUGH_MEMORY;
    tags->cValues = 0;
    for (const auto& [id, v] : props) tags->aulPropTag[tags->cValues++] = v->ulPropTag;
    *out = tags.release();
    return S_OK;
}

template <class I>
void PropObject<I>::StoreStream(ULONG tag, const Bytes& bytes) {
    std::string text(bytes.begin(), bytes.end());
    SPropValue v{};
    v.ulPropTag = tag;
    if (PROP_TYPE(tag) == PT_STRING8) {
        v.Value.lpszA = text.data();
    } else {
        v.Value.bin.cb = static_cast<ULONG>(bytes.size());
        v.Value.bin.lpb = const_cast<BYTE*>(bytes.data());
    }
    Set(v);
}

template <class I>
HRESULT PropObject<I>::OpenProperty(ULONG tag, LPCIID iid, ULONG, ULONG flags, LPUNKNOWN* out) {
    if (iid == nullptr || *iid != IID_IStream) return OpenObject(tag, iid, flags, out);
    auto stream = Make<Stream>();
    if (flags & MAPI_CREATE) {
        stream->onCommit = [this, tag](const Bytes& bytes) { StoreStream(tag, bytes); };
    } else {
        const SPropValue* v = Get(tag);
        if (v == nullptr) return MAPI_E_NOT_FOUND;
        if (PROP_TYPE(v->ulPropTag) == PT_BINARY)
            stream->data.assign(v->Value.bin.lpb, v->Value.bin.lpb + v->Value.bin.cb);
        else if (PROP_TYPE(v->ulPropTag) == PT_STRING8)
            stream->data.assign(v->Value.lpszA, v->Value.lpszA + std::strlen(v->Value.lpszA));
        else
            return MAPI_E_NO_SUPPORT;
    }
    *out = static_cast<IStream*>(stream.Detach());
    return S_OK;
}

template <class I>
HRESULT PropObject<I>::SetProps(ULONG count, LPSPropValue values, LPSPropProblemArray* problems) {
    if (problems) *problems = nullptr;
    if (HRESULT hr = this->Failure(Call::SetProps)) return hr;
    for (ULONG i = 0; i < count; ++i)
        if (HRESULT hr = Set(values[i])) return hr;
    return S_OK;
}

template <class I>
HRESULT PropObject<I>::DeleteProps(LPSPropTagArray tags, LPSPropProblemArray* problems) {
    if (problems) *problems = nullptr;
    for (ULONG i = 0; tags != nullptr && i < tags->cValues; ++i) Erase(tags->aulPropTag[i]);
    return S_OK;
}

template <class I>
HRESULT PropObject<I>::GetNamesFromIDs(LPSPropTagArray* tags, LPGUID, ULONG, ULONG* count,
                                       LPMAPINAMEID** out) {
    const ULONG n = (*tags)->cValues;
    auto list = mapi::AllocateMapi<LPMAPINAMEID>(sizeof(LPMAPINAMEID) * std::max<ULONG>(n, 1));
    if (!list) return MAPI_E_NOT_ENOUGH_MEMORY;
    for (ULONG i = 0; i < n; ++i) {
        list.get()[i] = nullptr;
        const NameMap::Name* k = names->ById(PROP_ID((*tags)->aulPropTag[i]));
        if (k == nullptr) continue;
        void* p = nullptr;
        if (MAPIAllocateMore(sizeof(MAPINAMEID) + sizeof(GUID) + (k->text.size() + 1) * 2,
                             list.get(), &p) != S_OK)
            return MAPI_E_NOT_ENOUGH_MEMORY;
        auto* name = static_cast<MAPINAMEID*>(p);
        auto* guid = reinterpret_cast<GUID*>(name + 1);
        auto* text = reinterpret_cast<WCHAR*>(guid + 1);
        *guid = k->guid;
        std::memcpy(text, k->text.c_str(), (k->text.size() + 1) * 2);
        name->lpguid = guid;
        name->ulKind = k->kind;
        if (k->kind == MNID_ID)
            name->Kind.lID = k->id;
        else
            name->Kind.lpwstrName = text;
        list.get()[i] = name;
    }
    *count = n;
    *out = list.release();
    return S_OK;
}

template <class I>
HRESULT PropObject<I>::GetIDsFromNames(ULONG count, LPMAPINAMEID* in, ULONG flags,
                                       LPSPropTagArray* out) {
    *out = nullptr;
    if (HRESULT hr = this->Failure(Call::GetIDsFromNames)) return hr;
    for (ULONG i = 0; i < count; ++i) {
        const MAPINAMEID& n = *in[i];
        names->requests.push_back(
            {n.lpguid == nullptr, n.lpguid != nullptr ? *n.lpguid : GUID{}, n.ulKind,
             n.ulKind == MNID_ID ? n.Kind.lID : 0,
             n.ulKind == MNID_STRING && n.Kind.lpwstrName ? n.Kind.lpwstrName : u"", flags});
    }
    if (names->answerWithoutTags) return S_OK;
    auto tags = mapi::AllocateMapi<SPropTagArray>(CbNewSPropTagArray(count));
    if (!tags) return MAPI_E_NOT_ENOUGH_MEMORY;
    tags->cValues = count;
    for (ULONG i = 0; i < count; ++i) {
        const ULONG id = names->Find(*in[i], (flags & MAPI_CREATE) != 0);
        tags->aulPropTag[i] = id ? PROP_TAG(PT_UNSPECIFIED, id) : PROP_TAG(PT_ERROR, 0);
    }
    *out = tags.release();
    return S_OK;
}

template class PropObject<IMAPIFolder>;
template class PropObject<IMsgStore>;
template class PropObject<IMessage>;
template class PropObject<IAttach>;

}  // namespace fake
