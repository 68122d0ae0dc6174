// GetProps, SetProps, DeleteProps and streams over PropBags.
#include <cstddef>
#include <cstring>
#include <functional>
#include <set>
#include <string>

#include <mapiutil.h>

#include "providers/mailfiles/mail_object.h"
#include "runtime/mapi_ptr.h"
#include "runtime/prop_convert.h"

namespace mapi::mailfiles {

namespace {

const SPropValue* Find(const mime::PropBag* stored, const mime::PropBag& computed, ULONG id) {
    if (const SPropValue* v = computed.Get(id)) return v;
    return stored != nullptr ? stored->Get(id) : nullptr;
}

std::vector<const SPropValue*> AllValues(const mime::PropBag* stored, const mime::PropBag& computed) {
    std::vector<const SPropValue*> out;
    for (const auto& [id, v] : computed.All()) out.push_back(v.get());
    if (stored != nullptr)
        for (const auto& [id, v] : stored->All())
            if (!computed.Has(id)) out.push_back(v.get());
    return out;
}

HRESULT MakeProblems(const std::vector<std::pair<ULONG, ULONG>>& list, SCODE code,
                     LPSPropProblemArray* problems) {
    if (problems == nullptr || list.empty()) return S_OK;
    auto out = AllocateMapi<SPropProblemArray>(
        static_cast<ULONG>(offsetof(SPropProblemArray, aProblem) + list.size() * sizeof(SPropProblem)));
    if (!out) return MAPI_E_NOT_ENOUGH_MEMORY;
    out->cProblem = static_cast<ULONG>(list.size());
    for (size_t i = 0; i < list.size(); ++i) {
        out->aProblem[i].ulIndex = list[i].first;
        out->aProblem[i].ulPropTag = list[i].second;
        out->aProblem[i].scode = code;
    }
    *problems = out.release();
    return S_OK;
}

// The bytes a stream on value shows: binary as it is, text as the width
// the tag asks for (PT_UNICODE: UTF-16 without terminator).
std::string StreamBytesOf(const SPropValue& value, ULONG wantedType) {
    switch (PROP_TYPE(value.ulPropTag)) {
        case PT_BINARY:
            return std::string(reinterpret_cast<const char*>(value.Value.bin.lpb), value.Value.bin.cb);
        case PT_UNICODE: {
            std::u16string text(reinterpret_cast<const char16_t*>(value.Value.lpszW));
            if (wantedType == PT_STRING8) return Utf16ToUtf8(text);
            return std::string(reinterpret_cast<const char*>(text.data()), text.size() * 2);
        }
        case PT_STRING8: {
            std::string text(value.Value.lpszA);
            if (wantedType == PT_UNICODE) {
                std::u16string wide = Utf8ToUtf16(text);
                return std::string(reinterpret_cast<const char*>(wide.data()), wide.size() * 2);
            }
            return text;
        }
        default:
            return {};
    }
}

class MemoryStream final : public ComObject<IStream> {
public:
    using OnCommit = std::function<HRESULT(const std::string&)>;
    MemoryStream(std::string data, OnCommit commit, IUnknown* owner)
        : data_(std::move(data)), commit_(std::move(commit)), owner_(ComRef<IUnknown>::Share(owner)) {}

