// CMapiPropValue, a non-owning view of one property value inside a row set
// or a property buffer, with its conversion to text.
#pragma once

#include <string>

#include <mapidefs.h>

// The view never frees anything and must not outlive the buffer it points
// into. A view of null is "empty".
class CMapiPropValue {
public:
    CMapiPropValue() = default;
    explicit CMapiPropValue(const SPropValue* value) : m_value(value) {}

    bool Empty() const { return m_value == nullptr; }
    const SPropValue* get() const { return m_value; }
    // The value's full tag, or 0 for an empty view.
    ULONG Tag() const { return m_value ? m_value->ulPropTag : 0; }
    // PROP_TYPE of the value's tag, or PT_UNSPECIFIED for an empty view.
    ULONG Type() const { return PROP_TYPE(Tag()); }
    // The text of a PT_STRING8 value, else null.
    LPCSTR String8() const;

    // The value as 8-bit text:
    //   empty view, PT_UNSPECIFIED/NULL/OBJECT/I8/CLSID and other MV types: ""
    //   PT_STRING8: the text; PT_UNICODE: the text in the 8-bit code page
    //   PT_I2 (sign-extended), PT_LONG: decimal
    //   PT_ERROR: "NULL"; PT_BINARY: BinaryToHex
    //   PT_MV_LONG: decimals joined by "; "; PT_MV_STRING8: texts joined by
    //   ";"; PT_MV_BINARY: hex texts joined by ";"
    //   PT_R4, PT_DOUBLE, PT_CURRENCY, PT_BOOLEAN, PT_APPTIME, PT_SYSTIME:
    //   in the user's locale (dates as local date and time text, no change
    //   of time zone).
    std::string ToString() const;

private:
    const SPropValue* m_value = nullptr;
};
