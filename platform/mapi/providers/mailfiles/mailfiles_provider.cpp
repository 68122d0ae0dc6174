// The three mail file store providers: Maildir, mbox and .eml folders. They
// share every object and differ only in their layout and in how an
// existing store is recognised.
#include <fcntl.h>
#include <unistd.h>

#include <cstring>
#include <strings.h>

#include "providers/mailfiles/mail_store.h"
#include "providers/mailfiles/store_core.h"
#include "providers/providers.h"

namespace mapi::mailfiles {

namespace {

enum class Kind { kMaildir, kMbox, kEml };

// Provider identifiers (PR_MDB_PROVIDER): made up for this platform, fixed.
constexpr MAPIUID kMaildirUid = {{0x51, 0x75, 0x69, 0x72, 0x6E, 0x65, 0x6C, 0x4D, 0x61, 0x69,
                                  0x6C, 0x64, 0x69, 0x72, 0x00, 0x01}};
constexpr MAPIUID kMboxUid = {{0x51, 0x75, 0x69, 0x72, 0x6E, 0x65, 0x6C, 0x4D, 0x62, 0x6F, 0x78,
                               0x00, 0x00, 0x00, 0x00, 0x01}};
constexpr MAPIUID kEmlUid = {{0x51, 0x75, 0x69, 0x72, 0x6E, 0x65, 0x6C, 0x45, 0x6D, 0x6C, 0x00,
                              0x00, 0x00, 0x00, 0x00, 0x01}};

const char* KindName(Kind kind) {
    switch (kind) {
        case Kind::kMaildir: return "maildir";
        case Kind::kMbox: return "mbox";
        case Kind::kEml: return "eml";
    }
    return "";
}

// The kind a store made by this platform wrote into its hidden file.
std::string RecordedKind(const std::string& path) {
    std::string text;
    if (ReadWholeFile(path + "/" + kMetaFileName, &text) != S_OK) return {};
    size_t at = text.find("kind=");
    if (at == std::string::npos || (at > 0 && text[at - 1] != '\n')) return {};
    size_t end = text.find('\n', at);
    return text.substr(at + 5, end == std::string::npos ? std::string::npos : end - at - 5);
}

bool IsMaildir(const std::string& path) {
    return IsDirectory(path + "/cur") && IsDirectory(path + "/new") && IsDirectory(path + "/tmp");
}

bool StartsWithFromLine(const std::string& file) {
    int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    char head[5] = {};
    const bool yes = ::read(fd, head, 5) == 5 && std::memcmp(head, "From ", 5) == 0;
    ::close(fd);
    return yes;
}

bool HoldsMbox(const std::string& path) {
    int looked = 0;
    for (const std::string& entry : DirectoryEntries(path)) {
        if (entry[0] == '.') continue;
        const std::string full = path + "/" + entry;
        if (IsRegularFile(full) && StartsWithFromLine(full)) return true;
        if (++looked > 64) break;
    }
    return false;
}

bool HoldsEml(const std::string& path, int depth) {
    int looked = 0;
    for (const std::string& entry : DirectoryEntries(path)) {
        if (entry[0] == '.') continue;
        const std::string full = path + "/" + entry;
        if (entry.size() > 4 && strcasecmp(entry.c_str() + entry.size() - 4, ".eml") == 0 &&
            IsRegularFile(full))
            return true;
        if (depth > 0 && IsDirectory(full) && HoldsEml(full, depth - 1)) return true;
        if (++looked > 256) break;
    }
    return false;
}

class MailFilesProvider final : public StoreProvider {
public:
    explicit MailFilesProvider(Kind kind) : kind_(kind) {}

    const char* Name() const override { return KindName(kind_); }
    const char* DisplayName() const override {
        switch (kind_) {
            case Kind::kMaildir: return "Maildir folders";
            case Kind::kMbox: return "mbox folders";
            case Kind::kEml: return ".eml folders";
        }
        return "";
    }
    MAPIUID ProviderUid() const override {
        return kind_ == Kind::kMaildir ? kMaildirUid : kind_ == Kind::kMbox ? kMboxUid : kEmlUid;
    }

    bool Recognizes(const std::string& path) const override {
        if (IsRegularFile(path)) return kind_ == Kind::kMbox && StartsWithFromLine(path);
        if (!IsDirectory(path)) return false;
        const std::string recorded = RecordedKind(path);
        if (!recorded.empty()) return recorded == Name();
        switch (kind_) {
            case Kind::kMaildir: return IsMaildir(path);
            case Kind::kMbox: return !IsMaildir(path) && HoldsMbox(path);
            case Kind::kEml: return !IsMaildir(path) && !HoldsMbox(path) && HoldsEml(path, 2);
        }
        return false;
    }

    HRESULT OpenStore(const ProfileEntry& entry, IMsgStore** store, std::string* error) override {
        return Open(entry.path, entry.displayName, false, store, error);
    }

    HRESULT CreateStore(const std::string& path, const std::string& displayName,
                        std::string* error) override {
        IMsgStore* store = nullptr;
        HRESULT hr = Open(path, displayName, true, &store, error);
        if (store != nullptr) store->Release();
        return hr;
    }

private:
    std::unique_ptr<MailLayout> Layout(const std::string& path) const {
        switch (kind_) {
            case Kind::kMaildir: return MaildirLayout(path);
            case Kind::kMbox: return IsRegularFile(path) ? MboxFileLayout(path) : MboxLayout(path);
            case Kind::kEml: return EmlLayout(path);
        }
        return nullptr;
    }

    HRESULT Open(const std::string& path, const std::string& displayName, bool create,
                 IMsgStore** store, std::string* error) {
        if (store == nullptr || error == nullptr) return MAPI_E_INVALID_PARAMETER;
        *store = nullptr;
        try {
            std::shared_ptr<StoreCore> core;
            HRESULT hr = StoreCore::Open(path, Layout(path), displayName, ProviderUid(), create,
                                         &core, error);
            if (FAILED(hr)) return hr;
            return CreateStoreObject(std::move(core), store);
        } catch (const std::bad_alloc&) {
            return MAPI_E_NOT_ENOUGH_MEMORY;
        }
    }

    Kind kind_;
};

}  // namespace

}  // namespace mapi::mailfiles

namespace mapi {

StoreProvider* MaildirStoreProvider() {
    static mailfiles::MailFilesProvider provider(mailfiles::Kind::kMaildir);
    return &provider;
}

StoreProvider* MboxStoreProvider() {
    static mailfiles::MailFilesProvider provider(mailfiles::Kind::kMbox);
    return &provider;
}

StoreProvider* EmlStoreProvider() {
    static mailfiles::MailFilesProvider provider(mailfiles::Kind::kEml);
    return &provider;
}

}  // namespace mapi
