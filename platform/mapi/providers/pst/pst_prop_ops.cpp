// GetProps, GetPropList, OpenProperty streams and the name-to-id calls.
#include "providers/pst/pst_prop_ops.h"

#include <cstring>

#include <mapix.h>

#include "providers/pst/pst_stream.h"
#include "runtime/mapi_ptr.h"
#include "runtime/prop_convert.h"

namespace mapi::pst {
namespace {

bool IsString8(ULONG type) {
    return (type & ~MV_FLAG) == PT_STRING8;
}

ULONG ListedTag(ULONG tag, ULONG flags) {
    if ((flags & MAPI_UNICODE) != 0 && IsString8(PROP_TYPE(tag)))
        return CHANGE_PROP_TYPE(tag, (PROP_TYPE(tag) & MV_FLAG) | PT_UNICODE);
    return tag;
}

}  // namespace

HRESULT GetPropsOf(ItemProps& props, const SPropTagArray* tags, ULONG flags, ULONG* count,
                   SPropValue** values) {
    if (count == nullptr || values == nullptr) return MAPI_E_INVALID_PARAMETER;
    *count = 0;
    *values = nullptr;
    std::vector<ULONG> wanted;
    if (tags == nullptr) {
        HRESULT hr = props.Tags(&wanted);
        if (hr != S_OK) return hr;
        for (ULONG& tag : wanted) tag = ListedTag(tag, flags);
    } else {
        wanted.assign(tags->aulPropTag, tags->aulPropTag + tags->cValues);
    }

    auto out = AllocateMapi<SPropValue>(
        static_cast<ULONG>(sizeof(SPropValue) * (wanted.empty() ? 1 : wanted.size())));
    if (!out) return MAPI_E_NOT_ENOUGH_MEMORY;
    bool errors = false;
    for (size_t i = 0; i < wanted.size(); ++i) {
        ULONG tag = wanted[i];
        SPropValue& slot = out.get()[i];
        const SPropValue* native = props.GetById(PROP_ID(tag));
        if (native == nullptr) {
            slot = ErrorValue(tag, MAPI_E_NOT_FOUND);
            errors = true;
        } else if (PROP_TYPE(native->ulPropTag) == PT_ERROR) {
            slot = *native;
            errors = true;
        } else if (PROP_TYPE(native->ulPropTag) == PT_OBJECT) {
            // Objects are reached through OpenProperty; the value says so.
            slot = *native;
        } else {
            HRESULT hr = ConvertValue(*native, PROP_TYPE(tag), out.get(), &slot);
            if (hr == MAPI_E_NOT_ENOUGH_MEMORY) return hr;
            if (hr != S_OK) {
                slot = ErrorValue(tag, hr);
                errors = true;
            }
        }
    }
    *count = static_cast<ULONG>(wanted.size());
    *values = out.release();
    return errors ? MAPI_W_ERRORS_RETURNED : S_OK;
}

HRESULT GetPropListOf(ItemProps& props, ULONG flags, SPropTagArray** tags) {
    if (tags == nullptr) return MAPI_E_INVALID_PARAMETER;
    *tags = nullptr;
    std::vector<ULONG> list;
    HRESULT hr = props.Tags(&list);
    if (hr != S_OK) return hr;
    auto out = AllocateMapi<SPropTagArray>(static_cast<ULONG>(CbNewSPropTagArray(list.size())));
    if (!out) return MAPI_E_NOT_ENOUGH_MEMORY;
    out->cValues = static_cast<ULONG>(list.size());
    for (size_t i = 0; i < list.size(); ++i) out->aulPropTag[i] = ListedTag(list[i], flags);
    *tags = out.release();
    return S_OK;
}

HRESULT OpenStreamOf(ItemProps& props, ULONG tag, ULONG flags, IUnknown** stream) {
    (void)flags;
    const SPropValue* native = props.GetById(PROP_ID(tag));
    if (native == nullptr) return MAPI_E_NOT_FOUND;
    if (PROP_TYPE(native->ulPropTag) == PT_ERROR) return native->Value.err;

    auto holder = AllocateMapi<SPropValue>(sizeof(SPropValue));
    if (!holder) return MAPI_E_NOT_ENOUGH_MEMORY;
    SPropValue value{};
    ULONG want = PROP_TYPE(tag) == PT_UNSPECIFIED ? PROP_TYPE(native->ulPropTag) : PROP_TYPE(tag);
    HRESULT hr = ConvertValue(*native, want, holder.get(), &value);
    if (hr != S_OK) return hr == MAPI_E_INVALID_TYPE ? MAPI_E_NOT_FOUND : hr;

    std::vector<BYTE> bytes;
    switch (PROP_TYPE(value.ulPropTag)) {
        case PT_BINARY:
            bytes.assign(value.Value.bin.lpb, value.Value.bin.lpb + value.Value.bin.cb);
            break;
        case PT_STRING8: {
            size_t n = value.Value.lpszA == nullptr ? 0 : std::strlen(value.Value.lpszA);
            bytes.assign(value.Value.lpszA, value.Value.lpszA + n);
            break;
        }
        case PT_UNICODE: {
            size_t n = Utf16Length(value.Value.lpszW);
            for (size_t i = 0; i < n; ++i) {
                bytes.push_back(static_cast<BYTE>(value.Value.lpszW[i] & 0xFF));
                bytes.push_back(static_cast<BYTE>(value.Value.lpszW[i] >> 8));
            }
            break;
        }
        default:
            return MAPI_E_INTERFACE_NOT_SUPPORTED;
    }
    IStream* created = nullptr;
    hr = CreateReadOnlyStream(std::move(bytes), &created);
    if (hr == S_OK) *stream = created;
    return hr;
}

namespace {

bool SameGuid(const GUID& a, const GUID& b) {
    return std::memcmp(&a, &b, sizeof(GUID)) == 0;
}

// A MAPINAMEID for prop chained to head, or null when out of memory.
MAPINAMEID* CopyName(const NamedProp& prop, void* head) {
    void* block = nullptr;
    if (MAPIAllocateMore(sizeof(MAPINAMEID), head, &block) != S_OK) return nullptr;
    auto* name = static_cast<MAPINAMEID*>(block);
    if (MAPIAllocateMore(sizeof(GUID), head, &block) != S_OK) return nullptr;
    name->lpguid = static_cast<GUID*>(block);
    *name->lpguid = prop.guid;
    name->ulKind = prop.kind;
    if (prop.kind == MNID_ID) {
        name->Kind.lID = prop.lid;
    } else {
        ULONG cb = static_cast<ULONG>((prop.name.size() + 1) * sizeof(WCHAR));
        if (MAPIAllocateMore(cb, head, &block) != S_OK) return nullptr;
        auto* text = static_cast<WCHAR*>(block);
        std::memcpy(text, prop.name.data(), prop.name.size() * sizeof(WCHAR));
        text[prop.name.size()] = 0;
        name->Kind.lpwstrName = text;
    }
    return name;
}

}  // namespace

HRESULT NamesFromIds(const NamedPropMap& map, SPropTagArray** tags, const GUID* propSet,
                     ULONG flags, ULONG* count, MAPINAMEID*** names) {
    if (tags == nullptr || count == nullptr || names == nullptr) return MAPI_E_INVALID_PARAMETER;
    *count = 0;
    *names = nullptr;

    MapiBuffer<SPropTagArray> allTags;
    const SPropTagArray* asked = *tags;
    if (asked == nullptr) {
        std::vector<ULONG> ids;
        for (ULONG id : map.Ids()) {
            const NamedProp* prop = map.Find(id);
            if (propSet != nullptr && !SameGuid(prop->guid, *propSet)) continue;
            if ((flags & MAPI_NO_STRINGS) != 0 && prop->kind == MNID_STRING) continue;
            if ((flags & MAPI_NO_IDS) != 0 && prop->kind == MNID_ID) continue;
            ids.push_back(id);
        }
        allTags = AllocateMapi<SPropTagArray>(static_cast<ULONG>(CbNewSPropTagArray(ids.size())));
        if (!allTags) return MAPI_E_NOT_ENOUGH_MEMORY;
        allTags->cValues = static_cast<ULONG>(ids.size());
        for (size_t i = 0; i < ids.size(); ++i)
            allTags->aulPropTag[i] = PROP_TAG(PT_UNSPECIFIED, ids[i]);
        asked = allTags.get();
    }

    ULONG n = asked->cValues;
    auto out =
        AllocateMapi<MAPINAMEID*>(static_cast<ULONG>(sizeof(MAPINAMEID*) * (n == 0 ? 1 : n)));
    if (!out) return MAPI_E_NOT_ENOUGH_MEMORY;
    bool missing = false;
    for (ULONG i = 0; i < n; ++i) {
        out.get()[i] = nullptr;
        const NamedProp* prop = map.Find(PROP_ID(asked->aulPropTag[i]));
        if (prop == nullptr || (propSet != nullptr && !SameGuid(prop->guid, *propSet))) {
            missing = true;
            continue;
        }
        MAPINAMEID* name = CopyName(*prop, out.get());
        if (name == nullptr) return MAPI_E_NOT_ENOUGH_MEMORY;
        out.get()[i] = name;
    }
    *count = n;
    *names = out.release();
    if (allTags) *tags = allTags.release();
    return missing ? MAPI_W_ERRORS_RETURNED : S_OK;
}

HRESULT IdsFromNames(const NamedPropMap& map, ULONG count, MAPINAMEID** names, ULONG flags,
                     SPropTagArray** tags) {
    (void)flags;  // MAPI_CREATE cannot add to a read-only file: unknown names stay unknown
    if (tags == nullptr) return MAPI_E_INVALID_PARAMETER;
    *tags = nullptr;
    std::vector<ULONG> result;
    bool missing = false;
    if (names == nullptr || count == 0) {
        for (ULONG id : map.Ids()) result.push_back(PROP_TAG(PT_UNSPECIFIED, id));
    } else {
        for (ULONG i = 0; i < count; ++i) {
            ULONG id = names[i] == nullptr ? 0 : map.IdOf(*names[i]);
            if (id == 0) missing = true;
            result.push_back(id == 0 ? PROP_TAG(PT_ERROR, 0) : PROP_TAG(PT_UNSPECIFIED, id));
        }
    }
    auto out = AllocateMapi<SPropTagArray>(static_cast<ULONG>(CbNewSPropTagArray(result.size())));
    if (!out) return MAPI_E_NOT_ENOUGH_MEMORY;
    out->cValues = static_cast<ULONG>(result.size());
    for (size_t i = 0; i < result.size(); ++i) out->aulPropTag[i] = result[i];
    *tags = out.release();
    return missing ? MAPI_W_ERRORS_RETURNED : S_OK;
}

}  // namespace mapi::pst
