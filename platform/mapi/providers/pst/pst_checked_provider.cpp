// The store provider for personal folder files read by our own checking
// reader ("pst-checked"), read-only. It is the default for .pst and .ost
// files: unlike libpff (the "pst" provider, still selectable by name) it
// checks every CRC and structure and never hands on damaged data as if it
// were whole, which is what a rescue tool must not do; it also serves items
// above damaged store objects and folders and the recovered items.
//
// The file's sound content is rebuilt in memory once at open (see
// fmt::RescueStore) and served through the writer's store objects, which
// refuse every change. The file itself is mapped only while that runs, and
// the pages read are let go of as it goes, so the peak is about the
// decoded content once, not the file and its content together.
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <functional>
#include <new>

#include "providers/providers.h"
#include "providers/pst/format/chk_ndb.h"
#include "providers/pst/format/chk_rescue.h"
#include "providers/pst/pstw_file.h"
#include "providers/pst/pstw_objects.h"
#include "runtime/provider.h"

namespace mapi {
namespace {

// The file mapped read-only for the time the store is rebuilt.
class MappedFile {
public:
    bool Open(const std::string& path, std::string* error) {
        int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
        if (fd < 0) return Fail(path + " cannot be opened: " + std::strerror(errno), error);
        struct stat st {};
        if (::fstat(fd, &st) != 0 || st.st_size <= 0) {
            ::close(fd);
            return Fail(path + " is empty or cannot be read", error);
        }
        size_ = static_cast<size_t>(st.st_size);
        void* p = ::mmap(nullptr, size_, PROT_READ, MAP_PRIVATE, fd, 0);
        ::close(fd);
        if (p == MAP_FAILED) return Fail(path + " cannot be mapped: " + std::strerror(errno), error);
        data_ = static_cast<const uint8_t*>(p);
        return true;
    }
    ~MappedFile() {
        if (data_ != nullptr) ::munmap(const_cast<uint8_t*>(data_), size_);
    }
    const uint8_t* data() const { return data_; }
    // Drops the pages read so far from the process; they are read again
    // from the file when touched. The file is only read, so nothing is lost.
    void Release() const {
        if (data_ != nullptr) ::madvise(const_cast<uint8_t*>(data_), size_, MADV_DONTNEED);
    }
    size_t size() const { return size_; }

private:
    static bool Fail(const std::string& why, std::string* error) {
        if (error != nullptr) *error = why;
        return false;
    }
    const uint8_t* data_ = nullptr;
    size_t size_ = 0;
};

// A store id for a file whose own record key is lost: stable for one path,
// so entry ids saved by a first run still name the same items in a second.
pst::fmt::StoreUid UidFromPath(const std::string& path) {
    pst::fmt::StoreUid uid{};
    size_t h1 = std::hash<std::string>{}(path), h2 = std::hash<std::string>{}(path + "#quirnel");
    std::memcpy(uid.data(), &h1, 8);
    std::memcpy(uid.data() + 8, &h2, 8);
    return uid;
}

class PstCheckedProvider final : public StoreProvider {
public:
    const char* Name() const override { return "pst-checked"; }
    const char* DisplayName() const override { return "Personal Folders (checked)"; }
    MAPIUID ProviderUid() const override { return PstStoreProvider()->ProviderUid(); }

    bool Recognizes(const std::string& path) const override {
        int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
        if (fd < 0) return false;
        uint8_t head[514] = {};
        ssize_t n = ::read(fd, head, sizeof head);
        ::close(fd);
        if (n < 12 || std::memcmp(head, "!BDN", 4) != 0) return false;
        uint16_t version = static_cast<uint16_t>(head[10] | (head[11] << 8));
        const bool unicode = version == 23;
        if (!unicode && version != 14 && version != 15) return false;
        // A file in the cyclic encoding is left to libpff, which decodes it;
        // this reader would only report each of its blocks as unreadable.
        const ssize_t cryptAt = unicode ? 513 : 461;
        return n <= cryptAt || head[cryptAt] != pst::fmt::kCryptCyclic;
    }

    HRESULT OpenStore(const ProfileEntry& entry, IMsgStore** store, std::string* error) override {
        return Open(entry, nullptr, store, error);
    }

    // A copy of a file whose record key another store of the session has
    // already reads under the session's routing identity; the file is never
    // written either way.
    HRESULT OpenStoreAs(const ProfileEntry& entry, const MAPIUID& routingUid, IMsgStore** store,
                        std::string* error) override {
        return Open(entry, &routingUid, store, error);
    }

    HRESULT CreateStore(const std::string&, const std::string&, std::string* error) override {
        if (error != nullptr) *error = "the checked reader only reads personal folder files";
        return MAPI_E_NO_SUPPORT;
    }

private:
    HRESULT Open(const ProfileEntry& entry, const MAPIUID* routingUid, IMsgStore** store, std::string* error) {
        if (store == nullptr) return MAPI_E_INVALID_PARAMETER;
        *store = nullptr;
        try {
            MappedFile mapped;
            pst::fmt::CheckedFile file;
            pst::fmt::StoreModel model;
            pst::fmt::RescueStats stats;
            std::string why;
            file.SetTrim([&mapped] { mapped.Release(); });
            if (!mapped.Open(entry.path, &why) || !file.Open(mapped.data(), mapped.size(), &why) ||
                (mapped.Release(), false) ||
                !pst::fmt::RescueStore(file, UidFromPath(entry.path), &model, &stats, &why)) {
                if (error != nullptr) *error = entry.path + " cannot be read as a personal folder file: " + why;
                return MAPI_E_CORRUPT_STORE;
            }
            if (routingUid != nullptr) {
                pst::fmt::StoreUid uid;
                std::memcpy(uid.data(), routingUid->ab, uid.size());
                model.RouteAs(uid);
            }
            auto served = pst::WritableFile::ReadOnly(entry.path, ProviderUid(), std::move(model));
            return pst::CreateWritableStoreObject(std::move(served), entry.displayName, store);
        } catch (const std::bad_alloc&) {
            if (error != nullptr) *error = "not enough memory to open " + entry.path;
            return MAPI_E_NOT_ENOUGH_MEMORY;
        }
    }
};

}  // namespace

StoreProvider* PstCheckedStoreProvider() {
    static PstCheckedProvider provider;
    return &provider;
}

}  // namespace mapi
