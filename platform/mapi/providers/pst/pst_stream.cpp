// The read-only memory stream.
#include "providers/pst/pst_stream.h"

#include <algorithm>
#include <cstring>

#include <mapiguid.h>

#include "runtime/com_object.h"

namespace mapi::pst {
namespace {

class MemoryStream final : public ComObject<IStream> {
public:
    MemoryStream(std::shared_ptr<const std::vector<BYTE>> bytes, uint64_t position)
        : bytes_(std::move(bytes)), position_(position) {}

    HRESULT Read(void* pv, ULONG cb, ULONG* read) override {
        if (pv == nullptr && cb > 0) return STG_E_INVALIDPOINTER;
        uint64_t size = bytes_->size();
        uint64_t n = position_ >= size ? 0 : std::min<uint64_t>(cb, size - position_);
        if (n > 0) std::memcpy(pv, bytes_->data() + position_, n);
        position_ += n;
        if (read != nullptr) *read = static_cast<ULONG>(n);
        return S_OK;
    }
    HRESULT Write(const void*, ULONG, ULONG* written) override {
        if (written != nullptr) *written = 0;
        return STG_E_ACCESSDENIED;
    }
    HRESULT Seek(LARGE_INTEGER move, DWORD origin, ULARGE_INTEGER* newPosition) override {
        int64_t base = 0;
        switch (origin) {
            case STREAM_SEEK_SET:
                base = 0;
                break;
            case STREAM_SEEK_CUR:
                base = static_cast<int64_t>(position_);
                break;
            case STREAM_SEEK_END:
                base = static_cast<int64_t>(bytes_->size());
                break;
            default:
                return STG_E_INVALIDFUNCTION;
        }
        int64_t target = 0;
        if (__builtin_add_overflow(base, move.QuadPart, &target) || target < 0)
            return STG_E_INVALIDFUNCTION;
        position_ = static_cast<uint64_t>(target);
        if (newPosition != nullptr) newPosition->QuadPart = position_;
        return S_OK;
    }
    HRESULT SetSize(ULARGE_INTEGER) override { return STG_E_ACCESSDENIED; }
    HRESULT CopyTo(IStream* target, ULARGE_INTEGER cb, ULARGE_INTEGER* read,
                   ULARGE_INTEGER* written) override {
        if (target == nullptr) return STG_E_INVALIDPOINTER;
        uint64_t size = bytes_->size();
        uint64_t n = position_ >= size ? 0 : std::min<uint64_t>(cb.QuadPart, size - position_);
        uint64_t done = 0;
        HRESULT hr = S_OK;
        while (done < n) {
            ULONG chunk = static_cast<ULONG>(std::min<uint64_t>(n - done, 1u << 20));
            ULONG wrote = 0;
            hr = target->Write(bytes_->data() + position_ + done, chunk, &wrote);
            done += wrote;
            if (FAILED(hr) || wrote == 0) break;
        }
        position_ += n;
        if (read != nullptr) read->QuadPart = n;
        if (written != nullptr) written->QuadPart = done;
        return FAILED(hr) ? hr : S_OK;
    }
    HRESULT Commit(DWORD) override { return S_OK; }
    HRESULT Revert() override { return S_OK; }
    HRESULT LockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override {
        return STG_E_INVALIDFUNCTION;
    }
    HRESULT UnlockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override {
        return STG_E_INVALIDFUNCTION;
    }
    HRESULT Stat(STATSTG* stat, DWORD) override {
        if (stat == nullptr) return STG_E_INVALIDPOINTER;
        *stat = STATSTG{};
        stat->type = STGTY_STREAM;
        stat->cbSize.QuadPart = bytes_->size();
        stat->grfMode = STGM_READ;
        return S_OK;
    }
    HRESULT Clone(IStream** clone) override {
        if (clone == nullptr) return STG_E_INVALIDPOINTER;
        *clone = new MemoryStream(bytes_, position_);
        return S_OK;
    }

protected:
    bool SupportsInterface(REFIID riid) const override {
        return IidIn(riid, {IID_IStream, IID_ISequentialStream});
    }

private:
    std::shared_ptr<const std::vector<BYTE>> bytes_;
    uint64_t position_;
};

}  // namespace

HRESULT CreateReadOnlyStream(std::vector<BYTE> bytes, IStream** stream) {
    if (stream == nullptr) return MAPI_E_INVALID_PARAMETER;
    *stream = new MemoryStream(std::make_shared<const std::vector<BYTE>>(std::move(bytes)), 0);
    return S_OK;
}

}  // namespace mapi::pst
