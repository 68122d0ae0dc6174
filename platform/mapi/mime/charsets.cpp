// Windows code pages as MIME charset names, for PR_INTERNET_CPID.
#include <strings.h>

#include <string>

#include "mime/mime_convert.h"

namespace mapi::mime {

namespace {

struct CodePageName {
    LONG codePage;
    const char* name;
};

// The code pages mail is commonly written in ([MS-OXCMAIL] leaves the list
// to the implementation; these names are the IANA ones).
constexpr CodePageName kCodePages[] = {
    {65001, "utf-8"},        {20127, "us-ascii"},     {28591, "iso-8859-1"},
    {28592, "iso-8859-2"},   {28593, "iso-8859-3"},   {28594, "iso-8859-4"},
    {28595, "iso-8859-5"},   {28596, "iso-8859-6"},   {28597, "iso-8859-7"},
    {28598, "iso-8859-8"},   {28599, "iso-8859-9"},   {28603, "iso-8859-13"},
    {28605, "iso-8859-15"},  {1250, "windows-1250"},  {1251, "windows-1251"},
    {1252, "windows-1252"},  {1253, "windows-1253"},  {1254, "windows-1254"},
    {1255, "windows-1255"},  {1256, "windows-1256"},  {1257, "windows-1257"},
    {1258, "windows-1258"},  {20866, "koi8-r"},       {21866, "koi8-u"},
    {932, "shift_jis"},      {936, "gb2312"},         {54936, "gb18030"},
    {949, "ks_c_5601-1987"}, {950, "big5"},           {50220, "iso-2022-jp"},
    {51932, "euc-jp"},       {51949, "euc-kr"},       {65000, "utf-7"},
    {1200, "utf-16le"},      {874, "windows-874"},
};

}  // namespace

const char* CharsetOfCodePage(LONG codePage) {
    for (const CodePageName& c : kCodePages)
        if (c.codePage == codePage) return c.name;
    return nullptr;
}

LONG CodePageOfCharset(std::string_view charset) {
    std::string name(charset);
    for (const CodePageName& c : kCodePages)
        if (strcasecmp(c.name, name.c_str()) == 0) return c.codePage;
    if (strcasecmp(name.c_str(), "latin1") == 0) return 28591;
    return 0;
}

}  // namespace mapi::mime
