// Mailboxes of an IMAP account through libetpan: listing and making them,
// their special use, and logging on.
#include <strings.h>

#include "providers/imap/imap_layout.h"
#include "providers/imap/imap_layout_impl.h"
#include "providers/imap/imap_names.h"

namespace mapi::imap {

std::string StripBackslash(const char* flag) {
    std::string s = flag != nullptr ? flag : "";
    if (!s.empty() && s[0] == '\\') s.erase(0, 1);
    return s;
}

HRESULT Layout::ListFolders(const FolderPath& parent, std::vector<std::string>* names) {
    names->clear();
    std::string error;
    HRESULT hr = conn_->Run(
        [&](bool, std::string* err) -> HRESULT {
            names->clear();
            const char delim = conn_->Delimiter();
            std::string pattern = "%";
            if (!parent.empty()) {
                if (delim == 0) return S_OK;  // a flat namespace has no children
                pattern = Mailbox(parent) + delim + "%";
            }
            ListResult result;
            HRESULT h = conn_->Result(
                mailimap_list(conn_->Session(), "", pattern.c_str(), &result.list), "LIST", err);
            if (h != S_OK || result.list == nullptr) return h;
            for (clistiter* it = clist_begin(result.list); it != nullptr; it = clist_next(it)) {
                auto* mb = static_cast<mailimap_mailbox_list*>(clist_content(it));
                if (mb->mb_name == nullptr || NonExistent(mb)) continue;
                std::string wire = mb->mb_name;
                std::string level = wire;
                if (delim != 0) {
                    const size_t cut = wire.rfind(delim);
                    if (cut != std::string::npos) level = wire.substr(cut + 1);
                }
                const std::optional<std::string> decoded = DecodeMailboxName(level);
                const std::string name = UnescapeLevel(decoded.value_or(level));
                if (name.empty()) continue;
                FolderPath child = parent;
                child.push_back(name);
                mailbox_[child] = wire;
                names->push_back(name);
            }
            return S_OK;
        },
        &error);
    return Report(hr, error);
}

HRESULT Layout::CreateFolder(const FolderPath& parent, const std::string& name) {
    std::string error;
    FolderPath child = parent;
    child.push_back(name);
    HRESULT hr = conn_->Run(
        [&](bool, std::string* err) -> HRESULT {
            const char delim = conn_->Delimiter();
            const std::string prefix = parent.empty() ? std::string() : Mailbox(parent) + delim;
            HRESULT h = S_OK;
            // Plain first; a server whose layout refuses some character
            // (Maildir++ and '.') gets the strict escaping.
            for (bool strict : {false, true}) {
                const std::string wire =
                    prefix + EncodeMailboxName(EscapeLevel(name, delim, strict));
                h = conn_->Result(mailimap_create(conn_->Session(), wire.c_str()), "CREATE", err);
                // A mailbox that is there already (made by a CREATE whose
                // answer was lost, or missing from a LIST that lagged)
                // is what was asked for; the server's words for it vary.
                if (h == MAPI_E_CALL_FAILED) {
                    bool exists = false;
                    HRESULT listed = Exists(wire, &exists, err);
                    if (listed != S_OK) return listed;
                    if (exists) h = S_OK;
                }
                if (h == S_OK) {
                    mailbox_[child] = wire;
                    (void)mailimap_subscribe(conn_->Session(), wire.c_str());
                    return S_OK;
                }
                if (h != MAPI_E_CALL_FAILED) return h;
            }
            return h;
        },
        &error);
    return Report(hr, error);
}

HRESULT Layout::Connect() {
    std::string error;
    return Report(conn_->Run([](bool, std::string*) { return S_OK; }, &error), error);
}

std::optional<FolderPath> Layout::SpecialUse(const char* attribute) {
    if (!specialUseLoaded_) LoadSpecialUse();
    auto found = specialUse_.find(StripBackslash(attribute));
    if (found == specialUse_.end()) return std::nullopt;
    return found->second;
}

bool Layout::NonExistent(mailimap_mailbox_list* mb) {
    if (mb->mb_flag == nullptr || mb->mb_flag->mbf_oflags == nullptr) return false;
    for (clistiter* f = clist_begin(mb->mb_flag->mbf_oflags); f != nullptr; f = clist_next(f)) {
        auto* o = static_cast<mailimap_mbx_list_oflag*>(clist_content(f));
        if (o->of_type == MAILIMAP_MBX_LIST_OFLAG_FLAG_EXT &&
            strcasecmp(StripBackslash(o->of_flag_ext).c_str(), "NonExistent") == 0)
            return true;
    }
    return false;
}

std::string Layout::Mailbox(const FolderPath& folder) {
    if (auto known = mailbox_.find(folder); known != mailbox_.end()) return known->second;
    std::string wire;
    const char delim = conn_->Delimiter();
    for (size_t i = 0; i < folder.size(); ++i) {
        if (i > 0) wire.push_back(delim);
        wire += EncodeMailboxName(EscapeLevel(folder[i], delim, false));
    }
    return wire;
}

HRESULT Layout::Exists(const std::string& wire, bool* exists, std::string* err) {
    *exists = false;
    ListResult result;
    HRESULT h =
        conn_->Result(mailimap_list(conn_->Session(), "", wire.c_str(), &result.list), "LIST", err);
    if (h != S_OK || result.list == nullptr) return h;
    for (clistiter* it = clist_begin(result.list); it != nullptr; it = clist_next(it)) {
        auto* mb = static_cast<mailimap_mailbox_list*>(clist_content(it));
        if (mb->mb_name != nullptr && wire == mb->mb_name && !NonExistent(mb)) *exists = true;
    }
    return S_OK;
}

void Layout::LoadSpecialUse() {
    std::string error;
    HRESULT hr = conn_->Run(
        [&](bool, std::string* err) -> HRESULT {
            specialUse_.clear();
            ListResult result;
            HRESULT h =
                conn_->Result(mailimap_list(conn_->Session(), "", "*", &result.list), "LIST", err);
            if (h != S_OK || result.list == nullptr) return h;
            const char delim = conn_->Delimiter();
            for (clistiter* it = clist_begin(result.list); it != nullptr; it = clist_next(it)) {
                auto* mb = static_cast<mailimap_mailbox_list*>(clist_content(it));
                if (mb->mb_name == nullptr || mb->mb_flag == nullptr ||
                    mb->mb_flag->mbf_oflags == nullptr)
                    continue;
                FolderPath path;
                std::string wire = mb->mb_name;
                size_t start = 0;
                while (true) {
                    const size_t cut = delim != 0 ? wire.find(delim, start) : std::string::npos;
                    const std::string level = wire.substr(start, cut - start);
                    path.push_back(UnescapeLevel(DecodeMailboxName(level).value_or(level)));
                    if (cut == std::string::npos) break;
                    start = cut + 1;
                }
                for (clistiter* f = clist_begin(mb->mb_flag->mbf_oflags); f != nullptr;
                     f = clist_next(f)) {
                    auto* o = static_cast<mailimap_mbx_list_oflag*>(clist_content(f));
                    if (o->of_type != MAILIMAP_MBX_LIST_OFLAG_FLAG_EXT) continue;
                    const std::string use = StripBackslash(o->of_flag_ext);
                    for (const char* known : {"Sent", "Trash", "Drafts", "Junk", "Archive"})
                        if (strcasecmp(use.c_str(), known) == 0 && !specialUse_.count(known)) {
                            specialUse_[known] = path;
                            mailbox_[path] = wire;
                        }
                }
            }
            return S_OK;
        },
        &error);
    specialUseLoaded_ = hr == S_OK;
}

HRESULT Layout::Report(HRESULT hr, const std::string& error) {
    if (FAILED(hr)) SetLastError(error);
    return hr;
}

std::unique_ptr<mailfiles::MailLayout> ImapLayout(std::unique_ptr<Connection> connection) {
    return std::make_unique<Layout>(std::move(connection));
}

}  // namespace mapi::imap
