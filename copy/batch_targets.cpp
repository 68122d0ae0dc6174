// Target keys of batch lines, resolved through the user's profile.
#include "batch_targets.h"

#include "runtime/profile.h"

namespace quirnel {

std::vector<std::string> TargetKeys(const std::vector<BatchLine>& lines) {
    mapi::Profile profile;
    std::string error;
    const bool loaded = mapi::Profile::Load(mapi::Profile::DefaultPath(), &profile, &error) == S_OK;
    std::vector<std::string> keys;
    keys.reserve(lines.size());
    for (const BatchLine& line : lines) {
        const mapi::ProfileEntry* entry = loaded ? profile.Find(line.target) : nullptr;
        const mapi::StoreProvider* provider =
            entry != nullptr ? mapi::FindProvider(entry->provider) : nullptr;
        keys.push_back(provider != nullptr ? "at " + provider->WriterLocation(*entry)
                                           : "named " + line.target);
    }
    return keys;
}

}  // namespace quirnel
