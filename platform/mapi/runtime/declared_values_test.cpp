// Checks the published declarations against public facts: the values of
// property types, tags, result codes and interface identifiers as the
// mingw-w64 headers state them (read at run time when installed), and the
// sizes and layouts the published structures have on a 64-bit platform.
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <regex>
#include <string>

#include <gtest/gtest.h>
#include <mapix.h>

namespace {

#ifndef QUIRNEL_MAPI_INCLUDE_DIR
#error "QUIRNEL_MAPI_INCLUDE_DIR names platform/mapi/include"
#endif

const char kMingwDir[] = "/usr/share/mingw-w64/include";

std::string ReadFile(const std::string& path) {
    std::ifstream in(path);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Every "#define NAME VALUE" of the given headers whose value is a number,
// PROP_TAG(type, id), MAKE_MAPI_E/S(code) or another name already known.
std::map<std::string, unsigned long> Defines(const std::string& dir,
                                             std::initializer_list<const char*> files) {
    std::map<std::string, unsigned long> values = {{"PT_TSTRING", 30}};  // 8-bit build
    const std::regex define(R"(#define\s+(\w+)\s+(.+))");
    const std::regex number(
        R"(^\(*\s*(?:\(ULONG\)|\(\(ULONG\)\s*)?\s*(0x[0-9A-Fa-f]+|\d+)[lLuU]*\s*\)*$)");
    const std::regex propTag(R"(^PROP_TAG\s*\(\s*(\w+)\s*,\s*(0x[0-9A-Fa-f]+)\s*\)$)");
    const std::regex mapiCode(R"(^\(?MAKE_MAPI_(E|S)\s*\(\s*(0x[0-9A-Fa-f]+)\s*\)\)?$)");
    for (const char* file : files) {
        std::istringstream text(ReadFile(dir + "/" + file));
        std::string line;
        while (std::getline(text, line)) {
            std::smatch m;
            if (!std::regex_search(line, m, define)) continue;
            const std::string name = m[1];
            std::string value = m[2];
            while (!value.empty() && (value.back() == ' ' || value.back() == '\r'))
                value.pop_back();
            if (const size_t c = value.find("//"); c != std::string::npos) value.resize(c);
            while (!value.empty() && value.back() == ' ') value.pop_back();
            std::smatch v;
            if (std::regex_match(value, v, number)) {
                values[name] = std::stoul(v[1], nullptr, 0);
            } else if (std::regex_match(value, v, propTag) && values.count(v[1])) {
                values[name] = (std::stoul(v[2], nullptr, 16) << 16) | values[v[1]];
            } else if (std::regex_match(value, v, mapiCode)) {
                values[name] =
                    (v[1] == "E" ? 0x80040000ul : 0x00040000ul) | std::stoul(v[2], nullptr, 16);
            } else if (values.count(value) && name != "PT_TSTRING") {
                values[name] = values[value];
            }
        }
    }
    return values;
}

std::map<std::string, std::string> OleGuids(const std::string& path) {
    std::map<std::string, std::string> out;
    const std::regex guid(
        R"(DEFINE_OLEGUID\s*\(\s*(\w+)\s*,\s*(0x[0-9A-Fa-f]+)\s*,\s*0\s*,\s*0\s*\))");
    const std::string text = ReadFile(path);
    for (auto it = std::sregex_iterator(text.begin(), text.end(), guid);
         it != std::sregex_iterator(); ++it)
        out[(*it)[1]] = std::to_string(std::stoul((*it)[2], nullptr, 16));
    return out;
}

const std::initializer_list<const char*> kHeaders = {"mapidefs.h", "mapicode.h", "mapitags.h"};

TEST(DeclaredValuesTest, ParserReadsOurHeadersAsTheCompilerDoes) {
    const auto ours = Defines(QUIRNEL_MAPI_INCLUDE_DIR, kHeaders);
    const std::pair<const char*, unsigned long> sample[] = {
        {"PT_UNICODE", PT_UNICODE},
        {"MV_FLAG", MV_FLAG},
        {"PR_SUBJECT", PR_SUBJECT},
        {"PR_SUBJECT_W", PR_SUBJECT_W},
        {"PR_ATTACH_DATA_OBJ", PR_ATTACH_DATA_OBJ},
        {"MAPI_E_NOT_FOUND", static_cast<ULONG>(MAPI_E_NOT_FOUND)},
        {"MAPI_W_ERRORS_RETURNED", static_cast<ULONG>(MAPI_W_ERRORS_RETURNED)},
        {"RES_SUBRESTRICTION", RES_SUBRESTRICTION},
        {"FL_IGNORENONSPACE", FL_IGNORENONSPACE},
    };
    for (const auto& [name, value] : sample) {
        ASSERT_TRUE(ours.count(name)) << name;
        EXPECT_EQ(ours.at(name), value) << name;
    }
}

TEST(DeclaredValuesTest, ValuesMatchThePublishedHeaders) {
    if (!std::filesystem::exists(std::string(kMingwDir) + "/mapitags.h"))
        GTEST_SKIP() << "mingw-w64 headers not installed";
    const auto ours = Defines(QUIRNEL_MAPI_INCLUDE_DIR, kHeaders);
    const auto published = Defines(kMingwDir, kHeaders);
    size_t compared = 0, tags = 0, codes = 0;
    for (const auto& [name, value] : ours) {
        auto it = published.find(name);
        if (it == published.end()) continue;
        EXPECT_EQ(value, it->second) << name;
        ++compared;
        tags += name.rfind("PR_", 0) == 0;
        codes += name.rfind("MAPI_E_", 0) == 0 || name.rfind("MAPI_W_", 0) == 0;
    }
    RecordProperty("compared", static_cast<int>(compared));
    RecordProperty("tags", static_cast<int>(tags));
    RecordProperty("codes", static_cast<int>(codes));
    // The comparison must have covered the bulk of what we declare.
    EXPECT_GT(tags, 400u);
    EXPECT_GT(codes, 60u);
    EXPECT_GT(compared, 600u);

    const auto guids = OleGuids(std::string(kMingwDir) + "/mapiguid.h");
    const std::pair<const char*, GUID> iids[] = {
        {"IID_IMAPISession", IID_IMAPISession},
        {"IID_IMAPITable", IID_IMAPITable},
        {"IID_IMAPIProp", IID_IMAPIProp},
        {"IID_IMsgStore", IID_IMsgStore},
        {"IID_IMessage", IID_IMessage},
        {"IID_IAttachment", IID_IAttachment},
        {"IID_IMAPIContainer", IID_IMAPIContainer},
        {"IID_IMAPIFolder", IID_IMAPIFolder},
        {"PS_PUBLIC_STRINGS", PS_PUBLIC_STRINGS},
        {"PS_MAPI", PS_MAPI},
    };
    for (const auto& [name, guid] : iids) {
        ASSERT_TRUE(guids.count(name)) << name;
        EXPECT_EQ(guids.at(name), std::to_string(guid.Data1)) << name;
        EXPECT_EQ(guid.Data2, 0);
        EXPECT_EQ(guid.Data4[0], 0xC0);
        EXPECT_EQ(guid.Data4[7], 0x46);
    }
}

TEST(DeclaredValuesTest, StructuresHaveThePublishedLayout) {
    const std::pair<const char*, size_t> sizes[] = {
        {"SPropValue", sizeof(SPropValue)},
        {"SRestriction", sizeof(SRestriction)},
        {"SRow", sizeof(SRow)},
        {"SRowSet", sizeof(SRowSet)},
        {"SPropTagArray", sizeof(SPropTagArray)},
        {"SSortOrderSet", sizeof(SSortOrderSet)},
        {"SBinary", sizeof(SBinary)},
        {"ENTRYID", sizeof(ENTRYID)},
        {"MAPIUID", sizeof(MAPIUID)},
        {"GUID", sizeof(GUID)},
        {"FILETIME", sizeof(FILETIME)},
        {"MAPINAMEID", sizeof(MAPINAMEID)},
        {"ADRENTRY", sizeof(ADRENTRY)},
        {"SPropProblem", sizeof(SPropProblem)},
        {"ULONG", sizeof(ULONG)},
        {"WCHAR", sizeof(WCHAR)},
    };
    const std::map<std::string, size_t> expected = {
        {"SPropValue", 24},   {"SRestriction", 32},  {"SRow", 16},    {"SRowSet", 24},
        {"SPropTagArray", 8}, {"SSortOrderSet", 20}, {"SBinary", 16}, {"ENTRYID", 5},
        {"MAPIUID", 16},      {"GUID", 16},          {"FILETIME", 8}, {"MAPINAMEID", 24},
        {"ADRENTRY", 16},     {"SPropProblem", 12},  {"ULONG", 4},    {"WCHAR", 2},
    };
    for (const auto& [name, size] : sizes) EXPECT_EQ(size, expected.at(name)) << name;
    EXPECT_EQ(offsetof(SPropValue, Value), 8u);
    EXPECT_EQ(offsetof(SRowSet, aRow), 8u);
    EXPECT_EQ(offsetof(ENTRYID, ab), 4u);
    EXPECT_EQ(CbNewSRowSet(2), 8u + 2 * 16);
}

}  // namespace
