// Values, name maps and entry registries of the test doubles.
#include "fake_values.h"

#include <cstdio>
#include <stdexcept>

#include <mapiutil.h>

namespace fake {

Value::Value(const SPropValue& v) {
    LPSPropValue copy = nullptr;
    // A double that cannot even be built is a broken test, not a case to handle.
    if (ScDupPropset(1, const_cast<LPSPropValue>(&v), MAPIAllocateBuffer, &copy) != S_OK)
        throw std::runtime_error("fake::Value: cannot copy the value");
    value_.reset(copy);
}

Value Long(ULONG tag, LONG l) {
    SPropValue v{};
    v.ulPropTag = tag;
    v.Value.l = l;
    return Value(v);
}

Value Str(ULONG tag, const std::string& text) {
    SPropValue v{};
    v.ulPropTag = tag;
    v.Value.lpszA = const_cast<char*>(text.c_str());
    return Value(v);
}

Value Bin(ULONG tag, const Bytes& bytes) {
    SPropValue v{};
    v.ulPropTag = tag;
    v.Value.bin.cb = static_cast<ULONG>(bytes.size());
    v.Value.bin.lpb = const_cast<BYTE*>(bytes.data());
    return Value(v);
}

Value Err(ULONG tag, SCODE code) {
    SPropValue v{};
    v.ulPropTag = CHANGE_PROP_TYPE(tag, PT_ERROR);
    v.Value.err = code;
    return Value(v);
}

// --- Names -------------------------------------------------------------------

namespace {

std::string GuidText(const GUID& g) {
    char text[48];
    std::snprintf(text, sizeof text, "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}",
                  static_cast<unsigned>(g.Data1), g.Data2, g.Data3, g.Data4[0], g.Data4[1],
                  g.Data4[2], g.Data4[3], g.Data4[4], g.Data4[5], g.Data4[6], g.Data4[7]);
    return text;
}

}  // namespace

std::string NameMap::Request::Text() const {
    std::string out = nullGuid ? "{null}" : GuidText(guid);
    if (kind == MNID_ID) {
        char number[16];
        std::snprintf(number, sizeof number, "0x%04X", static_cast<unsigned>(id));
        return out + " id " + number;
    }
    out += " name ";
    for (char16_t c : name) out += c < 0x80 ? static_cast<char>(c) : '?';
    return out;
}

ULONG NameMap::Find(const MAPINAMEID& n, bool create) {
    const GUID guid = n.lpguid != nullptr ? *n.lpguid : GUID{};
    const std::u16string text =
        n.ulKind == MNID_STRING && n.Kind.lpwstrName != nullptr ? n.Kind.lpwstrName : u"";
    for (const Name& k : names) {
        if (k.guid == guid && k.kind == n.ulKind &&
            (n.ulKind == MNID_ID ? k.id == n.Kind.lID : k.text == text))
            return k.propId;
    }
    if (!create) return 0;
    names.push_back({guid, n.ulKind, n.ulKind == MNID_ID ? n.Kind.lID : 0, text, nextId});
    return nextId++;
}

void NameMap::Pin(const GUID& guid, const std::u16string& text, ULONG propId) {
    for (Name& k : names) {
        if (k.guid == guid && k.kind == MNID_STRING && k.text == text) {
            k.propId = propId;
            return;
        }
    }
    names.push_back({guid, MNID_STRING, 0, text, propId});
}

const NameMap::Name* NameMap::ById(ULONG propId) const {
    for (const Name& k : names)
        if (k.propId == propId) return &k;
    return nullptr;
}

// --- Entries -----------------------------------------------------------------

Bytes Entries::NewEid() {
    const std::string text = prefix_ + "#" + std::to_string(++next_);
    return Bytes(text.begin(), text.end());
}

void Entries::Add(const Bytes& eid, IUnknown* object, ULONG type) {
    map_[eid] = Entry{object, type};
}

void Entries::Remove(const Bytes& eid, const IUnknown* object) {
    auto it = map_.find(eid);
    if (it != map_.end() && it->second.object == object) map_.erase(it);
}

HRESULT Entries::Open(ULONG cb, LPENTRYID eid, ULONG flags, ULONG* type, LPUNKNOWN* out) {
    *out = nullptr;
    lastFlags = flags;
    lastOpened = BytesOf(cb, eid);
    if (auto failure = failOpen.find(lastOpened); failure != failOpen.end()) return failure->second;
    auto it = map_.find(lastOpened);
    if (it == map_.end()) return MAPI_E_NOT_FOUND;
    if (type != nullptr) *type = it->second.type;
    it->second.object->AddRef();
    *out = it->second.object;
    return S_OK;
}

}  // namespace fake
