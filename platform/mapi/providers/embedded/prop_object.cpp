// GetProps, SetProps, DeleteProps, GetPropList and OpenProperty streams over
// a PropHost.
#include "prop_object.h"

#include <algorithm>
#include <set>

#include <mapix.h>

#include "prop_stream.h"
#include "runtime/mapi_ptr.h"
#include "runtime/prop_convert.h"

namespace mapi::embedded {
namespace {

bool IsTextOrBinary(ULONG type) {
    return type == PT_STRING8 || type == PT_UNICODE || type == PT_BINARY;
}

// Every tag the object has: computed ones first, then stored ones that no
// computed property shadows.
HRESULT AllTags(PropHost& host, std::vector<ULONG>* tags) {
    *tags = host.ComputedTags();
    std::set<ULONG> computed;
    for (ULONG t : *tags) computed.insert(PROP_ID(t));
    std::vector<std::pair<ULONG, ULONG>> stored;
    HRESULT hr = host.StoredTypes(&stored);
    if (FAILED(hr)) return hr;
    std::sort(stored.begin(), stored.end());
    for (const auto& [id, type] : stored) {
        if (computed.count(id) != 0) continue;
        // Only storable types and ids a tag can carry are ever written. Any
        // other is damage, and listed as it is it would read as an object or
        // empty value that a copy passes over, or as another property's tag.
        if (!IsStorableType(type) || id == PROP_ID_NULL || id >= PROP_ID_INVALID)
            return MAPI_E_CORRUPT_DATA;
        tags->push_back(PROP_TAG(type, id));
    }
    return S_OK;
}

HRESULT ProblemArray(const std::vector<SPropProblem>& problems, LPSPropProblemArray* out) {
    if (out == nullptr) return S_OK;
    *out = nullptr;
    if (problems.empty()) return S_OK;
    void* p = nullptr;
    size_t cb = offsetof(SPropProblemArray, aProblem) + problems.size() * sizeof(SPropProblem);
    if (MAPIAllocateBuffer(static_cast<ULONG>(cb), &p) != S_OK) return MAPI_E_NOT_ENOUGH_MEMORY;
    auto* array = static_cast<SPropProblemArray*>(p);
    array->cProblem = static_cast<ULONG>(problems.size());
    std::copy(problems.begin(), problems.end(), array->aProblem);
    *out = array;
    return S_OK;
}

std::string_view TrimTerminator(const std::string& bytes, ULONG type) {
    std::string_view v(bytes);
    if (type == PT_STRING8) {
        while (!v.empty() && v.back() == '\0') v.remove_suffix(1);
    } else if (type == PT_UNICODE) {
        if (v.size() % 2 != 0) v.remove_suffix(1);
        while (v.size() >= 2 && v[v.size() - 1] == '\0' && v[v.size() - 2] == '\0')
            v.remove_suffix(2);
    }
    return v;
}

}  // namespace

HRESULT BinaryValue(ULONG tag, const std::string& bytes, void* parent, SPropValue* out) {
    void* p = nullptr;
    if (MAPIAllocateMore(static_cast<ULONG>(bytes.empty() ? 1 : bytes.size()), parent, &p) != S_OK)
        return MAPI_E_NOT_ENOUGH_MEMORY;
    std::memcpy(p, bytes.data(), bytes.size());
    out->ulPropTag = tag;
    out->dwAlignPad = 0;
    out->Value.bin.cb = static_cast<ULONG>(bytes.size());
    out->Value.bin.lpb = static_cast<LPBYTE>(p);
    return S_OK;
}

SPropValue LongValue(ULONG tag, LONG v) {
    SPropValue out{};
    out.ulPropTag = tag;
    out.Value.l = v;
    return out;
}

SPropValue BoolValue(ULONG tag, bool v) {
    SPropValue out{};
    out.ulPropTag = tag;
    out.Value.b = v ? 1 : 0;
    return out;
}

HRESULT UnicodeValue(ULONG tag, const std::string& utf8, void* parent, SPropValue* out) {
    std::u16string w = Utf8ToUtf16(utf8);
    void* p = nullptr;
    if (MAPIAllocateMore(static_cast<ULONG>((w.size() + 1) * sizeof(WCHAR)), parent, &p) != S_OK)
        return MAPI_E_NOT_ENOUGH_MEMORY;
    std::memcpy(p, w.c_str(), (w.size() + 1) * sizeof(WCHAR));
    out->ulPropTag = CHANGE_PROP_TYPE(tag, PT_UNICODE);
    out->dwAlignPad = 0;
    out->Value.lpszW = static_cast<LPWSTR>(p);
    return S_OK;
}

HRESULT GetPropsImpl(PropHost& host, LPSPropTagArray tagArray, ULONG, ULONG* count,
                     LPSPropValue* values) {
    if (count == nullptr || values == nullptr) return MAPI_E_INVALID_PARAMETER;
    *count = 0;
    *values = nullptr;
    bool all = tagArray == nullptr;
    std::vector<ULONG> tags;
    if (all) {
        if (HRESULT hr = AllTags(host, &tags); FAILED(hr)) return hr;
    } else {
        tags.assign(tagArray->aulPropTag, tagArray->aulPropTag + tagArray->cValues);
    }
    MapiBuffer<SPropValue> head =
        AllocateMapi<SPropValue>(static_cast<ULONG>(sizeof(SPropValue) * (tags.size() + 1)));
    if (!head) return MAPI_E_NOT_ENOUGH_MEMORY;
    bool warnings = false;
    for (size_t i = 0; i < tags.size(); ++i) {
        ULONG tag = tags[i];
        ULONG id = PROP_ID(tag);
        ULONG wanted = PROP_TYPE(tag);
        SPropValue& out = head.get()[i];
        SPropValue native{};
        SCODE error = S_OK;
        if (!host.ComputedValue(id, head.get(), &native)) {
            EncodedProp stored;
            HRESULT hr = host.ReadStored(id, &stored);
            if (hr == MAPI_E_CORRUPT_DATA && all) return hr;
            if (FAILED(hr)) {
                error = hr;
            } else if (stored.bytes.size() > kLargeValueBytes && IsTextOrBinary(stored.type)) {
                // Lists have no stream form: deferring one would make it
                // unreadable, so they come back whole at any size.
                error = MAPI_E_NOT_ENOUGH_MEMORY;
            } else if (FAILED(hr = DecodeValue(id, stored, head.get(), &native))) {
                if (hr == MAPI_E_CORRUPT_DATA && all) return hr;
                error = hr;
            }
        }
        if (error != S_OK) {
            out = ErrorValue(tag, error);
            warnings = true;
            continue;
        }
        if (wanted == PT_UNSPECIFIED || wanted == PROP_TYPE(native.ulPropTag)) {
            out = native;
        } else if (FAILED(ConvertValue(native, wanted, head.get(), &out))) {
            out = ErrorValue(tag, MAPI_E_NOT_FOUND);
            warnings = true;
        }
    }
    *count = static_cast<ULONG>(tags.size());
    *values = head.release();
    return warnings ? MAPI_W_ERRORS_RETURNED : S_OK;
}

HRESULT GetPropListImpl(PropHost& host, LPSPropTagArray* out) {
    if (out == nullptr) return MAPI_E_INVALID_PARAMETER;
    *out = nullptr;
    std::vector<ULONG> tags;
    if (HRESULT hr = AllTags(host, &tags); FAILED(hr)) return hr;
    MapiBuffer<SPropTagArray> array =
        AllocateMapi<SPropTagArray>(static_cast<ULONG>(CbNewSPropTagArray(tags.size())));
    if (!array) return MAPI_E_NOT_ENOUGH_MEMORY;
    array->cValues = static_cast<ULONG>(tags.size());
    std::copy(tags.begin(), tags.end(), array->aulPropTag);
    *out = array.release();
    return S_OK;
}

HRESULT SetPropsImpl(PropHost& host, ULONG count, LPSPropValue values,
                     LPSPropProblemArray* problemsOut) {
    if (problemsOut != nullptr) *problemsOut = nullptr;
    if (values == nullptr && count != 0) return MAPI_E_INVALID_PARAMETER;
    if (!host.CanWrite()) return MAPI_E_NO_ACCESS;
    std::vector<SPropProblem> problems;
    for (ULONG i = 0; i < count; ++i) {
        const SPropValue& v = values[i];
        ULONG type = PROP_TYPE(v.ulPropTag);
        ULONG id = PROP_ID(v.ulPropTag);
        if (type == PT_ERROR || type == PT_NULL) continue;
        SCODE problem = S_OK;
        EncodedProp encoded;
        if (id == PROP_ID_NULL || id == PROP_ID_INVALID) {
            problem = MAPI_E_INVALID_PARAMETER;
        } else if (host.IsReadOnlyProp(id)) {
            problem = MAPI_E_COMPUTED;
        } else if (HRESULT hr = EncodeValue(v, &encoded); FAILED(hr)) {
            problem = hr;
        } else if (FAILED(hr = host.WriteStored(id, std::move(encoded)))) {
            if (hr == MAPI_E_NO_ACCESS || hr == MAPI_E_DISK_ERROR || hr == MAPI_E_NOT_ENOUGH_DISK)
                return hr;
            problem = hr;
        }
        if (problem != S_OK) problems.push_back(SPropProblem{i, v.ulPropTag, problem});
    }
    return ProblemArray(problems, problemsOut);
}

HRESULT DeletePropsImpl(PropHost& host, LPSPropTagArray tags, LPSPropProblemArray* problemsOut) {
    if (problemsOut != nullptr) *problemsOut = nullptr;
    if (tags == nullptr) return MAPI_E_INVALID_PARAMETER;
    if (!host.CanWrite()) return MAPI_E_NO_ACCESS;
    std::vector<SPropProblem> problems;
    for (ULONG i = 0; i < tags->cValues; ++i) {
        ULONG id = PROP_ID(tags->aulPropTag[i]);
        SCODE problem = S_OK;
        if (host.IsReadOnlyProp(id)) {
            problem = MAPI_E_COMPUTED;
        } else if (HRESULT hr = host.RemoveStored(id); FAILED(hr) && hr != MAPI_E_NOT_FOUND) {
            if (hr == MAPI_E_NO_ACCESS || hr == MAPI_E_DISK_ERROR || hr == MAPI_E_NOT_ENOUGH_DISK)
                return hr;
            problem = hr;
        }
        if (problem != S_OK) problems.push_back(SPropProblem{i, tags->aulPropTag[i], problem});
    }
    return ProblemArray(problems, problemsOut);
}

HRESULT OpenStreamImpl(PropHost& host, IUnknown* self, ULONG tag, LPCIID iid, ULONG flags,
                       LPUNKNOWN* out) {
    if (out == nullptr) return MAPI_E_INVALID_PARAMETER;
    *out = nullptr;
    if (iid == nullptr || (*iid != IID_IStream && *iid != IID_ISequentialStream))
        return MAPI_E_INTERFACE_NOT_SUPPORTED;
    ULONG type = PROP_TYPE(tag);
    ULONG id = PROP_ID(tag);
    if (!IsTextOrBinary(type)) return MAPI_E_NO_SUPPORT;
    bool write = (flags & (MAPI_MODIFY | MAPI_CREATE)) != 0;
    if (write && (!host.CanWrite() || host.IsReadOnlyProp(id))) return MAPI_E_NO_ACCESS;
    std::string bytes;
    if ((flags & MAPI_CREATE) == 0) {
        EncodedProp stored;
        HRESULT hr = host.ReadStored(id, &stored);
        if (FAILED(hr)) return hr;
        if (stored.type == type) {
            bytes = std::move(stored.bytes);
        } else if (stored.type == PT_UNICODE && type == PT_STRING8) {
            bytes = Utf16ToUtf8(std::u16string(reinterpret_cast<const WCHAR*>(stored.bytes.data()),
                                               stored.bytes.size() / 2));
        } else if (stored.type == PT_STRING8 && type == PT_UNICODE) {
            std::u16string w = Utf8ToUtf16(stored.bytes);
            bytes.assign(reinterpret_cast<const char*>(w.data()), w.size() * 2);
        } else {
            return MAPI_E_NOT_FOUND;
        }
    }
    StreamCommit commit;
    if (write) {
        ComRef<IUnknown> keep = ComRef<IUnknown>::Share(self);
        PropHost* target = &host;
        commit = [keep, target, id, type](const std::string& data) {
            return target->WriteStored(id,
                                       EncodedProp{type, std::string(TrimTerminator(data, type))});
        };
    }
    *out = NewPropStream(std::move(bytes), std::move(commit));
    return S_OK;
}

}  // namespace mapi::embedded
