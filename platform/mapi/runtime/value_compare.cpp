// Comparison of property values for restrictions and sorting.
#include "value_compare.h"

#include "utf.h"

namespace mapi {

namespace {

bool IsRealType(ULONG type) {
    return type == PT_R4 || type == PT_DOUBLE || type == PT_APPTIME;
}

long long IntegerOf(const SPropValue& v) {
    switch (PROP_TYPE(v.ulPropTag)) {
        case PT_I2:
            return v.Value.i;
        case PT_LONG:
            return v.Value.l;
        case PT_I8:
            return v.Value.li.QuadPart;
        case PT_BOOLEAN:
            return v.Value.b != 0 ? 1 : 0;
        case PT_CURRENCY:
            return v.Value.cur.int64;
        default:
            return 0;
    }
}

double RealOf(const SPropValue& v) {
    switch (PROP_TYPE(v.ulPropTag)) {
        case PT_R4:
            return v.Value.flt;
        case PT_DOUBLE:
            return v.Value.dbl;
        case PT_APPTIME:
            return v.Value.at;
        default:
            return static_cast<double>(IntegerOf(v));
    }
}

unsigned long long TimeOf(const SPropValue& v) {
    return (static_cast<unsigned long long>(v.Value.ft.dwHighDateTime) << 32) |
           v.Value.ft.dwLowDateTime;
}

template <class T>
int Order(const T& a, const T& b) {
    return a < b ? -1 : (b < a ? 1 : 0);
}

}  // namespace

ValueClass ValueClassOf(ULONG type) {
    switch (type & ~(MV_FLAG | MV_INSTANCE)) {
        case PT_I2:
        case PT_LONG:
        case PT_I8:
        case PT_BOOLEAN:
        case PT_CURRENCY:
        case PT_R4:
        case PT_DOUBLE:
        case PT_APPTIME:
            return ValueClass::Number;
        case PT_SYSTIME:
            return ValueClass::Time;
        case PT_STRING8:
        case PT_UNICODE:
            return ValueClass::String;
        case PT_BINARY:
            return ValueClass::Binary;
        case PT_CLSID:
            return ValueClass::Guid;
        default:
            return ValueClass::None;
    }
}

std::u32string TextOf(const SPropValue& v) {
    if (PROP_TYPE(v.ulPropTag) == PT_UNICODE) {
        const WCHAR* s = v.Value.lpszW;
        size_t n = 0;
        while (s != nullptr && s[n] != 0) ++n;
        return CodePointsFromUtf16(std::u16string_view(s == nullptr ? u"" : s, n));
    }
    return CodePointsFromUtf8(v.Value.lpszA == nullptr ? "" : v.Value.lpszA);
}

std::basic_string_view<BYTE> BytesOf(const SPropValue& v) {
    if (PROP_TYPE(v.ulPropTag) == PT_CLSID) {
        if (v.Value.lpguid == nullptr) return {};
        return {reinterpret_cast<const BYTE*>(v.Value.lpguid), sizeof(GUID)};
    }
    if (v.Value.bin.lpb == nullptr) return {};
    return {v.Value.bin.lpb, v.Value.bin.cb};
}

bool CompareValues(const SPropValue& a, const SPropValue& b, int* result) {
    const ULONG ta = PROP_TYPE(a.ulPropTag), tb = PROP_TYPE(b.ulPropTag);
    if (((ta | tb) & MV_FLAG) != 0) return false;
    const ValueClass ca = ValueClassOf(ta);
    if (ca != ValueClassOf(tb)) return false;
    switch (ca) {
        case ValueClass::Number:
            if (IsRealType(ta) || IsRealType(tb))
                *result = Order(RealOf(a), RealOf(b));
            else
                *result = Order(IntegerOf(a), IntegerOf(b));
            return true;
        case ValueClass::Time:
            *result = Order(TimeOf(a), TimeOf(b));
            return true;
        case ValueClass::String: {
            const int c = PrepareForCompare(TextOf(a), true, false)
                              .compare(PrepareForCompare(TextOf(b), true, false));
            *result = Order(c, 0);
            return true;
        }
        case ValueClass::Binary:
        case ValueClass::Guid:
            *result = Order(BytesOf(a).compare(BytesOf(b)), 0);
            return true;
        case ValueClass::None:
            break;
    }
    return false;
}

ValueKey MakeKey(const SPropValue* v) {
    ValueKey key;
    if (v == nullptr || PROP_TYPE(v->ulPropTag) == PT_ERROR) return key;
    AnyValue(*v, [&](const SPropValue& one) {
        const ULONG type = PROP_TYPE(one.ulPropTag);
        key.cls = ValueClassOf(type);
        switch (key.cls) {
            case ValueClass::Number:
                key.real = IsRealType(type);
                key.integer = IntegerOf(one);
                key.number = RealOf(one);
                break;
            case ValueClass::Time:
                key.time = TimeOf(one);
                break;
            case ValueClass::String:
                key.text = PrepareForCompare(TextOf(one), true, false);
                break;
            case ValueClass::Binary:
            case ValueClass::Guid:
                key.bytes = BytesOf(one);
                break;
            case ValueClass::None:
                break;
        }
        return true;  // the first value decides
    });
    return key;
}

int CompareKeys(const ValueKey& a, const ValueKey& b) {
    if (a.cls != b.cls) return Order(static_cast<int>(a.cls), static_cast<int>(b.cls));
    switch (a.cls) {
        case ValueClass::Number:
            if (a.real || b.real) return Order(a.number, b.number);
            return Order(a.integer, b.integer);
        case ValueClass::Time:
            return Order(a.time, b.time);
        case ValueClass::String:
            return Order(a.text.compare(b.text), 0);
        case ValueClass::Binary:
        case ValueClass::Guid:
            return Order(a.bytes.compare(b.bytes), 0);
        case ValueClass::None:
            break;
    }
    return 0;
}

}  // namespace mapi
