// Registers the embedded store with the session: recognising, opening and
// creating store files.
#include "providers/providers.h"

#include "store_core.h"
#include "store_object.h"
#include "store_schema.h"

namespace mapi {
namespace {

// PR_MDB_PROVIDER of every embedded store.
constexpr MAPIUID kEmbeddedProviderUid = {{0x7A, 0x3E, 0x51, 0xC2, 0x94, 0x0B, 0x4D, 0x6F, 0xA1,
                                           0x58, 0x2C, 0xE3, 0x17, 0x90, 0xB4, 0x6D}};

class EmbeddedProvider final : public StoreProvider {
public:
    const char* Name() const override { return "embedded"; }
    const char* DisplayName() const override { return "Embedded message store"; }
    MAPIUID ProviderUid() const override { return kEmbeddedProviderUid; }

    bool Recognizes(const std::string& path) const override {
        return embedded::FileLooksLikeStore(path);
    }

    HRESULT OpenStore(const ProfileEntry& entry, IMsgStore** store, std::string* error) override {
        return Open(entry, nullptr, store, error);
    }

    HRESULT OpenStoreAs(const ProfileEntry& entry, const MAPIUID& routingUid, IMsgStore** store,
                        std::string* error) override {
        return Open(entry, &routingUid, store, error);
    }

    HRESULT CreateStore(const std::string& path, const std::string& displayName,
                        std::string* error) override {
        if (error == nullptr) return MAPI_E_INVALID_PARAMETER;
        return embedded::StoreCore::Create(path, displayName, error);
    }

private:
    // Every identifier the store hands out is built from the core's MAPIUID
    // when asked for, so setting it before the first object exists is all
    // a routing identity takes.
    static HRESULT Open(const ProfileEntry& entry, const MAPIUID* routingUid, IMsgStore** store,
                        std::string* error) {
        if (store == nullptr || error == nullptr) return MAPI_E_INVALID_PARAMETER;
        *store = nullptr;
        std::shared_ptr<embedded::StoreCore> core;
        HRESULT hr = embedded::StoreCore::Open(entry.path, entry.displayName, &core, error);
        if (FAILED(hr)) return hr;
        if (routingUid != nullptr) core->UseRoutingUid(*routingUid);
        return embedded::NewStoreObject(core, kEmbeddedProviderUid, store);
    }
};

}  // namespace

StoreProvider* EmbeddedStoreProvider() {
    static EmbeddedProvider provider;
    return &provider;
}

}  // namespace mapi
