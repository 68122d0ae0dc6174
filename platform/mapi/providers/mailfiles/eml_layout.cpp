// A folder tree of .eml files: one directory per folder, one file per item,
// as mail clients' "save as" and other export tools leave them. New files
// are named "000042 Subject.eml": the number keeps the order items were
// added in and makes the name unique, the subject makes it readable.
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <map>
#include <strings.h>

#include "providers/mailfiles/mail_layout.h"

namespace mapi::mailfiles {

namespace {

constexpr size_t kMaxSubjectBytes = 60;

bool IsEml(const std::string& name) {
    return name.size() > 4 && name[0] != '.' &&
           strcasecmp(name.c_str() + name.size() - 4, ".eml") == 0;
}

// The subject as part of a file name: characters that some file system or
// shell treats specially become '_', cut on a UTF-8 boundary.
std::string SafeSubject(const std::string& subject) {
    std::string out;
    for (unsigned char c : subject) {
        if (c < 0x20 || c == 0x7F || std::string_view("/\\:*?\"<>|%").find(static_cast<char>(c)) !=
                                         std::string_view::npos)
            out.push_back('_');
        else
            out.push_back(static_cast<char>(c));
    }
    if (out.size() > kMaxSubjectBytes) {
        size_t cut = kMaxSubjectBytes;
        while (cut > 0 && (static_cast<unsigned char>(out[cut]) & 0xC0) == 0x80) --cut;
        out.resize(cut);
    }
    while (!out.empty() && (out.back() == ' ' || out.back() == '.')) out.pop_back();
    while (!out.empty() && (out.front() == ' ' || out.front() == '.')) out.erase(0, 1);
    return out;
}

class EmlTree final : public MailLayout {
public:
    explicit EmlTree(std::string root) : root_(std::move(root)) {}

    const char* Kind() const override { return "eml"; }
    bool Writable() override { return PathIsWritable(root_); }
    bool FlagsInMessage() const override { return true; }

    HRESULT ListFolders(const FolderPath& parent, std::vector<std::string>* names) override {
        names->clear();
        const std::string dir = Dir(parent);
        if (!IsDirectory(dir)) return MAPI_E_NOT_FOUND;
        for (const std::string& entry : DirectoryEntries(dir))
            if (entry[0] != '.' && IsDirectory(dir + "/" + entry))
                names->push_back(UnescapeName(entry));
        return S_OK;
    }

    HRESULT CreateFolder(const FolderPath& parent, const std::string& name) override {
        FolderPath path = parent;
        path.push_back(name);
        const std::string dir = Dir(path);
        if (::mkdir(dir.c_str(), 0700) != 0 && errno != EEXIST) return MAPI_E_DISK_ERROR;
        return S_OK;
    }

    HRESULT ListItems(const FolderPath& folder, std::vector<ItemEntry>* items) override {
        items->clear();
        const std::string dir = Dir(folder);
        if (!IsDirectory(dir)) return MAPI_E_NOT_FOUND;
        for (const std::string& entry : DirectoryEntries(dir)) {
            if (!IsEml(entry)) continue;
            struct stat st {};
            if (::stat((dir + "/" + entry).c_str(), &st) != 0 || !S_ISREG(st.st_mode)) continue;
            ItemEntry item;
            item.key = entry;
            item.size = static_cast<uint64_t>(st.st_size);
            items->push_back(std::move(item));
        }
        return S_OK;
    }

    HRESULT ReadItem(const FolderPath& folder, const std::string& key, std::string* bytes,
                     ItemEntry* entry) override {
        if (key.find('/') != std::string::npos || !IsEml(key)) return MAPI_E_NOT_FOUND;
        HRESULT hr = ReadWholeFile(Dir(folder) + "/" + key, bytes);
        if (FAILED(hr)) return hr;
        *entry = ItemEntry{};
        entry->key = key;
        entry->size = bytes->size();
        return S_OK;
    }

    HRESULT AddItem(const FolderPath& folder, const std::string& bytes,
                    const mime::MailFlags& flags, const std::string& nameHint,
                    std::string* key) override {
        errno = 0;
        HRESULT hr = Add(folder, bytes, flags, nameHint, key);
        if (FAILED(hr)) SetLastError(FileFailure(hr, Dir(folder), errno));
        return hr;
    }

private:
    HRESULT Add(const FolderPath& folder, const std::string& bytes, const mime::MailFlags&,
                const std::string& nameHint, std::string* key) {
        const std::string dir = Dir(folder);
        if (!IsDirectory(dir)) return MAPI_E_NOT_FOUND;
        // The directory is numbered once per session; after that the next
        // number is remembered, so a folder of many thousand items is not
        // listed again for each one.
        auto known = next_.find(dir);
        if (known == next_.end()) {
            unsigned first = 1;
            for (const std::string& entry : DirectoryEntries(dir)) {
                unsigned n = 0;
                if (IsEml(entry) && std::sscanf(entry.c_str(), "%u", &n) == 1 && n >= first)
                    first = n + 1;
            }
            known = next_.emplace(dir, first).first;
        }
        unsigned& next = known->second;
        const std::string subject = SafeSubject(nameHint);
        // The message is written under a hidden name first and then linked
        // to its own: no reader sees half a file, and link() never replaces
        // a file another writer took meanwhile (the next number is tried).
        const std::string temp = dir + "/.new-" + std::to_string(::getpid()) + "-" +
                                 std::to_string(next);
        ::unlink(temp.c_str());  // left by a crashed run that had our process id
        HRESULT hr = WriteNewFile(temp, bytes);
        if (FAILED(hr)) return hr;
        for (int attempt = 0; attempt < 1000; ++attempt, ++next) {
            char number[16];
            std::snprintf(number, sizeof number, "%06u", next);
            std::string name = std::string(number) + (subject.empty() ? "" : " " + subject) + ".eml";
            if (::link(temp.c_str(), (dir + "/" + name).c_str()) != 0) {
                if (errno == EEXIST) continue;
                ::unlink(temp.c_str());
                return MAPI_E_DISK_ERROR;
            }
            ::unlink(temp.c_str());
            *key = name;
            ++next;
            return S_OK;
        }
        ::unlink(temp.c_str());
        return MAPI_E_COLLISION;
    }

    std::string Dir(const FolderPath& path) const {
        std::string dir = root_;
        for (const std::string& name : path) dir += "/" + EscapeName(name, false);
        return dir;
    }

    std::string root_;
    std::map<std::string, unsigned> next_;  // by directory: the next free number
};

}  // namespace

std::unique_ptr<MailLayout> EmlLayout(const std::string& root) {
    return std::make_unique<EmlTree>(root);
}

}  // namespace mapi::mailfiles
