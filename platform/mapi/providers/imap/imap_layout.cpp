// Mailboxes and messages of an IMAP account through libetpan.
#include "providers/imap/imap_layout.h"

#include <libetpan/libetpan.h>
#include <strings.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <map>
#include <optional>

#include "providers/imap/imap_messages.h"
#include "providers/imap/imap_names.h"

namespace mapi::imap {

namespace {

using mailfiles::FolderPath;
using mailfiles::ItemEntry;

constexpr const char* kProvenanceHeader = "X-Quirnel-Source";

// Owners for libetpan's result lists.
struct ListResult {
    clist* list = nullptr;
    ~ListResult() {
        if (list != nullptr) mailimap_list_result_free(list);
    }
};
struct FetchResult {
    clist* list = nullptr;
    ~FetchResult() {
        if (list != nullptr) mailimap_fetch_list_free(list);
    }
};
struct FetchType {
    mailimap_fetch_type* type = mailimap_fetch_type_new_fetch_att_list_empty();
    ~FetchType() {
        if (type != nullptr) mailimap_fetch_type_free(type);
    }
    void Add(mailimap_fetch_att* att) { mailimap_fetch_type_new_fetch_att_list_add(type, att); }
};
struct Set {
    mailimap_set* set;
    ~Set() {
        if (set != nullptr) mailimap_set_free(set);
    }
};

bool ParseKey(const std::string& key, uint32_t* validity, uint32_t* uid) {
    unsigned long v = 0, u = 0;
    char tail = 0;
    if (std::sscanf(key.c_str(), "%lu.%lu%c", &v, &u, &tail) != 2 || u == 0) return false;
    *validity = static_cast<uint32_t>(v);
    *uid = static_cast<uint32_t>(u);
    return true;
}

std::string Key(uint32_t validity, uint32_t uid) {
    return std::to_string(validity) + "." + std::to_string(uid);
}

// The UIDs of a set a server sent, in its order; an interval the server
// could not have meant (reversed, open-ended or vast) gives none.
std::vector<uint32_t> SetUids(mailimap_set* set) {
    std::vector<uint32_t> out;
    if (set == nullptr || set->set_list == nullptr) return out;
    for (clistiter* it = clist_begin(set->set_list); it != nullptr; it = clist_next(it)) {
        auto* item = static_cast<mailimap_set_item*>(clist_content(it));
        if (item->set_first == 0 || item->set_last < item->set_first ||
            item->set_last - item->set_first > 1000000)
            return {};
        for (uint32_t uid = item->set_first;; ++uid) {
            out.push_back(uid);
            if (uid == item->set_last) break;
        }
    }
    return out;
}

std::string StripBackslash(const char* flag) {
    std::string s = flag != nullptr ? flag : "";
    if (!s.empty() && s[0] == '\\') s.erase(0, 1);
    return s;
}

class Layout final : public mailfiles::MailLayout {
public:
    explicit Layout(std::unique_ptr<Connection> connection) : conn_(std::move(connection)) {}

    const char* Kind() const override { return "imap"; }
    bool FlagsInMessage() const override { return false; }

    HRESULT ListFolders(const FolderPath& parent, std::vector<std::string>* names) override {
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
                    mailimap_list(conn_->Session(), "", pattern.c_str(), &result.list), "LIST",
                    err);
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

