// Identity, entry identifiers, named properties and special folders of a
// mail file store.
#include "providers/mailfiles/store_core.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <random>
#include <sstream>

#include <glib.h>
#include <mapiutil.h>

#include "runtime/mapi_ptr.h"
#include "runtime/prop_convert.h"

namespace mapi::mailfiles {

namespace {

constexpr ULONG kFirstNamedId = 0x8000;
constexpr ULONG kLastNamedId = 0xFFFE;

const char* MetaKey(Special which) {
    switch (which) {
        case Special::kInbox: return "inbox";
        case Special::kOutbox: return "outbox";
        case Special::kSentMail: return "sentmail";
        case Special::kWastebasket: return "wastebasket";
        case Special::kDrafts: return "drafts";
    }
    return "";
}

// The names mail clients give special folders, compared case-folded.
std::vector<const char*> UsualNames(Special which) {
    switch (which) {
        case Special::kInbox: return {"inbox", "posteingang"};
        case Special::kOutbox: return {"outbox", "postausgang"};
        case Special::kSentMail:
            return {"sent", "sent items", "sent messages", "sent mail", "gesendet",
                    "gesendete elemente", "gesendete objekte"};
        case Special::kWastebasket:
            return {"trash", "deleted items", "deleted messages", "bin", "papierkorb",
                    "gelöschte elemente", "gelöschte objekte"};
        case Special::kDrafts: return {"drafts", "entwürfe"};
    }
    return {};
}

std::string Fold(const std::string& text) {
    gchar* folded = g_utf8_casefold(text.c_str(), static_cast<gssize>(text.size()));
    std::string out = folded != nullptr ? folded : text;
    g_free(folded);
    return out;
}

std::string Hex(const void* data, size_t size) {
    static const char kDigits[] = "0123456789abcdef";
    std::string out;
    for (size_t i = 0; i < size; ++i) {
        const unsigned char c = static_cast<const unsigned char*>(data)[i];
        out.push_back(kDigits[c >> 4]);
        out.push_back(kDigits[c & 15]);
    }
    return out;
}

bool Unhex(const std::string& text, std::string* out) {
    if (text.size() % 2 != 0) return false;
    out->clear();
    for (size_t i = 0; i < text.size(); i += 2) {
        char pair[3] = {text[i], text[i + 1], 0};
        char* end = nullptr;
        long v = std::strtol(pair, &end, 16);
        if (end != pair + 2) return false;
        out->push_back(static_cast<char>(v));
    }
    return true;
}

void PutLength(std::string& out, size_t n) {
    out.push_back(static_cast<char>(n & 0xFF));
    out.push_back(static_cast<char>((n >> 8) & 0xFF));
}

bool GetPiece(const unsigned char*& p, const unsigned char* end, std::string* out) {
    if (end - p < 2) return false;
    const size_t n = p[0] | p[1] << 8;
    p += 2;
    if (static_cast<size_t>(end - p) < n) return false;
    out->assign(reinterpret_cast<const char*>(p), n);
    p += n;
    return true;
}

}  // namespace

HRESULT StoreCore::Open(const std::string& path, std::unique_ptr<MailLayout> layout,
                        const std::string& displayName, const MAPIUID& providerUid, bool create,
                        std::shared_ptr<StoreCore>* out, std::string* error) {
    std::shared_ptr<StoreCore> core(new StoreCore());
    core->path_ = path;
    core->layout_ = std::move(layout);
    core->displayName_ = displayName;
    core->providerUid_ = providerUid;
    // Names the conversion uses get the same ids in every session.
    for (const mime::PropName& n :
         {mime::KeywordsName(), mime::SourceStoreName(), mime::SourceEntryIdName(),
          mime::SourceModifiedName(), mime::AppointmentStartName(), mime::AppointmentEndName(),
          mime::AppointmentLocationName(), mime::ConversionNotesName()})
        core->names_.push_back(n);

    if (create) {
        if (::mkdir(path.c_str(), 0700) != 0 && errno != EEXIST) {
            *error = "cannot make the store directory " + path + ": " + std::strerror(errno);
            return MAPI_E_DISK_ERROR;
        }
        if (!DirectoryEntries(path).empty()) {
            *error = path + " is not empty";
            return MAPI_E_COLLISION;
        }
    } else if (!IsDirectory(path) && !IsRegularFile(path)) {
        *error = path + " is neither a directory nor a file";
        return MAPI_E_NOT_FOUND;
    }
    HRESULT hr = core->LoadMeta(create, error);
    if (FAILED(hr)) return hr;
    if (create) {
        // Maildir's inbox is the store directory itself.
        if (std::string(core->layout_->Kind()) == "maildir") {
            for (const char* sub : {"/cur", "/new", "/tmp"})
                if (::mkdir((path + sub).c_str(), 0700) != 0 && errno != EEXIST)
                    return MAPI_E_DISK_ERROR;
        }
        for (const char* name : {"Inbox", "Sent", "Trash", "Drafts"}) {
            hr = core->layout_->CreateFolder({}, name);
            if (FAILED(hr)) {
                *error = std::string("cannot make the folder ") + name + " in " + path;
                return hr;
            }
        }
    }
    *out = std::move(core);
    return S_OK;
}

HRESULT StoreCore::LoadMeta(bool create, std::string* error) {
    std::string text;
    const std::string file = MetaPath();
    if (ReadWholeFile(file, &text) == S_OK) {
        std::istringstream lines(text);
        std::string line;
        while (std::getline(lines, line)) {
            size_t eq = line.find('=');
            if (eq != std::string::npos) meta_[line.substr(0, eq)] = line.substr(eq + 1);
        }
    }
    std::string uid;
    if (Unhex(meta_["uid"], &uid) && uid.size() == sizeof uid_.ab) {
        std::memcpy(uid_.ab, uid.data(), sizeof uid_.ab);
        return S_OK;
    }
    std::random_device random;
    for (size_t i = 0; i < sizeof uid_.ab; i += 4) {
        const unsigned v = random();
        std::memcpy(uid_.ab + i, &v, 4);
    }
    meta_["uid"] = Hex(uid_.ab, sizeof uid_.ab);
    meta_["kind"] = layout_->Kind();
    if (SaveMeta() == S_OK) return S_OK;
    if (create) {
        *error = "cannot write " + file;
        return MAPI_E_DISK_ERROR;
    }
    // A store we may not write to (a corpus on read-only media) still needs
    // an identity that stays the same: it comes from where the store is.
    char resolved[PATH_MAX];
    const std::string where = ::realpath(path_.c_str(), resolved) != nullptr ? resolved : path_;
    GChecksum* sum = g_checksum_new(G_CHECKSUM_MD5);
    g_checksum_update(sum, reinterpret_cast<const guchar*>(where.data()),
                      static_cast<gssize>(where.size()));
    gsize length = sizeof uid_.ab;
    g_checksum_get_digest(sum, uid_.ab, &length);
    g_checksum_free(sum);
    return S_OK;
}

// In the store directory; beside a store that is one file, named after it.
std::string StoreCore::MetaPath() const {
    if (IsDirectory(path_)) return path_ + "/" + kMetaFileName;
    const size_t slash = path_.rfind('/');
    const std::string dir = slash == std::string::npos ? "." : path_.substr(0, slash);
    return dir + "/." + path_.substr(slash + 1) + kMetaFileName;
}

HRESULT StoreCore::SaveMeta() {
    std::string text;
    for (const auto& [key, value] : meta_) text += key + "=" + value + "\n";
    const std::string file = MetaPath();
    const std::string temp = file + ".new";
    ::unlink(temp.c_str());
    HRESULT hr = WriteNewFile(temp, text);
    if (FAILED(hr)) return hr;
    if (::rename(temp.c_str(), file.c_str()) != 0) {
        ::unlink(temp.c_str());
        return MAPI_E_DISK_ERROR;
    }
    return S_OK;
}

std::string StoreCore::EntryId(EntryKind kind, const FolderPath& folder,
                               const std::string& key) const {
    std::string id(4, '\0');
    id.append(reinterpret_cast<const char*>(uid_.ab), sizeof uid_.ab);
    id.push_back(static_cast<char>(kind));
    PutLength(id, folder.size());
    for (const std::string& name : folder) {
        PutLength(id, name.size());
        id += name;
    }
    if (kind == EntryKind::kMessage) {
        PutLength(id, key.size());
        id += key;
    }
    return id;
}

std::string StoreCore::StoreEntryId() const {
    std::string id(4, '\0');
    id.append(reinterpret_cast<const char*>(uid_.ab), sizeof uid_.ab);
    id.push_back('S');
    return id;
}

bool StoreCore::ParseEntryId(const void* bytes, size_t size, ParsedEntryId* out) const {
    const auto* p = static_cast<const unsigned char*>(bytes);
    const unsigned char* end = p + size;
    if (size < 21 || std::memcmp(p, "\0\0\0\0", 4) != 0 ||
        std::memcmp(p + 4, uid_.ab, sizeof uid_.ab) != 0)
        return false;
    p += 20;
    const char kind = static_cast<char>(*p++);
    if (kind != 'R' && kind != 'F' && kind != 'M') return false;
    ParsedEntryId parsed;
    parsed.kind = static_cast<EntryKind>(kind);
    if (end - p < 2) return false;
    const size_t count = p[0] | p[1] << 8;
    p += 2;
    for (size_t i = 0; i < count; ++i) {
        std::string name;
        if (!GetPiece(p, end, &name) || name.empty()) return false;
        parsed.folder.push_back(std::move(name));
    }
    if (parsed.kind == EntryKind::kMessage && !GetPiece(p, end, &parsed.key)) return false;
    if (p != end) return false;
    *out = std::move(parsed);
    return true;
}

ULONG StoreCore::IdOf(const mime::PropName& name) {
    std::lock_guard<std::mutex> lock(namesLock_);
    for (size_t i = 0; i < names_.size(); ++i)
        if (names_[i] == name) return kFirstNamedId + static_cast<ULONG>(i);
    if (kFirstNamedId + names_.size() > kLastNamedId) return 0;
    names_.push_back(name);
    return kFirstNamedId + static_cast<ULONG>(names_.size() - 1);
}

HRESULT StoreCore::IdsFromNames(ULONG count, LPMAPINAMEID* names, ULONG flags,
                                LPSPropTagArray* tags) {
    if (tags == nullptr) return MAPI_E_INVALID_PARAMETER;
    *tags = nullptr;
    if (count == 0 || names == nullptr) return MAPI_E_NO_SUPPORT;
    auto out = AllocateMapi<SPropTagArray>(CbNewSPropTagArray(count));
    if (!out) return MAPI_E_NOT_ENOUGH_MEMORY;
    out->cValues = count;
    bool missing = false;
    for (ULONG i = 0; i < count; ++i) {
        out->aulPropTag[i] = PROP_TAG(PT_ERROR, 0);
        const MAPINAMEID* n = names[i];
        if (n == nullptr || n->lpguid == nullptr ||
            (n->ulKind == MNID_STRING && n->Kind.lpwstrName == nullptr)) {
            missing = true;
            continue;
        }
        mime::PropName wanted;
        wanted.set = *n->lpguid;
        wanted.isString = n->ulKind == MNID_STRING;
        if (wanted.isString)
            wanted.name = reinterpret_cast<const char16_t*>(n->Kind.lpwstrName);
        else
            wanted.id = n->Kind.lID;
        ULONG id = 0;
        {
            std::lock_guard<std::mutex> lock(namesLock_);
            for (size_t k = 0; k < names_.size(); ++k)
                if (names_[k] == wanted) id = kFirstNamedId + static_cast<ULONG>(k);
        }
        if (id == 0 && (flags & MAPI_CREATE) != 0) id = IdOf(wanted);
        if (id == 0) {
            missing = true;
            continue;
        }
        out->aulPropTag[i] = PROP_TAG(PT_UNSPECIFIED, id);
    }
    *tags = out.release();
    return missing ? MAPI_W_ERRORS_RETURNED : S_OK;
}

HRESULT StoreCore::NamesFromIds(LPSPropTagArray* tags, LPGUID set, ULONG, ULONG* count,
                                LPMAPINAMEID** names) {
    if (tags == nullptr || count == nullptr || names == nullptr) return MAPI_E_INVALID_PARAMETER;
    *count = 0;
    *names = nullptr;
    std::vector<ULONG> ids;
    std::vector<mime::PropName> known;
    {
        std::lock_guard<std::mutex> lock(namesLock_);
        known = names_;
    }
    if (*tags == nullptr) {
        for (size_t k = 0; k < known.size(); ++k)
            if (set == nullptr || std::memcmp(&known[k].set, set, sizeof(GUID)) == 0)
                ids.push_back(kFirstNamedId + static_cast<ULONG>(k));
    } else {
        for (ULONG i = 0; i < (*tags)->cValues; ++i) ids.push_back(PROP_ID((*tags)->aulPropTag[i]));
    }
    const ULONG n = static_cast<ULONG>(ids.size());
    auto out = AllocateMapi<LPMAPINAMEID>(std::max<ULONG>(1, n) * sizeof(LPMAPINAMEID));
    if (!out) return MAPI_E_NOT_ENOUGH_MEMORY;
    bool missing = false;
    for (ULONG i = 0; i < n; ++i) {
        out.get()[i] = nullptr;
        const ULONG id = ids[i];
        if (id < kFirstNamedId || id - kFirstNamedId >= known.size()) {
            missing = true;
            continue;
        }
        const mime::PropName& name = known[id - kFirstNamedId];
        void* raw = nullptr;
        if (MAPIAllocateMore(sizeof(MAPINAMEID) + sizeof(GUID), out.get(), &raw) != S_OK)
            return MAPI_E_NOT_ENOUGH_MEMORY;
        auto* entry = static_cast<MAPINAMEID*>(raw);
        auto* guid = reinterpret_cast<GUID*>(static_cast<char*>(raw) + sizeof(MAPINAMEID));
        *guid = name.set;
        entry->lpguid = guid;
        entry->ulKind = name.isString ? MNID_STRING : MNID_ID;
        if (name.isString) {
            void* text = nullptr;
            const ULONG cb = static_cast<ULONG>((name.name.size() + 1) * sizeof(char16_t));
            if (MAPIAllocateMore(cb, out.get(), &text) != S_OK) return MAPI_E_NOT_ENOUGH_MEMORY;
            std::memcpy(text, name.name.c_str(), cb);
            entry->Kind.lpwstrName = static_cast<LPWSTR>(text);
        } else {
            entry->Kind.lID = name.id;
        }
        out.get()[i] = entry;
    }
    *count = n;
    *names = out.release();
    return missing ? MAPI_W_ERRORS_RETURNED : S_OK;
}

std::optional<FolderPath> StoreCore::SpecialFolder(Special which) {
    std::lock_guard<std::recursive_mutex> lock(lock_);
    auto set = meta_.find(MetaKey(which));
    if (set != meta_.end()) {
        std::string bytes;
        ParsedEntryId parsed;
        if (Unhex(set->second, &bytes) && ParseEntryId(bytes.data(), bytes.size(), &parsed) &&
            parsed.kind == EntryKind::kFolder && FolderExists(parsed.folder))
            return parsed.folder;
    }
    const char* use = which == Special::kSentMail      ? "Sent"
                      : which == Special::kWastebasket ? "Trash"
                      : which == Special::kDrafts      ? "Drafts"
                                                       : nullptr;
    if (use != nullptr)
        if (auto marked = layout_->SpecialUse(use); marked && FolderExists(*marked)) return marked;
    std::vector<std::string> top;
    if (FAILED(layout_->ListFolders({}, &top))) return std::nullopt;
    for (const char* usual : UsualNames(which))
        for (const std::string& name : top)
            if (Fold(name) == Fold(usual)) return FolderPath{name};
    return std::nullopt;
}

HRESULT StoreCore::SetSpecialFolder(Special which, const FolderPath& folder) {
    std::lock_guard<std::recursive_mutex> lock(lock_);
    if (!FolderExists(folder) || folder.empty()) return MAPI_E_NOT_FOUND;
    const std::string id = EntryId(EntryKind::kFolder, folder);
    meta_[MetaKey(which)] = Hex(id.data(), id.size());
    return SaveMeta();
}

std::string StoreCore::FolderClass(const FolderPath& folder) {
    std::lock_guard<std::recursive_mutex> lock(lock_);
    const std::string id = EntryId(EntryKind::kFolder, folder);
    auto it = meta_.find("class." + Hex(id.data(), id.size()));
    return it != meta_.end() ? it->second : "IPF.Note";
}

HRESULT StoreCore::SetFolderClass(const FolderPath& folder, const std::string& containerClass) {
    std::lock_guard<std::recursive_mutex> lock(lock_);
    // The hidden file is kept line by line.
    if (containerClass.find_first_of("\r\n") != std::string::npos) return MAPI_E_INVALID_PARAMETER;
    const std::string id = EntryId(EntryKind::kFolder, folder);
    meta_["class." + Hex(id.data(), id.size())] = containerClass;
    return SaveMeta();
}

bool StoreCore::FolderExists(const FolderPath& folder) {
    std::lock_guard<std::recursive_mutex> lock(lock_);
    FolderPath parent;
    for (const std::string& name : folder) {
        std::vector<std::string> children;
        if (FAILED(layout_->ListFolders(parent, &children))) return false;
        bool found = false;
        for (const std::string& child : children) found |= child == name;
        if (!found) return false;
        parent.push_back(name);
    }
    return true;
}

}  // namespace mapi::mailfiles
