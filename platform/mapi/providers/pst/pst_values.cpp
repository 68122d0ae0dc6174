// Conversion of stored value bytes (little-endian, as the file keeps them)
// into SPropValue members.
#include "providers/pst/pst_values.h"

#include <cstring>
#include <string>

#include "providers/pst/format/msg_subject.h"
#include "providers/pst/pst_codepage.h"
#include "runtime/utf.h"

namespace mapi::pst {
namespace {

// No single property of a mail store comes near this; a larger size is a
// damaged length field and must not turn into a huge allocation.
constexpr size_t kMaxValueSize = size_t{1} << 30;

template <class T>
T Load(const uint8_t* p) {
    T value;
    std::memcpy(&value, p, sizeof value);
    return value;
}

size_t FixedSize(ULONG type) {
    switch (type) {
        case PT_I2:
            return 2;
        case PT_LONG:
        case PT_R4:
        case PT_ERROR:
            return 4;
        case PT_BOOLEAN:
            return 1;
        case PT_DOUBLE:
        case PT_CURRENCY:
        case PT_APPTIME:
        case PT_I8:
        case PT_SYSTIME:
            return 8;
        case PT_CLSID:
            return 16;
        default:
            return 0;
    }
}

bool KnownType(ULONG type) {
    switch (type) {
        case PT_I2:
        case PT_LONG:
        case PT_R4:
        case PT_DOUBLE:
        case PT_CURRENCY:
        case PT_APPTIME:
        case PT_ERROR:
        case PT_BOOLEAN:
        case PT_OBJECT:
        case PT_I8:
        case PT_STRING8:
        case PT_UNICODE:
        case PT_SYSTIME:
        case PT_CLSID:
        case PT_BINARY:
            return true;
        default:
            return false;
    }
}

// Where each value of a multi-valued property lies in its stored bytes
// ([MS-PST] 2.3.3.4): fixed-width values one after another; strings and
// binaries as a count, an offset per value from the start, then the
// values. False when the bytes do not have that shape.
bool SplitMultiple(ULONG base, const std::vector<uint8_t>& bytes,
                   std::vector<std::pair<size_t, size_t>>* parts) {
    parts->clear();
    if (size_t width = FixedSize(base); width > 0) {
        if (bytes.size() % width != 0) return false;
        for (size_t at = 0; at < bytes.size(); at += width) parts->push_back({at, width});
        return true;
    }
    if (base != PT_STRING8 && base != PT_UNICODE && base != PT_BINARY) return false;
    if (bytes.empty()) return true;  // no values at all
    if (bytes.size() < 4) return false;
    size_t count = Load<uint32_t>(bytes.data());
    if (count > (bytes.size() - 4) / 4) return false;
    size_t previous = 4 + 4 * count;
    for (size_t i = 0; i < count; ++i) {
        size_t start = Load<uint32_t>(bytes.data() + 4 + 4 * i);
        size_t end = i + 1 < count ? Load<uint32_t>(bytes.data() + 8 + 4 * i) : bytes.size();
        if (start < previous || end < start || end > bytes.size()) return false;
        parts->push_back({start, end - start});
        previous = start;
    }
    return true;
}

// Places the values of a multi-valued property, each decoded from its part
// of the stored bytes, into an array of the union member's type.
template <class Elem>
HRESULT DecodeMulti(const std::vector<uint8_t>& bytes,
                    const std::vector<std::pair<size_t, size_t>>& parts, ULONG type,
                    uint32_t codepage, ValueArena& arena, ULONG* cValues, Elem** values,
                    Elem _PV::*member) {
    auto* array =
        static_cast<Elem*>(arena.Allocate(sizeof(Elem) * (parts.empty() ? 1 : parts.size())));
    for (size_t i = 0; i < parts.size(); ++i) {
        _PV single{};
        HRESULT hr = DecodeSingle(type, bytes.data() + parts[i].first, parts[i].second, codepage,
                                  arena, &single);
        if (hr != S_OK) return hr;
        array[i] = single.*member;
    }
    *cValues = static_cast<ULONG>(parts.size());
    *values = array;
    return S_OK;
}

}  // namespace

void* ValueArena::Allocate(size_t size) {
    blocks_.push_back(std::make_unique<uint8_t[]>(size == 0 ? 1 : size));
    return blocks_.back().get();
}

void* ValueArena::Copy(const void* data, size_t size) {
    void* block = Allocate(size);
    if (size > 0) std::memcpy(block, data, size);
    return block;
}

ULONG PlatformType(uint32_t valueType) {
    ULONG base = valueType & ~MV_FLAG;
    if (!KnownType(base) || (base == PT_OBJECT && (valueType & MV_FLAG) != 0)) return PT_BINARY;
    return valueType & (MV_FLAG | PROP_TYPE_MASK);
}

HRESULT DecodeSingle(ULONG type, const uint8_t* data, size_t size, uint32_t codepage,
                     ValueArena& arena, _PV* out) {
    size_t need = FixedSize(type);
    if (need > 0 && (data == nullptr || size < need)) return MAPI_E_CORRUPT_DATA;
    switch (type) {
        case PT_I2:
            out->i = Load<int16_t>(data);
            return S_OK;
        case PT_LONG:
            out->l = Load<int32_t>(data);
            return S_OK;
        case PT_ERROR:
            out->err = Load<int32_t>(data);
            return S_OK;
        case PT_R4:
            out->flt = Load<float>(data);
            return S_OK;
        case PT_BOOLEAN:
            out->b = data[0] != 0 ? 1 : 0;
            return S_OK;
        case PT_DOUBLE:
            out->dbl = Load<double>(data);
            return S_OK;
        case PT_APPTIME:
            out->at = Load<double>(data);
            return S_OK;
        case PT_CURRENCY:
            out->cur.int64 = Load<int64_t>(data);
            return S_OK;
        case PT_I8:
            out->li.QuadPart = Load<int64_t>(data);
            return S_OK;
        case PT_SYSTIME: {
            uint64_t t = Load<uint64_t>(data);
            out->ft.dwLowDateTime = static_cast<uint32_t>(t);
            out->ft.dwHighDateTime = static_cast<uint32_t>(t >> 32);
            return S_OK;
        }
        case PT_CLSID:
            out->lpguid = static_cast<GUID*>(arena.Copy(data, 16));
            return S_OK;
        case PT_OBJECT:
            out->x = 0;
            return S_OK;
        case PT_BINARY:
            out->bin.cb = static_cast<ULONG>(size);
            out->bin.lpb = static_cast<BYTE*>(arena.Copy(data, size));
            return S_OK;
        case PT_UNICODE: {
            size_t chars = size / 2;
            auto* text = static_cast<char16_t*>(arena.Allocate((chars + 1) * 2));
            for (size_t i = 0; i < chars; ++i)
                text[i] = static_cast<char16_t>(data[2 * i] | (data[2 * i + 1] << 8));
            text[chars] = 0;
            // A stored terminator is not part of the text.
            while (chars > 0 && text[chars - 1] == 0) text[--chars] = 0;
            out->lpszW = text;
            return S_OK;
        }
        case PT_STRING8: {
            while (size > 0 && data[size - 1] == 0) --size;
            std::string utf8 = DecodeCodepage(data, size, codepage);
            auto* text = static_cast<char*>(arena.Copy(utf8.c_str(), utf8.size() + 1));
            out->lpszA = text;
            return S_OK;
        }
        default:
            return MAPI_E_CORRUPT_DATA;
    }
}

int SplitSubject(const SPropValue& stored, ValueArena& arena, SPropValue parts[3]) {
    parts[0] = stored;
    ULONG type = PROP_TYPE(stored.ulPropTag);
    if ((type != PT_UNICODE && type != PT_STRING8) || stored.Value.lpszA == nullptr) return 1;
    // Characters as the file counted them: UTF-16 units of a Unicode value,
    // characters of the code page (each one code point now) of an 8-bit one.
    std::u32string chars;
    std::u16string units;
    size_t length = 0;
    unsigned c0 = 0, c1 = 0;
    if (type == PT_UNICODE) {
        units = stored.Value.lpszW;
        length = units.size();
        if (length > 1) c0 = units[0], c1 = units[1];
    } else {
        chars = CodePointsFromUtf8(stored.Value.lpszA);
        length = chars.size();
        if (length > 1) c0 = chars[0], c1 = chars[1];
    }
    fmt::StoredSubject s = fmt::ParseStoredSubject(c0, c1, length);
    if (!s.marked) return 1;
    auto place = [&](ULONG id, size_t from, size_t to) {
        SPropValue v{};
        v.ulPropTag = PROP_TAG(type, id);
        if (type == PT_UNICODE) {
            std::u16string part = units.substr(from, to - from);
            v.Value.lpszW = static_cast<WCHAR*>(arena.Copy(part.c_str(), (part.size() + 1) * sizeof(char16_t)));
        } else {
            std::string part;
            for (size_t i = from; i < to; ++i) AppendUtf8(part, chars[i]);
            v.Value.lpszA = static_cast<char*>(arena.Copy(part.c_str(), part.size() + 1));
        }
        return v;
    };
    size_t split = s.textStart + s.prefixLength;
    parts[0] = place(PROP_ID(stored.ulPropTag), s.textStart, length);
    parts[1] = place(kIdSubjectPrefix, s.textStart, split);
    parts[2] = place(kIdNormalizedSubject, split, length);
    return 3;
}

HRESULT ReadEntryValue(libpff_record_entry_t* entry, ULONG propId, uint32_t valueType,
                       uint32_t codepage, ValueArena& arena, SPropValue* out) {
    ULONG type = PlatformType(valueType);
    SPropValue value{};
    value.ulPropTag = PROP_TAG(type, propId);

    size_t size = 0;
    PffError error;
    if (libpff_record_entry_get_data_size(entry, &size, error.Ptr()) != 1 || size > kMaxValueSize)
        return MAPI_E_CORRUPT_DATA;
    std::vector<uint8_t> bytes(size);
    if (size > 0 && libpff_record_entry_get_data(entry, bytes.data(), size, error.Ptr()) != 1)
        return MAPI_E_CORRUPT_DATA;
    // Multi-valued values are decoded from the stored bytes here: libpff's
    // own reading of them loses the values of strings and binaries and
    // refuses the floating point types.
    if ((type & MV_FLAG) != 0) {
        ULONG base = type & ~MV_FLAG;
        std::vector<std::pair<size_t, size_t>> parts;
        if (!SplitMultiple(base, bytes, &parts)) return MAPI_E_CORRUPT_DATA;
        HRESULT hr = MAPI_E_CORRUPT_DATA;
        _PV& v = value.Value;
        switch (base) {
            case PT_I2:
                hr = DecodeMulti(bytes, parts, base, codepage, arena, &v.MVi.cValues, &v.MVi.lpi,
                                 &_PV::i);
                break;
            case PT_LONG:
                hr = DecodeMulti(bytes, parts, base, codepage, arena, &v.MVl.cValues, &v.MVl.lpl,
                                 &_PV::l);
                break;
            case PT_R4:
                hr = DecodeMulti(bytes, parts, base, codepage, arena, &v.MVflt.cValues,
                                 &v.MVflt.lpflt, &_PV::flt);
                break;
            case PT_DOUBLE:
                hr = DecodeMulti(bytes, parts, base, codepage, arena, &v.MVdbl.cValues,
                                 &v.MVdbl.lpdbl, &_PV::dbl);
                break;
            case PT_APPTIME:
                hr = DecodeMulti(bytes, parts, base, codepage, arena, &v.MVat.cValues, &v.MVat.lpat,
                                 &_PV::at);
                break;
            case PT_CURRENCY:
                hr = DecodeMulti(bytes, parts, base, codepage, arena, &v.MVcur.cValues,
                                 &v.MVcur.lpcur, &_PV::cur);
                break;
            case PT_I8:
                hr = DecodeMulti(bytes, parts, base, codepage, arena, &v.MVli.cValues, &v.MVli.lpli,
                                 &_PV::li);
                break;
            case PT_SYSTIME:
                hr = DecodeMulti(bytes, parts, base, codepage, arena, &v.MVft.cValues, &v.MVft.lpft,
                                 &_PV::ft);
                break;
            case PT_STRING8:
                hr = DecodeMulti(bytes, parts, base, codepage, arena, &v.MVszA.cValues,
                                 &v.MVszA.lppszA, &_PV::lpszA);
                break;
            case PT_UNICODE:
                hr = DecodeMulti(bytes, parts, base, codepage, arena, &v.MVszW.cValues,
                                 &v.MVszW.lppszW, &_PV::lpszW);
                break;
            case PT_BINARY:
                hr = DecodeMulti(bytes, parts, base, codepage, arena, &v.MVbin.cValues,
                                 &v.MVbin.lpbin, &_PV::bin);
                break;
            case PT_CLSID: {
                // Multi-valued GUIDs are an array of GUIDs, not of pointers.
                auto* guids = static_cast<GUID*>(
                    arena.Allocate(sizeof(GUID) * (parts.empty() ? 1 : parts.size())));
                for (size_t i = 0; i < parts.size(); ++i)
                    std::memcpy(&guids[i], bytes.data() + parts[i].first, 16);
                v.MVguid.cValues = static_cast<ULONG>(parts.size());
                v.MVguid.lpguid = guids;
                hr = S_OK;
                break;
            }
            default:
                break;
        }
        if (hr != S_OK) return hr;
        *out = value;
        return S_OK;
    }
    HRESULT hr = DecodeSingle(type, bytes.data(), size, codepage, arena, &value.Value);
    if (hr != S_OK) return hr;
    *out = value;
    return S_OK;
}

}  // namespace mapi::pst
