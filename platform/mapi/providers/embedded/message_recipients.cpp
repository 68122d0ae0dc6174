// Packing a message's recipient table into its row, and its table rows.
#include "message_recipients.h"

#include <set>

#include <mapitags.h>

#include "packed_props.h"
#include "prop_object.h"
#include "runtime/prop_convert.h"

namespace mapi::embedded {
namespace {

void Put32(std::string& out, uint32_t v) {
    const char bytes[4] = {static_cast<char>(v & 0xFF), static_cast<char>((v >> 8) & 0xFF),
                           static_cast<char>((v >> 16) & 0xFF), static_cast<char>(v >> 24)};
    out.append(bytes, 4);
}

uint32_t Get32(std::string_view in, size_t at) {
    uint32_t v = 0;
    for (int i = 3; i >= 0; --i)
        v = (v << 8) | static_cast<unsigned char>(in[at + static_cast<size_t>(i)]);
    return v;
}

}  // namespace

std::string PackRecipients(const std::vector<RecipientRow>& rows, uint64_t* bytes) {
    *bytes = 0;
    if (rows.empty()) return std::string();
    std::string out(1, static_cast<char>(kRecipientsFormat));
    for (const RecipientRow& row : rows) {
        for (const auto& [propId, value] : row.props) *bytes += value.bytes.size();
        std::string packed = PackAllInside(row.props);
        Put32(out, row.rowId);
        Put32(out, static_cast<uint32_t>(packed.size()));
        out.append(packed);
    }
    return out;
}

HRESULT UnpackRecipients(std::string_view blob, std::vector<RecipientRow>* out) {
    out->clear();
    if (blob.empty()) return S_OK;
    std::vector<RecipientRow> rows;
    std::set<ULONG> rowIds;
    auto damaged = [&] {
        out->clear();
        return MAPI_E_CORRUPT_DATA;
    };
    if (static_cast<unsigned char>(blob[0]) != kRecipientsFormat) return damaged();
    for (size_t at = 1; at < blob.size();) {
        if (blob.size() - at < 8) return damaged();
        RecipientRow row;
        row.rowId = Get32(blob, at);
        const uint32_t length = Get32(blob, at + 4);
        at += 8;
        if (blob.size() - at < length || !rowIds.insert(row.rowId).second) return damaged();
        bool outside = false;
        if (FAILED(UnpackSummary(blob.substr(at, length), &row.props, nullptr, &outside)) ||
            outside)
            return damaged();
        at += length;
        rows.push_back(std::move(row));
    }
    *out = std::move(rows);
    return S_OK;
}

HRESULT AddMemoryRow(MemoryRows& rows, const PropMap& props, const std::vector<SPropValue>& extra) {
    MapiBuffer<char> arena = AllocateMapi<char>(1);
    if (!arena) return MAPI_E_NOT_ENOUGH_MEMORY;
    std::vector<SPropValue> values = extra;
    for (const auto& [propId, value] : props) {
        bool shadowed = false;
        for (const SPropValue& e : extra) shadowed |= PROP_ID(e.ulPropTag) == propId;
        if (shadowed) continue;
        if (propId == PROP_ID_NULL || propId >= PROP_ID_INVALID) return MAPI_E_CORRUPT_DATA;
        SPropValue v{};
        if (HRESULT hr = DecodeValue(propId, value, arena.get(), &v); FAILED(hr)) return hr;
        values.push_back(v);
    }
    return rows.AddRow(values.data(), static_cast<ULONG>(values.size()));
}

HRESULT RecipientTableRows(const std::vector<RecipientRow>& recipients,
                           std::shared_ptr<MemoryRows>* out) {
    auto rows = std::make_shared<MemoryRows>();
    for (const RecipientRow& recipient : recipients) {
        int64_t key = recipient.rowId;
        std::vector<SPropValue> extra(2);
        extra[0] = LongValue(PR_ROWID, static_cast<LONG>(recipient.rowId));
        extra[1].ulPropTag = PR_INSTANCE_KEY;
        extra[1].Value.bin = SBinary{sizeof key, reinterpret_cast<LPBYTE>(&key)};
        if (HRESULT hr = AddMemoryRow(*rows, recipient.props, extra); FAILED(hr)) return hr;
    }
    *out = std::move(rows);
    return S_OK;
}

}  // namespace mapi::embedded
