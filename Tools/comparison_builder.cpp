// One comparison: which side is the property, which restriction kind the
// operands ask for, and the constant as a property value of the right type.
#include <charconv>
#include <climits>
#include <cstring>

#include <runtime/prop_convert.h>

#include "MapiBinary.h"
#include "query_date.h"
#include "query_number.h"
#include "restriction_compiler.h"

namespace {

bool IsHexDigit(char c) {
    return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f');
}

double LeadingReal(const std::string& text) {
    double value = 0;
    const char* begin = text.data();
    while (begin != text.data() + text.size() && *begin == '+') ++begin;
    std::from_chars(begin, text.data() + text.size(), value);
    return value;
}

std::string TypeName(ULONG type) {
    switch (type) {
        case PT_NULL:
            return "PT_NULL";
        case PT_R4:
            return "PT_R4";
        case PT_CURRENCY:
            return "PT_CURRENCY";
        case PT_APPTIME:
            return "PT_APPTIME";
        case PT_ERROR:
            return "PT_ERROR";
        case PT_OBJECT:
            return "PT_OBJECT";
        case PT_UNSPECIFIED:
            return "PT_UNSPECIFIED";
        default: {
            char text[16];
            std::snprintf(text, sizeof text, "0x%04X", static_cast<unsigned>(type));
            return text;
        }
    }
}

}  // namespace

void RestrictionCompiler::BuildComparison(ULONG relop) {
    ItemPtr right = Pop();
    ItemPtr left = Pop();
    if (!right || !left) {
        AddError("Expected an operand on each side of a comparison");
        return;
    }
    const ULONG leftTag = ResolveField(left.get());
    const ULONG rightTag = ResolveField(right.get());
    if (leftTag == 0 && rightTag == 0) {
        AddError("Neither " + left->text + " nor " + right->text + " is a keyword");
        return;
    }
    SRestriction* node = NewRestrictions(1);
    if (leftTag != 0 && rightTag != 0) {
        node->rt = RES_COMPAREPROPS;
        node->res.resCompareProps = {relop, leftTag, rightTag};
        PushRestrictionItem(node);
        return;
    }
    // The operator keeps its meaning whichever side the field stands on.
    const ULONG tag = leftTag != 0 ? leftTag : rightTag;
    const QueryItem& value = leftTag != 0 ? *right : *left;
    if (value.kind == ItemKind::SizeOperand) {
        node->rt = RES_SIZE;
        node->res.resSize = {relop, tag,
                             static_cast<ULONG>(LeadingDecimal(value.text, 0, 0xFFFFFFFF))};
    } else if (value.flags & kBitmaskMarker) {
        SPropValue* mask = MakeValue(PT_LONG, value);
        if (mask == nullptr) {
            AddError("No value to compare");
            return;
        }
        ULONG relBMR;
        if (relop == RELOP_EQ) {
            relBMR = BMR_EQZ;
        } else if (relop == RELOP_NE) {
            relBMR = BMR_NEZ;
        } else {
            AddError("Bitmask works only with = and <>");
            return;
        }
        node->rt = RES_BITMASK;
        node->res.resBitMask = {relBMR, tag, static_cast<ULONG>(mask->Value.l)};
    } else {
        SPropValue* constant = MakeValue(tag, value);
        if (constant == nullptr) {
            if (!m_error)
                AddError("Cannot compare a property of type " + TypeName(PROP_TYPE(tag)) +
                         " with a constant");
            return;
        }
        if (value.flags != 0) {
            node->rt = RES_CONTENT;
            node->res.resContent = {value.flags, tag, constant};
        } else {
            node->rt = RES_PROPERTY;
            node->res.resProperty = {relop, tag, constant};
        }
    }
    PushRestrictionItem(node);
}

