// Maildir++: the store root is itself the inbox maildir; every other folder
// is a maildir ".A.B" beside it (dots separate levels, so dots in names are
// escaped). Items are files in cur/ and new/, their states in the
// ":2,FLAGS" suffix; delivery writes to tmp/ and renames into cur/, so a
// reader never sees half a message.
#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <map>
#include <strings.h>

#include "providers/mailfiles/mail_layout.h"

namespace mapi::mailfiles {

namespace {

constexpr const char* kInboxName = "Inbox";

bool IsInbox(const std::string& name) { return strcasecmp(name.c_str(), "inbox") == 0; }

// The part of a file name before the info suffix: the item's key.
std::string BaseOf(const std::string& file) {
    size_t colon = file.find(':');
    return colon == std::string::npos ? file : file.substr(0, colon);
}

void FlagsFromName(const std::string& file, ItemEntry* entry) {
    size_t info = file.find(":2,");
    if (info == std::string::npos) return;
    entry->hasFlags = true;
    for (char c : file.substr(info + 3)) {
        switch (c) {
            case 'S': entry->flags.seen = true; break;
            case 'R': entry->flags.answered = true; break;
            case 'P': entry->flags.forwarded = true; break;
            case 'F': entry->flags.flagged = true; break;
            case 'D': entry->flags.draft = true; break;
            default: break;
        }
    }
}

// Flags in the ASCII order Maildir readers expect.
std::string FlagLetters(const mime::MailFlags& f) {
    std::string s;
    if (f.draft) s += 'D';
    if (f.flagged) s += 'F';
    if (f.forwarded) s += 'P';
    if (f.answered) s += 'R';
    if (f.seen) s += 'S';
    return s;
}

class Maildir final : public MailLayout {
public:
    explicit Maildir(std::string root) : root_(std::move(root)) {}

    const char* Kind() const override { return "maildir"; }
    bool FlagsInMessage() const override { return false; }
    bool Writable() override { return PathIsWritable(root_); }

    HRESULT ListFolders(const FolderPath& parent, std::vector<std::string>* names) override {
        names->clear();
        const std::string prefix = parent.empty() ? "." : DirName(parent) + ".";
        if (parent.empty()) names->push_back(kInboxName);
        for (const std::string& entry : DirectoryEntries(root_)) {
            if (entry.size() <= prefix.size() || entry.compare(0, prefix.size(), prefix) != 0)
                continue;
            const std::string rest = entry.substr(prefix.size());
            if (rest.find('.') != std::string::npos) continue;  // a deeper level
            if (!IsDirectory(root_ + "/" + entry)) continue;
            const std::string name = UnescapeName(rest);
            // ".INBOX" is where the inbox's children live, not a folder.
            if (parent.empty() && IsInbox(name)) continue;
            names->push_back(name);
        }
        // A level may exist only through deeper folders (".A.B" without
        // ".A"); it is a folder all the same.
        for (const std::string& entry : DirectoryEntries(root_)) {
            if (entry.size() <= prefix.size() || entry.compare(0, prefix.size(), prefix) != 0)
                continue;
            const std::string rest = entry.substr(prefix.size());
            size_t dot = rest.find('.');
            if (dot == std::string::npos || dot == 0) continue;
            const std::string name = UnescapeName(rest.substr(0, dot));
            if (parent.empty() && IsInbox(name)) continue;
            if (std::find(names->begin(), names->end(), name) == names->end())
                names->push_back(name);
        }
        return S_OK;
    }

    HRESULT CreateFolder(const FolderPath& parent, const std::string& name) override {
        FolderPath path = parent;
        path.push_back(name);
        if (path.size() == 1 && IsInbox(name)) return S_OK;
        const std::string dir = root_ + "/" + DirName(path);
        for (const char* sub : {"", "/cur", "/new", "/tmp"}) {
            const std::string p = dir + sub;
            if (::mkdir(p.c_str(), 0700) != 0 && errno != EEXIST) return MAPI_E_DISK_ERROR;
        }
        // Maildir++ marks folders so delivery agents know they are not the inbox.
        const std::string marker = dir + "/maildirfolder";
        if (!IsRegularFile(marker)) (void)WriteNewFile(marker, "");
        return S_OK;
    }

    HRESULT ListItems(const FolderPath& folder, std::vector<ItemEntry>* items) override {
        items->clear();
        const std::string dir = FolderDir(folder);
        if (!IsDirectory(dir)) return MAPI_E_NOT_FOUND;
        std::vector<std::pair<std::string, ItemEntry>> found;
        for (const char* sub : {"/cur", "/new"}) {
            for (const std::string& file : DirectoryEntries(dir + sub)) {
                if (file.empty() || file[0] == '.') continue;
                ItemEntry entry;
                entry.key = BaseOf(file);
                FlagsFromName(file, &entry);
                struct stat st {};
                if (::stat((dir + sub + "/" + file).c_str(), &st) != 0 || !S_ISREG(st.st_mode))
                    continue;
                entry.size = static_cast<uint64_t>(st.st_size);
                found.emplace_back(entry.key, entry);
            }
        }
        // Unique names begin with the delivery time, so name order is
        // delivery order for our own names and for most others'.
        std::sort(found.begin(), found.end(),
                  [](const auto& a, const auto& b) { return a.first < b.first; });
        for (auto& f : found) items->push_back(std::move(f.second));
        return S_OK;
    }

