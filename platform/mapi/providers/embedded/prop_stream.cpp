// The in-memory property stream.
#include "prop_stream.h"

#include <algorithm>
#include <cstring>

#include "runtime/com_object.h"

namespace mapi::embedded {
namespace {

// A property value's size is a ULONG. A stream that would grow past that can
// never be saved, and a seek far beyond the end followed by a write must be
// refused rather than exhaust memory.
constexpr uint64_t kMaxStreamBytes = 0xFFFFFFFF;

class PropStream final : public ComObject<IStream> {
public:
    PropStream(std::string bytes, StreamCommit commit)
        : data_(std::move(bytes)), commit_(std::move(commit)) {}

    HRESULT Read(void* pv, ULONG cb, ULONG* pcbRead) override {
        if (pv == nullptr && cb != 0) return STG_E_INVALIDPOINTER;
        size_t left = pos_ < data_.size() ? data_.size() - pos_ : 0;
        size_t n = std::min<size_t>(cb, left);
        if (n != 0) std::memcpy(pv, data_.data() + pos_, n);
        pos_ += n;
        if (pcbRead != nullptr) *pcbRead = static_cast<ULONG>(n);
        return S_OK;
    }

    HRESULT Write(const void* pv, ULONG cb, ULONG* pcbWritten) override {
        if (!commit_) return STG_E_ACCESSDENIED;
        if (pv == nullptr && cb != 0) return STG_E_INVALIDPOINTER;
        if (pos_ + cb > data_.size() && !Resize(pos_ + cb)) return STG_E_MEDIUMFULL;
        if (cb != 0) std::memcpy(&data_[pos_], pv, cb);
        pos_ += cb;
        dirty_ = true;
        if (pcbWritten != nullptr) *pcbWritten = cb;
        return S_OK;
    }

    HRESULT Seek(LARGE_INTEGER move, DWORD origin, ULARGE_INTEGER* newPos) override {
        int64_t base = 0;
        switch (origin) {
            case STREAM_SEEK_SET:
                break;
            case STREAM_SEEK_CUR:
                base = static_cast<int64_t>(pos_);
                break;
            case STREAM_SEEK_END:
                base = static_cast<int64_t>(data_.size());
                break;
            default:
                return STG_E_INVALIDFUNCTION;
        }
        int64_t target = 0;
        if (__builtin_add_overflow(base, move.QuadPart, &target) || target < 0)
            return STG_E_INVALIDFUNCTION;
        pos_ = static_cast<size_t>(target);
        if (newPos != nullptr) newPos->QuadPart = pos_;
        return S_OK;
    }

    HRESULT SetSize(ULARGE_INTEGER size) override {
        if (!commit_) return STG_E_ACCESSDENIED;
        if (!Resize(size.QuadPart)) return STG_E_MEDIUMFULL;
        dirty_ = true;
        return S_OK;
    }

    HRESULT CopyTo(IStream* target, ULARGE_INTEGER cb, ULARGE_INTEGER* pcbRead,
                   ULARGE_INTEGER* pcbWritten) override {
        if (target == nullptr) return STG_E_INVALIDPOINTER;
        size_t left = pos_ < data_.size() ? data_.size() - pos_ : 0;
        size_t n = static_cast<size_t>(std::min<ULONGLONG>(cb.QuadPart, left));
        size_t written = 0;
        while (written < n) {
            ULONG chunk = static_cast<ULONG>(std::min<size_t>(n - written, 1 << 20));
            ULONG done = 0;
            HRESULT hr = target->Write(data_.data() + pos_ + written, chunk, &done);
            written += done;
            if (FAILED(hr)) return hr;
            if (done == 0) break;
        }
        pos_ += n;
        if (pcbRead != nullptr) pcbRead->QuadPart = n;
        if (pcbWritten != nullptr) pcbWritten->QuadPart = written;
        return S_OK;
    }

    HRESULT Commit(DWORD) override {
        if (!commit_) return S_OK;
        HRESULT hr = commit_(data_);
        if (SUCCEEDED(hr)) dirty_ = false;
        return hr;
    }

    HRESULT Revert() override { return S_OK; }
    HRESULT LockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override {
        return STG_E_INVALIDFUNCTION;
    }
    HRESULT UnlockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override {
        return STG_E_INVALIDFUNCTION;
    }

    HRESULT Stat(STATSTG* stat, DWORD) override {
        if (stat == nullptr) return STG_E_INVALIDPOINTER;
        std::memset(stat, 0, sizeof(*stat));
        stat->type = STGTY_STREAM;
        stat->cbSize.QuadPart = data_.size();
        stat->grfMode = commit_ ? STGM_READWRITE : STGM_READ;
        return S_OK;
    }

    HRESULT Clone(IStream**) override { return MAPI_E_NO_SUPPORT; }

protected:
    ~PropStream() override {
        if (dirty_ && commit_) commit_(data_);
    }
    bool SupportsInterface(REFIID riid) const override {
        return IidIn(riid, {IID_IStream, IID_ISequentialStream});
    }

private:
    bool Resize(uint64_t size) {
        if (size > kMaxStreamBytes) return false;
        try {
            data_.resize(static_cast<size_t>(size));
        } catch (const std::bad_alloc&) {
            return false;
        }
        return true;
    }

    std::string data_;
    size_t pos_ = 0;
    bool dirty_ = false;
    StreamCommit commit_;
};

}  // namespace

IStream* NewPropStream(std::string bytes, StreamCommit commit) {
    return new PropStream(std::move(bytes), std::move(commit));
}

}  // namespace mapi::embedded