    HRESULT CreateFolder(const FolderPath& parent, const std::string& name) override {
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
                    h = conn_->Result(mailimap_create(conn_->Session(), wire.c_str()), "CREATE",
                                      err);
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

    HRESULT ListItems(const FolderPath& folder, std::vector<ItemEntry>* items) override {
        items->clear();
        std::string error;
        HRESULT hr = conn_->Run(
            [&](bool, std::string* err) -> HRESULT {
                items->clear();
                uint32_t validity = 0, exists = 0;
                HRESULT h = Select(folder, &validity, &exists, err);
                if (h != S_OK || exists == 0) return h;
                FetchType type;
                type.Add(mailimap_fetch_att_new_uid());
                type.Add(mailimap_fetch_att_new_rfc822_size());
                type.Add(mailimap_fetch_att_new_flags());
                clist* fields = clist_new();
                clist_append(fields, strdup(kProvenanceHeader));
                clist_append(fields, strdup("Subject"));
                type.Add(mailimap_fetch_att_new_body_peek_section(
                    mailimap_section_new_header_fields(mailimap_header_list_new(fields))));
                Set all{mailimap_set_new_interval(1, 0)};
                FetchResult result;
                h = conn_->Result(
                    mailimap_uid_fetch(conn_->Session(), all.set, type.type, &result.list),
                    "UID FETCH", err);
                if (h != S_OK || result.list == nullptr) return h;
                for (clistiter* it = clist_begin(result.list); it != nullptr; it = clist_next(it)) {
                    Fetched f = Digest(static_cast<mailimap_msg_att*>(clist_content(it)));
                    if (f.uid == 0) continue;
                    ItemEntry entry;
                    entry.key = Key(validity, f.uid);
                    entry.size = f.size;
                    entry.hasFlags = f.haveFlags;
                    entry.flags = f.flags;
                    entry.headers = std::move(f.body);
                    items->push_back(std::move(entry));
                }
                return S_OK;
            },
            &error);
        return Report(hr, error);
    }

    HRESULT ReadItem(const FolderPath& folder, const std::string& key, std::string* bytes,
                     ItemEntry* entry) override {
        uint32_t wantValidity = 0, uid = 0;
        if (!ParseKey(key, &wantValidity, &uid)) return MAPI_E_NOT_FOUND;
        std::string error;
        HRESULT hr = conn_->Run(
            [&](bool, std::string* err) -> HRESULT {
                uint32_t validity = 0, exists = 0;
                HRESULT h = Select(folder, &validity, &exists, err);
                if (h != S_OK) return h;
                if (validity != wantValidity) return MAPI_E_NOT_FOUND;
                FetchType type;
                type.Add(mailimap_fetch_att_new_uid());
                type.Add(mailimap_fetch_att_new_flags());
                type.Add(mailimap_fetch_att_new_body_peek_section(mailimap_section_new(nullptr)));
                Set one{mailimap_set_new_single(uid)};
                FetchResult result;
                h = conn_->Result(
                    mailimap_uid_fetch(conn_->Session(), one.set, type.type, &result.list),
                    "UID FETCH", err);
                if (h != S_OK) return h;
                for (clistiter* it = result.list != nullptr ? clist_begin(result.list) : nullptr;
                     it != nullptr; it = clist_next(it)) {
                    Fetched f = Digest(static_cast<mailimap_msg_att*>(clist_content(it)));
                    if (f.uid != uid) continue;
                    *bytes = std::move(f.body);
                    if (entry != nullptr) {
                        entry->key = key;
                        entry->size = bytes->size();
                        entry->hasFlags = f.haveFlags;
                        entry->flags = f.flags;
                    }
                    return S_OK;
                }
                return MAPI_E_NOT_FOUND;
            },
            &error);
        // A message that is gone is no failure worth a line.
        return hr == MAPI_E_NOT_FOUND ? hr : Report(hr, error);
    }

    HRESULT AddItem(const FolderPath& folder, const std::string& bytes,
                    const mime::MailFlags& flags, const std::string&, std::string* key) override {
        // What tells this message apart when a retry must look for it: the
        // source item it came from, else its Message-ID.
        std::pair<const char*, std::string> mark{kProvenanceHeader,
                                                 HeaderValue(bytes, kProvenanceHeader)};
        if (size_t at = mark.second.find("entry="); at != std::string::npos)
            mark.second = mark.second.substr(at, mark.second.find(';', at) - at);
        if (mark.second.empty()) mark = {"Message-ID", HeaderValue(bytes, "Message-ID")};
        uint32_t floor = 0;
        std::string error;
        HRESULT hr = conn_->Run(
            [&](bool retrying, std::string* err) -> HRESULT {
                const std::string wire = Mailbox(folder);
                uint32_t validity = 0, exists = 0;
                // The APPEND before the connection dropped may have been
                // stored: a message with its mark and a UID it could have
                // been given is that one, not a reason to store it twice.
                if (retrying && floor != 0 && !mark.second.empty()) {
                    uint32_t found = 0;
                    HRESULT h = Find(folder, mark, floor, &validity, &found, err);
                    if (h != S_OK) return h;
                    if (found != 0) {
                        *key = Key(validity, found);
                        return S_OK;
                    }
                }
                if (floor == 0) {
                    // After an APPENDUID the next UID is known; otherwise
                    // SELECT (or NOOP) tells it.
                    auto known = next_.find(wire);
                    if (known != next_.end() && conn_->HasCapability("UIDPLUS")) {
                        floor = known->second;
                    } else {
                        HRESULT h = Select(folder, &validity, &exists, err);
                        if (h != S_OK) return h;
                        floor = UidNext();
                    }
                }
                mailimap_flag_list* list = FlagList(flags);
                mailimap_date_time* date = InternalDate(bytes);
                uint32_t uid = 0;
                const int r =
                    conn_->HasCapability("UIDPLUS")
                        ? mailimap_uidplus_append(conn_->Session(), wire.c_str(), list, date,
                                                  bytes.data(), bytes.size(), &validity, &uid)
                        : mailimap_append(conn_->Session(), wire.c_str(), list, date, bytes.data(),
                                          bytes.size());
                if (list != nullptr) mailimap_flag_list_free(list);
                if (date != nullptr) mailimap_date_time_free(date);
                HRESULT h = conn_->Result(r, ("APPEND to " + wire).c_str(), err);
                if (h != S_OK) return h;
                if (uid == 0 && !mark.second.empty())
                    h = Find(folder, mark, floor, &validity, &uid, err);
                if (uid != 0) next_[wire] = uid + 1;
                *key = uid != 0 ? Key(validity, uid) : std::string();
                return h;
            },
            &error);
        return Report(hr, error);
    }

    HRESULT CopyItems(const FolderPath& from, const std::vector<std::string>& keys,
                      const FolderPath& to, std::vector<std::string>* copied) override {
        copied->assign(keys.size(), std::string());
        std::vector<uint32_t> uids;
        uint32_t wantValidity = 0;
        for (const std::string& key : keys) {
            uint32_t validity = 0, uid = 0;
            if (!ParseKey(key, &validity, &uid) || (!uids.empty() && validity != wantValidity))
                return MAPI_E_NOT_FOUND;
            wantValidity = validity;
            uids.push_back(uid);
        }
        if (uids.empty()) return S_OK;
        bool sent = false;
        std::string error;
        HRESULT hr = conn_->Run(
            [&](bool, std::string* err) -> HRESULT {
                const std::string wire = Mailbox(to);
                // Unlike an APPEND, a COPY leaves nothing to look for that
                // tells whether it took effect: one that lost its answer
                // is not sent again, which could copy every item twice.
                if (sent) {
                    *err = "the connection was lost during COPY to " + wire +
                           "; the server may or may not have copied";
                    return MAPI_E_CALL_FAILED;
                }
                uint32_t validity = 0, exists = 0;
                HRESULT h = Select(from, &validity, &exists, err);
                if (h != S_OK) return h;
                if (validity != wantValidity) return MAPI_E_NOT_FOUND;
                Set set{mailimap_set_new_empty()};
                for (uint32_t uid : uids) mailimap_set_add_single(set.set, uid);
                const std::string command = "COPY to " + wire;
                sent = true;
                if (!conn_->HasCapability("UIDPLUS"))
                    return conn_->Result(mailimap_uid_copy(conn_->Session(), set.set, wire.c_str()),
                                         command.c_str(), err);
                uint32_t destValidity = 0;
                mailimap_set* sourceUids = nullptr;
                mailimap_set* destUids = nullptr;
                h = conn_->Result(mailimap_uidplus_uid_copy(conn_->Session(), set.set, wire.c_str(),
                                                            &destValidity, &sourceUids, &destUids),
                                  command.c_str(), err);
                Set source{sourceUids}, dest{destUids};
                if (h != S_OK) return h;
                // COPYUID names the old and the new UIDs in one order (RFC 4315).
                const std::vector<uint32_t> was = SetUids(source.set), now = SetUids(dest.set);
                if (was.size() != now.size()) return S_OK;
                for (size_t i = 0; i < was.size(); ++i) {
                    for (size_t k = 0; k < uids.size(); ++k)
                        if (uids[k] == was[i]) (*copied)[k] = Key(destValidity, now[i]);
                    uint32_t& next = next_[wire];
                    next = std::max(next, now[i] + 1);
                }
                return S_OK;
            },
            &error);
        return Report(hr, error);
    }

    HRESULT Connect() override {
        std::string error;
        return Report(conn_->Run([](bool, std::string*) { return S_OK; }, &error), error);
    }

    std::optional<FolderPath> SpecialUse(const char* attribute) override {
        if (!specialUseLoaded_) LoadSpecialUse();
        auto found = specialUse_.find(StripBackslash(attribute));
        if (found == specialUse_.end()) return std::nullopt;
        return found->second;
    }

private:
    static bool NonExistent(mailimap_mailbox_list* mb) {
        if (mb->mb_flag == nullptr || mb->mb_flag->mbf_oflags == nullptr) return false;
        for (clistiter* f = clist_begin(mb->mb_flag->mbf_oflags); f != nullptr; f = clist_next(f)) {
            auto* o = static_cast<mailimap_mbx_list_oflag*>(clist_content(f));
            if (o->of_type == MAILIMAP_MBX_LIST_OFLAG_FLAG_EXT &&
                strcasecmp(StripBackslash(o->of_flag_ext).c_str(), "NonExistent") == 0)
                return true;
        }
        return false;
    }

    // The mailbox of folder: as the server listed it, else made from the
    // names the way CreateFolder makes it.
    std::string Mailbox(const FolderPath& folder) {
        if (auto known = mailbox_.find(folder); known != mailbox_.end()) return known->second;
        std::string wire;
        const char delim = conn_->Delimiter();
        for (size_t i = 0; i < folder.size(); ++i) {
            if (i > 0) wire.push_back(delim);
            wire += EncodeMailboxName(EscapeLevel(folder[i], delim, false));
        }
        return wire;
    }

    HRESULT Select(const FolderPath& folder, uint32_t* validity, uint32_t* exists,
                   std::string* err) {
        const std::string wire = Mailbox(folder);
        if (conn_->Selected() != wire) {
            conn_->Selected().clear();
            HRESULT h = conn_->Result(mailimap_select(conn_->Session(), wire.c_str()),
                                      ("SELECT " + wire).c_str(), err);
            if (h != S_OK) return h;
            conn_->Selected() = wire;
        } else {
            // NOOP brings the counts up to date with what APPEND added.
            HRESULT h = conn_->Result(mailimap_noop(conn_->Session()), "NOOP", err);
            if (h != S_OK) return h;
        }
        mailimap_selection_info* info = conn_->Session()->imap_selection_info;
        *validity = info != nullptr ? info->sel_uidvalidity : 0;
        *exists = info != nullptr ? info->sel_exists : 0;
        return S_OK;
    }

    HRESULT Exists(const std::string& wire, bool* exists, std::string* err) {
        *exists = false;
        ListResult result;
        HRESULT h = conn_->Result(mailimap_list(conn_->Session(), "", wire.c_str(), &result.list),
                                  "LIST", err);
        if (h != S_OK || result.list == nullptr) return h;
        for (clistiter* it = clist_begin(result.list); it != nullptr; it = clist_next(it)) {
            auto* mb = static_cast<mailimap_mailbox_list*>(clist_content(it));
            if (mb->mb_name != nullptr && wire == mb->mb_name && !NonExistent(mb)) *exists = true;
        }
        return S_OK;
    }

    uint32_t UidNext() const {
        mailimap_selection_info* info = conn_->Session()->imap_selection_info;
        return info != nullptr && info->sel_uidnext != 0 ? info->sel_uidnext : 1;
    }

    // The first message of folder with UID floor or above whose header
    // mark.first contains mark.second; *uid 0 when there is none.
    HRESULT Find(const FolderPath& folder, const std::pair<const char*, std::string>& mark,
                 uint32_t floor, uint32_t* validity, uint32_t* uid, std::string* err) {
        *uid = 0;
        uint32_t exists = 0;
        HRESULT h = Select(folder, validity, &exists, err);
        if (h != S_OK || exists == 0) return h;
        clist* both = clist_new();
        clist_append(both, mailimap_search_key_new_uid(mailimap_set_new_interval(floor, 0)));
        clist_append(
            both, mailimap_search_key_new_header(strdup(mark.first), strdup(mark.second.c_str())));
        mailimap_search_key* key = mailimap_search_key_new_multiple(both);
        clist* result = nullptr;
        h = conn_->Result(mailimap_uid_search(conn_->Session(), nullptr, key, &result),
                          "UID SEARCH", err);
        mailimap_search_key_free(key);
        if (result != nullptr) {
            for (clistiter* it = clist_begin(result); it != nullptr; it = clist_next(it)) {
                // "floor:*" also matches the last message when every UID
                // is below floor (RFC 3501), so look at the number itself.
                const uint32_t found = *static_cast<uint32_t*>(clist_content(it));
                if (found >= floor && (*uid == 0 || found < *uid)) *uid = found;
            }
            mailimap_search_result_free(result);
        }
        return h;
    }

    void LoadSpecialUse() {
        std::string error;
        HRESULT hr = conn_->Run(
            [&](bool, std::string* err) -> HRESULT {
                specialUse_.clear();
                ListResult result;
                HRESULT h = conn_->Result(mailimap_list(conn_->Session(), "", "*", &result.list),
                                          "LIST", err);
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

    // The server's words stay with the layout until the object whose call
    // failed takes them (its GetLastError); a copy logs them with the item.
    HRESULT Report(HRESULT hr, const std::string& error) {
        if (FAILED(hr)) SetLastError(error);
        return hr;
    }

    std::unique_ptr<Connection> conn_;
    std::map<FolderPath, std::string> mailbox_;
    // The lowest UID a message appended next to a mailbox can get.
    std::map<std::string, uint32_t> next_;
    std::map<std::string, FolderPath> specialUse_;
    bool specialUseLoaded_ = false;
};

}  // namespace

std::unique_ptr<mailfiles::MailLayout> ImapLayout(std::unique_ptr<Connection> connection) {
    return std::make_unique<Layout>(std::move(connection));
}

}  // namespace mapi::imap