// The constant of a comparison as a value of tag's type (a multi-valued tag
// compares one value). Null when the type has no conversion or the text does
// not fit it (the latter adds its message).
SPropValue* RestrictionCompiler::MakeValue(ULONG tag, const QueryItem& item) {
    const ULONG valueTag = tag & ~static_cast<ULONG>(MV_FLAG);
    const std::string& text = item.text;
    switch (PROP_TYPE(valueTag)) {
        case PT_LONG:
        case PT_I2:
        case PT_I8:
        case PT_DOUBLE:
            // Read as a number, a word like "abc" would compare with 0 and
            // select items the user never asked for.
            if (!HasLeadingNumber(text)) {
                AddError("Not a number: \"" + text + "\" (a numeric field compares with numbers only)");
                return nullptr;
            }
            break;
        default:
            break;
    }
    switch (PROP_TYPE(valueTag)) {
        case PT_LONG: {
            SPropValue* v = NewValue(valueTag);
            v->Value.l = static_cast<LONG>(LeadingDecimal(text, INT32_MIN, INT32_MAX));
            return v;
        }
        case PT_BOOLEAN: {
            SPropValue* v = NewValue(valueTag);
            v->Value.b = static_cast<unsigned short>(LeadingDecimal(text, INT32_MIN, INT32_MAX));
            return v;
        }
        case PT_I2: {
            SPropValue* v = NewValue(valueTag);
            v->Value.i = static_cast<SHORT>(LeadingDecimal(text, SHRT_MIN, SHRT_MAX));
            return v;
        }
        case PT_I8: {
            SPropValue* v = NewValue(valueTag);
            v->Value.li.QuadPart = LeadingDecimal(text, INT64_MIN, INT64_MAX);
            return v;
        }
        case PT_DOUBLE: {
            SPropValue* v = NewValue(valueTag);
            v->Value.dbl = LeadingReal(text);
            return v;
        }
        case PT_STRING8: {
            m_strings.push_back(std::make_unique<char[]>(text.size() + 1));
            std::memcpy(m_strings.back().get(), text.c_str(), text.size() + 1);
            SPropValue* v = NewValue(valueTag);
            v->Value.lpszA = m_strings.back().get();
            return v;
        }
        case PT_UNICODE: {
            std::u16string wide = mapi::Utf8ToUtf16(text);
            m_wideStrings.push_back(std::make_unique<char16_t[]>(wide.size() + 1));
            std::memcpy(m_wideStrings.back().get(), wide.c_str(),
                        (wide.size() + 1) * sizeof(char16_t));
            SPropValue* v = NewValue(valueTag);
            v->Value.lpszW = m_wideStrings.back().get();
            return v;
        }
        case PT_SYSTIME: {
            if (item.kind != ItemKind::Date) {
                AddError("Wrong type: Expeced time");
                return nullptr;
            }
            if (!IsQueryDateInRange(item.date)) {
                AddError("Invalid date");
                return nullptr;
            }
            SPropValue* v = NewValue(valueTag);
            v->Value.ft = QueryDateToFileTime(item.date);
            return v;
        }
        case PT_CLSID: {
            bool ok = text.size() == 32;
            for (size_t i = 0; ok && i < text.size(); ++i) ok = IsHexDigit(text[i]);
            if (!ok) {
                AddError("GUID has have 16 byte");
                return nullptr;
            }
            auto* bytes = static_cast<BYTE*>(Allocate(sizeof(GUID)));
            for (size_t i = 0; i < 16; ++i)
                bytes[i] = static_cast<BYTE>(HexToInt(text.substr(2 * i, 2).c_str()));
            SPropValue* v = NewValue(valueTag);
            v->Value.lpguid = reinterpret_cast<GUID*>(bytes);
            return v;
        }
        case PT_BINARY: {
            CMapiBinary bin = HexToBinary(text.c_str());
            SPropValue* v = NewValue(valueTag);
            if (bin.Size() > 0) {
                auto* bytes = static_cast<BYTE*>(Allocate(bin.Size()));
                std::memcpy(bytes, bin.Bytes(), bin.Size());
                v->Value.bin.lpb = bytes;
            }
            v->Value.bin.cb = bin.Size();
            return v;
        }
        default:
            return nullptr;
    }
}
