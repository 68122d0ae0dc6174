// The MAPI-MIME conversion: what a round trip keeps, how saved transport
// headers are kept, damaged and hostile input, appointments and RTF bodies.
#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <sstream>

#include <mapitags.h>

#include "mime/calendar.h"
#include "mime/mime_bounds.h"
#include "mime/mime_convert.h"
#include "mime/vcard.h"

namespace mapi::mime {
namespace {

// A name map like a store's: ids from 0x8000 in order of first use.
class TestNames : public NameResolver {
public:
    ULONG IdOf(const PropName& name) override {
        auto it = ids_.find(name);
        if (it != ids_.end()) return it->second;
        const ULONG id = 0x8000 + static_cast<ULONG>(ids_.size());
        ids_[name] = id;
        return id;
    }

private:
    std::map<PropName, ULONG> ids_;
};

PropBag Recipient(LONG type, const std::string& name, const std::string& address) {
    PropBag r;
    r.SetLong(PROP_ID(PR_RECIPIENT_TYPE), type);
    r.SetText(PROP_ID(PR_DISPLAY_NAME), name);
    if (!address.empty()) {
        r.SetText(PROP_ID(PR_ADDRTYPE), "SMTP");
        r.SetText(PROP_ID(PR_EMAIL_ADDRESS), address);
    }
    return r;
}

FILETIME Time(int64_t unix) { return FileTimeFromUnix(unix); }

std::string WriteOrDie(const MailItem& item, NameResolver& names, bool status = false) {
    std::string out;
    WriteOptions options;
    options.statusHeaders = status;
    EXPECT_EQ(WriteMime(item, names, options, &out), S_OK);
    return out;
}

MailItem ReadOrDie(const std::string& bytes, NameResolver& names) {
    MailItem item;
    EXPECT_EQ(ReadMime(bytes, names, &item), S_OK);
    return item;
}

// One message with everything the conversion maps, there and back.
TEST(MimeConvert, RoundTripKeepsWhatMimeCarries) {
    TestNames names;
    MailItem item;
    PropBag& p = item.props;
    p.SetText(PROP_ID(PR_MESSAGE_CLASS), "IPM.Note");
    p.SetText(PROP_ID(PR_SUBJECT), "Grüße – 日本 and a long subject that must be folded by the writer");
    p.SetText(PROP_ID(PR_SENT_REPRESENTING_NAME), "Jörg Müller");
    p.SetText(PROP_ID(PR_SENT_REPRESENTING_ADDRTYPE), "SMTP");
    p.SetText(PROP_ID(PR_SENT_REPRESENTING_EMAIL_ADDRESS), "joerg@example.org");
    p.SetText(PROP_ID(PR_SENDER_NAME), "Assistant");
    p.SetText(PROP_ID(PR_SENDER_ADDRTYPE), "SMTP");
    p.SetText(PROP_ID(PR_SENDER_EMAIL_ADDRESS), "assistant@example.org");
    p.SetTime(PROP_ID(PR_CLIENT_SUBMIT_TIME), Time(1500000000));
    p.SetText(PROP_ID(PR_INTERNET_MESSAGE_ID), "<abc.123@example.org>");
    p.SetText(PROP_ID(kPrInReplyToId), "<parent@example.org>");
    p.SetText(PROP_ID(kPrInternetReferences), "<root@example.org> <parent@example.org>");
    p.SetLong(PROP_ID(PR_IMPORTANCE), IMPORTANCE_HIGH);
    p.SetTextList(names.IdOf(KeywordsName()), {"Rot", "Geschäft"});
    p.SetText(PROP_ID(PR_BODY), "Line one\r\nFrom the start of a line\r\nÜmlaut\r\n");
    p.SetBinary(PROP_ID(PR_HTML), "<p>Hello</p><img src=\"cid:pic@x\">");
    p.SetLong(PROP_ID(PR_INTERNET_CPID), 65001);
    p.SetBinary(names.IdOf(SourceStoreName()), std::string("\x01\x02\xAB", 3));
    p.SetBinary(names.IdOf(SourceEntryIdName()), std::string("\x00\xFF", 2));
    FILETIME modified;
    modified.dwHighDateTime = 0x01D2A3B4;
    modified.dwLowDateTime = 0xC5D6E7F8;
    p.SetTime(names.IdOf(SourceModifiedName()), modified);
    item.recipients.push_back(Recipient(MAPI_TO, "Anna Ä", "anna@example.org"));
    item.recipients.push_back(Recipient(MAPI_CC, "", "cc@example.org"));
    item.recipients.push_back(Recipient(MAPI_BCC, "Hidden", "bcc@example.org"));
    item.recipients.push_back(Recipient(MAPI_TO, "Only A Name", ""));

    MailAttachment binary;
    const std::string bytes("\x00\r\n\xFF\x10text\r\n", 10);
    binary.props.SetLong(PROP_ID(PR_ATTACH_METHOD), ATTACH_BY_VALUE);
    binary.props.SetText(PROP_ID(PR_ATTACH_LONG_FILENAME), "Übersicht – März.csv");
    binary.props.SetText(PROP_ID(PR_ATTACH_MIME_TAG), "text/csv");
    binary.props.SetBinary(PROP_ID(PR_ATTACH_DATA_BIN), bytes);
    item.attachments.push_back(std::move(binary));
    MailAttachment picture;
    picture.props.SetLong(PROP_ID(PR_ATTACH_METHOD), ATTACH_BY_VALUE);
    picture.props.SetText(PROP_ID(PR_ATTACH_LONG_FILENAME), "pic.png");
    picture.props.SetText(PROP_ID(PR_ATTACH_MIME_TAG), "image/png");
    picture.props.SetText(PROP_ID(PR_ATTACH_CONTENT_ID), "pic@x");
    picture.props.SetLong(PROP_ID(PR_ATTACH_FLAGS), kAttMhtmlRef);
    picture.props.SetBinary(PROP_ID(PR_ATTACH_DATA_BIN), "\x89PNG");
    item.attachments.push_back(std::move(picture));
    MailAttachment forwarded;
    forwarded.props.SetLong(PROP_ID(PR_ATTACH_METHOD), ATTACH_EMBEDDED_MSG);
    forwarded.embedded = std::make_shared<MailItem>();
    forwarded.embedded->props.SetText(PROP_ID(PR_SUBJECT), "Inner");
    forwarded.embedded->props.SetText(PROP_ID(PR_BODY), "inner body\r\n");
    forwarded.embedded->props.SetLong(PROP_ID(PR_MESSAGE_FLAGS), MSGFLAG_READ);
    forwarded.embedded->recipients.push_back(Recipient(MAPI_TO, "In", "in@example.org"));
    item.attachments.push_back(std::move(forwarded));
    MailFlags flags;
    flags.seen = flags.flagged = flags.answered = true;
    ApplyFlags(item, flags);
    ApplyFlags(*item.attachments[2].embedded, MailFlags{true, false, true, false, false});

    const std::string mime = WriteOrDie(item, names, true);
    EXPECT_NE(mime.find("X-Quirnel-Source: store=0102AB; entry=00FF; modified=01D2A3B4C5D6E7F8"),
              std::string::npos)
        << mime;
    EXPECT_NE(mime.find("Status: RO"), std::string::npos);

    TestNames other;  // the reading store has its own ids
    MailItem back = ReadOrDie(mime, other);
    const PropBag& b = back.props;
    EXPECT_EQ(b.Text(PROP_ID(PR_SUBJECT)), p.Text(PROP_ID(PR_SUBJECT)));
    EXPECT_EQ(b.Text(PROP_ID(PR_SENT_REPRESENTING_NAME)), "Jörg Müller");
    EXPECT_EQ(b.Text(PROP_ID(PR_SENT_REPRESENTING_EMAIL_ADDRESS)), "joerg@example.org");
    EXPECT_EQ(b.Text(PROP_ID(PR_SENDER_EMAIL_ADDRESS)), "assistant@example.org");
    EXPECT_EQ(UnixFromFileTime(*b.Time(PROP_ID(PR_CLIENT_SUBMIT_TIME))), 1500000000);
    EXPECT_EQ(b.Text(PROP_ID(PR_INTERNET_MESSAGE_ID)), "<abc.123@example.org>");
    EXPECT_EQ(b.Text(PROP_ID(kPrInReplyToId)), "<parent@example.org>");
    EXPECT_EQ(b.Text(PROP_ID(kPrInternetReferences)), "<root@example.org> <parent@example.org>");
    EXPECT_EQ(b.Long(PROP_ID(PR_IMPORTANCE)), IMPORTANCE_HIGH);
    EXPECT_EQ(b.TextList(other.IdOf(KeywordsName())), (std::vector<std::string>{"Rot", "Geschäft"}));
    EXPECT_EQ(b.Text(PROP_ID(PR_BODY)), p.Text(PROP_ID(PR_BODY)));
    EXPECT_EQ(b.Binary(PROP_ID(PR_HTML)), p.Binary(PROP_ID(PR_HTML)));
    EXPECT_EQ(b.Binary(other.IdOf(SourceStoreName())), std::string("\x01\x02\xAB", 3));
    EXPECT_EQ(b.Binary(other.IdOf(SourceEntryIdName())), std::string("\x00\xFF", 2));
    ASSERT_TRUE(b.Time(other.IdOf(SourceModifiedName())));
    EXPECT_EQ(b.Time(other.IdOf(SourceModifiedName()))->dwLowDateTime, 0xC5D6E7F8u);
    EXPECT_EQ(b.Time(other.IdOf(SourceModifiedName()))->dwHighDateTime, 0x01D2A3B4u);
    const MailFlags got = FlagsOf(back);
    EXPECT_TRUE(got.seen && got.flagged && got.answered);
    EXPECT_FALSE(got.draft || got.forwarded);
    ASSERT_TRUE(b.Text(PROP_ID(PR_TRANSPORT_MESSAGE_HEADERS)));
    EXPECT_NE(b.Text(PROP_ID(PR_TRANSPORT_MESSAGE_HEADERS))->find("Subject:"), std::string::npos);

    ASSERT_EQ(back.recipients.size(), 4u);
    std::multiset<std::string> recipients;
    for (const PropBag& r : back.recipients)
        recipients.insert(std::to_string(*r.Long(PROP_ID(PR_RECIPIENT_TYPE))) + " " +
                          r.Text(PROP_ID(PR_DISPLAY_NAME)).value_or("?") + " " +
                          r.Text(PROP_ID(PR_SMTP_ADDRESS)).value_or("-"));
    EXPECT_EQ(recipients, (std::multiset<std::string>{"1 Anna Ä anna@example.org",
                                                      "1 Only A Name -",
                                                      "2 cc@example.org cc@example.org",
                                                      "3 Hidden bcc@example.org"}));

    ASSERT_EQ(back.attachments.size(), 3u);
    const PropBag& a0 = back.attachments[0].props;
    EXPECT_EQ(a0.Text(PROP_ID(PR_ATTACH_LONG_FILENAME)), "Übersicht – März.csv");
    EXPECT_EQ(a0.Binary(PROP_ID(PR_ATTACH_DATA_BIN)), bytes);
    EXPECT_EQ(a0.Text(PROP_ID(PR_ATTACH_MIME_TAG)), "text/csv");
    const PropBag& a1 = back.attachments[1].props;
    EXPECT_EQ(a1.Text(PROP_ID(PR_ATTACH_CONTENT_ID)), "pic@x");
    EXPECT_EQ(a1.Long(PROP_ID(PR_ATTACH_FLAGS)), kAttMhtmlRef);
    const MailAttachment& a2 = back.attachments[2];
    EXPECT_EQ(a2.props.Long(PROP_ID(PR_ATTACH_METHOD)), ATTACH_EMBEDDED_MSG);
    ASSERT_TRUE(a2.embedded);
    EXPECT_EQ(a2.embedded->props.Text(PROP_ID(PR_SUBJECT)), "Inner");
    EXPECT_EQ(a2.embedded->props.Text(PROP_ID(PR_BODY)), "inner body\r\n");
    EXPECT_TRUE(FlagsOf(*a2.embedded).seen);
    EXPECT_TRUE(FlagsOf(*a2.embedded).forwarded);  // an embedded message keeps it in its headers
    ASSERT_EQ(a2.embedded->recipients.size(), 1u);
}

// Saved headers go out as they were; what describes the old body goes, and
// recipient kinds they lack come from the table.
TEST(MimeConvert, TransportHeadersAreKeptAndCompleted) {
    TestNames names;
    MailItem item;
    item.props.SetText(PROP_ID(PR_TRANSPORT_MESSAGE_HEADERS),
                       "Received: from relay.example.org by mx.example.org; Mon, 1 Jan 2018 "
                       "10:00:00 +0000\r\nFrom: Original <orig@example.org>\r\nTo: "
                       "t@example.org\r\nSubject: =?utf-8?q?Kopf=C3=BCberschrift?=\r\n"
                       "Content-Type: multipart/related; boundary=\"gone\"\r\nX-Status: A\r\n"
                       "X-Mailer: Old Client 1.0\r\n\r\n");
    item.props.SetText(PROP_ID(PR_SUBJECT), "Property subject");
    item.props.SetText(PROP_ID(PR_BODY), "body");
    item.recipients.push_back(Recipient(MAPI_TO, "Table To", "tableto@example.org"));
    item.recipients.push_back(Recipient(MAPI_BCC, "Blind", "blind@example.org"));
    const std::string mime = WriteOrDie(item, names);
    EXPECT_NE(mime.find("Received: from relay.example.org"), std::string::npos) << mime;
    EXPECT_NE(mime.find("X-Mailer: Old Client 1.0"), std::string::npos);
    EXPECT_EQ(mime.find("boundary=\"gone\""), std::string::npos);
    EXPECT_EQ(mime.find("X-Status"), std::string::npos);
    EXPECT_EQ(mime.find("tableto@"), std::string::npos);  // To: came with the headers
    EXPECT_NE(mime.find("blind@example.org"), std::string::npos);

    MailItem back = ReadOrDie(mime, names);
    EXPECT_EQ(back.props.Text(PROP_ID(PR_SUBJECT)), "Kopfüberschrift");
    // Mon, 1 Jan 2018 10:00:00 +0000, from the Received header
    EXPECT_EQ(UnixFromFileTime(*back.props.Time(PROP_ID(PR_MESSAGE_DELIVERY_TIME))), 1514800800);
    EXPECT_EQ(back.props.Text(PROP_ID(PR_SENT_REPRESENTING_EMAIL_ADDRESS)), "orig@example.org");
    EXPECT_EQ(back.recipients.size(), 2u);
}

// Subjects that hold "=?" themselves, or look like encoded words, come
// back as they were, however long; no encoded word breaks a character.
TEST(MimeConvert, SubjectsWithEncodedWordMarkersComeBackAsTheyWere) {
    TestNames names;
    std::string longOne = "=?";
    for (int i = 0; i < 40; ++i) longOne += "\xC3\xA4\xE6\x97\xA5 ";  // ä日, split anywhere
    for (const std::string& subject :
         {std::string("copied =?: \xC3\xA4"), std::string("=?UTF-8?B?w6Q=?= is not encoded"),
          std::string("plain =? question"), longOne}) {
        MailItem item;
        item.props.SetText(PROP_ID(PR_SUBJECT), subject);
        item.props.SetText(PROP_ID(PR_BODY), "body");
        const std::string mime = WriteOrDie(item, names);
        EXPECT_EQ(ReadOrDie(mime, names).props.Text(PROP_ID(PR_SUBJECT)), subject) << mime;
        // The listing reads the header block alone; it must agree.
        const std::string head = mime.substr(0, mime.find("\n\n") + 1);
        EXPECT_EQ(ReadOrDie(head, names).props.Text(PROP_ID(PR_SUBJECT)), subject) << head;
        for (size_t at = mime.find("=?UTF-8?Q?"); at != std::string::npos;
             at = mime.find("=?UTF-8?Q?", at + 1))
            EXPECT_LE(mime.find("?=", at + 10) + 2 - at, 75u) << mime;
    }
}

// Text in a charset nobody here knows is read as Windows-1252, and the
// item says so in its conversion notes; a known charset leaves no note.
TEST(MimeConvert, AnUnknownCharsetIsReadAsWindows1252AndNoted) {
    TestNames names;
    const std::string head =
        "From: a@example.org\r\nSubject: prices\r\nMIME-Version: 1.0\r\n"
        "Content-Transfer-Encoding: 8bit\r\nContent-Type: text/plain; charset=";
    MailItem guessed = ReadOrDie(head + "\"x-no-such-charset\"\r\n\r\ncaf\xE9 \x80 5\r\n", names);
    EXPECT_EQ(guessed.props.Text(PROP_ID(PR_BODY)), "caf\xC3\xA9 \xE2\x82\xAC 5\r\n");
    const ULONG notes = names.IdOf(ConversionNotesName());
    ASSERT_NE(notes, 0u);
    const std::optional<std::string> note = guessed.props.Text(notes);
    ASSERT_TRUE(note.has_value());
    EXPECT_NE(note->find("x-no-such-charset"), std::string::npos) << *note;
    EXPECT_NE(note->find("Windows-1252"), std::string::npos) << *note;
    EXPECT_EQ(note->find('\n'), std::string::npos) << "one part, one line: " << *note;

    MailItem known = ReadOrDie(head + "iso-8859-1\r\n\r\ncaf\xE9\r\n", names);
    EXPECT_EQ(known.props.Text(PROP_ID(PR_BODY)), "caf\xC3\xA9\r\n");
    EXPECT_FALSE(known.props.Text(notes).has_value());
}

// Input no one should have sent: each case fails alone with a code, or is
// read as far as it makes sense, and nothing crashes.
TEST(MimeConvert, BadInputFailsAloneOrReadsWhatThereIs) {
    TestNames names;
    MailItem item;
    EXPECT_EQ(ReadMime("", names, &item), MAPI_E_CORRUPT_DATA);
    EXPECT_EQ(ReadMime(std::string("\x00\x01\x02\xFF\xFE binary", 12), names, &item),
              MAPI_E_CORRUPT_DATA);
    EXPECT_EQ(ReadMime("just some words, no mail at all\n", names, &item), MAPI_E_CORRUPT_DATA);

    // A charset nobody knows: the bytes are still text (read as Windows-1252).
    item = ReadOrDie("Subject: x\nContent-Type: text/plain; charset=x-unknown-42\n\nGr\xFC\xDF"
                     "e\n",
                     names);
    EXPECT_EQ(item.props.Text(PROP_ID(PR_BODY)), "Grüße\r\n");

    // Cut off inside an attachment: what arrived is kept.
    item = ReadOrDie("Subject: cut\nContent-Type: multipart/mixed; boundary=b\n\n--b\n"
                     "Content-Type: text/plain\n\nhello\n--b\nContent-Type: application/pdf\n"
                     "Content-Transfer-Encoding: base64\n\nJVBERi0x",
                     names);
    EXPECT_EQ(item.props.Text(PROP_ID(PR_BODY)), "hello");  // the last line break is the boundary's
    ASSERT_EQ(item.attachments.size(), 1u);
    EXPECT_EQ(item.attachments[0].props.Binary(PROP_ID(PR_ATTACH_DATA_BIN)), "%PDF-1");

    // Messages nested deeper than any real one: refused, not a stack overflow.
    std::string nested = "Subject: leaf\n\nbody\n";
    for (int i = 0; i < 40; ++i) nested = "Subject: level\nContent-Type: message/rfc822\n\n" + nested;
    EXPECT_EQ(ReadMime(nested, names, &item), MAPI_E_CORRUPT_DATA);

    // A header field past its limit is left out with a note; the fields
    // after it and the body stay.
    const ULONG notes = names.IdOf(ConversionNotesName());
    item = ReadOrDie("Subject: kept\nX-Big: " + std::string(kMaxHeaderField, 'a') +
                         "\n folded\nTo: r@example.org\n\nbody\n",
                     names);
    EXPECT_EQ(item.props.Text(PROP_ID(PR_SUBJECT)), "kept");
    EXPECT_EQ(item.props.Text(PROP_ID(PR_BODY)), "body\r\n");
    EXPECT_EQ(item.recipients.size(), 1u);
    EXPECT_EQ(item.props.Text(PROP_ID(PR_TRANSPORT_MESSAGE_HEADERS)).value_or("X-Big").find("X-Big"),
              std::string::npos);
    EXPECT_NE(item.props.Text(notes).value_or("").find("\"X-Big\" of 1048592 bytes"),
              std::string::npos);
    // Multiparts past their limit: the message is cut before the first
    // one too many, with a note.
    std::string deep = "Subject: deep\n";
    for (size_t i = 0; i < kMaxMultiparts + 5; ++i)
        deep += "Content-Type: multipart/mixed; boundary=b" + std::to_string(i) + "\n\n--b" +
                std::to_string(i) + "\n";
    item = ReadOrDie(deep + "Content-Type: text/plain\n\nleaf\n", names);
    EXPECT_EQ(item.props.Text(PROP_ID(PR_SUBJECT)), "deep");
    EXPECT_NE(item.props.Text(notes).value_or("").find("cut after its first 256 multipart"),
              std::string::npos);

    // Dates no calendar holds: clamped to what FILETIME can say, no overflow.
    EXPECT_EQ(UnixFromFileTime(FileTimeFromUnix(INT64_MAX / 2)), (INT64_MAX - 116444736000000000LL) / 10000000LL);
    FILETIME last{0xFFFFFFFFu, 0xFFFFFFFFu};
    EXPECT_GT(UnixFromFileTime(last), 0);
    item = ReadOrDie("Subject: far\nContent-Type: text/calendar\n\nBEGIN:VCALENDAR\nBEGIN:VEVENT\n"
                     "DTSTART:99999999T000000Z\nEND:VEVENT\nEND:VCALENDAR\n",
                     names);

    // Thunderbird keeps its flags in a word of its own.
    item = ReadOrDie("Subject: t\nX-Mozilla-Status: 1003\n\nx\n", names);
    MailFlags thunderbird = FlagsOf(item);
    EXPECT_TRUE(thunderbird.seen && thunderbird.answered && !thunderbird.flagged);

    // A provenance header that does not parse is ignored, not half applied.
    item = ReadOrDie("Subject: p\nX-Quirnel-Source: store=ABC; entry=00\n\nx\n", names);
    EXPECT_FALSE(item.props.Has(names.IdOf(SourceStoreName())));
}

TEST(MimeConvert, AppointmentsTravelAsCalendarParts) {
    TestNames names;
    MailItem item;
    item.props.SetText(PROP_ID(PR_MESSAGE_CLASS), "IPM.Appointment");
    item.props.SetText(PROP_ID(PR_SUBJECT), "Board meeting");
    item.props.SetText(PROP_ID(PR_BODY), "Agenda follows.");
    item.props.SetTime(names.IdOf(AppointmentStartName()), Time(1700000000));
    item.props.SetTime(names.IdOf(AppointmentEndName()), Time(1700003600));
    item.props.SetText(names.IdOf(AppointmentLocationName()), "Room 4, Zürich");
    const std::string mime = WriteOrDie(item, names);
    EXPECT_NE(mime.find("text/calendar"), std::string::npos);
    EXPECT_NE(mime.find("DTSTART:20231114T221320Z"), std::string::npos) << mime;

    MailItem back = ReadOrDie(mime, names);
    EXPECT_EQ(back.props.Text(PROP_ID(PR_MESSAGE_CLASS)), "IPM.Appointment");
    EXPECT_EQ(UnixFromFileTime(*back.props.Time(names.IdOf(AppointmentStartName()))), 1700000000);
    EXPECT_EQ(UnixFromFileTime(*back.props.Time(names.IdOf(AppointmentEndName()))), 1700003600);
    EXPECT_EQ(back.props.Text(names.IdOf(AppointmentLocationName())), "Room 4, Zürich");
    EXPECT_EQ(back.props.Text(PROP_ID(PR_BODY)), "Agenda follows.");
    EXPECT_TRUE(back.attachments.empty());  // the calendar part is the item, not an attachment
}

// Contacts travel as vCards; escaping and folding must not bend a field.
TEST(MimeConvert, ContactsTravelAsVCards) {
    TestNames names;
    MailItem item;
    item.props.SetText(PROP_ID(PR_MESSAGE_CLASS), "IPM.Contact");
    item.props.SetText(PROP_ID(PR_SUBJECT), "Dr. Anna Müller-Lüdenscheidt");
    item.props.SetText(PROP_ID(PR_DISPLAY_NAME), "Dr. Anna Müller-Lüdenscheidt");
    item.props.SetText(0x3A06, "Anna");
    item.props.SetText(0x3A11, "Müller-Lüdenscheidt; jr, \\ x");
    item.props.SetText(0x3A16, "Gärtnerei Blümchen GmbH & Co. KG, Zweigniederlassung Süd-West mit langem Namen");
    item.props.SetText(0x3A1C, "+49 170 1234567");
    item.props.SetText(0x3A08, "+49 89 7654321");
    const ULONG email = names.IdOf(NamedId(PSETID_Address, 0x8083));
    item.props.SetText(email, "anna@example.org");
    item.props.SetText(PROP_ID(PR_BODY), "Met at the fair.");
    const std::string mime = WriteOrDie(item, names);
    EXPECT_NE(mime.find("text/vcard"), std::string::npos);

    TestNames other;
    MailItem back = ReadOrDie(mime, other);
    EXPECT_EQ(back.props.Text(PROP_ID(PR_MESSAGE_CLASS)), "IPM.Contact");
    for (ULONG id : {0x3A06u, 0x3A11u, 0x3A16u, 0x3A1Cu, 0x3A08u})
        EXPECT_EQ(back.props.Text(id), item.props.Text(id)) << std::hex << id;
    EXPECT_EQ(back.props.Text(other.IdOf(NamedId(PSETID_Address, 0x8083))), "anna@example.org");
    EXPECT_EQ(back.props.Text(PROP_ID(PR_BODY)), "Met at the fair.");
    EXPECT_TRUE(back.attachments.empty());

    MailItem none;
    EXPECT_FALSE(ApplyVCard("no card here", names, none));
    EXPECT_FALSE(none.props.Has(PROP_ID(PR_MESSAGE_CLASS)));
}

}  // namespace
}  // namespace mapi::mime
