#include "providers/pst/format/msg_values.h"

#include <algorithm>

#include "runtime/utf.h"

namespace mapi::pst::fmt {

PropValue UnicodeValue(uint32_t tag, std::string_view utf8) {
    std::u16string text;
    for (char32_t cp : CodePointsFromUtf8(utf8)) AppendUtf16(text, cp);
    Bytes b;
    for (char16_t c : text) {
        b.push_back(static_cast<uint8_t>(c));
        b.push_back(static_cast<uint8_t>(c >> 8));
    }
    return {tag, std::move(b)};
}

PropValue LongValue(uint32_t tag, uint32_t value) {
    Bytes b(4);
    Put32(b.data(), value);
    return {tag, std::move(b)};
}

PropValue BoolValue(uint32_t tag, bool value) { return {tag, {static_cast<uint8_t>(value ? 1 : 0)}}; }

PropValue TimeValue(uint32_t tag, uint64_t filetime) {
    Bytes b(8);
    Put64(b.data(), filetime);
    return {tag, std::move(b)};
}

PropValue BinaryValue(uint32_t tag, Bytes bytes) { return {tag, std::move(bytes)}; }

Bytes EntryIdBytes(const StoreUid& uid, uint32_t nid) {
    Bytes id(24, 0);
    std::copy(uid.begin(), uid.end(), id.begin() + 4);
    Put32(id.data() + 20, nid);
    return id;
}

const PropValue* FindValue(const std::vector<PropValue>& props, uint32_t tag) {
    for (const PropValue& v : props)
        if (v.tag == tag) return &v;
    return nullptr;
}

void SetValue(std::vector<PropValue>& props, PropValue value) {
    for (PropValue& v : props)
        if (PropId(v.tag) == PropId(value.tag)) {
            v = std::move(value);
            return;
        }
    props.push_back(std::move(value));
}

}  // namespace mapi::pst::fmt
