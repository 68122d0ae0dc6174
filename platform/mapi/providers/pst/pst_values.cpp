// Conversion of stored value bytes (little-endian, as the file keeps them)
// into SPropValue members.
#include "providers/pst/pst_values.h"

#include <cstring>
#include <string>

#include "providers/pst/pst_codepage.h"

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

// Places the values of a multi-valued property: count elements of elemSize
// bytes, each decoded from one stored value.
template <class Elem>
HRESULT DecodeMulti(libpff_multi_value_t* mv, int count, ULONG type, uint32_t codepage,
                    ValueArena& arena, ULONG* cValues, Elem** values, Elem _PV::*member) {
    auto* array = static_cast<Elem*>(arena.Allocate(sizeof(Elem) * (count > 0 ? count : 1)));
    for (int i = 0; i < count; ++i) {
        uint32_t storedType = 0;
        uint8_t* data = nullptr;
        size_t size = 0;
        PffError error;
        if (libpff_multi_value_get_value(mv, i, &storedType, &data, &size, error.Ptr()) != 1)
            return MAPI_E_CORRUPT_DATA;
        _PV single{};
        HRESULT hr = DecodeSingle(type, data, size, codepage, arena, &single);
        if (hr != S_OK) return hr;
        array[i] = single.*member;
    }
    *cValues = static_cast<ULONG>(count);
    *values = array;
    return S_OK;
}

constexpr ULONG kIdSubject = 0x0037;

// The file keeps a subject with a prefix ("RE: ") as 0x01, the prefix length,
// then the text; MAPI hands out the text alone.
void StripSubjectMarker(SPropValue* value) {
    if (PROP_TYPE(value->ulPropTag) == PT_UNICODE) {
        WCHAR* text = value->Value.lpszW;
        if (text[0] == 1 && text[1] != 0) value->Value.lpszW = text + 2;
    } else if (PROP_TYPE(value->ulPropTag) == PT_STRING8) {
        char* text = value->Value.lpszA;
        if (text[0] == 1 && text[1] != 0) value->Value.lpszA = text + 2;
    }
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

HRESULT ReadEntryValue(libpff_record_entry_t* entry, ULONG propId, uint32_t valueType,
                       uint32_t codepage, ValueArena& arena, SPropValue* out) {
    ULONG type = PlatformType(valueType);
    SPropValue value{};
    value.ulPropTag = PROP_TAG(type, propId);

    if ((type & MV_FLAG) != 0) {
        MultiValueHandle mv;
        {
            libpff_multi_value_t* raw = nullptr;
            PffError error;
            if (libpff_record_entry_get_multi_value(entry, &raw, error.Ptr()) != 1)
                return MAPI_E_CORRUPT_DATA;
            mv.reset(raw);
        }
        int count = 0;
        PffError error;
        if (libpff_multi_value_get_number_of_values(mv.get(), &count, error.Ptr()) != 1 ||
            count < 0)
            return MAPI_E_CORRUPT_DATA;
        ULONG base = type & ~MV_FLAG;
        HRESULT hr = MAPI_E_CORRUPT_DATA;
        _PV& v = value.Value;
        switch (base) {
            case PT_I2:
                hr = DecodeMulti(mv.get(), count, base, codepage, arena, &v.MVi.cValues, &v.MVi.lpi,
                                 &_PV::i);
                break;
            case PT_LONG:
                hr = DecodeMulti(mv.get(), count, base, codepage, arena, &v.MVl.cValues, &v.MVl.lpl,
                                 &_PV::l);
                break;
            case PT_R4:
                hr = DecodeMulti(mv.get(), count, base, codepage, arena, &v.MVflt.cValues,
                                 &v.MVflt.lpflt, &_PV::flt);
                break;
            case PT_DOUBLE:
                hr = DecodeMulti(mv.get(), count, base, codepage, arena, &v.MVdbl.cValues,
                                 &v.MVdbl.lpdbl, &_PV::dbl);
                break;
            case PT_APPTIME:
                hr = DecodeMulti(mv.get(), count, base, codepage, arena, &v.MVat.cValues,
                                 &v.MVat.lpat, &_PV::at);
                break;
            case PT_CURRENCY:
                hr = DecodeMulti(mv.get(), count, base, codepage, arena, &v.MVcur.cValues,
                                 &v.MVcur.lpcur, &_PV::cur);
                break;
            case PT_I8:
                hr = DecodeMulti(mv.get(), count, base, codepage, arena, &v.MVli.cValues,
                                 &v.MVli.lpli, &_PV::li);
                break;
            case PT_SYSTIME:
                hr = DecodeMulti(mv.get(), count, base, codepage, arena, &v.MVft.cValues,
                                 &v.MVft.lpft, &_PV::ft);
                break;
            case PT_STRING8:
                hr = DecodeMulti(mv.get(), count, base, codepage, arena, &v.MVszA.cValues,
                                 &v.MVszA.lppszA, &_PV::lpszA);
                break;
            case PT_UNICODE:
                hr = DecodeMulti(mv.get(), count, base, codepage, arena, &v.MVszW.cValues,
                                 &v.MVszW.lppszW, &_PV::lpszW);
                break;
            case PT_BINARY:
                hr = DecodeMulti(mv.get(), count, base, codepage, arena, &v.MVbin.cValues,
                                 &v.MVbin.lpbin, &_PV::bin);
                break;
            case PT_CLSID: {
                // Multi-valued GUIDs are an array of GUIDs, not of pointers.
                auto* guids =
                    static_cast<GUID*>(arena.Allocate(sizeof(GUID) * (count > 0 ? count : 1)));
                hr = S_OK;
                for (int i = 0; i < count && hr == S_OK; ++i) {
                    uint32_t storedType = 0;
                    uint8_t* data = nullptr;
                    size_t size = 0;
                    PffError e;
                    if (libpff_multi_value_get_value(mv.get(), i, &storedType, &data, &size,
                                                     e.Ptr()) != 1 ||
                        size < 16)
                        hr = MAPI_E_CORRUPT_DATA;
                    else
                        std::memcpy(&guids[i], data, 16);
                }
                v.MVguid.cValues = static_cast<ULONG>(count);
                v.MVguid.lpguid = guids;
                break;
            }
            default:
                break;
        }
        if (hr != S_OK) return hr;
        *out = value;
        return S_OK;
    }

    size_t size = 0;
    PffError error;
    if (libpff_record_entry_get_data_size(entry, &size, error.Ptr()) != 1 || size > kMaxValueSize)
        return MAPI_E_CORRUPT_DATA;
    std::vector<uint8_t> bytes(size);
    if (size > 0 && libpff_record_entry_get_data(entry, bytes.data(), size, error.Ptr()) != 1)
        return MAPI_E_CORRUPT_DATA;
    HRESULT hr = DecodeSingle(type, bytes.data(), size, codepage, arena, &value.Value);
    if (hr != S_OK) return hr;
    if (propId == kIdSubject) StripSubjectMarker(&value);
    *out = value;
    return S_OK;
}

}  // namespace mapi::pst
