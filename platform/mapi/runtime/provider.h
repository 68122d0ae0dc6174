// How a message store provider plugs into the session.
//
// A provider opens the stores of its kind that a profile names, and creates
// new ones. The session knows providers only through this interface; the
// built-in ones are listed by BuiltinProviders().
#pragma once

#include <string>
#include <vector>

#include <mapidefs.h>

namespace mapi {

// One store of the profile.
struct ProfileEntry {
    std::string section;      // unique key of the entry in the profile file
    std::string displayName;  // PR_DISPLAY_NAME; unique in a profile
    std::string provider;     // StoreProvider::Name() of its provider
    std::string path;         // the store file
};

class StoreProvider {
public:
    virtual ~StoreProvider() = default;

    // Short name used in profile files ("embedded", "pst").
    virtual const char* Name() const = 0;
    // PR_PROVIDER_DISPLAY of its stores.
    virtual const char* DisplayName() const = 0;
    // PR_MDB_PROVIDER of its stores.
    virtual MAPIUID ProviderUid() const = 0;

    // True when the file at path looks like a store of this provider (by content).
    virtual bool Recognizes(const std::string& path) const = 0;

    // Opens the store of entry with one reference. On failure returns the code
    // (MAPI_E_CORRUPT_STORE, MAPI_E_NO_ACCESS, MAPI_E_NOT_FOUND, ...) and a
    // message for the user in *error.
    virtual HRESULT OpenStore(const ProfileEntry& entry, IMsgStore** store, std::string* error) = 0;

    // Opens the store as OpenStore does, but with routingUid in place of the
    // MAPIUID the file holds, in everything that carries it: the entry ids
    // of the store and of every object in it, PR_STORE_ENTRYID, the record
    // keys, the special-folder and receive-folder identifiers. The file is
    // not changed. The session asks for this when another store of the
    // session already has the file's MAPIUID (a copied store file).
    // MAPI_E_NO_SUPPORT when the provider cannot; the session then leaves
    // the store out rather than route its identifiers to the other one.
    virtual HRESULT OpenStoreAs(const ProfileEntry& entry, const MAPIUID& routingUid,
                                IMsgStore** store, std::string* error) {
        (void)entry;
        (void)routingUid;
        if (store != nullptr) *store = nullptr;
        if (error != nullptr)
            *error = std::string(Name()) + " stores cannot be opened under a second identity";
        return MAPI_E_NO_SUPPORT;
    }

    // Where the store's data lives, the same text for every entry that leads
    // to one store, so that two writers of one store can find each other:
    // an absolute path (links resolved) for a store kept in files, otherwise
    // a text of the provider's own that never starts with '/'.
    virtual std::string WriterLocation(const ProfileEntry& entry) const;

    // Creates a new, empty store at path (the file must not exist).
    // MAPI_E_NO_SUPPORT for a read-only provider.
    virtual HRESULT CreateStore(const std::string& path, const std::string& displayName,
                                std::string* error) = 0;
};

// The providers built into the platform, the default (embedded) first.
// They live as long as the program. (After SetProvidersForTesting: the
// list given there.)
const std::vector<StoreProvider*>& BuiltinProviders();
StoreProvider* FindProvider(const std::string& name);
// The provider that recognises the file at path, or null.
StoreProvider* ProviderForFile(const std::string& path);

// Tests only: replaces the provider list (an empty list is allowed) until
// ResetProvidersForTesting. The providers must outlive their use; call
// before any session is opened, not while other threads use the registry.
void SetProvidersForTesting(std::vector<StoreProvider*> providers);
void ResetProvidersForTesting();

}  // namespace mapi
