// The store provider for personal folder files: recognises them by content,
// opens them read-only and refuses to create them.
#include "providers/providers.h"

#include <new>

#include "providers/pst/pst_file.h"
#include "providers/pst/pst_libpff.h"
#include "providers/pst/pst_objects.h"

#include "runtime/provider.h"

namespace mapi {
namespace {

class PstProvider final : public StoreProvider {
public:
    const char* Name() const override { return "pst"; }
    const char* DisplayName() const override { return "Personal Folders"; }
    MAPIUID ProviderUid() const override {
        // Our own constant: stores of this provider say so in PR_MDB_PROVIDER.
        return MAPIUID{{0x5a, 0x1e, 0x7b, 0x33, 0x90, 0x4c, 0x4f, 0x21, 0x8d, 0x6e, 0x0b, 0x52,
                        0xc4, 0x17, 0xa9, 0x03}};
    }

    bool Recognizes(const std::string& path) const override {
        pst::PffError error;
        return libpff_check_file_signature(path.c_str(), error.Ptr()) == 1;
    }

    HRESULT OpenStore(const ProfileEntry& entry, IMsgStore** store, std::string* error) override {
        if (store == nullptr) return MAPI_E_INVALID_PARAMETER;
        *store = nullptr;
        std::string message;
        try {
            std::shared_ptr<pst::PstFile> file = pst::PstFile::Open(entry.path, &message);
            if (file == nullptr) {
                if (error != nullptr) *error = message;
                return MAPI_E_CORRUPT_STORE;
            }
            return pst::CreateStoreObject(std::move(file), entry.displayName, ProviderUid(), store);
        } catch (const std::bad_alloc&) {
            if (error != nullptr) *error = "not enough memory to open " + entry.path;
            return MAPI_E_NOT_ENOUGH_MEMORY;
        }
    }

    HRESULT CreateStore(const std::string& path, const std::string& displayName,
                        std::string* error) override {
        (void)displayName;
        if (error != nullptr)
            *error = "writing personal folder files (" + path +
                     ") is not supported; create an embedded store instead";
        return MAPI_E_NO_SUPPORT;
    }
};

}  // namespace

StoreProvider* PstStoreProvider() {
    static PstProvider provider;
    return &provider;
}

}  // namespace mapi
