// Building and parsing the embedded store's entry identifiers.
#include "entry_id.h"

namespace mapi::embedded {

std::string MakeEntryId(const MAPIUID& store, ObjectKind kind, int64_t id) {
    std::string out(kEntryIdSize, '\0');
    std::memcpy(&out[4], store.ab, 16);
    out[20] = static_cast<char>(kind);
    uint64_t v = static_cast<uint64_t>(id);
    for (int i = 0; i < 8; ++i) out[21 + i] = static_cast<char>((v >> (8 * i)) & 0xFF);
    return out;
}

bool ParseEntryId(const void* bytes, ULONG size, ParsedEntryId* out) {
    if (bytes == nullptr || size != kEntryIdSize) return false;
    const auto* b = static_cast<const BYTE*>(bytes);
    if (b[0] != 0 || b[1] != 0 || b[2] != 0 || b[3] != 0) return false;
    BYTE kind = b[20];
    if (kind < static_cast<BYTE>(ObjectKind::kStore) ||
        kind > static_cast<BYTE>(ObjectKind::kRecipient))
        return false;
    std::memcpy(out->store.ab, b + 4, 16);
    out->kind = static_cast<ObjectKind>(kind);
    uint64_t v = 0;
    for (int i = 0; i < 8; ++i) v |= static_cast<uint64_t>(b[21 + i]) << (8 * i);
    out->id = static_cast<int64_t>(v);
    return true;
}

}  // namespace mapi::embedded
