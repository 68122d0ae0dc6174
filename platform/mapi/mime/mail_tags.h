// Property tags and named properties the MIME conversion maps that the
// published headers of this platform do not declare. Values from
// [MS-OXPROPS].
#pragma once

#include <string>

#include <mapidefs.h>
#include <mapiguid.h>

namespace mapi::mime {

struct MailItem;

inline constexpr ULONG kPrInReplyToId = PROP_TAG(PT_UNICODE, 0x1042);
inline constexpr ULONG kPrInternetReferences = PROP_TAG(PT_UNICODE, 0x1039);
inline constexpr ULONG kPrIconIndex = PROP_TAG(PT_LONG, 0x1080);
inline constexpr ULONG kPrLastVerbExecuted = PROP_TAG(PT_LONG, 0x1081);
inline constexpr ULONG kPrFlagStatus = PROP_TAG(PT_LONG, 0x1090);
inline constexpr ULONG kPrAttachmentHidden = PROP_TAG(PT_BOOLEAN, 0x7FFE);
inline constexpr ULONG kPrSentRepresentingSmtpAddress = PROP_TAG(PT_UNICODE, 0x5D02);

// PR_IMPORTANCE values and PR_DISPLAY_TYPE of a mail user.
inline constexpr LONG IMPORTANCE_LOW = 0;
inline constexpr LONG IMPORTANCE_NORMAL = 1;
inline constexpr LONG IMPORTANCE_HIGH = 2;
inline constexpr LONG DT_MAILUSER = 0;

// PR_LAST_VERB_EXECUTED values.
inline constexpr LONG kVerbReplyToSender = 102;
inline constexpr LONG kVerbReplyToAll = 103;
inline constexpr LONG kVerbForward = 104;
// PR_FLAG_STATUS: followupFlagged.
inline constexpr LONG kFlagStatusFlagged = 2;
// PR_ATTACH_FLAGS: the attachment is referenced from the HTML body.
inline constexpr LONG kAttMhtmlRef = 4;

// Our own property set, which records where a copied message came from so
// that a later run can skip it.
inline constexpr GUID PS_QUIRNEL = {
    0xf3c4d0d7, 0xb05b, 0x4214, {0xa8, 0x17, 0xa8, 0x19, 0x21, 0x2e, 0xa8, 0x42}};

// One named property: a set and either a number or a name.
struct PropName {
    GUID set{};
    bool isString = false;
    LONG id = 0;
    std::u16string name;

    bool operator<(const PropName& other) const;
    bool operator==(const PropName& other) const;
};

PropName NamedString(const GUID& set, const char16_t* name);
PropName NamedId(const GUID& set, LONG id);

// Categories: "Keywords" in PS_PUBLIC_STRINGS, PT_MV_UNICODE.
PropName KeywordsName();
// Provenance: "SourceStore" and "SourceEntryId" (PT_BINARY), "SourceModified"
// (PT_SYSTIME), all in PS_QUIRNEL.
PropName SourceStoreName();
PropName SourceEntryIdName();
PropName SourceModifiedName();
// "ConversionNotes" in PS_QUIRNEL (PT_UNICODE): one line for each guess
// the reading of a message had to make (a charset it did not know), so
// that the item itself says where its text may be wrong.
PropName ConversionNotesName();
// Appointments in PSETID_Appointment: start and end (PT_SYSTIME), location
// (PT_UNICODE).
PropName AppointmentStartName();
PropName AppointmentEndName();
PropName AppointmentLocationName();

// The store's name-to-id map as the conversion sees it.
class NameResolver {
public:
    virtual ~NameResolver() = default;
    // The id of name in the store, created when missing; 0 when the store
    // cannot give it one.
    virtual ULONG IdOf(const PropName& name) = 0;
};

// Adds line to the item's conversion notes (ConversionNotesName), once.
void AddConversionNote(NameResolver& names, MailItem& item, const std::string& line);

}  // namespace mapi::mime
