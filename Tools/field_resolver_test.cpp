// Tests of field resolution: the generated name tables, the PR_ name rule,
// hexadecimal tags, named fields and the referenced-tag set.
#include <gtest/gtest.h>

#include <cstring>
#include <set>
#include <string>

#include <mapiguid.h>

#include "compiler_test_helpers.h"
#include "property_name_table.h"

namespace {

const PropertyNameRow* Find(const PropertyNameRow* rows, const char* name) {
    for (; rows->tag != 0; ++rows)
        if (std::strcmp(rows->name, name) == 0) return rows;
    return nullptr;
}

TEST(PropertyNameTables, TellingRows) {
    struct Case {
        const char* name;
        ULONG first;     // PropertyNameTable, 0 when absent
        ULONG extended;  // ExtendedPropertyNameTable, 0 when absent
    };
    const Case cases[] = {
        {"PR_SUBJECT", 0x0037001E, 0x0037001F},
        {"PR_SUBJECT_A", 0x0037001E, 0x0037001E},
        {"PR_SUBJECT_W", 0x0037001F, 0x0037001F},
        {"PR_MESSAGE_SIZE", 0x0E080003, 0x0E080003},
        {"PR_LAST_MODIFICATION_TIME", 0x30080040, 0x30080040},
        {"PR_CREATION_TIME", 0x30070040, 0x30070040},
        {"PR_SENDER_NAME", 0x0C1A001E, 0x0C1A001F},
        {"PR_MESSAGE_FLAGS", 0x0E070003, 0x0E070003},
        {"PR_HASATTACH", 0x0E1B000B, 0x0E1B000B},
        {"PR_DISPLAY_NAME", 0x3001001E, 0x3001001F},
        {"PR_ENTRYID", 0x0FFF0102, 0x0FFF0102},
        {"PR_FLAG_STATUS", 0x10900003, 0},
        {"PR_REMINDER_FLAG", 0x10950003, 0},
        {"PR_EMS_AB_SERVER", 0, 0xFFFE001F},
    };
    for (const Case& c : cases) {
        const PropertyNameRow* first = Find(PropertyNameTable, c.name);
        const PropertyNameRow* extended = Find(ExtendedPropertyNameTable, c.name);
        EXPECT_EQ(first ? first->tag : 0, c.first) << c.name;
        EXPECT_EQ(extended ? extended->tag : 0, c.extended) << c.name;
        // The first table wins where both have the name.
        EXPECT_EQ(LookupPropertyName(c.name), c.first ? c.first : c.extended) << c.name;
    }
}

TEST(PropertyNameTables, ShapeAndOrder) {
    // The counts these inputs reach (see scripts/gen/gen_propnames.py).
    ASSERT_EQ(PropertyNameTableRows, 780u);
    ASSERT_EQ(ExtendedPropertyNameTableRows, 1312u);
    EXPECT_EQ(PropertyNameTable[PropertyNameTableRows].tag, 0u);
    EXPECT_EQ(ExtendedPropertyNameTable[ExtendedPropertyNameTableRows].tag, 0u);

    // Alphabetical, then the two appended rows.
    for (size_t i = 1; i + 2 < PropertyNameTableRows; ++i)
        EXPECT_LT(std::strcmp(PropertyNameTable[i - 1].name, PropertyNameTable[i].name), 0) << i;
    EXPECT_STREQ(PropertyNameTable[PropertyNameTableRows - 2].name, "PR_FLAG_STATUS");
    EXPECT_STREQ(PropertyNameTable[PropertyNameTableRows - 1].name, "PR_REMINDER_FLAG");

    // By property identifier, names distinct, PR_EMS_AB_SERVER last.
    std::set<std::string> names;
    size_t emsAb = 0;
    for (size_t i = 0; i < ExtendedPropertyNameTableRows; ++i) {
        const PropertyNameRow& row = ExtendedPropertyNameTable[i];
        EXPECT_TRUE(names.insert(row.name).second) << row.name;
        EXPECT_EQ(row.reserved, 0u);
        if (i > 0) {
            EXPECT_LE(ExtendedPropertyNameTable[i - 1].tag >> 16, row.tag >> 16) << row.name;
        }
        if (std::strncmp(row.name, "PR_EMS_AB_", 10) == 0) ++emsAb;
    }
    EXPECT_EQ(emsAb, 534u);
    EXPECT_STREQ(ExtendedPropertyNameTable[ExtendedPropertyNameTableRows - 1].name,
                 "PR_EMS_AB_SERVER");
}

TEST(PropertyNameTables, IndexGivesTheFirstMatchOfTheLinearSearch) {
    for (const PropertyNameRow* table : {PropertyNameTable, ExtendedPropertyNameTable})
        for (const PropertyNameRow* row = table; row->tag != 0; ++row)
            ASSERT_EQ(LookupPropertyName(row->name), LookupPropertyNameLinear(row->name))
                << row->name;
    for (const char* miss : {"", "PR", "PRSUBJECT", "pr_subject", "PR_SUBJECT_X"}) {
        EXPECT_EQ(LookupPropertyName(miss), 0u) << miss;
        EXPECT_EQ(LookupPropertyNameLinear(miss), 0u) << miss;
    }
}

TEST(ResolveField, NamesTagsAndConstants) {
    struct Case {
        const char* text;
        ItemKind kind;
        ULONG tag;
        bool referenced;
    };
    const Case cases[] = {
        {"Subject", ItemKind::Identifier, 0x0037001E, true},
        {"MessageSize", ItemKind::Identifier, 0x0E080003, true},
        {"LastModificationTime", ItemKind::Identifier, 0x30080040, true},
        {"EmsAbServer", ItemKind::Identifier, 0xFFFE001F, true},
        {"Entryid", ItemKind::Identifier, 0x0FFF0102, true},
        {"Subject", ItemKind::ContentOperand, 0x0037001E, true},
        {"Subject", ItemKind::SizeOperand, 0x0037001E, true},
        {"Subject", ItemKind::StringLiteral, 0, false},
        {"Subject", ItemKind::Date, 0, false},
        {"subject", ItemKind::Identifier, 0, false},
        {"PR_SUBJECT", ItemKind::Identifier, 0, false},
        {"Email1Address", ItemKind::Identifier, 0, false},  // no property object here
        {"0x0037001E", ItemKind::Identifier, 0x0037001E, false},
        {"0x0037001E", ItemKind::StringLiteral, 0x0037001E, false},
        {"0X0037001E", ItemKind::Identifier, 0, false},
        {"37001E", ItemKind::HexField, 0x0037001E, false},
        {"0x0E08", ItemKind::HexField, 0x0E08, false},
        {"string:Foo", ItemKind::StringLiteral, 0, false},  // no property object here
        {"", ItemKind::Identifier, 0, false},
    };
    for (const Case& c : cases) {
        RestrictionCompiler compiler;
        QueryItem item;
        item.text = c.text;
        item.kind = c.kind;
        EXPECT_EQ(compiler.ResolveField(&item), c.tag) << c.text;
        EXPECT_EQ(compiler.ReferencedTags().size(), c.referenced ? 1u : 0u) << c.text;
    }
    RestrictionCompiler compiler;
    EXPECT_EQ(compiler.ResolveField(nullptr), 0u);
    QueryItem finished;
    finished.text = "Subject";
    SRestriction r{};
    finished.restriction = &r;
    EXPECT_EQ(compiler.ResolveField(&finished), 0u);
}

TEST(ResolveField, ReferencedTagsOnceInOrderOfFirstUse) {
    RestrictionCompiler compiler;
    compiler.Compile("Subject = \"a\" and MessageSize > 1 and Subject = \"b\"");
    compiler.Compile("Subject = \"c\" and Body = \"d\"");
    EXPECT_EQ(compiler.ReferencedTags(), (std::vector<ULONG>{0x0037001E, 0x0E080003, 0x1000001E}));
}

TEST(ResolveField, NamedFieldsAskThePropertyObjectEveryTime) {
    fake::Folder container;
    {
        RestrictionCompiler compiler;
        compiler.SetPropertyObject(&container);
        EXPECT_EQ(container.refs, 2);
        struct Case {
            const char* text;
            ULONG tag;
            const char* request;
        };
        const Case cases[] = {
            {"Categories", 0x8000101E, "{00020329-0000-0000-C000-000000000046} name Keywords"},
            {"Email1Address", 0x8001001E, "{00062004-0000-0000-C000-000000000046} id 0x8083"},
            {"ReminderSet", 0x8002000B, "{00062008-0000-0000-C000-000000000046} id 0x8503"},
            {"Categories", 0x8000101E, "{00020329-0000-0000-C000-000000000046} name Keywords"},
            {"string:Foo", 0x8003001E, "{00020329-0000-0000-C000-000000000046} name Foo"},
            {"LONG:Foo", 0x80030003, "{00020329-0000-0000-C000-000000000046} name Foo"},
            {"email1address", 0, nullptr},
        };
        for (const Case& c : cases) {
            const size_t before = container.names->requests.size();
            QueryItem item;
            item.text = c.text;
            EXPECT_EQ(compiler.ResolveField(&item), c.tag) << c.text;
            if (c.request != nullptr) {
                ASSERT_EQ(container.names->requests.size(), before + 1) << c.text;
                EXPECT_EQ(container.names->requests.back().Text(), c.request);
            } else {
                EXPECT_EQ(container.names->requests.size(), before) << c.text;
            }
        }
        // Named fields enter the set; string:/long: texts do not.
        EXPECT_EQ(compiler.ReferencedTags(),
                  (std::vector<ULONG>{0x8000101E, 0x8001001E, 0x8002000B}));
    }
    EXPECT_EQ(container.refs, 1);
}

TEST(ResolveField, FailingLookupEndsTheCompile) {
    fake::Folder container;
    container.Fail(fake::Call::GetIDsFromNames, MAPI_E_NO_ACCESS);
    RestrictionCompiler compiler;
    compiler.SetPropertyObject(&container);
    EXPECT_EQ(Outcome(compiler, "Categories = \"a\""), "error: Crash in Compile");
}

TEST(NamedFieldTable, TwentyThreeRowsInOrder) {
    RestrictionCompiler compiler;
    const char* const names[] = {"Categories",
                                 "Private",
                                 "ReminderSet",
                                 "Email1Address",
                                 "Email1AddressType",
                                 "Fax2EmailAddress",
                                 "Email1DisplayName",
                                 "Fax2AddrType",
                                 "EMail1DisplayName",
                                 "Fax2OriginalDisplayName",
                                 "FileAs",
                                 "Journal",
                                 "IMAddress",
                                 "WebPage",
                                 "ReminderSet",
                                 "Email2Address",
                                 "Email2AddressType",
                                 "Email3Address",
                                 "Email3AddressType",
                                 "Email2DisplayName",
                                 "Email3DisplayName",
                                 "SelectedMailingAddress",
                                 "OtherAddress"};
    const NamedFieldTable& table = compiler.NamedFields();
    ASSERT_EQ(table.size(), 23u);
    for (size_t i = 0; i < 23; ++i) EXPECT_EQ(table[i]->name, names[i]) << i;
    EXPECT_EQ(table[0]->stringName, u"Keywords");
    EXPECT_EQ(table[0]->type, 0x101E);
    EXPECT_TRUE(table[0]->propertySet == PS_PUBLIC_STRINGS);
    EXPECT_TRUE(table[1]->propertySet == PSETID_Common);
    EXPECT_EQ(table[1]->id, 0x8506);
    EXPECT_TRUE(table[22]->propertySet == PSETID_Address);
    EXPECT_EQ(table[22]->id, 0x801C);
    EXPECT_EQ(table[22]->type, 0x001E);
}

TEST(ParseGuidText, EitherCase) {
    GUID guid{};
    ASSERT_TRUE(RestrictionCompiler::ParseGuidText("00062004-0000-0000-C000-000000000046", &guid));
    EXPECT_TRUE(guid == PSETID_Address);
    ASSERT_TRUE(RestrictionCompiler::ParseGuidText("0c733a30-2a1c-11ce-ade5-00aa0044773d", &guid));
    EXPECT_TRUE(guid == IID_ISequentialStream);
    EXPECT_FALSE(RestrictionCompiler::ParseGuidText("0c733a30", &guid));
}

}  // namespace
