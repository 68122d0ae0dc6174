// The X-Quirnel-Source header: where a message was copied from, so that a
// run into a mail file store can resume without duplicates.
//
//   X-Quirnel-Source: store=<hex>; entry=<hex>; modified=<16 hex digits>
//
// store and entry are the source store's record key and the item's entry
// id; modified is the FILETIME of the source item's last change, high part
// first, and is left out when the item has none.
#include <cctype>
#include <cstdio>

#include "mime/mime_convert.h"

namespace mapi::mime {

namespace {

std::string Hex(const std::string& bytes) {
    static const char kDigits[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(bytes.size() * 2);
    for (unsigned char c : bytes) {
        out.push_back(kDigits[c >> 4]);
        out.push_back(kDigits[c & 15]);
    }
    return out;
}

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

bool Unhex(std::string_view text, std::string* out) {
    if (text.size() % 2 != 0) return false;
    out->clear();
    for (size_t i = 0; i < text.size(); i += 2) {
        int hi = HexDigit(text[i]), lo = HexDigit(text[i + 1]);
        if (hi < 0 || lo < 0) return false;
        out->push_back(static_cast<char>(hi * 16 + lo));
    }
    return true;
}

std::string_view Trim(std::string_view s) {
    while (!s.empty() && std::isspace(static_cast<unsigned char>(s.front()))) s.remove_prefix(1);
    while (!s.empty() && std::isspace(static_cast<unsigned char>(s.back()))) s.remove_suffix(1);
    return s;
}

}  // namespace

std::string ProvenanceHeader(const MailItem& item, NameResolver& names) {
    const ULONG storeId = names.IdOf(SourceStoreName());
    const ULONG entryId = names.IdOf(SourceEntryIdName());
    const ULONG modifiedId = names.IdOf(SourceModifiedName());
    if (storeId == 0 || entryId == 0) return {};
    auto store = item.props.Binary(storeId);
    auto entry = item.props.Binary(entryId);
    if (!store || !entry) return {};
    std::string value = "store=" + Hex(*store) + "; entry=" + Hex(*entry);
    if (modifiedId != 0) {
        if (auto modified = item.props.Time(modifiedId)) {
            char buffer[17];
            std::snprintf(buffer, sizeof buffer, "%08X%08X",
                          static_cast<unsigned>(modified->dwHighDateTime),
                          static_cast<unsigned>(modified->dwLowDateTime));
            value += "; modified=";
            value += buffer;
        }
    }
    return value;
}

bool ApplyProvenanceHeader(std::string_view value, NameResolver& names, MailItem& item) {
    std::string store, entry, modified;
    bool haveStore = false, haveEntry = false, haveModified = false;
    while (!value.empty()) {
        size_t end = value.find(';');
        std::string_view field = Trim(value.substr(0, end));
        value = end == std::string_view::npos ? std::string_view() : value.substr(end + 1);
        if (field.empty()) continue;
        size_t eq = field.find('=');
        if (eq == std::string_view::npos) return false;
        std::string_view key = Trim(field.substr(0, eq));
        std::string_view data = Trim(field.substr(eq + 1));
        if (key == "store") {
            haveStore = Unhex(data, &store);
            if (!haveStore) return false;
        } else if (key == "entry") {
            haveEntry = Unhex(data, &entry);
            if (!haveEntry) return false;
        } else if (key == "modified") {
            haveModified = data.size() == 16 && Unhex(data, &modified);
            if (!haveModified) return false;
        }
    }
    if (!haveStore || !haveEntry) return false;
    const ULONG storeId = names.IdOf(SourceStoreName());
    const ULONG entryId = names.IdOf(SourceEntryIdName());
    if (storeId == 0 || entryId == 0) return false;
    item.props.SetBinary(storeId, store);
    item.props.SetBinary(entryId, entry);
    if (haveModified) {
        const ULONG modifiedId = names.IdOf(SourceModifiedName());
        if (modifiedId != 0) {
            auto byte = [&](int i) { return static_cast<DWORD>(static_cast<unsigned char>(modified[i])); };
            FILETIME ft;
            ft.dwHighDateTime = byte(0) << 24 | byte(1) << 16 | byte(2) << 8 | byte(3);
            ft.dwLowDateTime = byte(4) << 24 | byte(5) << 16 | byte(6) << 8 | byte(7);
            item.props.SetTime(modifiedId, ft);
        }
    }
    return true;
}

}  // namespace mapi::mime
