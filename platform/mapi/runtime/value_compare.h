// Comparison of property values, shared by the restriction evaluator and
// table sorting so that both order values alike.
//
// Classes: numbers (integers, booleans, currency and reals, compared by
// value), PT_SYSTIME (unsigned 64-bit), strings (PT_STRING8 and PT_UNICODE,
// by code point after simple case folding), binary and PT_CLSID (bytewise,
// the shorter first on a common prefix). Values of different classes do not
// compare.
#pragma once

#include <string>

#include <mapidefs.h>

namespace mapi {

enum class ValueClass { None, Number, Time, String, Binary, Guid };

// The class of a property type; the multi-valued flag is ignored.
ValueClass ValueClassOf(ULONG type);

// Text of a PT_STRING8 or PT_UNICODE value as code points; a null pointer
// reads as empty.
std::u32string TextOf(const SPropValue& v);
// Bytes of a PT_BINARY or PT_CLSID value.
std::basic_string_view<BYTE> BytesOf(const SPropValue& v);

// Orders two single values: *result < 0, 0 or > 0. False when they cannot
// be compared (different classes, multi-valued, or no comparable class).
bool CompareValues(const SPropValue& a, const SPropValue& b, int* result);

// Calls f with each single value of v (v itself, or each element of a
// multi-valued v under the single-valued type) until f returns true.
// Returns whether it did.
template <class F>
bool AnyValue(const SPropValue& v, F f);

// An owned, comparable form of a value, for sorting many rows without
// keeping their values. A missing or unreadable value sorts first.
struct ValueKey {
    ValueClass cls = ValueClass::None;
    bool real = false;
    long long integer = 0;
    double number = 0;
    unsigned long long time = 0;
    std::u32string text;
    std::basic_string<BYTE> bytes;
};
// The key of v (null for missing); a multi-valued value sorts by its first
// element.
ValueKey MakeKey(const SPropValue* v);
int CompareKeys(const ValueKey& a, const ValueKey& b);

// ---------------------------------------------------------------------------

template <class F>
bool AnyValue(const SPropValue& v, F f) {
    const ULONG type = PROP_TYPE(v.ulPropTag) & ~MV_INSTANCE;
    if ((type & MV_FLAG) == 0) return f(v);
    SPropValue one{};
    one.ulPropTag = CHANGE_PROP_TYPE(v.ulPropTag, type & ~MV_FLAG);
    const ULONG n = v.Value.MVl.cValues;  // every multi-valued array starts with its count
    for (ULONG i = 0; i < n; ++i) {
        switch (type) {
            case PT_MV_I2:
                one.Value.i = v.Value.MVi.lpi[i];
                break;
            case PT_MV_LONG:
                one.Value.l = v.Value.MVl.lpl[i];
                break;
            case PT_MV_R4:
                one.Value.flt = v.Value.MVflt.lpflt[i];
                break;
            case PT_MV_DOUBLE:
                one.Value.dbl = v.Value.MVdbl.lpdbl[i];
                break;
            case PT_MV_CURRENCY:
                one.Value.cur = v.Value.MVcur.lpcur[i];
                break;
            case PT_MV_APPTIME:
                one.Value.at = v.Value.MVat.lpat[i];
                break;
            case PT_MV_SYSTIME:
                one.Value.ft = v.Value.MVft.lpft[i];
                break;
            case PT_MV_I8:
                one.Value.li = v.Value.MVli.lpli[i];
                break;
            case PT_MV_CLSID:
                one.Value.lpguid = &v.Value.MVguid.lpguid[i];
                break;
            case PT_MV_STRING8:
                one.Value.lpszA = v.Value.MVszA.lppszA[i];
                break;
            case PT_MV_UNICODE:
                one.Value.lpszW = v.Value.MVszW.lppszW[i];
                break;
            case PT_MV_BINARY:
                one.Value.bin = v.Value.MVbin.lpbin[i];
                break;
            default:
                return false;
        }
        if (f(one)) return true;
    }
    return false;
}

}  // namespace mapi
