// Messages of an IMAP account through libetpan: listing, reading,
// appending (found again after a lost answer) and the server's own copy.
#include <algorithm>
#include <cstdio>
#include <cstring>

#include "providers/imap/imap_layout_impl.h"
#include "providers/imap/imap_messages.h"

namespace mapi::imap {

namespace {

constexpr const char* kProvenanceHeader = "X-Quirnel-Source";

}  // namespace

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

HRESULT Layout::ListItems(const FolderPath& folder, std::vector<ItemEntry>* items) {
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
                mailimap_uid_fetch(conn_->Session(), all.set, type.type, &result.list), "UID FETCH",
                err);
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

HRESULT Layout::ReadItem(const FolderPath& folder, const std::string& key, std::string* bytes,
                         ItemEntry* entry) {
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
                mailimap_uid_fetch(conn_->Session(), one.set, type.type, &result.list), "UID FETCH",
                err);
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

HRESULT Layout::AddItem(const FolderPath& folder, const std::string& bytes,
                        const mime::MailFlags& flags, const std::string&, std::string* key) {
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
            Connection::Patience patience(*conn_, bytes.size());
            const int r = conn_->HasCapability("UIDPLUS")
                              ? mailimap_uidplus_append(conn_->Session(), wire.c_str(), list, date,
                                                        bytes.data(), bytes.size(), &validity, &uid)
                              : mailimap_append(conn_->Session(), wire.c_str(), list, date,
                                                bytes.data(), bytes.size());
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

HRESULT Layout::CopyItems(const FolderPath& from, const std::vector<std::string>& keys,
                          const FolderPath& to, std::vector<std::string>* copied) {
    copied->assign(keys.size(), std::string());
    std::vector<uint32_t> uids;
    uint32_t wantValidity = 0;
    for (const std::string& key : keys) {
        uint32_t validity = 0, uid = 0;
        if (!ParseKey(key, &validity, &uid) || (!uids.empty() && validity != wantValidity))
            return Report(MAPI_E_NOT_FOUND, "");  // no words of an older failure
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
            Connection::Patience patience(*conn_);
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

HRESULT Layout::Select(const FolderPath& folder, uint32_t* validity, uint32_t* exists,
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

uint32_t Layout::UidNext() const {
    mailimap_selection_info* info = conn_->Session()->imap_selection_info;
    return info != nullptr && info->sel_uidnext != 0 ? info->sel_uidnext : 1;
}

HRESULT Layout::Find(const FolderPath& folder, const std::pair<const char*, std::string>& mark,
                     uint32_t floor, uint32_t* validity, uint32_t* uid, std::string* err) {
    *uid = 0;
    uint32_t exists = 0;
    HRESULT h = Select(folder, validity, &exists, err);
    if (h != S_OK || exists == 0) return h;
    clist* both = clist_new();
    clist_append(both, mailimap_search_key_new_uid(mailimap_set_new_interval(floor, 0)));
    clist_append(both,
                 mailimap_search_key_new_header(strdup(mark.first), strdup(mark.second.c_str())));
    mailimap_search_key* key = mailimap_search_key_new_multiple(both);
    clist* result = nullptr;
    h = conn_->Result(mailimap_uid_search(conn_->Session(), nullptr, key, &result), "UID SEARCH",
                      err);
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

}  // namespace mapi::imap
