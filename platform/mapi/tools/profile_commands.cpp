// list, create, add, remove and sample: the commands that edit the profile.
#include "commands.h"

#include <filesystem>
#include <system_error>

#include "error_text.h"
#include "payload.h"
#include "runtime/mapi_ptr.h"
#include "runtime/profile.h"
#include "runtime/provider.h"

namespace mapi::tools {
namespace {

// Reads the profile; a profile that does not exist yet is empty.
bool LoadProfile(const CommandContext& ctx, Profile* profile) {
    std::string error;
    HRESULT hr = Profile::Load(ctx.profilePath, profile, &error);
    if (hr == MAPI_E_NOT_FOUND) return true;
    if (FAILED(hr)) {
        ctx.err << "mapiprofile: cannot read the profile: "
                << (error.empty() ? ctx.profilePath : error) << "\n";
        return false;
    }
    return true;
}

// Display names pick a store in the tools and in the dialog's lists, so a
// second store of a name already in the profile could never be chosen.
bool NameIsFree(const CommandContext& ctx, const Profile& profile, const std::string& name) {
    // The profile keeps one entry a line: checked before a store is made.
    if (name.find_first_of("\r\n") != std::string::npos) {
        ctx.err << "mapiprofile: a store name cannot hold a line break: '" << EscapeControls(name)
                << "'\n";
        return false;
    }
    if (profile.Find(name) == nullptr) return true;
    ctx.err << "mapiprofile: the profile " << ctx.profilePath << " already has a store named '"
            << name << "'; choose another name or remove that store first\n";
    return false;
}

bool SaveProfile(const CommandContext& ctx, const Profile& profile) {
    std::string error;
    if (FAILED(profile.Save(ctx.profilePath, &error))) {
        ctx.err << "mapiprofile: cannot write the profile " << ctx.profilePath << ": " << error
                << "\n";
        return false;
    }
    return true;
}

// Store paths go into the profile absolute: it is read from anywhere.
std::string AbsolutePath(const std::string& path) {
    std::error_code ec;
    std::filesystem::path absolute = std::filesystem::absolute(path, ec);
    return ec ? path : absolute.lexically_normal().string();
}

bool HasPstExtension(const std::string& path) {
    std::string ext = std::filesystem::path(path).extension().string();
    for (char& c : ext) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
    return ext == ".pst" || ext == ".ost";
}

// New stores are embedded ones unless a kind is asked for; a personal folder
// file (by its name or --kind pst) is a new file from our own writer, opened
// read/write.
StoreProvider* ProviderForNewStore(const std::string& path, const std::string& kind) {
    if (kind == "pst" || (kind.empty() && HasPstExtension(path))) return FindProvider("pst-writer");
    return FindProvider(kind.empty() ? "embedded" : kind);
}

// Creates a store at path; on failure reports and returns null.
StoreProvider* CreateStore(const CommandContext& ctx, const std::string& name,
                           const std::string& path, const std::string& kind = {}) {
    StoreProvider* provider = ProviderForNewStore(path, kind);
    if (provider == nullptr) {
        ctx.err << "mapiprofile: no store provider can create " << path << "\n";
        return nullptr;
    }
    std::error_code ec;
    if (std::filesystem::exists(path, ec)) {
        ctx.err << "mapiprofile: " << path << " already exists; a new store needs a new file\n";
        return nullptr;
    }
    std::string error;
    if (FAILED(provider->CreateStore(path, name, &error))) {
        ctx.err << "mapiprofile: cannot create a store at " << path << ": " << error << "\n";
        return nullptr;
    }
    return provider;
}

bool OpenStore(const CommandContext& ctx, StoreProvider* provider, const std::string& name,
               const std::string& path, ComRef<IMsgStore>* store) {
    ProfileEntry entry{"", name, provider->Name(), path};
    std::string error;
    HRESULT hr = provider->OpenStore(entry, store->Out(), &error);
    if (FAILED(hr)) {
        // The provider's message names the file already.
        if (error.empty()) error = "cannot open the store " + path;
        ctx.err << "mapiprofile: " << error << "\n";
        return false;
    }
    return true;
}

// Takes away a store that CreateStore made at path (which did not exist
// before): a file with the files SQLite keeps beside it, or a directory.
void RemoveNewStore(const std::string& path) {
    std::error_code ec;
    std::filesystem::remove_all(path, ec);
    for (const char* suffix : {"-wal", "-shm", "-journal"})
        std::filesystem::remove(path + suffix, ec);
}

bool AddToProfile(const CommandContext& ctx, Profile& profile, const std::string& name,
                  StoreProvider* provider, const std::string& path) {
    profile.Add(name, provider->Name(), path);
    return SaveProfile(ctx, profile);
}

}  // namespace

int RunList(const CommandContext& ctx) {
    Profile profile;
    if (!LoadProfile(ctx, &profile)) return 1;
    // A hand-edited profile can hold anything; a name must not drive the
    // terminal or add a column.
    for (const ProfileEntry& e : profile.Entries())
        ctx.out << EscapeControls(e.displayName) << "\t" << EscapeControls(e.provider) << "\t"
                << EscapeControls(e.path) << "\n";
    return 0;
}

int RunCreate(const CommandContext& ctx, const std::string& name, const std::string& path,
              const std::string& kind) {
    Profile profile;
    if (!LoadProfile(ctx, &profile)) return 1;
    if (!NameIsFree(ctx, profile, name)) return 1;
    std::string absolute = AbsolutePath(path);
    StoreProvider* provider = CreateStore(ctx, name, absolute, kind);
    if (provider == nullptr) return 1;
    if (AddToProfile(ctx, profile, name, provider, absolute)) return 0;
    // A store that no profile lists would only be found by chance.
    RemoveNewStore(absolute);
    return 1;
}

int RunAdd(const CommandContext& ctx, const std::string& name, const std::string& path) {
    Profile profile;
    if (!LoadProfile(ctx, &profile)) return 1;
    if (!NameIsFree(ctx, profile, name)) return 1;
    // A mail server account is named by its address, which stays as given.
    const bool account = path.rfind("imap://", 0) == 0 || path.rfind("imaps://", 0) == 0;
    std::string absolute = account ? path : AbsolutePath(path);
    std::error_code ec;
    // Mail file stores (Maildir, mbox, .eml folders) are directories.
    if (!account && !std::filesystem::is_regular_file(absolute, ec) &&
        !std::filesystem::is_directory(absolute, ec)) {
        ctx.err << "mapiprofile: " << path << " is not a file or directory\n";
        return 1;
    }
    StoreProvider* provider = ProviderForFile(absolute);
    if (provider == nullptr) {
        ctx.err << "mapiprofile: " << path
                << " is not a message store (neither an embedded store, a .pst/.ost file, nor a "
                   "Maildir, mbox or .eml folder)\n";
        return 1;
    }
    ComRef<IMsgStore> store;
    if (!OpenStore(ctx, provider, name, absolute, &store)) return 1;
    store.Reset();
    return AddToProfile(ctx, profile, name, provider, absolute) ? 0 : 1;
}

int RunRemove(const CommandContext& ctx, const std::string& name) {
    Profile profile;
    if (!LoadProfile(ctx, &profile)) return 1;
    if (!profile.Remove(name)) {
        ctx.err << "mapiprofile: the profile " << ctx.profilePath << " has no store named '" << name
                << "'\n";
        return 1;
    }
    return SaveProfile(ctx, profile) ? 0 : 1;
}

int RunSample(const CommandContext& ctx, const std::string& name, const std::string& path,
              const SampleOptions& options) {
    Profile profile;
    if (!LoadProfile(ctx, &profile)) return 1;
    if (!NameIsFree(ctx, profile, name)) return 1;
    std::string absolute = AbsolutePath(path);
    StoreProvider* provider = CreateStore(ctx, name, absolute);
    if (provider == nullptr) return 1;
    ComRef<IMsgStore> store;
    if (!OpenStore(ctx, provider, name, absolute, &store)) return 1;
    SampleSummary summary;
    std::string error;
    HRESULT hr = FillSampleStore(store.get(), options, &summary, &error);
    store.Reset();
    if (FAILED(hr)) {
        ctx.err << "mapiprofile: filling the sample store failed: " << error << " ("
                << DescribeResult(hr) << "); the incomplete store stays at " << absolute
                << " and is not in the profile\n";
        return 1;
    }
    if (!AddToProfile(ctx, profile, name, provider, absolute)) return 1;
    ctx.out << "sample " << name << ": " << summary.folders << " folders, " << summary.mails
            << " mails, " << summary.contacts << " contacts, " << summary.appointments
            << " appointments, " << summary.associated << " associated items, "
            << summary.attachments << " attachments, " << summary.embedded
            << " embedded messages\n";
    return 0;
}

}  // namespace mapi::tools
