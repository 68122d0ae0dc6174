// The text of one message for `mapiprofile dump --props`.
#include "dump_message.h"

#include <algorithm>
#include <cstdio>

#include <mapiutil.h>

#include "payload.h"
#include "runtime/mapi_ptr.h"
#include "runtime/message_copy.h"
#include "runtime/prop_convert.h"
#include "runtime/provenance.h"

namespace mapi::tools {
namespace {

constexpr ULONG kFirstNamedId = 0x8000;

bool Printable(ULONG tag) {
    return PROP_TYPE(tag) != PT_OBJECT && !IsStoreInternalProperty(tag);
}

// Where a copy came from is the target's own bookkeeping, like its entry ids:
// leaving it out keeps the dump of a copy equal to the dump of its source.
bool IsProvenanceKey(const std::string& key) {
    static const std::string prefix = FormatGuid(PS_QUIRNEL) + ":";
    if (key.rfind(prefix, 0) != 0) return false;
    for (const char16_t* name : {kSourceStoreName, kSourceEntryIdName, kSourceModifiedName})
        if (key.compare(prefix.size(), std::string::npos, QuoteText(Utf16ToUtf8(name))) == 0) return true;
    return false;
}

std::string NameKey(const MAPINAMEID& name) {
    std::string key = name.lpguid != nullptr ? FormatGuid(*name.lpguid) : "{}";
    if (name.ulKind == MNID_STRING) {
        key += ":" + QuoteText(name.Kind.lpwstrName != nullptr ? Utf16ToUtf8(name.Kind.lpwstrName)
                                                               : std::string());
    } else {
        char id[16];
        std::snprintf(id, sizeof id, ":0x%08X", static_cast<unsigned>(name.Kind.lID));
        key += id;
    }
    return key;
}

// Large values may come back from GetProps as MAPI_E_NOT_ENOUGH_MEMORY;
// those are read through a stream.
HRESULT ReadStream(IMAPIProp* object, ULONG tag, std::string* bytes) {
    ComRef<IStream> stream;
    HRESULT hr = object->OpenProperty(tag, &IID_IStream, STGM_READ, 0, stream.OutAs<IUnknown>());
    if (FAILED(hr)) return hr;
    char buffer[65536];
    for (;;) {
        ULONG read = 0;
        hr = stream->Read(buffer, sizeof buffer, &read);
        if (FAILED(hr)) return hr;
        if (read == 0) return S_OK;
        bytes->append(buffer, read);
    }
}

std::string StreamedPayload(IMAPIProp* object, ULONG tag, bool* ok) {
    std::string bytes;
    *ok = false;
    if (FAILED(ReadStream(object, tag, &bytes))) return "?";
    SPropValue v{};
    v.ulPropTag = tag;
    std::u16string wide;
    switch (PROP_TYPE(tag)) {
        case PT_BINARY:
            v.Value.bin.cb = static_cast<ULONG>(bytes.size());
            v.Value.bin.lpb = reinterpret_cast<LPBYTE>(bytes.data());
            break;
        case PT_STRING8:
            bytes.resize(std::min(bytes.size(), bytes.find('\0')));
            v.Value.lpszA = bytes.data();
            break;
        case PT_UNICODE:
            for (size_t i = 0; i + 1 < bytes.size(); i += 2) {
                char16_t c = static_cast<char16_t>(static_cast<unsigned char>(bytes[i]) |
                                                   (static_cast<unsigned char>(bytes[i + 1]) << 8));
                if (c == 0) break;
                wide += c;
            }
            v.Value.lpszW = wide.data();
            break;
        default:
            return "?";
    }
    *ok = true;
    return FormatPayload(v);
}

// The lines of a set of values (an object's or a table row's), sorted:
// numbered ones by tag, named ones after them by text.
class LineSet {
public:
    void Add(ULONG tag, const std::string& payload, const NamedPropertyNames& names) {
        const std::string* key = PROP_ID(tag) >= kFirstNamedId ? names.Find(tag) : nullptr;
        if (key != nullptr && IsProvenanceKey(*key)) return;
        if (key != nullptr) {
            char type[16];
            std::snprintf(type, sizeof type, ":0x%04X=", static_cast<unsigned>(PROP_TYPE(tag)));
            named_.push_back(*key + type + payload);
        } else {
            numbered_.emplace_back(tag, FormatTag(tag) + "=" + payload);
        }
    }
    void AppendTo(int indent, std::string* out) {
        std::sort(numbered_.begin(), numbered_.end());
        std::sort(named_.begin(), named_.end());
        std::string pad(static_cast<size_t>(indent), ' ');
        for (const auto& [tag, line] : numbered_) *out += pad + line + "\n";
        for (const std::string& line : named_) *out += pad + line + "\n";
    }

private:
    std::vector<std::pair<ULONG, std::string>> numbered_;
    std::vector<std::string> named_;
};

void ResolveNamed(IMAPIProp* object, const SPropValue* values, ULONG count,
                  NamedPropertyNames& names) {
    std::vector<ULONG> named;
    for (ULONG i = 0; i < count; ++i)
        if (PROP_ID(values[i].ulPropTag) >= kFirstNamedId) named.push_back(values[i].ulPropTag);
    if (!named.empty()) names.Resolve(object, named);
}

// The property lines of object itself.
HRESULT AppendObjectProps(IMAPIProp* object, int indent, NamedPropertyNames& names,
                          std::string* out) {
    LPSPropTagArray rawList = nullptr;
    HRESULT hr = object->GetPropList(0, &rawList);
    MapiBuffer<SPropTagArray> list(rawList);
    if (FAILED(hr)) return hr;
    ULONG kept = 0;
    for (ULONG i = 0; i < list->cValues; ++i)
        if (Printable(list->aulPropTag[i])) list->aulPropTag[kept++] = list->aulPropTag[i];
    list->cValues = kept;
    if (kept == 0) return S_OK;

    ULONG count = 0;
    LPSPropValue rawValues = nullptr;
    hr = object->GetProps(list.get(), 0, &count, &rawValues);
    MapiBuffer<SPropValue> values(rawValues);
    if (FAILED(hr)) return hr;
    std::vector<ULONG> namedTags;
    for (ULONG i = 0; i < kept; ++i)
        if (PROP_ID(list->aulPropTag[i]) >= kFirstNamedId) namedTags.push_back(list->aulPropTag[i]);
    if (!namedTags.empty()) names.Resolve(object, namedTags);

    LineSet lines;
    for (ULONG i = 0; i < count && i < kept; ++i) {
        const SPropValue& v = values.get()[i];
        ULONG wanted = list->aulPropTag[i];
        if (PROP_TYPE(v.ulPropTag) == PT_ERROR) {
            if (v.Value.err == MAPI_E_NOT_FOUND) continue;  // vanished since GetPropList
            bool streamed = false;
            std::string payload;
            if (v.Value.err == MAPI_E_NOT_ENOUGH_MEMORY)
                payload = StreamedPayload(object, wanted, &streamed);
            lines.Add(streamed ? wanted : v.ulPropTag, streamed ? payload : FormatPayload(v),
                      names);
            continue;
        }
        lines.Add(v.ulPropTag, FormatPayload(v), names);
    }
    lines.AppendTo(indent, out);
    return S_OK;
}

// The lines of one table row; absent columns come back as PT_ERROR
// MAPI_E_NOT_FOUND and are skipped.
void AppendRow(IMAPIProp* owner, const SRow& row, int indent, NamedPropertyNames& names,
               std::string* out) {
    ResolveNamed(owner, row.lpProps, row.cValues, names);
    LineSet lines;
    for (ULONG i = 0; i < row.cValues; ++i) {
        const SPropValue& v = row.lpProps[i];
        if (!Printable(v.ulPropTag)) continue;
        if (PROP_TYPE(v.ulPropTag) == PT_ERROR && v.Value.err == MAPI_E_NOT_FOUND) continue;
        lines.Add(v.ulPropTag, FormatPayload(v), names);
    }
    lines.AppendTo(indent, out);
}

HRESULT AllRows(IMAPITable* table, LPSPropTagArray columns, RowSetPtr* rows) {
    LPSRowSet raw = nullptr;
    HRESULT hr = HrQueryAllRows(table, columns, nullptr, nullptr, 0, &raw);
    rows->reset(raw);
    return hr;
}

HRESULT AppendRecipients(IMessage* message, int indent, NamedPropertyNames& names,
                         std::string* out) {
    ComRef<IMAPITable> table;
    HRESULT hr = message->GetRecipientTable(0, table.Out());
    if (FAILED(hr)) return hr;
    // Every recipient property, not only the table's default columns; a
    // table that cannot list them all still gives its defaults.
    LPSPropTagArray rawColumns = nullptr;
    MapiBuffer<SPropTagArray> all(
        SUCCEEDED(table->QueryColumns(TBL_ALL_COLUMNS, &rawColumns)) ? rawColumns : nullptr);
    if (all && all->cValues == 0) all.reset();  // no recipients: an empty column set
    RowSetPtr rows;
    hr = AllRows(table.get(), all.get(), &rows);
    if (FAILED(hr)) return hr;
    std::string pad(static_cast<size_t>(indent), ' ');
    for (ULONG r = 0; r < rows->cRows; ++r) {
        *out += pad + "recipient\n";
        AppendRow(message, rows->aRow[r], indent + 2, names, out);
    }
    return S_OK;
}

HRESULT AppendAttachment(IMessage* message, ULONG number, int indent, NamedPropertyNames& names,
                         std::string* out) {
    ComRef<IAttach> attach;
    HRESULT hr = message->OpenAttach(number, nullptr, 0, attach.Out());
    if (FAILED(hr)) return hr;
    *out += std::string(static_cast<size_t>(indent), ' ') + "attachment\n";
    hr = AppendObjectProps(attach.get(), indent + 2, names, out);
    if (FAILED(hr)) return hr;

    LPSPropValue rawMethod = nullptr;
    hr = HrGetOneProp(attach.get(), PR_ATTACH_METHOD, &rawMethod);
    MapiBuffer<SPropValue> method(rawMethod);
    if (FAILED(hr) || method->Value.l != ATTACH_EMBEDDED_MSG) return S_OK;
    ComRef<IMessage> inner;
    hr = attach->OpenProperty(PR_ATTACH_DATA_OBJ, &IID_IMessage, 0, 0, inner.OutAs<IUnknown>());
    if (FAILED(hr)) return hr;
    *out += std::string(static_cast<size_t>(indent + 2), ' ') + "message\n";
    return AppendMessage(inner.get(), indent + 4, names, out);
}

HRESULT AppendAttachments(IMessage* message, int indent, NamedPropertyNames& names,
                          std::string* out) {
    ComRef<IMAPITable> table;
    HRESULT hr = message->GetAttachmentTable(0, table.Out());
    if (FAILED(hr)) return hr;
    SizedSPropTagArray(1, columns) = {1, {PR_ATTACH_NUM}};
    RowSetPtr rows;
    hr = AllRows(table.get(), reinterpret_cast<LPSPropTagArray>(&columns), &rows);
    if (FAILED(hr)) return hr;
    for (ULONG r = 0; r < rows->cRows; ++r) {
        const SRow& row = rows->aRow[r];
        if (row.cValues < 1 || row.lpProps[0].ulPropTag != PR_ATTACH_NUM)
            return MAPI_E_CORRUPT_DATA;
        hr = AppendAttachment(message, row.lpProps[0].Value.ul, indent, names, out);
        if (FAILED(hr)) return hr;
    }
    return S_OK;
}

}  // namespace

void NamedPropertyNames::Resolve(IMAPIProp* object, const std::vector<ULONG>& tags) {
    std::vector<ULONG> missing;
    for (ULONG tag : tags)
        if (!asked_.count(PROP_ID(tag))) missing.push_back(PROP_TAG(PT_UNSPECIFIED, PROP_ID(tag)));
    if (missing.empty()) return;
    std::sort(missing.begin(), missing.end());
    missing.erase(std::unique(missing.begin(), missing.end()), missing.end());
    MapiBuffer<SPropTagArray> request =
        AllocateMapi<SPropTagArray>(static_cast<ULONG>(CbNewSPropTagArray(missing.size())));
    if (!request) return;
    request->cValues = static_cast<ULONG>(missing.size());
    std::copy(missing.begin(), missing.end(), request->aulPropTag);

    LPSPropTagArray requestPtr = request.get();
    ULONG count = 0;
    LPMAPINAMEID* rawNames = nullptr;
    HRESULT hr = object->GetNamesFromIDs(&requestPtr, nullptr, 0, &count, &rawNames);
    MapiBuffer<LPMAPINAMEID> found(rawNames);
    for (ULONG tag : missing) asked_[PROP_ID(tag)] = true;
    if (FAILED(hr) || !found) return;
    for (ULONG i = 0; i < count && i < missing.size(); ++i)
        if (found.get()[i] != nullptr) keys_[PROP_ID(missing[i])] = NameKey(*found.get()[i]);
}

const std::string* NamedPropertyNames::Find(ULONG tag) const {
    auto it = keys_.find(PROP_ID(tag));
    return it == keys_.end() ? nullptr : &it->second;
}

HRESULT AppendMessage(IMessage* message, int indent, NamedPropertyNames& names, std::string* out) {
    HRESULT hr = AppendObjectProps(message, indent, names, out);
    if (SUCCEEDED(hr)) hr = AppendRecipients(message, indent, names, out);
    if (SUCCEEDED(hr)) hr = AppendAttachments(message, indent, names, out);
    return hr;
}

}  // namespace mapi::tools
