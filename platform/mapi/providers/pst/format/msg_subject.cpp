#include "providers/pst/format/msg_subject.h"

#include <algorithm>

namespace mapi::pst::fmt {
namespace {

constexpr uint16_t kIdSubject = 0x0037;
constexpr uint16_t kIdSubjectPrefix = 0x003D;
constexpr uint16_t kIdNormalizedSubject = 0x0E1D;
constexpr uint16_t kTypeUnicode = 0x001F;
constexpr uint16_t kTypeString8 = 0x001E;
constexpr unsigned kMarker = 0x01;

PropValue* FindById(std::vector<PropValue>& props, uint16_t id) {
    for (PropValue& v : props)
        if (PropId(v.tag) == id) return &v;
    return nullptr;
}

// Bytes per character of a string type, 0 for any other type.
size_t Width(uint16_t type) {
    return type == kTypeUnicode ? 2 : type == kTypeString8 ? 1 : 0;
}

unsigned CharAt(const Bytes& b, size_t i, size_t width) {
    return width == 2 ? unsigned(b[2 * i] | (b[2 * i + 1] << 8)) : b[i];
}

void PutChar(Bytes& b, unsigned c, size_t width) {
    b.push_back(static_cast<uint8_t>(c));
    if (width == 2) b.push_back(static_cast<uint8_t>(c >> 8));
}

uint32_t Tag(uint16_t id, uint16_t type) {
    return (uint32_t{id} << 16) | type;
}

}  // namespace

StoredSubject ParseStoredSubject(unsigned c0, unsigned c1, size_t length) {
    StoredSubject s;
    if (length < 2 || c0 != kMarker) return s;
    s.marked = true;
    s.textStart = 2;
    // The count includes the character that holds it; a damaged count
    // must not reach beyond the text.
    s.prefixLength = c1 > 0 ? std::min<size_t>(c1 - 1, length - 2) : 0;
    return s;
}

void SubjectFromFile(std::vector<PropValue>* props) {
    PropValue* subject = FindById(*props, kIdSubject);
    if (subject == nullptr) return;
    uint16_t type = PropType(subject->tag);
    size_t width = Width(type);
    if (width == 0) return;
    const Bytes& stored = subject->bytes;
    size_t length = stored.size() / width;
    StoredSubject s = ParseStoredSubject(length > 0 ? CharAt(stored, 0, width) : 0,
                                         length > 1 ? CharAt(stored, 1, width) : 0, length);
    if (!s.marked) return;
    Bytes text(stored.begin() + static_cast<std::ptrdiff_t>(s.textStart * width), stored.end());
    auto split = text.begin() + static_cast<std::ptrdiff_t>(s.prefixLength * width);
    Bytes prefix(text.begin(), split), normalized(split, text.end());
    subject->bytes = std::move(text);
    // Values the file stores itself are what was set on the message; they
    // win over the ones derived here.
    if (FindById(*props, kIdSubjectPrefix) == nullptr)
        props->push_back({Tag(kIdSubjectPrefix, type), std::move(prefix)});
    if (FindById(*props, kIdNormalizedSubject) == nullptr)
        props->push_back({Tag(kIdNormalizedSubject, type), std::move(normalized)});
}

void SubjectToFile(std::vector<PropValue>* props) {
    PropValue* subject = FindById(*props, kIdSubject);
    if (subject == nullptr) return;
    uint16_t type = PropType(subject->tag);
    size_t width = Width(type);
    const Bytes& text = subject->bytes;
    if (width == 0 || text.size() < width || CharAt(text, 0, width) == kMarker) return;
    size_t prefix = 0;
    const PropValue* p = FindById(*props, kIdSubjectPrefix);
    const PropValue* n = FindById(*props, kIdNormalizedSubject);
    if (p != nullptr && PropType(p->tag) == type && p->bytes.size() <= text.size() &&
        std::equal(p->bytes.begin(), p->bytes.end(), text.begin()))
        prefix = p->bytes.size() / width;
    else if (p == nullptr && n != nullptr && PropType(n->tag) == type &&
             n->bytes.size() <= text.size() &&
             std::equal(n->bytes.begin(), n->bytes.end(),
                        text.end() - static_cast<std::ptrdiff_t>(n->bytes.size())))
        prefix = (text.size() - n->bytes.size()) / width;
    // The count is one character wide; a prefix it cannot hold stays part
    // of the text, which is still the whole subject.
    size_t limit = width == 2 ? 0xFFFE : 0xFE;
    if (prefix == 0 || prefix > limit) return;
    Bytes stored;
    stored.reserve(text.size() + 2 * width);
    PutChar(stored, kMarker, width);
    PutChar(stored, static_cast<unsigned>(prefix + 1), width);
    stored.insert(stored.end(), text.begin(), text.end());
    subject->bytes = std::move(stored);
}

}  // namespace mapi::pst::fmt
