// Formatting of restrictions, values, column sets and sort orders as text.
#include "restriction_text.h"

#include <cstdio>

#include "query_date.h"

namespace {

const char* RelopText(ULONG relop) {
    static const char* const kNames[] = {"LT", "LE", "GT", "GE", "EQ", "NE", "RE"};
    return relop < 7 ? kNames[relop] : "?";
}

std::string HexBytes(const BYTE* bytes, ULONG count) {
    static const char kDigits[] = "0123456789ABCDEF";
    std::string text;
    for (ULONG i = 0; i < count; ++i) {
        text += kDigits[bytes[i] >> 4];
        text += kDigits[bytes[i] & 0xF];
    }
    return text;
}

std::string GuidText(const GUID& guid) {
    char text[40];
    std::snprintf(text, sizeof text, "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}",
                  static_cast<unsigned>(guid.Data1), guid.Data2, guid.Data3, guid.Data4[0],
                  guid.Data4[1], guid.Data4[2], guid.Data4[3], guid.Data4[4], guid.Data4[5],
                  guid.Data4[6], guid.Data4[7]);
    return text;
}

std::string Children(const SRestriction* children, ULONG count) {
    std::string text;
    for (ULONG i = 0; i < count; ++i) {
        if (i > 0) text += ", ";
        text += RestrictionText(&children[i]);
    }
    return text;
}

}  // namespace

std::string TagText(ULONG tag) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08X", static_cast<unsigned>(tag));
    return text;
}

std::string QuotedText(const std::string& text) {
    std::string out = "\"";
    for (unsigned char c : text) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c < 0x20 || c > 0x7E) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\x%02X", c);
            out += escaped;
        } else {
            out += static_cast<char>(c);
        }
    }
    return out + "\"";
}

std::string PropValueText(const SPropValue* value) {
    if (value == nullptr) return "null";
    std::string payload;
    switch (PROP_TYPE(value->ulPropTag)) {
        case PT_LONG:
            payload = std::to_string(value->Value.l);
            break;
        case PT_I2:
            payload = std::to_string(value->Value.i);
            break;
        case PT_BOOLEAN:
            payload = std::to_string(value->Value.b);
            break;
        case PT_STRING8:
            payload = QuotedText(value->Value.lpszA != nullptr ? value->Value.lpszA : "");
            break;
        case PT_SYSTIME:
            payload = FileTimeText(value->Value.ft);
            break;
        case PT_BINARY:
            payload = "<";
            payload += HexBytes(value->Value.bin.lpb, value->Value.bin.cb);
            payload += ">";
            break;
        case PT_CLSID:
            payload = value->Value.lpguid != nullptr ? GuidText(*value->Value.lpguid) : "?";
            break;
        default:
            payload = "?";
            break;
    }
    return TagText(value->ulPropTag) + "=" + payload;
}

std::string RestrictionText(const SRestriction* r) {
    if (r == nullptr) return "none";
    switch (r->rt) {
        case RES_AND:
            return "and(" + Children(r->res.resAnd.lpRes, r->res.resAnd.cRes) + ")";
        case RES_OR:
            return "or(" + Children(r->res.resOr.lpRes, r->res.resOr.cRes) + ")";
        case RES_NOT:
            return "not(" + RestrictionText(r->res.resNot.lpRes) + ")";
        case RES_CONTENT:
            return "content(" + TagText(r->res.resContent.ulFuzzyLevel) + ", " +
                   TagText(r->res.resContent.ulPropTag) + ", " +
                   PropValueText(r->res.resContent.lpProp) + ")";
        case RES_PROPERTY:
            return std::string("property(") + RelopText(r->res.resProperty.relop) + ", " +
                   TagText(r->res.resProperty.ulPropTag) + ", " +
                   PropValueText(r->res.resProperty.lpProp) + ")";
        case RES_COMPAREPROPS:
            return std::string("compareprops(") + RelopText(r->res.resCompareProps.relop) + ", " +
                   TagText(r->res.resCompareProps.ulPropTag1) + ", " +
                   TagText(r->res.resCompareProps.ulPropTag2) + ")";
        case RES_BITMASK:
            return std::string("bitmask(") + (r->res.resBitMask.relBMR == BMR_EQZ ? "EQZ" : "NEZ") +
                   ", " + TagText(r->res.resBitMask.ulPropTag) + ", " +
                   TagText(r->res.resBitMask.ulMask) + ")";
        case RES_SIZE:
            return std::string("size(") + RelopText(r->res.resSize.relop) + ", " +
                   TagText(r->res.resSize.ulPropTag) + ", " + std::to_string(r->res.resSize.cb) +
                   ")";
        case RES_EXIST:
            return "exist(" + TagText(r->res.resExist.ulPropTag) + ")";
        case RES_SUBRESTRICTION:
            return "sub(" + TagText(r->res.resSub.ulSubObject) + ", " +
                   RestrictionText(r->res.resSub.lpRes) + ")";
        default:
            return "?";
    }
}

std::string ColumnsText(const SPropTagArray& columns) {
    std::string text;
    for (ULONG i = 0; i < columns.cValues; ++i) {
        if (i > 0) text += ", ";
        text += TagText(columns.aulPropTag[i]);
    }
    return text;
}

std::string SortOrderText(const SSortOrderSet& sortOrder) {
    std::string text;
    for (ULONG i = 0; i < sortOrder.cSorts; ++i) {
        if (i > 0) text += ", ";
        const ULONG order = sortOrder.aSort[i].ulOrder;
        text += TagText(sortOrder.aSort[i].ulPropTag);
        text += order == TABLE_SORT_DESCEND   ? " DESC"
                : order == TABLE_SORT_COMBINE ? " COMBINE"
                                              : " ASC";
    }
    return text + "; categories " + std::to_string(sortOrder.cCategories);
}