    HRESULT Read(void* pv, ULONG cb, ULONG* read) override {
        if (pv == nullptr && cb > 0) return STG_E_INVALIDPOINTER;
        const size_t n = pos_ >= data_.size() ? 0 : std::min<size_t>(cb, data_.size() - pos_);
        if (n > 0) std::memcpy(pv, data_.data() + pos_, n);
        pos_ += n;
        if (read != nullptr) *read = static_cast<ULONG>(n);
        return S_OK;
    }
    HRESULT Write(const void* pv, ULONG cb, ULONG* written) override {
        if (!commit_) return STG_E_ACCESSDENIED;
        if (pv == nullptr && cb > 0) return STG_E_INVALIDPOINTER;
        if (pos_ + cb > data_.size()) data_.resize(pos_ + cb);
        if (cb > 0) std::memcpy(data_.data() + pos_, pv, cb);
        pos_ += cb;
        if (written != nullptr) *written = cb;
        return S_OK;
    }
    HRESULT Seek(LARGE_INTEGER move, DWORD origin, ULARGE_INTEGER* position) override {
        int64_t base = origin == STREAM_SEEK_SET   ? 0
                       : origin == STREAM_SEEK_CUR ? static_cast<int64_t>(pos_)
                       : origin == STREAM_SEEK_END ? static_cast<int64_t>(data_.size())
                                                   : -1;
        if (base < 0) return STG_E_INVALIDFUNCTION;
        const int64_t target = base + move.QuadPart;
        if (target < 0) return STG_E_INVALIDFUNCTION;
        pos_ = static_cast<size_t>(target);
        if (position != nullptr) position->QuadPart = pos_;
        return S_OK;
    }
    HRESULT SetSize(ULARGE_INTEGER size) override {
        if (!commit_) return STG_E_ACCESSDENIED;
        data_.resize(static_cast<size_t>(size.QuadPart));
        return S_OK;
    }
    HRESULT CopyTo(IStream*, ULARGE_INTEGER, ULARGE_INTEGER*, ULARGE_INTEGER*) override {
        return MAPI_E_NO_SUPPORT;
    }
    HRESULT Commit(DWORD) override { return commit_ ? commit_(data_) : S_OK; }
    HRESULT Revert() override { return MAPI_E_NO_SUPPORT; }
    HRESULT LockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override { return MAPI_E_NO_SUPPORT; }
    HRESULT UnlockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override {
        return MAPI_E_NO_SUPPORT;
    }
    HRESULT Stat(STATSTG* stat, DWORD) override {
        if (stat == nullptr) return STG_E_INVALIDPOINTER;
        std::memset(stat, 0, sizeof *stat);
        stat->type = STGTY_STREAM;
        stat->cbSize.QuadPart = data_.size();
        return S_OK;
    }
    HRESULT Clone(IStream** out) override {
        if (out != nullptr) *out = nullptr;
        return MAPI_E_NO_SUPPORT;
    }

protected:
    bool SupportsInterface(REFIID riid) const override {
        return IidIn(riid, {IID_IStream, IID_ISequentialStream});
    }

private:
    std::string data_;
    size_t pos_ = 0;
    OnCommit commit_;
    ComRef<IUnknown> owner_;
};

}  // namespace

HRESULT GetPropsFrom(const mime::PropBag* stored, const mime::PropBag& computed,
                     LPSPropTagArray tags, ULONG, ULONG* count, LPSPropValue* values) {
    if (count == nullptr || values == nullptr) return MAPI_E_INVALID_PARAMETER;
    *count = 0;
    *values = nullptr;
    std::vector<const SPropValue*> all;
    std::vector<ULONG> wanted;
    if (tags == nullptr) {
        all = AllValues(stored, computed);
        for (const SPropValue* v : all) wanted.push_back(v->ulPropTag);
    } else {
        for (ULONG i = 0; i < tags->cValues; ++i) {
            wanted.push_back(tags->aulPropTag[i]);
            all.push_back(Find(stored, computed, PROP_ID(tags->aulPropTag[i])));
        }
    }
    const ULONG n = static_cast<ULONG>(wanted.size());
    auto out = AllocateMapi<SPropValue>(std::max<ULONG>(1, n) * sizeof(SPropValue));
    if (!out) return MAPI_E_NOT_ENOUGH_MEMORY;
    bool errors = false;
    for (ULONG i = 0; i < n; ++i) {
        SPropValue& slot = out.get()[i];
        if (all[i] == nullptr) {
            slot = ErrorValue(wanted[i], MAPI_E_NOT_FOUND);
            errors = true;
            continue;
        }
        HRESULT hr = ConvertValue(*all[i], PROP_TYPE(wanted[i]), out.get(), &slot);
        if (hr == MAPI_E_NOT_ENOUGH_MEMORY) return hr;
        if (FAILED(hr) || PROP_TYPE(slot.ulPropTag) == PT_ERROR) errors = true;
    }
    *count = n;
    *values = out.release();
    return errors ? MAPI_W_ERRORS_RETURNED : S_OK;
}

HRESULT GetPropListFrom(const mime::PropBag* stored, const mime::PropBag& computed,
                        LPSPropTagArray* tags) {
    if (tags == nullptr) return MAPI_E_INVALID_PARAMETER;
    std::vector<const SPropValue*> all = AllValues(stored, computed);
    auto out = AllocateMapi<SPropTagArray>(CbNewSPropTagArray(all.size()));
    if (!out) return MAPI_E_NOT_ENOUGH_MEMORY;
    out->cValues = static_cast<ULONG>(all.size());
    for (size_t i = 0; i < all.size(); ++i) out->aulPropTag[i] = all[i]->ulPropTag;
    *tags = out.release();
    return S_OK;
}

HRESULT SetPropsInto(mime::PropBag& stored, const mime::PropBag& computed, ULONG count,
                     LPSPropValue values, LPSPropProblemArray* problems) {
    if (values == nullptr && count > 0) return MAPI_E_INVALID_PARAMETER;
    std::vector<std::pair<ULONG, ULONG>> refused;
    for (ULONG i = 0; i < count; ++i) {
        const SPropValue& v = values[i];
        const ULONG type = PROP_TYPE(v.ulPropTag);
        if (type == PT_ERROR || type == PT_OBJECT || type == PT_NULL ||
            computed.Has(PROP_ID(v.ulPropTag))) {
            refused.emplace_back(i, v.ulPropTag);
            continue;
        }
        HRESULT hr = stored.Set(v);
        if (hr == MAPI_E_NOT_ENOUGH_MEMORY) return hr;
        if (FAILED(hr)) refused.emplace_back(i, v.ulPropTag);
    }
    return MakeProblems(refused, MAPI_E_COMPUTED, problems);
}

HRESULT DeletePropsFrom(mime::PropBag& stored, const mime::PropBag& computed,
                        LPSPropTagArray tags, LPSPropProblemArray* problems) {
    if (tags == nullptr) return MAPI_E_INVALID_PARAMETER;
    std::vector<std::pair<ULONG, ULONG>> refused;
    for (ULONG i = 0; i < tags->cValues; ++i) {
        const ULONG id = PROP_ID(tags->aulPropTag[i]);
        if (computed.Has(id))
            refused.emplace_back(i, tags->aulPropTag[i]);
        else
            stored.Remove(id);
    }
    return MakeProblems(refused, MAPI_E_COMPUTED, problems);
}

HRESULT OpenStream(mime::PropBag* stored, const mime::PropBag& computed, ULONG tag, ULONG flags,
                   IUnknown* owner, LPUNKNOWN* out) {
    const ULONG type = PROP_TYPE(tag);
    if (type != PT_BINARY && type != PT_STRING8 && type != PT_UNICODE) return MAPI_E_NO_SUPPORT;
    const bool write = (flags & (MAPI_CREATE | MAPI_MODIFY)) != 0;
    std::string data;
    const SPropValue* existing = Find(stored, computed, PROP_ID(tag));
    if (existing != nullptr && (flags & MAPI_CREATE) == 0) data = StreamBytesOf(*existing, type);
    else if (existing == nullptr && !write) return MAPI_E_NOT_FOUND;

    MemoryStream::OnCommit commit;
    if (write) {
        commit = [stored, tag](const std::string& bytes) -> HRESULT {
            const ULONG id = PROP_ID(tag);
            if (PROP_TYPE(tag) == PT_BINARY) {
                stored->SetBinary(id, bytes);
            } else if (PROP_TYPE(tag) == PT_UNICODE) {
                std::u16string wide(bytes.size() / 2, u'\0');
                std::memcpy(wide.data(), bytes.data(), wide.size() * 2);
                while (!wide.empty() && wide.back() == u'\0') wide.pop_back();
                stored->SetText(id, Utf16ToUtf8(wide));
            } else {
                std::string text = bytes;
                while (!text.empty() && text.back() == '\0') text.pop_back();
                stored->SetText(id, text);
            }
            return S_OK;
        };
    }
    auto* stream = new MemoryStream(std::move(data), std::move(commit), write ? owner : nullptr);
    *out = static_cast<IStream*>(stream);
    return S_OK;
}

HRESULT MakeMapiError(const std::string& text, const std::string& component, ULONG flags,
                      LPMAPIERROR* error) {
    // The strings hang off the structure's buffer and are freed with it.
    const bool wide = (flags & MAPI_UNICODE) != 0;
    std::string textBytes = text, componentBytes = component;
    if (wide) {
        const std::u16string t = Utf8ToUtf16(text), c = Utf8ToUtf16(component);
        textBytes.assign(reinterpret_cast<const char*>(t.c_str()), (t.size() + 1) * 2);
        componentBytes.assign(reinterpret_cast<const char*>(c.c_str()), (c.size() + 1) * 2);
    } else {
        textBytes.push_back('\0');
        componentBytes.push_back('\0');
    }
    auto out = AllocateMapi<MAPIERROR>(static_cast<ULONG>(sizeof(MAPIERROR)));
    if (!out) return MAPI_E_NOT_ENOUGH_MEMORY;
    std::memset(out.get(), 0, sizeof(MAPIERROR));
    void* textCopy = nullptr;
    void* componentCopy = nullptr;
    if (MAPIAllocateMore(static_cast<ULONG>(textBytes.size()), out.get(), &textCopy) != S_OK ||
        MAPIAllocateMore(static_cast<ULONG>(componentBytes.size()), out.get(), &componentCopy) !=
            S_OK)
        return MAPI_E_NOT_ENOUGH_MEMORY;
    std::memcpy(textCopy, textBytes.data(), textBytes.size());
    std::memcpy(componentCopy, componentBytes.data(), componentBytes.size());
    out->ulVersion = 0;  // MAPI_ERROR_VERSION
    out->lpszError = static_cast<LPSTR>(textCopy);
    out->lpszComponent = static_cast<LPSTR>(componentCopy);
    *error = out.release();
    return S_OK;
}

HRESULT AllProblems(ULONG count, LPSPropValue values, SCODE code, LPSPropProblemArray* problems) {
    std::vector<std::pair<ULONG, ULONG>> list;
    for (ULONG i = 0; i < count; ++i) list.emplace_back(i, values[i].ulPropTag);
    return MakeProblems(list, code, problems);
}

}  // namespace mapi::mailfiles
