// The registry of store providers: the built-in list, lookup by profile
// name and by file content, and the test hook that replaces the list.
#include <memory>
#include <mutex>

#include "providers.h"

namespace mapi {

namespace {

std::mutex g_mutex;
std::unique_ptr<std::vector<StoreProvider*>> g_testProviders;

const std::vector<StoreProvider*>& Builtin() {
    // The checked reader comes before libpff so that it is the one that
    // claims .pst and .ost files (ProviderForFile takes the first).
    static const std::vector<StoreProvider*> providers = {
        EmbeddedStoreProvider(), PstCheckedStoreProvider(), PstStoreProvider(), PstWriterStoreProvider(),
        MaildirStoreProvider(),  MboxStoreProvider(),       EmlStoreProvider(), ImapStoreProvider()};
    return providers;
}

}  // namespace

const std::vector<StoreProvider*>& BuiltinProviders() {
    std::lock_guard<std::mutex> lock(g_mutex);
    return g_testProviders ? *g_testProviders : Builtin();
}

StoreProvider* FindProvider(const std::string& name) {
    for (StoreProvider* p : BuiltinProviders())
        if (p != nullptr && name == p->Name()) return p;
    return nullptr;
}

StoreProvider* ProviderForFile(const std::string& path) {
    for (StoreProvider* p : BuiltinProviders())
        if (p != nullptr && p->Recognizes(path)) return p;
    return nullptr;
}

void SetProvidersForTesting(std::vector<StoreProvider*> providers) {
    std::lock_guard<std::mutex> lock(g_mutex);
    g_testProviders = std::make_unique<std::vector<StoreProvider*>>(std::move(providers));
}

void ResetProvidersForTesting() {
    std::lock_guard<std::mutex> lock(g_mutex);
    g_testProviders.reset();
}

}  // namespace mapi
