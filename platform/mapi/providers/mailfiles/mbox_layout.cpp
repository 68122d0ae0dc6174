// mbox: one file per folder, subfolders of "Name" in the directory
// "Name.sbd" beside it, as Thunderbird lays them out. Messages are
// separated by "From " lines and written mboxrd-quoted (a body line that
// starts with any number of '>' and "From " gets one more '>'), so reading
// takes exactly one '>' away again.
//
// Appending holds a dot-lock file and an fcntl write lock, the two locks
// mail clients and delivery agents take; reading holds an fcntl read lock.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <ctime>
#include <map>
#include <string_view>
#include <thread>

#include "providers/mailfiles/mail_layout.h"
#include "providers/mailfiles/mbox_locks.h"
#include "providers/mailfiles/mbox_scan.h"

namespace mapi::mailfiles {

namespace {

// The key of text before the first "From " line: not a message, but not
// to be dropped silently either; reading it fails.
constexpr const char* kLeadingGarbageKey = "garbage";

class Mbox final : public MailLayout {
public:
    explicit Mbox(std::string root) : root_(std::move(root)) {}
    // One mbox file on its own: a store with a single folder, display.
    Mbox(std::string file, std::string display)
        : single_(std::move(file)), display_(std::move(display)) {}

    const char* Kind() const override { return "mbox"; }
    bool Writable() override { return PathIsWritable(single_.empty() ? root_ : single_); }
    bool FlagsInMessage() const override { return true; }

    HRESULT ListFolders(const FolderPath& parent, std::vector<std::string>* names) override {
        names->clear();
        if (!single_.empty()) {
            if (parent.empty()) names->push_back(display_);
            return S_OK;
        }
        const std::string dir = SubDir(parent);
        if (!IsDirectory(dir)) return parent.empty() ? MAPI_E_NOT_FOUND : S_OK;
        const std::vector<std::string> entries = DirectoryEntries(dir);
        auto has = [&](const std::string& e) {
            return std::binary_search(entries.begin(), entries.end(), e);
        };
        for (const std::string& e : entries) {
            if (e[0] == '.' || EndsWith(e, ".msf") || EndsWith(e, ".lock")) continue;
            const std::string full = dir + "/" + e;
            if (EndsWith(e, ".sbd") && IsDirectory(full)) {
                const std::string base = e.substr(0, e.size() - 4);
                if (!base.empty() && !has(base)) names->push_back(UnescapeName(base));
            } else if (IsRegularFile(full)) {
                names->push_back(UnescapeName(e));
            }
        }
        return S_OK;
    }

