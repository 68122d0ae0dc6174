// PropBag storage, the flag mapping and the named properties the
// conversion knows.
#include "mail_item.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <tuple>

#include <mapitags.h>
#include <mapiutil.h>

#include "mime/mail_tags.h"
#include "runtime/prop_convert.h"

namespace mapi::mime {

namespace {

// FILETIME counts 100 ns steps from 1601; Unix time seconds from 1970.
constexpr int64_t kUnixEpochAsFileTime = 116444736000000000LL;

MapiBuffer<SPropValue> Own(const SPropValue& value, HRESULT* hr) {
    MapiBuffer<SPropValue> head = AllocateMapi<SPropValue>(sizeof(SPropValue));
    if (!head) {
        *hr = MAPI_E_NOT_ENOUGH_MEMORY;
        return head;
    }
    *hr = CopyValueWith(MAPIAllocateMore, head.get(), value, head.get());
    if (FAILED(*hr)) head.reset();
    return head;
}

}  // namespace

const SPropValue* PropBag::Get(ULONG propId) const {
    auto it = values_.find(propId);
    return it == values_.end() ? nullptr : it->second.get();
}

HRESULT PropBag::Set(const SPropValue& value) {
    HRESULT hr = S_OK;
    MapiBuffer<SPropValue> owned = Own(value, &hr);
    if (FAILED(hr)) return hr;
    values_[PROP_ID(value.ulPropTag)] = std::move(owned);
    return S_OK;
}

void PropBag::Remove(ULONG propId) { values_.erase(propId); }

void PropBag::SetText(ULONG propId, std::string_view utf8) {
    std::u16string wide = Utf8ToUtf16(std::string(utf8));
    SPropValue v{};
    v.ulPropTag = PROP_TAG(PT_UNICODE, propId);
    v.Value.lpszW = reinterpret_cast<LPWSTR>(wide.data());
    Set(v);
}

void PropBag::SetBinary(ULONG propId, std::string_view bytes) {
    SPropValue v{};
    v.ulPropTag = PROP_TAG(PT_BINARY, propId);
    v.Value.bin.cb = static_cast<ULONG>(bytes.size());
    static BYTE empty = 0;
    v.Value.bin.lpb =
        bytes.empty() ? &empty : reinterpret_cast<LPBYTE>(const_cast<char*>(bytes.data()));
    Set(v);
}

void PropBag::SetLong(ULONG propId, LONG value) {
    SPropValue v{};
    v.ulPropTag = PROP_TAG(PT_LONG, propId);
    v.Value.l = value;
    Set(v);
}

void PropBag::SetBool(ULONG propId, bool value) {
    SPropValue v{};
    v.ulPropTag = PROP_TAG(PT_BOOLEAN, propId);
    v.Value.b = value ? 1 : 0;
    Set(v);
}

void PropBag::SetTime(ULONG propId, FILETIME value) {
    SPropValue v{};
    v.ulPropTag = PROP_TAG(PT_SYSTIME, propId);
    v.Value.ft = value;
    Set(v);
}

void PropBag::SetTextList(ULONG propId, const std::vector<std::string>& utf8) {
    std::vector<std::u16string> wide;
    for (const std::string& s : utf8) wide.push_back(Utf8ToUtf16(s));
    std::vector<LPWSTR> pointers;
    for (std::u16string& w : wide) pointers.push_back(reinterpret_cast<LPWSTR>(w.data()));
    SPropValue v{};
    v.ulPropTag = PROP_TAG(PT_MV_UNICODE, propId);
    v.Value.MVszW.cValues = static_cast<ULONG>(pointers.size());
    v.Value.MVszW.lppszW = pointers.data();
    Set(v);
}

std::optional<std::string> PropBag::Text(ULONG propId) const {
    const SPropValue* v = Get(propId);
    if (v == nullptr) return std::nullopt;
    if (PROP_TYPE(v->ulPropTag) == PT_UNICODE && v->Value.lpszW != nullptr)
        return Utf16ToUtf8(v->Value.lpszW);
    if (PROP_TYPE(v->ulPropTag) == PT_STRING8 && v->Value.lpszA != nullptr)
        return std::string(v->Value.lpszA);
    return std::nullopt;
}

std::optional<std::string> PropBag::Binary(ULONG propId) const {
    const SPropValue* v = Get(propId);
    if (v == nullptr || PROP_TYPE(v->ulPropTag) != PT_BINARY) return std::nullopt;
    if (v->Value.bin.cb == 0) return std::string();
    return std::string(reinterpret_cast<const char*>(v->Value.bin.lpb), v->Value.bin.cb);
}

std::optional<LONG> PropBag::Long(ULONG propId) const {
    const SPropValue* v = Get(propId);
    if (v == nullptr || PROP_TYPE(v->ulPropTag) != PT_LONG) return std::nullopt;
    return v->Value.l;
}

std::optional<bool> PropBag::Bool(ULONG propId) const {
    const SPropValue* v = Get(propId);
    if (v == nullptr || PROP_TYPE(v->ulPropTag) != PT_BOOLEAN) return std::nullopt;
    return v->Value.b != 0;
}

std::optional<FILETIME> PropBag::Time(ULONG propId) const {
    const SPropValue* v = Get(propId);
    if (v == nullptr || PROP_TYPE(v->ulPropTag) != PT_SYSTIME) return std::nullopt;
    return v->Value.ft;
}

std::optional<std::vector<std::string>> PropBag::TextList(ULONG propId) const {
    const SPropValue* v = Get(propId);
    if (v == nullptr) return std::nullopt;
    std::vector<std::string> out;
    if (PROP_TYPE(v->ulPropTag) == PT_MV_UNICODE) {
        for (ULONG i = 0; i < v->Value.MVszW.cValues; ++i)
            out.push_back(Utf16ToUtf8(v->Value.MVszW.lppszW[i]));
    } else if (PROP_TYPE(v->ulPropTag) == PT_MV_STRING8) {
        for (ULONG i = 0; i < v->Value.MVszA.cValues; ++i) out.push_back(v->Value.MVszA.lppszA[i]);
    } else {
        return std::nullopt;
    }
    return out;
}

MailFlags FlagsOf(const MailItem& item) {
    MailFlags flags;
    const LONG messageFlags = item.props.Long(PROP_ID(PR_MESSAGE_FLAGS)).value_or(0);
    flags.seen = (messageFlags & MSGFLAG_READ) != 0;
    flags.draft = (messageFlags & MSGFLAG_UNSENT) != 0;
    const LONG verb = item.props.Long(PROP_ID(kPrLastVerbExecuted)).value_or(0);
    flags.answered = verb == kVerbReplyToSender || verb == kVerbReplyToAll;
    flags.forwarded = verb == kVerbForward;
    flags.flagged = item.props.Long(PROP_ID(kPrFlagStatus)).value_or(0) == kFlagStatusFlagged;
    return flags;
}

void ApplyFlags(MailItem& item, const MailFlags& flags) {
    LONG messageFlags = item.props.Long(PROP_ID(PR_MESSAGE_FLAGS)).value_or(0);
    messageFlags &= ~static_cast<LONG>(MSGFLAG_READ | MSGFLAG_UNSENT);
    if (flags.seen) messageFlags |= MSGFLAG_READ;
    if (flags.draft) messageFlags |= MSGFLAG_UNSENT;
    item.props.SetLong(PROP_ID(PR_MESSAGE_FLAGS), messageFlags);
    // A reply and a forward both done leave only one trace in MAPI; the
    // reply wins, as it does in Outlook's icon.
    if (flags.answered)
        item.props.SetLong(PROP_ID(kPrLastVerbExecuted), kVerbReplyToSender);
    else if (flags.forwarded)
        item.props.SetLong(PROP_ID(kPrLastVerbExecuted), kVerbForward);
    if (flags.flagged) item.props.SetLong(PROP_ID(kPrFlagStatus), kFlagStatusFlagged);
}

FILETIME FileTimeFromUnix(int64_t seconds) {
    // Dates from the wire can be anything; FILETIME spans 1601 to 30828.
    constexpr int64_t kEarliest = -kUnixEpochAsFileTime / 10000000LL;
    constexpr int64_t kLatest = (INT64_MAX - kUnixEpochAsFileTime) / 10000000LL;
    seconds = std::clamp(seconds, kEarliest, kLatest);
    const uint64_t ticks = static_cast<uint64_t>(seconds * 10000000LL + kUnixEpochAsFileTime);
    FILETIME ft;
    ft.dwLowDateTime = static_cast<DWORD>(ticks & 0xFFFFFFFFu);
    ft.dwHighDateTime = static_cast<DWORD>(ticks >> 32);
    return ft;
}

int64_t UnixFromFileTime(FILETIME time) {
    const uint64_t ticks = (static_cast<uint64_t>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
    const uint64_t epoch = static_cast<uint64_t>(kUnixEpochAsFileTime);
    return ticks >= epoch ? static_cast<int64_t>((ticks - epoch) / 10000000ULL)
                          : -static_cast<int64_t>((epoch - ticks) / 10000000ULL);
}

bool PropName::operator<(const PropName& other) const {
    const int setOrder = std::memcmp(&set, &other.set, sizeof(GUID));
    if (setOrder != 0) return setOrder < 0;
    return std::tie(isString, id, name) < std::tie(other.isString, other.id, other.name);
}

bool PropName::operator==(const PropName& other) const {
    return !(*this < other) && !(other < *this);
}

PropName NamedString(const GUID& set, const char16_t* name) {
    PropName n;
    n.set = set;
    n.isString = true;
    n.name = name;
    return n;
}

PropName NamedId(const GUID& set, LONG id) {
    PropName n;
    n.set = set;
    n.id = id;
    return n;
}

PropName KeywordsName() { return NamedString(PS_PUBLIC_STRINGS, u"Keywords"); }
PropName SourceStoreName() { return NamedString(PS_QUIRNEL, u"SourceStore"); }
PropName SourceEntryIdName() { return NamedString(PS_QUIRNEL, u"SourceEntryId"); }
PropName SourceModifiedName() { return NamedString(PS_QUIRNEL, u"SourceModified"); }
PropName ConversionNotesName() { return NamedString(PS_QUIRNEL, u"ConversionNotes"); }

void AddConversionNote(NameResolver& names, MailItem& item, const std::string& line) {
    const ULONG id = names.IdOf(ConversionNotesName());
    if (id == 0) return;
    std::string notes = item.props.Text(id).value_or("");
    for (size_t at = 0; at < notes.size();) {
        const size_t end = std::min(notes.find('\n', at), notes.size());
        if (notes.compare(at, end - at, line) == 0) return;
        at = end + 1;
    }
    item.props.SetText(id, notes.empty() ? line : notes + "\n" + line);
}
PropName AppointmentStartName() { return NamedId(PSETID_Appointment, 0x820D); }
PropName AppointmentEndName() { return NamedId(PSETID_Appointment, 0x820E); }
PropName AppointmentLocationName() { return NamedId(PSETID_Appointment, 0x8208); }

}  // namespace mapi::mime