    HRESULT ReadItem(const FolderPath& folder, const std::string& key, std::string* bytes,
                     ItemEntry* entry) override {
        const std::string dir = FolderDir(folder);
        std::string file = CachedFile(dir, key, false);
        HRESULT hr = file.empty() ? MAPI_E_NOT_FOUND : ReadWholeFile(file, bytes);
        if (hr == MAPI_E_NOT_FOUND) {  // renamed by another client since: look again
            file = CachedFile(dir, key, true);
            hr = file.empty() ? MAPI_E_NOT_FOUND : ReadWholeFile(file, bytes);
        }
        if (FAILED(hr)) return hr;
        *entry = ItemEntry{};
        entry->key = key;
        entry->size = bytes->size();
        FlagsFromName(file.substr(file.rfind('/') + 1), entry);
        return S_OK;
    }

    HRESULT AddItem(const FolderPath& folder, const std::string& bytes, const mime::MailFlags& flags,
                    const std::string& hint, std::string* key) override {
        errno = 0;
        HRESULT hr = Add(folder, bytes, flags, hint, key);
        if (FAILED(hr)) SetLastError(FileFailure(hr, FolderDir(folder), errno));
        return hr;
    }

private:
    HRESULT Add(const FolderPath& folder, const std::string& bytes, const mime::MailFlags& flags,
                const std::string&, std::string* key) {
        const std::string dir = FolderDir(folder);
        if (!IsDirectory(dir + "/tmp")) return MAPI_E_NOT_FOUND;
        const std::string unique = UniqueName();
        const std::string tmp = dir + "/tmp/" + unique;
        HRESULT hr = WriteNewFile(tmp, bytes);
        if (FAILED(hr)) return hr;
        const std::string final = dir + "/cur/" + unique + ":2," + FlagLetters(flags);
        // link() refuses to replace, so a clash can never overwrite mail.
        if (::link(tmp.c_str(), final.c_str()) != 0) {
            ::unlink(tmp.c_str());
            return errno == EEXIST ? MAPI_E_COLLISION : MAPI_E_DISK_ERROR;
        }
        ::unlink(tmp.c_str());
        *key = unique;
        return S_OK;
    }

    // ".A.B" for {"A", "B"}; the inbox's children go below ".INBOX".
    static std::string DirName(const FolderPath& path) {
        std::string dir;
        for (size_t i = 0; i < path.size(); ++i) {
            dir += '.';
            dir += i == 0 && IsInbox(path[i]) ? std::string("INBOX") : EscapeName(path[i], true);
        }
        return dir;
    }

    std::string FolderDir(const FolderPath& folder) const {
        if (folder.size() == 1 && IsInbox(folder[0])) return root_;
        return root_ + "/" + DirName(folder);
    }

    // time.MusecPpidQn.host, zero-padded so that names sort in delivery order.
    static std::string UniqueName() {
        static std::atomic<unsigned> counter{0};
        struct timeval tv {};
        ::gettimeofday(&tv, nullptr);
        char host[256] = "localhost";
        ::gethostname(host, sizeof host - 1);
        std::string safeHost;
        for (const char* p = host; *p != '\0'; ++p)
            safeHost += (*p == '/' || *p == ':') ? '_' : *p;
        char buffer[128];
        std::snprintf(buffer, sizeof buffer, "%010lld.M%06ldP%dQ%08u.", static_cast<long long>(tv.tv_sec),
                      static_cast<long>(tv.tv_usec), static_cast<int>(::getpid()), ++counter);
        return buffer + safeHost;
    }

    // The file of key in dir; the listing of dir is kept between calls so
    // reading a folder's items one by one does not list it once per item.
    std::string CachedFile(const std::string& dir, const std::string& key, bool refresh) {
        auto& files = files_[dir];
        if (refresh || files.empty()) {
            files.clear();
            for (const char* sub : {"/cur", "/new"})
                for (const std::string& file : DirectoryEntries(dir + sub))
                    if (!file.empty() && file[0] != '.') files[BaseOf(file)] = dir + sub + "/" + file;
        }
        auto it = files.find(key);
        return it == files.end() ? std::string() : it->second;
    }

    std::string root_;
    std::map<std::string, std::map<std::string, std::string>> files_;
};

}  // namespace

std::unique_ptr<MailLayout> MaildirLayout(const std::string& root) {
    return std::make_unique<Maildir>(root);
}

}  // namespace mapi::mailfiles
