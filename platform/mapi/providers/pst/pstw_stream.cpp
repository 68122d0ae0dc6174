#include "providers/pst/pstw_stream.h"

#include <algorithm>
#include <cstring>
#include <new>

#include <mapicode.h>
#include <mapiguid.h>

#include "runtime/com_object.h"

namespace mapi::pst {
namespace {

class WritableStream final : public ComObject<IStream> {
public:
    WritableStream(std::vector<BYTE> bytes, StreamCommit commit)
        : bytes_(std::move(bytes)), commit_(std::move(commit)) {}

    HRESULT Read(void* pv, ULONG cb, ULONG* read) override {
        if (pv == nullptr && cb > 0) return STG_E_INVALIDPOINTER;
        size_t n = position_ >= bytes_.size() ? 0 : std::min<size_t>(cb, bytes_.size() - position_);
        if (n > 0) std::memcpy(pv, bytes_.data() + position_, n);
        position_ += n;
        if (read != nullptr) *read = static_cast<ULONG>(n);
        return S_OK;
    }
    HRESULT Write(const void* pv, ULONG cb, ULONG* written) override {
        if (pv == nullptr && cb > 0) return STG_E_INVALIDPOINTER;
        try {
            if (bytes_.size() < position_ + cb) bytes_.resize(position_ + cb);
        } catch (const std::bad_alloc&) {
            return STG_E_MEDIUMFULL;
        }
        if (cb > 0) std::memcpy(bytes_.data() + position_, pv, cb);
        position_ += cb;
        dirty_ = true;
        if (written != nullptr) *written = cb;
        return S_OK;
    }
    HRESULT Seek(LARGE_INTEGER move, DWORD origin, ULARGE_INTEGER* now) override {
        long long base = origin == STREAM_SEEK_SET ? 0
                         : origin == STREAM_SEEK_CUR ? static_cast<long long>(position_)
                                                     : static_cast<long long>(bytes_.size());
        long long target = base + move.QuadPart;
        if (target < 0) return STG_E_INVALIDFUNCTION;
        position_ = static_cast<size_t>(target);
        if (now != nullptr) now->QuadPart = position_;
        return S_OK;
    }
    HRESULT SetSize(ULARGE_INTEGER size) override {
        try {
            bytes_.resize(static_cast<size_t>(size.QuadPart));
        } catch (const std::bad_alloc&) {
            return STG_E_MEDIUMFULL;
        }
        dirty_ = true;
        return S_OK;
    }
    HRESULT CopyTo(IStream*, ULARGE_INTEGER, ULARGE_INTEGER*, ULARGE_INTEGER*) override {
        return MAPI_E_NO_SUPPORT;
    }
    HRESULT Commit(DWORD) override {
        HRESULT hr = commit_(bytes_);
        if (SUCCEEDED(hr)) dirty_ = false;
        return hr;
    }
    HRESULT Revert() override { return MAPI_E_NO_SUPPORT; }
    HRESULT LockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override { return MAPI_E_NO_SUPPORT; }
    HRESULT UnlockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override { return MAPI_E_NO_SUPPORT; }
    HRESULT Stat(STATSTG* stat, DWORD) override {
        if (stat == nullptr) return STG_E_INVALIDPOINTER;
        std::memset(stat, 0, sizeof *stat);
        stat->type = STGTY_STREAM;
        stat->cbSize.QuadPart = bytes_.size();
        stat->grfMode = STGM_READWRITE;
        return S_OK;
    }
    HRESULT Clone(IStream**) override { return MAPI_E_NO_SUPPORT; }

protected:
    ~WritableStream() override {
        // Unsaved writes reach the object when the last reference goes.
        if (dirty_) commit_(bytes_);
    }
    bool SupportsInterface(REFIID riid) const override {
        return IidIn(riid, {IID_IStream, IID_ISequentialStream});
    }

private:
    std::vector<BYTE> bytes_;
    StreamCommit commit_;
    size_t position_ = 0;
    bool dirty_ = false;
};

}  // namespace

HRESULT CreateWritableStream(std::vector<BYTE> initial, StreamCommit commit, IStream** stream) {
    if (stream == nullptr) return MAPI_E_INVALID_PARAMETER;
    try {
        *stream = new WritableStream(std::move(initial), std::move(commit));
        return S_OK;
    } catch (const std::bad_alloc&) {
        *stream = nullptr;
        return MAPI_E_NOT_ENOUGH_MEMORY;
    }
}

}  // namespace mapi::pst