    HRESULT CreateFolder(const FolderPath& parent, const std::string& name) override {
        if (!single_.empty()) return MAPI_E_NO_SUPPORT;  // nowhere to keep a second folder
        const std::string dir = SubDir(parent);
        if (!parent.empty() && ::mkdir(dir.c_str(), 0700) != 0 && errno != EEXIST)
            return MAPI_E_DISK_ERROR;
        const std::string file = dir + "/" + EscapeName(name, false);
        int fd = ::open(file.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
        if (fd < 0) return MAPI_E_DISK_ERROR;
        ::close(fd);
        return S_OK;
    }

    HRESULT ListItems(const FolderPath& folder, std::vector<ItemEntry>* items) override {
        items->clear();
        const Index* index = nullptr;
        HRESULT hr = Load(folder, &index);
        if (FAILED(hr)) return hr;
        for (size_t i = 0; i < index->starts.size(); ++i) {
            ItemEntry entry;
            entry.key = index->garbage && i == 0 ? kLeadingGarbageKey : std::to_string(index->starts[i]);
            entry.size = index->ends[i] - index->starts[i];
            items->push_back(std::move(entry));
        }
        return S_OK;
    }

    HRESULT ReadItem(const FolderPath& folder, const std::string& key, std::string* bytes,
                     ItemEntry* entry) override {
        if (key == kLeadingGarbageKey) return MAPI_E_CORRUPT_DATA;
        const Index* index = nullptr;
        HRESULT hr = Load(folder, &index);
        if (FAILED(hr)) return hr;
        char* end = nullptr;
        const unsigned long long offset = std::strtoull(key.c_str(), &end, 10);
        if (end == key.c_str() || *end != '\0') return MAPI_E_NOT_FOUND;
        for (size_t i = 0; i < index->starts.size(); ++i) {
            if (index->starts[i] != offset || (index->garbage && i == 0)) continue;
            std::string text;
            hr = ReadRange(FileOf(folder), index->starts[i], index->ends[i], &text);
            if (FAILED(hr)) return hr;
            *bytes = MboxUnquote(text, 0, text.size());
            *entry = ItemEntry{};
            entry->key = key;
            entry->size = bytes->size();
            return S_OK;
        }
        return MAPI_E_NOT_FOUND;
    }

    HRESULT AddItem(const FolderPath& folder, const std::string& bytes,
                    const mime::MailFlags& flags, const std::string& hint,
                    std::string* key) override {
        if (folder.empty()) return MAPI_E_NO_SUPPORT;
        errno = 0;
        HRESULT hr = Add(folder, bytes, flags, hint, key);
        if (FAILED(hr)) SetLastError(FileFailure(hr, FileOf(folder), errno));
        return hr;
    }

private:
    HRESULT Add(const FolderPath& folder, const std::string& bytes, const mime::MailFlags&,
                const std::string&, std::string* key) {
        const std::string file = FileOf(folder);
        if (!IsRegularFile(file)) return MAPI_E_NOT_FOUND;
        DotLock dotLock(file + ".lock");
        if (!dotLock.held()) return MAPI_E_TIMEOUT;
        Fd fd(::open(file.c_str(), O_RDWR | O_APPEND | O_CLOEXEC));
        if (fd.get() < 0) return MAPI_E_DISK_ERROR;
        FileLock lock(fd.get(), F_WRLCK);
        if (!lock.ok()) return MAPI_E_TIMEOUT;

        struct stat st {};
        if (::fstat(fd.get(), &st) != 0) return MAPI_E_DISK_ERROR;
        off_t size = st.st_size;
        std::string out;
        // The previous message must end in a blank line before a new "From ".
        if (size > 0) {
            char tail[2] = {0, 0};
            const off_t from = size >= 2 ? size - 2 : 0;
            const ssize_t got = ::pread(fd.get(), tail, static_cast<size_t>(size - from), from);
            if (got < 0) return MAPI_E_DISK_ERROR;
            const bool endsNewline = tail[got - 1] == '\n';
            const bool endsBlank = endsNewline && (got < 2 || tail[0] == '\n');
            if (!endsNewline) out += "\n\n";
            else if (!endsBlank) out += "\n";
        }
        const off_t start = size + static_cast<off_t>(out.size());
        out += FromLine();
        out += MboxQuote(bytes);
        HRESULT hr = WriteAll(fd.get(), out);
        if (FAILED(hr)) {
            // Take back what was written, so the file ends as it began.
            (void)::ftruncate(fd.get(), size);
            return hr;
        }
        if (::fsync(fd.get()) != 0) return MAPI_E_DISK_ERROR;
        *key = std::to_string(static_cast<unsigned long long>(start));
        indexes_.erase(file);
        return S_OK;
    }

    struct Index {
        off_t size = -1;
        struct timespec mtime {};
        bool garbage = false;
        std::vector<uint64_t> starts, ends;
    };

    static bool EndsWith(const std::string& s, const char* suffix) {
        const size_t n = std::strlen(suffix);
        return s.size() >= n && s.compare(s.size() - n, n, suffix) == 0;
    }

    // The directory that holds the folder files below parent.
    std::string SubDir(const FolderPath& parent) const {
        std::string dir = root_;
        for (const std::string& name : parent) dir += "/" + EscapeName(name, false) + ".sbd";
        return dir;
    }

    std::string FileOf(const FolderPath& folder) const {
        if (!single_.empty()) return folder.size() == 1 && folder[0] == display_ ? single_ : std::string();
        FolderPath parent(folder.begin(), folder.end() - 1);
        return SubDir(parent) + "/" + EscapeName(folder.back(), false);
    }

    // Finds the messages of the folder's file, read under a read lock; the
    // positions are kept while the file's size and time stay the same.
    HRESULT Load(const FolderPath& folder, const Index** out) {
        if (folder.empty()) {
            static const Index empty;
            *out = &empty;
            return S_OK;
        }
        const std::string file = FileOf(folder);
        Fd fd(::open(file.c_str(), O_RDONLY | O_CLOEXEC));
        if (fd.get() < 0) return errno == ENOENT ? MAPI_E_NOT_FOUND : MAPI_E_NO_ACCESS;
        FileLock lock(fd.get(), F_RDLCK);
        struct stat st {};
        if (::fstat(fd.get(), &st) != 0) return MAPI_E_DISK_ERROR;
        Index& index = indexes_[file];
        const bool fresh = index.size == st.st_size && index.mtime.tv_sec == st.st_mtim.tv_sec &&
                           index.mtime.tv_nsec == st.st_mtim.tv_nsec;
        if (!fresh) {
            index = Index{};
            index.mtime = st.st_mtim;
            HRESULT hr = Scan(fd.get(), &index);
            if (FAILED(hr)) {
                index = Index{};
                return hr;
            }
        }
        *out = &index;
        return S_OK;
    }

    // Bytes [start, end) of file, read under a read lock.
    static HRESULT ReadRange(const std::string& file, uint64_t start, uint64_t end,
                             std::string* out) {
        Fd fd(::open(file.c_str(), O_RDONLY | O_CLOEXEC));
        if (fd.get() < 0) return errno == ENOENT ? MAPI_E_NOT_FOUND : MAPI_E_NO_ACCESS;
        FileLock lock(fd.get(), F_RDLCK);
        out->assign(end - start, '\0');
        size_t done = 0;
        while (done < out->size()) {
            ssize_t n = ::pread(fd.get(), out->data() + done, out->size() - done,
                                static_cast<off_t>(start + done));
            if (n < 0 && errno == EINTR) continue;
            if (n < 0) return MAPI_E_DISK_ERROR;
            if (n == 0) return MAPI_E_CORRUPT_DATA;  // the file shrank under us
            done += static_cast<size_t>(n);
        }
        return S_OK;
    }

    // The file is read in pieces: an mbox export can be larger than memory.
    static HRESULT Scan(int fd, Index* index) {
        constexpr size_t kChunk = 1 << 20;
        std::string buffer(kChunk, '\0');
        MboxScanner scanner;
        uint64_t offset = 0;
        for (;;) {
            ssize_t n = ::pread(fd, buffer.data(), kChunk, static_cast<off_t>(offset));
            if (n < 0 && errno == EINTR) continue;
            if (n < 0) return MAPI_E_DISK_ERROR;
            if (n == 0) break;
            scanner.Feed(buffer.data(), static_cast<size_t>(n));
            offset += static_cast<uint64_t>(n);
        }
        MboxScanner::Layout layout = scanner.Finish();
        index->size = static_cast<off_t>(layout.size);
        index->garbage = layout.garbage;
        index->starts = std::move(layout.starts);
        index->ends = std::move(layout.ends);
        return S_OK;
    }

    static std::string FromLine() {
        std::time_t now = std::time(nullptr);
        struct tm tm {};
        gmtime_r(&now, &tm);
        char date[64];
        std::strftime(date, sizeof date, "%a %b %e %H:%M:%S %Y", &tm);
        return std::string("From MAILER-DAEMON ") + date + "\n";
    }

    std::string root_;
    std::string single_;   // the file of a one-file store
    std::string display_;  // and the name of its one folder
    std::map<std::string, Index> indexes_;
};

}  // namespace

std::unique_ptr<MailLayout> MboxLayout(const std::string& root) {
    return std::make_unique<Mbox>(root);
}

std::unique_ptr<MailLayout> MboxFileLayout(const std::string& file) {
    std::string name = file.substr(file.rfind('/') + 1);
    if (name.size() > 5 && name.compare(name.size() - 5, 5, ".mbox") == 0) name.resize(name.size() - 5);
    if (name.empty()) name = "Inbox";
    return std::make_unique<Mbox>(file, name);
}

}  // namespace mapi::mailfiles
