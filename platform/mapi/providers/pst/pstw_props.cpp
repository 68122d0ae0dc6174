#include "providers/pst/pstw_props.h"

#include <algorithm>

#include <mapicode.h>
#include <mapix.h>

#include "providers/pst/pst_stream.h"
#include "providers/pst/pstw_stream.h"
#include "providers/pst/pstw_values.h"
#include "runtime/mapi_ptr.h"
#include "runtime/prop_convert.h"

namespace mapi::pst {
namespace {

constexpr size_t kLargeValueBytes = 64 * 1024;

const fmt::PropValue* FindById(const Values& values, ULONG id) {
    for (const fmt::PropValue& v : values)
        if (PROP_ID(v.tag) == id) return &v;
    return nullptr;
}

// Computed values first: they win over stored ones of the same id.
Values Merged(const Values& stored, const Values& computed) {
    Values all = computed;
    for (const fmt::PropValue& v : stored)
        if (FindById(computed, PROP_ID(v.tag)) == nullptr) all.push_back(v);
    std::sort(all.begin(), all.end(),
              [](const fmt::PropValue& a, const fmt::PropValue& b) { return PROP_ID(a.tag) < PROP_ID(b.tag); });
    return all;
}

bool IsLarge(const fmt::PropValue& v) {
    ULONG type = PROP_TYPE(v.tag);
    return (type == PT_BINARY || type == PT_STRING8 || type == PT_UNICODE) && v.bytes.size() > kLargeValueBytes;
}

HRESULT Problems(const std::vector<SPropProblem>& list, LPSPropProblemArray* out) {
    if (out == nullptr) return S_OK;
    *out = nullptr;
    if (list.empty()) return S_OK;
    auto array = AllocateMapi<SPropProblemArray>(
        static_cast<ULONG>(offsetof(SPropProblemArray, aProblem) + sizeof(SPropProblem) * list.size()));
    if (!array) return MAPI_E_NOT_ENOUGH_MEMORY;
    array->cProblem = static_cast<ULONG>(list.size());
    std::copy(list.begin(), list.end(), array->aProblem);
    *out = array.release();
    return S_OK;
}

}  // namespace

HRESULT GetPropsFrom(const Values& stored, const Values& computed, const SPropTagArray* tags,
                     ULONG* count, LPSPropValue* out) {
    if (count == nullptr || out == nullptr) return MAPI_E_INVALID_PARAMETER;
    *count = 0;
    *out = nullptr;
    Values all = Merged(stored, computed);
    std::vector<ULONG> wanted;
    if (tags == nullptr) {
        for (const fmt::PropValue& v : all) wanted.push_back(v.tag);
    } else {
        wanted.assign(tags->aulPropTag, tags->aulPropTag + tags->cValues);
    }
    auto values = AllocateMapi<SPropValue>(static_cast<ULONG>(sizeof(SPropValue) * (wanted.empty() ? 1 : wanted.size())));
    if (!values) return MAPI_E_NOT_ENOUGH_MEMORY;
    bool errors = false;
    for (size_t i = 0; i < wanted.size(); ++i) {
        SPropValue& slot = values.get()[i];
        const fmt::PropValue* v = FindById(all, PROP_ID(wanted[i]));
        HRESULT hr = MAPI_E_NOT_FOUND;
        if (v != nullptr && IsLarge(*v)) {
            hr = MAPI_E_NOT_ENOUGH_MEMORY;
        } else if (v != nullptr) {
            SPropValue native{};
            hr = DecodeValue(*v, values.get(), &native);
            if (SUCCEEDED(hr)) {
                ULONG type = PROP_TYPE(wanted[i]);
                hr = (type == PT_UNSPECIFIED || type == PROP_TYPE(v->tag))
                         ? (slot = native, S_OK)
                         : ConvertValue(native, type, values.get(), &slot);
            }
        }
        if (FAILED(hr)) {
            slot = ErrorValue(wanted[i], hr);
            errors = true;
        }
    }
    *count = static_cast<ULONG>(wanted.size());
    *out = values.release();
    return errors ? MAPI_W_ERRORS_RETURNED : S_OK;
}

HRESULT PropListFrom(const Values& stored, const Values& computed, LPSPropTagArray* out) {
    if (out == nullptr) return MAPI_E_INVALID_PARAMETER;
    Values all = Merged(stored, computed);
    auto tags = AllocateMapi<SPropTagArray>(CbNewSPropTagArray(all.size()));
    if (!tags) return MAPI_E_NOT_ENOUGH_MEMORY;
    tags->cValues = static_cast<ULONG>(all.size());
    for (size_t i = 0; i < all.size(); ++i) tags->aulPropTag[i] = all[i].tag;
    *out = tags.release();
    return S_OK;
}

HRESULT SetPropsInto(Values& stored, const std::function<bool(ULONG)>& isComputed, ULONG count,
                     const SPropValue* values, LPSPropProblemArray* problems) {
    if (problems != nullptr) *problems = nullptr;
    if (count > 0 && values == nullptr) return MAPI_E_INVALID_PARAMETER;
    std::vector<SPropProblem> list;
    for (ULONG i = 0; i < count; ++i) {
        const SPropValue& v = values[i];
        ULONG id = PROP_ID(v.ulPropTag);
        if (PROP_TYPE(v.ulPropTag) == PT_ERROR || PROP_TYPE(v.ulPropTag) == PT_NULL) continue;
        if (isComputed(id) || id == 0) {
            list.push_back({i, v.ulPropTag, MAPI_E_COMPUTED});
            continue;
        }
        fmt::PropValue encoded;
        HRESULT hr = EncodeValue(v, &encoded);
        if (FAILED(hr)) {
            list.push_back({i, v.ulPropTag, hr});
            continue;
        }
        auto it = std::find_if(stored.begin(), stored.end(),
                               [&](const fmt::PropValue& s) { return PROP_ID(s.tag) == id; });
        if (it != stored.end()) *it = std::move(encoded);
        else stored.push_back(std::move(encoded));
    }
    return Problems(list, problems);
}

HRESULT DeletePropsFrom(Values& stored, const std::function<bool(ULONG)>& isComputed,
                        const SPropTagArray* tags, LPSPropProblemArray* problems) {
    if (problems != nullptr) *problems = nullptr;
    if (tags == nullptr) return MAPI_E_INVALID_PARAMETER;
    std::vector<SPropProblem> list;
    for (ULONG i = 0; i < tags->cValues; ++i) {
        ULONG id = PROP_ID(tags->aulPropTag[i]);
        if (isComputed(id)) {
            list.push_back({i, tags->aulPropTag[i], MAPI_E_COMPUTED});
            continue;
        }
        stored.erase(std::remove_if(stored.begin(), stored.end(),
                                    [&](const fmt::PropValue& s) { return PROP_ID(s.tag) == id; }),
                     stored.end());
    }
    return Problems(list, problems);
}

HRESULT OpenValueStream(Values& stored, bool writable, IUnknown* owner, ULONG tag, ULONG flags,
                        std::recursive_mutex& mutex, const std::function<HRESULT()>& afterChange,
                        IUnknown** out) {
    ULONG type = PROP_TYPE(tag);
    if (type != PT_BINARY && type != PT_STRING8 && type != PT_UNICODE) return MAPI_E_INVALID_TYPE;
    auto it = std::find_if(stored.begin(), stored.end(),
                           [&](const fmt::PropValue& s) { return PROP_ID(s.tag) == PROP_ID(tag); });
    bool write = (flags & (MAPI_CREATE | MAPI_MODIFY)) != 0;
    if (!write) {
        if (it == stored.end()) return MAPI_E_NOT_FOUND;
        return CreateReadOnlyStream(std::vector<BYTE>(it->bytes.begin(), it->bytes.end()),
                                    reinterpret_cast<IStream**>(out));
    }
    if (!writable) return MAPI_E_NO_ACCESS;
    if (it == stored.end() && (flags & MAPI_CREATE) == 0) return MAPI_E_NOT_FOUND;
    std::vector<BYTE> initial;
    if (it != stored.end() && (flags & MAPI_CREATE) == 0) initial.assign(it->bytes.begin(), it->bytes.end());
    // The stream keeps its object alive and writes into it under its lock.
    owner->AddRef();
    std::shared_ptr<IUnknown> hold(owner, [](IUnknown* o) { o->Release(); });
    Values* target = &stored;
    StreamCommit commit = [hold, target, tag, &mutex, afterChange](const std::vector<BYTE>& bytes) -> HRESULT {
        std::lock_guard<std::recursive_mutex> lock(mutex);
        fmt::PropValue v{tag, fmt::Bytes(bytes.begin(), bytes.end())};
        // A terminator written with a string is not part of its value.
        size_t unit = PROP_TYPE(tag) == PT_UNICODE ? 2 : PROP_TYPE(tag) == PT_STRING8 ? 1 : 0;
        while (unit != 0 && v.bytes.size() >= unit &&
               std::all_of(v.bytes.end() - static_cast<long>(unit), v.bytes.end(), [](uint8_t b) { return b == 0; }))
            v.bytes.resize(v.bytes.size() - unit);
        if (unit == 2 && v.bytes.size() % 2 != 0) return MAPI_E_INVALID_PARAMETER;
        auto slot = std::find_if(target->begin(), target->end(),
                                 [&](const fmt::PropValue& s) { return PROP_ID(s.tag) == PROP_ID(tag); });
        if (slot != target->end()) *slot = std::move(v);
        else target->push_back(std::move(v));
        return afterChange();
    };
    return CreateWritableStream(std::move(initial), std::move(commit), reinterpret_cast<IStream**>(out));
}

}  // namespace mapi::pst
