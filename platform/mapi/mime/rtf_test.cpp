// RTF bodies: stored, compressed and damaged PR_RTF_COMPRESSED values, the
// HTML and text read out of RTF, and RTF-only messages written as MIME.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <iostream>

#include <mapitags.h>
#include <mapix.h>
#include <mapiutil.h>

#include "mime/mime_convert.h"
#include "mime/rtf.h"
#include "providers/providers.h"
#include "runtime/mapi_ptr.h"

namespace mapi::mime {
namespace {

std::string Le32(uint32_t v) {
    std::string s(4, '\0');
    for (int i = 0; i < 4; ++i) s[i] = static_cast<char>(v >> (8 * i));
    return s;
}

TEST(Rtf, StoredAndDamagedBodies) {
    const std::string raw = "{\\rtf1\\ansi plain}";
    std::string stored = Le32(static_cast<uint32_t>(raw.size() + 12)) + Le32(raw.size()) +
                         Le32(0x414C454D) + Le32(0) + raw;
    std::string rtf;
    ASSERT_EQ(DecompressRtf(stored, &rtf), S_OK);
    EXPECT_EQ(rtf, raw);
    EXPECT_EQ(DecompressRtf(stored.substr(0, 10), &rtf), MAPI_E_CORRUPT_DATA);
    // A compressed body whose CRC does not match its data.
    std::string bad = Le32(16) + Le32(100) + Le32(0x75465A4C) + Le32(0xDEADBEEF) + "abcd";
    EXPECT_EQ(DecompressRtf(bad, &rtf), MAPI_E_CORRUPT_DATA);
}

TEST(Rtf, EncapsulatedHtmlAndPlainText) {
    const std::string wrapped =
        "{\\rtf1\\ansi\\ansicpg1252\\fromhtml1 \\deff0{\\fonttbl{\\f0 Arial;}}"
        "{\\*\\htmltag19 <html>}{\\*\\htmltag2 \\par }"
        "\\htmlrtf {\\b\\htmlrtf0 {\\*\\htmltag84 <b>}Gr\\'fc\\'dfe{\\*\\htmltag92 </b>}"
        "\\htmlrtf }\\htmlrtf0 \\u8364?{\\*\\htmltag27 </html>}}";
    std::string html;
    ASSERT_TRUE(HtmlFromRtf(wrapped, &html));
    EXPECT_EQ(html, "<html>\r\n<b>Grüße</b>€</html>");
    EXPECT_FALSE(HtmlFromRtf("{\\rtf1\\ansi plain}", &html));
    EXPECT_EQ(TextFromRtf("{\\rtf1\\ansi{\\fonttbl{\\f0 Arial;}}{\\*\\generator x;}Hello\\par "
                          "W\\'f6rld\\tab!}"),
              "Hello\r\nWörld\t!");
}

class NoNames : public NameResolver {
public:
    ULONG IdOf(const PropName&) override { return 0; }
};

std::string Stored(const std::string& raw) {
    return Le32(static_cast<uint32_t>(raw.size() + 12)) + Le32(raw.size()) + Le32(0x414C454D) +
           Le32(0) + raw;
}

// A message with nothing but an RTF body still has a body in MIME: the
// HTML it wraps, or its text beside the RTF itself.
TEST(Rtf, RtfOnlyMessagesKeepTheirBody) {
    NoNames names;
    MailItem wrapped;
    wrapped.props.SetBinary(PROP_ID(PR_RTF_COMPRESSED),
                            Stored("{\\rtf1\\ansi\\fromhtml1 {\\*\\htmltag <p>}Hi{\\*\\htmltag </p>}}"));
    std::string mime;
    ASSERT_EQ(WriteMime(wrapped, names, {}, &mime), S_OK);
    EXPECT_NE(mime.find("text/html"), std::string::npos);
    EXPECT_NE(mime.find("<p>Hi</p>"), std::string::npos) << mime;

    MailItem plain;
    plain.props.SetBinary(PROP_ID(PR_RTF_COMPRESSED), Stored("{\\rtf1\\ansi Just text\\par}"));
    ASSERT_EQ(WriteMime(plain, names, {}, &mime), S_OK);
    MailItem back;
    ASSERT_EQ(ReadMime(mime, names, &back), S_OK);
    EXPECT_EQ(back.props.Text(PROP_ID(PR_BODY)), "Just text\r\n");
    ASSERT_EQ(back.attachments.size(), 1u);
    EXPECT_EQ(back.attachments[0].props.Text(PROP_ID(PR_ATTACH_MIME_TAG)), "application/rtf");
    EXPECT_EQ(back.attachments[0].props.Binary(PROP_ID(PR_ATTACH_DATA_BIN)),
              "{\\rtf1\\ansi Just text\\par}");
}

// The compressed RTF bodies of the real personal folder files decompress,
// and their text is the message's plain body.
int CheckRtfBodies(const std::string& pst) {
    IMsgStore* rawStore = nullptr;
    std::string error;
    EXPECT_EQ(PstStoreProvider()->OpenStore({"s", "p", "pst", pst}, &rawStore, &error), S_OK) << error;
    if (rawStore == nullptr) return 0;
    ComRef<IMsgStore> store(rawStore);
    int checked = 0;
    // Walk every folder below the root and every message in it.
    std::vector<ComRef<IMAPIFolder>> folders;
    ComRef<IUnknown> root;
    ULONG type = 0;
    if (store->OpenEntry(0, nullptr, &IID_IMAPIFolder, 0, &type, root.Out()) != S_OK) return 0;
    folders.emplace_back(reinterpret_cast<IMAPIFolder*>(root.Detach()));
    while (!folders.empty()) {
        ComRef<IMAPIFolder> folder = folders.back();
        folders.pop_back();
        for (bool contents : {false, true}) {
            ComRef<IMAPITable> table;
            HRESULT hr = contents ? folder->GetContentsTable(0, table.Out())
                                  : folder->GetHierarchyTable(0, table.Out());
            if (FAILED(hr)) continue;
            SizedSPropTagArray(1, columns) = {1, {PR_ENTRYID}};
            LPSRowSet raw = nullptr;
            if (HrQueryAllRows(table.get(), reinterpret_cast<LPSPropTagArray>(&columns), nullptr,
                               nullptr, 0, &raw) != S_OK)
                continue;
            RowSetPtr rows(raw);
            for (ULONG i = 0; i < rows->cRows; ++i) {
                const SBinary& id = rows->aRow[i].lpProps[0].Value.bin;
                ComRef<IUnknown> object;
                if (FAILED(store->OpenEntry(id.cb, reinterpret_cast<LPENTRYID>(id.lpb), nullptr, 0,
                                            &type, object.Out())))
                    continue;
                if (!contents) {
                    folders.emplace_back(reinterpret_cast<IMAPIFolder*>(object.Detach()));
                    continue;
                }
                auto* message = reinterpret_cast<IMessage*>(object.get());
                LPSPropValue rtf = nullptr, body = nullptr;
                if (HrGetOneProp(message, PR_RTF_COMPRESSED, &rtf) != S_OK) continue;
                MapiBuffer<SPropValue> rtfHolder(rtf);
                if (HrGetOneProp(message, PR_BODY, &body) != S_OK) continue;
                MapiBuffer<SPropValue> bodyHolder(body);
                std::string text;
                EXPECT_EQ(DecompressRtf(std::string(reinterpret_cast<char*>(rtf->Value.bin.lpb),
                                                    rtf->Value.bin.cb),
                                        &text),
                          S_OK);
                EXPECT_EQ(text.rfind("{\\rtf1", 0), 0u);
                const std::string plain = TextFromRtf(text);
                const std::string start = std::string(body->Value.lpszA).substr(0, 40);
                EXPECT_NE(plain.find(start), std::string::npos) << plain;
                ++checked;
            }
        }
    }
    return checked;
}

TEST(Rtf, RealCompressedBodiesHoldThePlainBody) {
    const char* env = std::getenv("QUIRNEL_SHARED_DIR");
    const std::string dir = std::string(env != nullptr ? env : QUIRNEL_SHARED_DIR) + "/fixtures/pst";
    if (!std::filesystem::exists(dir)) GTEST_SKIP() << "no samples at " << dir;
    int checked = 0;
    for (const auto& entry : std::filesystem::directory_iterator(dir))
        if (entry.path().extension() == ".pst") checked += CheckRtfBodies(entry.path().string());
    EXPECT_GT(checked, 0);
    std::cout << checked << " RTF bodies checked\n";
}

}  // namespace
}  // namespace mapi::mime
