// Field resolution: which MAPI property an operand names, by PR_ name, by
// hexadecimal tag, or as a named property of the property object.
#include <cstring>

#include <mapiguid.h>
#include <runtime/prop_convert.h>

#include "MapiPropPtr.h"
#include "property_name_table.h"
#include "restriction_compiler.h"

namespace {

// The named property sets of NamedFieldTable, as the constructor is given them.
constexpr const char* kPsetidAddress = "00062004-0000-0000-C000-000000000046";
constexpr const char* kPsetidCommon = "00062008-0000-0000-C000-000000000046";

bool StartsWithNoCase(const std::string& text, const char* prefix) {
    size_t n = std::strlen(prefix);
    if (text.size() < n) return false;
    for (size_t i = 0; i < n; ++i) {
        char a = text[i], b = prefix[i];
        if (a >= 'A' && a <= 'Z') a = static_cast<char>(a - 'A' + 'a');
        if (a != b) return false;
    }
    return true;
}

}  // namespace

// `LastModificationTime` -> `PR_LAST_MODIFICATION_TIME`: a lower-case letter
// is taken in upper case, any other character starts a new `_` part.
std::string PropertyNameOf(const std::string& field) {
    std::string name = "PR";
    for (char c : field) {
        if (c >= 'a' && c <= 'z') {
            name.push_back(static_cast<char>(c - 'a' + 'A'));
        } else {
            name.push_back('_');
            name.push_back(c);
        }
    }
    return name;
}

// guid := 8 hex "-" 4 hex "-" 4 hex "-" 2+2 hex "-" 12 hex
// The shape is taken for granted; a short text fills what it has.
bool RestrictionCompiler::ParseGuidText(const char* text, GUID* guid) {
    auto hexAt = [&](size_t pos, size_t digits) {
        char part[9] = {};
        for (size_t i = 0; i < digits && text[pos + i] != '\0'; ++i) part[i] = text[pos + i];
        return HexToInt(part);
    };
    if (text == nullptr || guid == nullptr || std::strlen(text) < 36) return false;
    guid->Data1 = hexAt(0, 8);
    guid->Data2 = static_cast<uint16_t>(hexAt(9, 4));
    guid->Data3 = static_cast<uint16_t>(hexAt(14, 4));
    guid->Data4[0] = static_cast<uint8_t>(hexAt(19, 2));
    guid->Data4[1] = static_cast<uint8_t>(hexAt(21, 2));
    for (size_t i = 0; i < 6; ++i) guid->Data4[2 + i] = static_cast<uint8_t>(hexAt(24 + 2 * i, 2));
    return true;
}

void RestrictionCompiler::AddNamedField(const char* name, USHORT id, USHORT type,
                                        const char* guidText) {
    auto field = std::make_unique<NamedField>();
    field->name = name;
    field->id = id;
    field->type = type;
    field->propertySet = PS_PUBLIC_STRINGS;
    if (guidText != nullptr) ParseGuidText(guidText, &field->propertySet);
    m_namedFields.push_back(std::move(field));
}

void RestrictionCompiler::AddNamedStringField(const char* name, const char* stringName, USHORT type,
                                              const char* guidText) {
    AddNamedField(name, 0, type, guidText);
    m_namedFields.back()->stringName = mapi::Utf8ToUtf16(stringName);
}

RestrictionCompiler::RestrictionCompiler() {
    AddNamedStringField("Categories", "Keywords", 0x101E, nullptr);
    AddNamedField("Private", 0x8506, 0x000B, kPsetidCommon);
    AddNamedField("ReminderSet", 0x8503, 0x000B, kPsetidCommon);
    AddNamedField("Email1Address", 0x8083, 0x001E, kPsetidAddress);
    AddNamedField("Email1AddressType", 0x8082, 0x001E, kPsetidAddress);
    AddNamedField("Fax2EmailAddress", 0x80C3, 0x001E, kPsetidAddress);
    AddNamedField("Email1DisplayName", 0x8080, 0x001E, kPsetidAddress);
    AddNamedField("Fax2AddrType", 0x80C2, 0x001E, kPsetidAddress);
    AddNamedField("EMail1DisplayName", 0x8084, 0x001E, kPsetidAddress);
    AddNamedField("Fax2OriginalDisplayName", 0x80C4, 0x001E, kPsetidAddress);
    AddNamedField("FileAs", 0x8005, 0x001E, kPsetidAddress);
    AddNamedField("Journal", 0x8025, 0x000B, kPsetidAddress);
    AddNamedField("IMAddress", 0x8062, 0x001E, kPsetidAddress);
    AddNamedField("WebPage", 0x802B, 0x001E, kPsetidAddress);
    AddNamedField("ReminderSet", 0x8503, 0x000B, kPsetidCommon);
    AddNamedField("Email2Address", 0x8093, 0x001E, kPsetidAddress);
    AddNamedField("Email2AddressType", 0x8092, 0x001E, kPsetidAddress);
    AddNamedField("Email3Address", 0x80A3, 0x001E, kPsetidAddress);
    AddNamedField("Email3AddressType", 0x80A2, 0x001E, kPsetidAddress);
    AddNamedField("Email2DisplayName", 0x8090, 0x001E, kPsetidAddress);
    AddNamedField("Email3DisplayName", 0x80A0, 0x001E, kPsetidAddress);
    AddNamedField("SelectedMailingAddress", 0x8022, 0x001E, kPsetidAddress);
    AddNamedField("OtherAddress", 0x801C, 0x001E, kPsetidAddress);
}

void RestrictionCompiler::AddReferencedTag(ULONG tag) {
    for (ULONG known : m_referencedTags)
        if (known == tag) return;
    m_referencedTags.push_back(tag);
}

ULONG RestrictionCompiler::ResolveField(const QueryItem* item) {
    if (item == nullptr || item->restriction != nullptr) return 0;
    const std::string& text = item->text;
    const bool isString = StartsWithNoCase(text, "string:");
    if (isString || StartsWithNoCase(text, "long:")) {
        if (!m_propertyObject) return 0;
        std::u16string name = mapi::Utf8ToUtf16(text.substr(isString ? 7 : 5));
        return GetIDFromName(m_propertyObject._rawInterface(), PS_PUBLIC_STRINGS, name.c_str(),
                             isString ? PT_STRING8 : PT_LONG, MAPI_CREATE);
    }
    if (text.size() >= 2 && text[0] == '0' && text[1] == 'x') return HexToInt(text.c_str() + 2);
    if (item->kind == ItemKind::HexField) {
        // `field` names a property by its tag, with or without 0x.
        size_t skip =
            text.size() >= 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X') ? 2 : 0;
        return HexToInt(text.c_str() + skip);
    }
    if (item->kind == ItemKind::StringLiteral || item->kind == ItemKind::Date) return 0;

    if (ULONG tag = LookupPropertyName(PropertyNameOf(text))) {
        AddReferencedTag(tag);
        return tag;
    }
    if (!m_propertyObject) return 0;
    for (const auto& field : m_namedFields) {
        if (field->name != text) continue;
        ULONG tag = field->stringName.empty()
                        ? m_propertyObject.GetIDFromName(field->propertySet, LONG{field->id}, 0,
                                                         MAPI_CREATE)
                        : m_propertyObject.GetIDFromName(field->propertySet,
                                                         field->stringName.c_str(), 0, MAPI_CREATE);
        tag |= field->type;
        if (tag != 0) AddReferencedTag(tag);
        return tag;
    }
    return 0;
}
