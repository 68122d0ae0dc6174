// A MAPI message held in memory: the one shape the MIME conversion reads
// and writes, and the state behind the message objects of the mail file
// stores.
//
// Values are kept in full fidelity, each on its own MAPI allocation chain.
// Named properties appear under the ids of the store the item belongs to;
// the conversion learns those ids through a NameResolver. Not thread-safe.
#pragma once

#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <mapidefs.h>

#include "runtime/mapi_ptr.h"

namespace mapi::mime {

class PropBag {
public:
    PropBag() = default;
    PropBag(PropBag&&) = default;
    PropBag& operator=(PropBag&&) = default;

    // The value with this property id, or null.
    const SPropValue* Get(ULONG propId) const;
    // Stores a deep copy of value, replacing any value of the same id.
    // MAPI_E_INVALID_PARAMETER / MAPI_E_INVALID_TYPE when it cannot be copied.
    HRESULT Set(const SPropValue& value);
    void Remove(ULONG propId);
    bool Has(ULONG propId) const { return Get(propId) != nullptr; }
    const std::map<ULONG, MapiBuffer<SPropValue>>& All() const { return values_; }

    // Typed setters; text is UTF-8 and is kept as PT_UNICODE.
    void SetText(ULONG propId, std::string_view utf8);
    void SetBinary(ULONG propId, std::string_view bytes);
    void SetLong(ULONG propId, LONG value);
    void SetBool(ULONG propId, bool value);
    void SetTime(ULONG propId, FILETIME value);
    void SetTextList(ULONG propId, const std::vector<std::string>& utf8);

    // Typed readers: nullopt when absent or of another kind. Text accepts
    // PT_STRING8 and PT_UNICODE and answers UTF-8.
    std::optional<std::string> Text(ULONG propId) const;
    std::optional<std::string> Binary(ULONG propId) const;
    std::optional<LONG> Long(ULONG propId) const;
    std::optional<bool> Bool(ULONG propId) const;
    std::optional<FILETIME> Time(ULONG propId) const;
    std::optional<std::vector<std::string>> TextList(ULONG propId) const;

private:
    std::map<ULONG, MapiBuffer<SPropValue>> values_;  // by property id
};

struct MailItem;

struct MailAttachment {
    PropBag props;
    // The message of an ATTACH_EMBEDDED_MSG attachment.
    std::shared_ptr<MailItem> embedded;
};

struct MailItem {
    PropBag props;
    std::vector<PropBag> recipients;
    std::vector<MailAttachment> attachments;
};

// Read, replied, forwarded, flagged and draft states: what every mail file
// format keeps beside a message (Maildir file name, mbox status headers).
struct MailFlags {
    bool seen = false;
    bool answered = false;
    bool forwarded = false;
    bool flagged = false;
    bool draft = false;
};

// The states a MAPI message shows through PR_MESSAGE_FLAGS,
// PR_LAST_VERB_EXECUTED and PR_FLAG_STATUS.
MailFlags FlagsOf(const MailItem& item);
// Sets those properties so FlagsOf(item) gives flags.
void ApplyFlags(MailItem& item, const MailFlags& flags);

// FILETIME <-> seconds since 1970 (UTC).
FILETIME FileTimeFromUnix(int64_t seconds);
int64_t UnixFromFileTime(FILETIME time);

}  // namespace mapi::mime
