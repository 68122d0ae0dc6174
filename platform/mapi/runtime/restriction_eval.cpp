// The restriction evaluator: decides per row whether it satisfies a
// restriction tree, with the comparison rules every provider shares.
#include "restriction_eval.h"

#include <string_view>
#include <type_traits>

#include <algorithm>
#include <cstring>
#include <string>

#include <mapitags.h>

#include "utf.h"
#include "value_compare.h"

namespace mapi {

namespace {

// Deeper trees than this are refused rather than risk the stack.
constexpr int kMaxDepth = 512;

bool IsMvType(ULONG type) {
    return (type & MV_FLAG) != 0;
}

// The value of tag's property in row, or null when it is missing or
// unreadable (a damaged value counts as missing for every test).
const SPropValue* Present(RowAccessor& row, ULONG tag) {
    const SPropValue* v = row.GetById(PROP_ID(tag));
    if (v == nullptr || PROP_TYPE(v->ulPropTag) == PT_ERROR) return nullptr;
    return v;
}

template <class T>
int Order(const T& a, const T& b) {
    return a < b ? -1 : (b < a ? 1 : 0);
}

bool ApplyRelop(ULONG relop, int c) {
    switch (relop) {
        case RELOP_LT:
            return c < 0;
        case RELOP_LE:
            return c <= 0;
        case RELOP_GT:
            return c > 0;
        case RELOP_GE:
            return c >= 0;
        case RELOP_EQ:
            return c == 0;
        case RELOP_NE:
            return c != 0;
        default:
            return false;
    }
}

template <class S>
bool Matches(const S& value, const S& pattern, ULONG level) {
    switch (level) {
        case FL_FULLSTRING:
            return value == pattern;
        case FL_SUBSTRING:
            return value.find(pattern) != S::npos;
        case FL_PREFIX:
            return value.compare(0, pattern.size(), pattern) == 0;
        default:
            return false;
    }
}

// A string value's code units, when every one of them is ASCII.
template <class C>
bool AsciiUnits(const C* s, std::basic_string_view<C>* out) {
    size_t n = 0;
    for (; s != nullptr && s[n] != 0; ++n)
        if (static_cast<std::make_unsigned_t<C>>(s[n]) >= 0x80) return false;
    *out = std::basic_string_view<C>(s == nullptr ? nullptr : s, n);
    return true;
}

template <class A, class B>
bool AsciiMatches(std::basic_string_view<A> value, std::basic_string_view<B> pattern, bool fold,
                  ULONG level) {
    auto same = [fold](A a, B b) {
        char32_t x = static_cast<char32_t>(a), y = static_cast<char32_t>(b);
        if (fold) {
            if (x >= 'A' && x <= 'Z') x += 32;
            if (y >= 'A' && y <= 'Z') y += 32;
        }
        return x == y;
    };
    auto at = [&](size_t from) {
        for (size_t i = 0; i < pattern.size(); ++i)
            if (!same(value[from + i], pattern[i])) return false;
        return true;
    };
    switch (level) {
        case FL_FULLSTRING:
            return value.size() == pattern.size() && at(0);
        case FL_PREFIX:
            return value.size() >= pattern.size() && at(0);
        case FL_SUBSTRING:
            for (size_t from = 0; from + pattern.size() <= value.size(); ++from)
                if (at(from)) return true;
            return false;
        default:
            return false;
    }
}

// ASCII text on both sides, the common case, is matched where it lies: case
// folding touches only its letters and it has no marks to drop. False in
// *handled when either side is not ASCII.
template <class A>
bool AsciiContent(std::basic_string_view<A> value, const SPropValue& pattern, bool fold,
                  ULONG level, bool* handled) {
    std::string_view narrow;
    std::u16string_view wide;
    if (PROP_TYPE(pattern.ulPropTag) == PT_UNICODE ? AsciiUnits(pattern.Value.lpszW, &wide)
                                                   : AsciiUnits(pattern.Value.lpszA, &narrow)) {
        *handled = true;
        return PROP_TYPE(pattern.ulPropTag) == PT_UNICODE
                   ? AsciiMatches(value, wide, fold, level)
                   : AsciiMatches(value, narrow, fold, level);
    }
    *handled = false;
    return false;
}

bool ContentMatches(const SPropValue& value, const SPropValue& pattern, ULONG fuzzy) {
    const ValueClass c = ValueClassOf(PROP_TYPE(value.ulPropTag));
    if (c != ValueClassOf(PROP_TYPE(pattern.ulPropTag))) return false;
    const ULONG level = fuzzy & 0xFFFF;
    if (c == ValueClass::Binary) return Matches(BytesOf(value), BytesOf(pattern), level);
    if (c != ValueClass::String) return false;
    const bool fold = (fuzzy & (FL_IGNORECASE | FL_LOOSE)) != 0;
    const bool marks = (fuzzy & FL_IGNORENONSPACE) != 0;
    bool handled = false;
    std::string_view narrow;
    std::u16string_view wide;
    bool result = PROP_TYPE(value.ulPropTag) == PT_UNICODE
                      ? AsciiUnits(value.Value.lpszW, &wide) &&
                            AsciiContent(wide, pattern, fold, level, &handled)
                      : AsciiUnits(value.Value.lpszA, &narrow) &&
                            AsciiContent(narrow, pattern, fold, level, &handled);
    if (handled) return result;
    return Matches(PrepareForCompare(TextOf(value), fold, marks),
                   PrepareForCompare(TextOf(pattern), fold, marks), level);
}

// Bytes of one value as MAPI counts them for RES_SIZE.
unsigned long long SizeOf(const SPropValue& v) {
    switch (PROP_TYPE(v.ulPropTag)) {
        case PT_I2:
        case PT_BOOLEAN:
            return 2;
        case PT_LONG:
        case PT_R4:
        case PT_ERROR:
            return 4;
        case PT_DOUBLE:
        case PT_APPTIME:
        case PT_CURRENCY:
        case PT_I8:
        case PT_SYSTIME:
            return 8;
        case PT_CLSID:
            return sizeof(GUID);
        case PT_STRING8:
            return (v.Value.lpszA == nullptr ? 0 : std::strlen(v.Value.lpszA)) + 1;
        case PT_UNICODE: {
            size_t n = 0;
            while (v.Value.lpszW != nullptr && v.Value.lpszW[n] != 0) ++n;
            return (n + 1) * 2;
        }
        case PT_BINARY:
            return v.Value.bin.cb;
        default:
            return 0;
    }
}

unsigned long long TotalSize(const SPropValue& v) {
    unsigned long long total = 0;
    AnyValue(v, [&](const SPropValue& one) {
        total += SizeOf(one);
        return false;
    });
    return total;
}

bool IsRelop(ULONG relop) {
    return relop <= RELOP_NE;
}

// Comparable as RES_PROPERTY compares: same class, PT_UNSPECIFIED taking
// whatever the row holds.
bool Comparable(ULONG tagType, ULONG valueType) {
    if ((tagType & ~(MV_FLAG | MV_INSTANCE)) == PT_UNSPECIFIED) return true;
    return ValueClassOf(tagType) != ValueClass::None &&
           ValueClassOf(tagType) == ValueClassOf(valueType);
}

bool IsSubObject(ULONG tag) {
    return PROP_ID(tag) == PROP_ID(PR_MESSAGE_RECIPIENTS) ||
           PROP_ID(tag) == PROP_ID(PR_MESSAGE_ATTACHMENTS);
}

HRESULT ValidateRelop(ULONG relop) {
    if (relop == RELOP_RE) return MAPI_E_TOO_COMPLEX;
    return IsRelop(relop) ? S_OK : MAPI_E_INVALID_PARAMETER;
}

HRESULT Validate(const SRestriction* r, int depth) {
    if (r == nullptr) return MAPI_E_INVALID_PARAMETER;
    if (depth > kMaxDepth) return MAPI_E_TOO_COMPLEX;
    switch (r->rt) {
        case RES_AND:
        case RES_OR: {
            const SAndRestriction& list = r->res.resAnd;  // resOr has the same layout
            if (list.cRes > 0 && list.lpRes == nullptr) return MAPI_E_INVALID_PARAMETER;
            for (ULONG i = 0; i < list.cRes; ++i) {
                HRESULT hr = Validate(&list.lpRes[i], depth + 1);
                if (hr != S_OK) return hr;
            }
            return S_OK;
        }
        case RES_NOT:
            return Validate(r->res.resNot.lpRes, depth + 1);
        case RES_CONTENT: {
            const SContentRestriction& c = r->res.resContent;
            if (c.lpProp == nullptr) return MAPI_E_INVALID_PARAMETER;
            const ULONG valueType = PROP_TYPE(c.lpProp->ulPropTag);
            const ValueClass vc = ValueClassOf(valueType);
            if (IsMvType(valueType) || (vc != ValueClass::String && vc != ValueClass::Binary))
                return MAPI_E_TOO_COMPLEX;
            if (!Comparable(PROP_TYPE(c.ulPropTag), valueType)) return MAPI_E_TOO_COMPLEX;
            if ((c.ulFuzzyLevel & 0xFFFF) > FL_PREFIX) return MAPI_E_TOO_COMPLEX;
            return S_OK;
        }
        case RES_PROPERTY: {
            const SPropertyRestriction& p = r->res.resProperty;
            if (p.lpProp == nullptr) return MAPI_E_INVALID_PARAMETER;
            HRESULT hr = ValidateRelop(p.relop);
            if (hr != S_OK) return hr;
            const ULONG valueType = PROP_TYPE(p.lpProp->ulPropTag);
            if (IsMvType(valueType) || ValueClassOf(valueType) == ValueClass::None)
                return MAPI_E_TOO_COMPLEX;
            return Comparable(PROP_TYPE(p.ulPropTag), valueType) ? S_OK : MAPI_E_TOO_COMPLEX;
        }
        case RES_COMPAREPROPS: {
            const SComparePropsRestriction& p = r->res.resCompareProps;
            HRESULT hr = ValidateRelop(p.relop);
            if (hr != S_OK) return hr;
            const ULONG t1 = PROP_TYPE(p.ulPropTag1), t2 = PROP_TYPE(p.ulPropTag2);
            if (t1 != PT_UNSPECIFIED && ValueClassOf(t1) == ValueClass::None)
                return MAPI_E_TOO_COMPLEX;
            if (t2 != PT_UNSPECIFIED && ValueClassOf(t2) == ValueClass::None)
                return MAPI_E_TOO_COMPLEX;
            if (t1 != PT_UNSPECIFIED && t2 != PT_UNSPECIFIED &&
                ValueClassOf(t1) != ValueClassOf(t2))
                return MAPI_E_TOO_COMPLEX;
            return S_OK;
        }
        case RES_BITMASK: {
            const SBitMaskRestriction& b = r->res.resBitMask;
            if (b.relBMR != BMR_EQZ && b.relBMR != BMR_NEZ) return MAPI_E_INVALID_PARAMETER;
            const ULONG t = PROP_TYPE(b.ulPropTag) & ~(MV_FLAG | MV_INSTANCE);
            return (t == PT_LONG || t == PT_UNSPECIFIED) ? S_OK : MAPI_E_TOO_COMPLEX;
        }
        case RES_SIZE:
            return ValidateRelop(r->res.resSize.relop);
        case RES_EXIST:
        case RES_COMMENT:
            return S_OK;
        case RES_SUBRESTRICTION:
            if (!IsSubObject(r->res.resSub.ulSubObject)) return MAPI_E_TOO_COMPLEX;
            return Validate(r->res.resSub.lpRes, depth + 1);
        default:
            return MAPI_E_INVALID_PARAMETER;
    }
}

bool Evaluate(const SRestriction& r, RowAccessor& row) {
    switch (r.rt) {
        case RES_AND:
            for (ULONG i = 0; i < r.res.resAnd.cRes; ++i)
                if (!Evaluate(r.res.resAnd.lpRes[i], row)) return false;
            return true;
        case RES_OR:
            for (ULONG i = 0; i < r.res.resOr.cRes; ++i)
                if (Evaluate(r.res.resOr.lpRes[i], row)) return true;
            return false;
        case RES_NOT:
            return !Evaluate(*r.res.resNot.lpRes, row);
        case RES_CONTENT: {
            const SContentRestriction& c = r.res.resContent;
            const SPropValue* v = Present(row, c.ulPropTag);
            return v != nullptr && AnyValue(*v, [&](const SPropValue& one) {
                       return ContentMatches(one, *c.lpProp, c.ulFuzzyLevel);
                   });
        }
        case RES_PROPERTY: {
            const SPropertyRestriction& p = r.res.resProperty;
            const SPropValue* v = Present(row, p.ulPropTag);
            return v != nullptr && AnyValue(*v, [&](const SPropValue& one) {
                       int c = 0;
                       return CompareValues(one, *p.lpProp, &c) && ApplyRelop(p.relop, c);
                   });
        }
        case RES_COMPAREPROPS: {
            const SComparePropsRestriction& p = r.res.resCompareProps;
            const SPropValue* a = Present(row, p.ulPropTag1);
            if (a == nullptr) return false;
            const SPropValue* b = Present(row, p.ulPropTag2);
            int c = 0;
            return b != nullptr && CompareValues(*a, *b, &c) && ApplyRelop(p.relop, c);
        }
        case RES_BITMASK: {
            const SBitMaskRestriction& m = r.res.resBitMask;
            const SPropValue* v = Present(row, m.ulPropTag);
            return v != nullptr && AnyValue(*v, [&](const SPropValue& one) {
                       if (PROP_TYPE(one.ulPropTag) != PT_LONG) return false;
                       const bool zero = (static_cast<ULONG>(one.Value.l) & m.ulMask) == 0;
                       return m.relBMR == BMR_EQZ ? zero : !zero;
                   });
        }
        case RES_SIZE: {
            const SPropValue* v = Present(row, r.res.resSize.ulPropTag);
            return v != nullptr &&
                   ApplyRelop(r.res.resSize.relop,
                              Order<unsigned long long>(TotalSize(*v), r.res.resSize.cb));
        }
        case RES_EXIST: {
            const SPropValue* v = row.GetById(PROP_ID(r.res.resExist.ulPropTag));
            return v != nullptr &&
                   !(PROP_TYPE(v->ulPropTag) == PT_ERROR && v->Value.err == MAPI_E_NOT_FOUND);
        }
        case RES_SUBRESTRICTION: {
            std::vector<std::unique_ptr<RowAccessor>> rows;
            if (FAILED(row.SubRows(r.res.resSub.ulSubObject, &rows))) return false;
            return std::any_of(rows.begin(), rows.end(), [&](auto& sub) {
                return sub != nullptr && Evaluate(*r.res.resSub.lpRes, *sub);
            });
        }
        case RES_COMMENT:
            return true;
        default:
            return false;
    }
}

}  // namespace

HRESULT ValidateRestriction(const SRestriction* restriction) {
    return Validate(restriction, 0);
}

bool EvaluateRestriction(const SRestriction& restriction, RowAccessor& row) {
    return Evaluate(restriction, row);
}

}  // namespace mapi
