// The store provider for personal folder files written by our own writer:
// it creates new, empty Unicode files and opens them read/write. It does
// not claim files by content, so a file added to a profile is read through
// libpff (the "pst" provider), an independent check of what we wrote.
#include <new>

#include "providers/providers.h"
#include "providers/pst/pst_writer.h"
#include "providers/pst/pstw_file.h"
#include "providers/pst/pstw_objects.h"
#include "runtime/provider.h"

namespace mapi {
namespace {

class PstWriterProvider final : public StoreProvider {
public:
    const char* Name() const override { return "pst-writer"; }
    const char* DisplayName() const override { return "Personal Folders"; }
    // Stores of both personal folder providers are of one kind.
    MAPIUID ProviderUid() const override { return PstStoreProvider()->ProviderUid(); }
    bool Recognizes(const std::string&) const override { return false; }

    HRESULT OpenStore(const ProfileEntry& entry, IMsgStore** store, std::string* error) override {
        if (store == nullptr) return MAPI_E_INVALID_PARAMETER;
        *store = nullptr;
        try {
            std::string message;
            std::shared_ptr<pst::WritableFile> file = pst::WritableFile::Open(entry.path, ProviderUid(), &message);
            if (file == nullptr) {
                if (error != nullptr) *error = message;
                return MAPI_E_CORRUPT_STORE;
            }
            return pst::CreateWritableStoreObject(std::move(file), entry.displayName, store);
        } catch (const std::bad_alloc&) {
            if (error != nullptr) *error = "not enough memory to open " + entry.path;
            return MAPI_E_NOT_ENOUGH_MEMORY;
        }
    }

    HRESULT CreateStore(const std::string& path, const std::string& displayName, std::string* error) override {
        try {
            std::string message;
            if (!pst::CreateEmptyStoreFile(path, displayName.empty() ? "Personal Folders" : displayName, &message)) {
                if (error != nullptr) *error = message;
                return MAPI_E_CALL_FAILED;
            }
            return S_OK;
        } catch (const std::bad_alloc&) {
            if (error != nullptr) *error = "not enough memory to create " + path;
            return MAPI_E_NOT_ENOUGH_MEMORY;
        }
    }
};

}  // namespace

StoreProvider* PstWriterStoreProvider() {
    static PstWriterProvider provider;
    return &provider;
}

}  // namespace mapi
