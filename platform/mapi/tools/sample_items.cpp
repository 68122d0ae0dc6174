// The sample store's items, written property by property through IMessage.
#include "sample_items.h"

#include <cstring>
#include <memory>

#include <mapiutil.h>

#include "prop_bag.h"
#include "runtime/mapi_ptr.h"
#include "sample_text.h"
#include "sample_time.h"

namespace mapi::tools {
namespace {

// The mailbox owner: the sender of sent mail, a recipient of received mail.
SamplePerson Owner() {
    return SamplePerson{"Robin", "Ahlers", "Nordwind AG", "robin.ahlers@nordwind.example"};
}

struct AdrListDeleter {
    void operator()(ADRLIST* list) const { FreePadrlist(list); }
};
using AdrListPtr = std::unique_ptr<ADRLIST, AdrListDeleter>;

struct Recipient {
    SamplePerson person;
    LONG type;  // MAPI_TO, MAPI_CC
};

HRESULT CopyString(SPropValue* value, ULONG tag, const std::string& text, void* parent) {
    void* data = nullptr;
    if (MAPIAllocateMore(static_cast<ULONG>(text.size() + 1), parent, &data) != S_OK)
        return MAPI_E_NOT_ENOUGH_MEMORY;
    std::memcpy(data, text.c_str(), text.size() + 1);
    value->ulPropTag = tag;
    value->Value.lpszA = static_cast<LPSTR>(data);
    return S_OK;
}

// The list ModifyRecipients wants: every entry's values in a MAPI buffer of
// its own, as providers may replace them.
HRESULT BuildAdrList(const std::vector<Recipient>& recipients, AdrListPtr* out) {
    void* raw = nullptr;
    if (MAPIAllocateBuffer(static_cast<ULONG>(CbNewADRLIST(recipients.size())), &raw) != S_OK)
        return MAPI_E_NOT_ENOUGH_MEMORY;
    AdrListPtr list(static_cast<ADRLIST*>(raw));
    list->cEntries = 0;
    constexpr ULONG kValues = 4;
    for (const Recipient& r : recipients) {
        void* values = nullptr;
        if (MAPIAllocateBuffer(kValues * sizeof(SPropValue), &values) != S_OK)
            return MAPI_E_NOT_ENOUGH_MEMORY;
        ADRENTRY& entry = list->aEntries[list->cEntries++];
        entry.ulReserved1 = 0;
        entry.cValues = kValues;
        entry.rgPropVals = static_cast<LPSPropValue>(values);
        std::memset(values, 0, kValues * sizeof(SPropValue));
        SPropValue* v = entry.rgPropVals;
        HRESULT hr = CopyString(&v[0], PR_DISPLAY_NAME, r.person.DisplayName(), values);
        if (SUCCEEDED(hr)) hr = CopyString(&v[1], PR_EMAIL_ADDRESS, r.person.email, values);
        if (SUCCEEDED(hr)) hr = CopyString(&v[2], PR_ADDRTYPE, "SMTP", values);
        if (FAILED(hr)) return hr;
        v[3].ulPropTag = PR_RECIPIENT_TYPE;
        v[3].Value.l = r.type;
    }
    *out = std::move(list);
    return S_OK;
}

HRESULT WriteStream(IMAPIProp* object, ULONG tag, const std::string& data) {
    ComRef<IStream> stream;
    HRESULT hr = object->OpenProperty(tag, &IID_IStream, STGM_READWRITE, MAPI_CREATE | MAPI_MODIFY,
                                      stream.OutAs<IUnknown>());
    if (FAILED(hr)) return hr;
    size_t done = 0;
    while (done < data.size()) {
        ULONG written = 0;
        hr = stream->Write(data.data() + done, static_cast<ULONG>(data.size() - done), &written);
        if (FAILED(hr)) return hr;
        if (written == 0) return MAPI_E_CALL_FAILED;
        done += written;
    }
    return stream->Commit(STGC_DEFAULT);
}

void SetPerson(PropBag& props, const SamplePerson& who) {
    props.Text(PR_SENDER_NAME, who.DisplayName());
    props.Text(PR_SENDER_EMAIL_ADDRESS, who.email);
    props.Text(PR_SENDER_ADDRTYPE, "SMTP");
    props.Text(PR_SENT_REPRESENTING_NAME, who.DisplayName());
    props.Text(PR_SENT_REPRESENTING_EMAIL_ADDRESS, who.email);
    props.Text(PR_SENT_REPRESENTING_ADDRTYPE, "SMTP");
}

std::string Hex64(uint64_t v) {
    static const char kDigits[] = "0123456789abcdef";
    std::string out(16, '0');
    for (int i = 15; i >= 0; --i, v >>= 4) out[static_cast<size_t>(i)] = kDigits[v & 15];
    return out;
}

}  // namespace

int64_t SampleItemWriter::RandomTime(int year) {
    int64_t lo = UnixYearStart(year != 0 ? year : 2015);
    int64_t hi = UnixYearStart(year != 0 ? year + 1 : 2026);
    return lo + static_cast<int64_t>(rng_.Below64(static_cast<uint64_t>(hi - lo)));
}

HRESULT SampleItemWriter::AddRecipients(IMessage* message, bool sent) {
    std::vector<Recipient> list;
    if (!sent) list.push_back({Owner(), MAPI_TO});
    int to = rng_.Between(sent ? 1 : 0, 3);
    for (int i = 0; i < to; ++i) list.push_back({PickPerson(rng_), MAPI_TO});
    int cc = rng_.Chance(30) ? rng_.Between(1, 2) : 0;
    for (int i = 0; i < cc; ++i) list.push_back({PickPerson(rng_), MAPI_CC});
    AdrListPtr adrList;
    HRESULT hr = BuildAdrList(list, &adrList);
    if (FAILED(hr)) return hr;
    return message->ModifyRecipients(MODRECIP_ADD, adrList.get());
}

HRESULT SampleItemWriter::AddFile(IMessage* message) {
    SampleFile file = MakeFile(rng_);
    ULONG number = 0;
    ComRef<IAttach> attach;
    HRESULT hr = message->CreateAttach(nullptr, 0, &number, attach.Out());
    if (FAILED(hr)) return hr;
    PropBag props;
    props.Long(PR_ATTACH_METHOD, ATTACH_BY_VALUE);
    props.Text(PR_ATTACH_LONG_FILENAME, file.name);
    props.Text(PR_ATTACH_FILENAME, file.name);
    props.Text(PR_ATTACH_EXTENSION, file.extension);
    props.Text(PR_ATTACH_MIME_TAG, file.mimeType);
    props.Text(PR_DISPLAY_NAME, file.name);
    props.Long(PR_RENDERING_POSITION, -1);
    hr = props.ApplyTo(attach.get());
    if (SUCCEEDED(hr)) hr = WriteStream(attach.get(), PR_ATTACH_DATA_BIN, file.data);
    if (SUCCEEDED(hr)) hr = attach->SaveChanges(0);
    if (SUCCEEDED(hr)) ++summary_.attachments;
    return hr;
}

HRESULT SampleItemWriter::AddEmbeddedMail(IMessage* message, int year) {
    ULONG number = 0;
    ComRef<IAttach> attach;
    HRESULT hr = message->CreateAttach(nullptr, 0, &number, attach.Out());
    if (FAILED(hr)) return hr;
    PropBag props;
    props.Long(PR_ATTACH_METHOD, ATTACH_EMBEDDED_MSG);
    props.Text(PR_DISPLAY_NAME, "Forwarded message");
    props.Long(PR_RENDERING_POSITION, -1);
    hr = props.ApplyTo(attach.get());
    if (FAILED(hr)) return hr;
    ComRef<IMessage> inner;
    hr = attach->OpenProperty(PR_ATTACH_DATA_OBJ, &IID_IMessage, 0, MAPI_CREATE | MAPI_MODIFY,
                              inner.OutAs<IUnknown>());
    if (FAILED(hr)) return hr;
    hr = FillMail(inner.get(), year, false, false, true);
    if (SUCCEEDED(hr)) hr = inner->SaveChanges(0);
    if (SUCCEEDED(hr)) hr = attach->SaveChanges(0);
    if (SUCCEEDED(hr)) ++summary_.embedded;
    return hr;
}

HRESULT SampleItemWriter::FillMail(IMessage* message, int year, bool unsent, bool sent,
                                   bool embedded) {
    PropBag props;
    props.Text(PR_MESSAGE_CLASS, "IPM.Note");
    if (rng_.Chance(6)) {
        props.Text(PR_SUBJECT_W, UnicodeSubject(rng_));
        ++summary_.unicodeSubjects;
    } else {
        props.Text(PR_SUBJECT, MailSubject(rng_));
    }
    SamplePerson from = sent || unsent ? Owner() : PickPerson(rng_);
    SetPerson(props, from);

    int64_t when = RandomTime(year);
    if (unsent) {
        props.Time(PR_CREATION_TIME, FileTimeFromUnix(when));
        props.Time(PR_LAST_MODIFICATION_TIME, FileTimeFromUnix(when + rng_.Between(10, 7200)));
        props.Long(PR_MESSAGE_FLAGS, MSGFLAG_UNSENT);
    } else {
        int64_t delivered = when + rng_.Between(5, 3600);
        props.Time(PR_CLIENT_SUBMIT_TIME, FileTimeFromUnix(when));
        props.Time(PR_MESSAGE_DELIVERY_TIME, FileTimeFromUnix(delivered));
        props.Time(PR_CREATION_TIME, FileTimeFromUnix(delivered));
        int64_t later = rng_.Chance(70) ? 0 : rng_.Between(60, 30 * 86400);
        props.Time(PR_LAST_MODIFICATION_TIME, FileTimeFromUnix(delivered + later));
        props.Long(PR_MESSAGE_FLAGS, sent || rng_.Chance(75) ? MSGFLAG_READ : 0);
        props.Text(PR_INTERNET_MESSAGE_ID, "<" + Hex64(rng_.Below64(UINT64_MAX)) + "@" +
                                               from.email.substr(from.email.find('@') + 1) + ">");
    }
    uint32_t importance = rng_.Below(100);
    props.Long(PR_IMPORTANCE, importance < 5 ? 0 : importance < 90 ? 1 : 2);

    std::string body = BodyText(rng_, from.DisplayName());
    props.Text(PR_BODY, body);
    if (rng_.Chance(50)) props.Binary(PR_HTML, BodyHtml(body));
    if (rng_.Chance(30)) props.TextList(named_[kKeywords], PickCategories(rng_));

    HRESULT hr = props.ApplyTo(message);
    if (SUCCEEDED(hr)) hr = AddRecipients(message, sent || unsent);
    if (FAILED(hr)) return hr;

    if (rng_.Chance(embedded ? 10 : 12)) {
        int files = embedded ? 1 : rng_.Between(1, 3);
        for (int i = 0; i < files && SUCCEEDED(hr); ++i) hr = AddFile(message);
    }
    if (SUCCEEDED(hr) && !embedded && rng_.Chance(2)) hr = AddEmbeddedMail(message, year);
    return hr;
}

HRESULT SampleItemWriter::CreateMail(IMAPIFolder* folder, int year, bool unsent, bool sent) {
    ComRef<IMessage> message;
    HRESULT hr = folder->CreateMessage(nullptr, 0, message.Out());
    if (SUCCEEDED(hr)) hr = FillMail(message.get(), year, unsent, sent, false);
    if (SUCCEEDED(hr)) hr = message->SaveChanges(0);
    if (SUCCEEDED(hr)) ++summary_.mails;
    return hr;
}

HRESULT SampleItemWriter::CreateContact(IMAPIFolder* folder) {
    SamplePerson person = PickPerson(rng_);
    PropBag props;
    props.Text(PR_MESSAGE_CLASS, "IPM.Contact");
    props.Text(PR_SUBJECT, person.DisplayName());
    props.Text(PR_DISPLAY_NAME, person.DisplayName());
    props.Text(PR_GIVEN_NAME, person.given);
    props.Text(PR_SURNAME, person.surname);
    props.Text(PR_COMPANY_NAME, person.company);
    props.Text(PR_TITLE, JobTitle(rng_));
    props.Text(PR_BUSINESS_TELEPHONE_NUMBER, PhoneNumber(rng_));
    if (rng_.Chance(60)) props.Text(PR_MOBILE_TELEPHONE_NUMBER, PhoneNumber(rng_));
    props.Text(named_[kFileUnder], person.surname + ", " + person.given);
    props.Text(named_[kEmail1DisplayName], person.DisplayName() + " (" + person.email + ")");
    props.Text(named_[kEmail1AddressType], "SMTP");
    props.Text(named_[kEmail1Address], person.email);
    int64_t created = RandomTime(0);
    props.Time(PR_CREATION_TIME, FileTimeFromUnix(created));
    props.Time(PR_LAST_MODIFICATION_TIME,
               FileTimeFromUnix(created + rng_.Between(0, 400) * int64_t{86400}));
    if (rng_.Chance(20)) props.TextList(named_[kKeywords], PickCategories(rng_));
    if (rng_.Chance(20)) props.Text(PR_BODY, "Met at the trade fair. Prefers e-mail.\r\n");

    ComRef<IMessage> message;
    HRESULT hr = folder->CreateMessage(nullptr, 0, message.Out());
    if (SUCCEEDED(hr)) hr = props.ApplyTo(message.get());
    if (SUCCEEDED(hr)) hr = message->SaveChanges(0);
    if (SUCCEEDED(hr)) ++summary_.contacts;
    return hr;
}

HRESULT SampleItemWriter::CreateAppointment(IMAPIFolder* folder) {
    static const LONG kDurations[] = {30, 45, 60, 90, 120};
    bool allDay = rng_.Chance(10);
    int64_t start = RandomTime(0);
    LONG minutes;
    if (allDay) {
        start -= start % 86400;
        minutes = 1440;
    } else {
        start -= start % 1800;
        minutes = rng_.Pick(kDurations);
    }
    int64_t end = start + int64_t{minutes} * 60;
    PropBag props;
    props.Text(PR_MESSAGE_CLASS, "IPM.Appointment");
    props.Text(PR_SUBJECT, MeetingSubject(rng_));
    props.Text(named_[kLocation], MeetingLocation(rng_));
    props.Time(named_[kAppointmentStart], FileTimeFromUnix(start));
    props.Time(named_[kAppointmentEnd], FileTimeFromUnix(end));
    props.Time(named_[kCommonStart], FileTimeFromUnix(start));
    props.Time(named_[kCommonEnd], FileTimeFromUnix(end));
    props.Long(named_[kDuration], minutes);
    props.Bool(named_[kAllDay], allDay);
    props.Long(named_[kBusyStatus], allDay ? 0 : 2);
    bool reminder = rng_.Chance(70);
    props.Bool(named_[kReminderSet], reminder);
    if (reminder) props.Long(named_[kReminderDelta], 15);
    int64_t created = start - rng_.Between(1, 60) * int64_t{86400};
    props.Time(PR_CREATION_TIME, FileTimeFromUnix(created));
    props.Time(PR_LAST_MODIFICATION_TIME, FileTimeFromUnix(created + rng_.Between(0, 86400)));
    SetPerson(props, Owner());
    if (rng_.Chance(25)) props.TextList(named_[kKeywords], PickCategories(rng_));
    if (rng_.Chance(30)) props.Text(PR_BODY, BodyText(rng_, Owner().DisplayName()));

    ComRef<IMessage> message;
    HRESULT hr = folder->CreateMessage(nullptr, 0, message.Out());
    if (SUCCEEDED(hr)) hr = props.ApplyTo(message.get());
    if (SUCCEEDED(hr) && rng_.Chance(30)) hr = AddRecipients(message.get(), true);
    if (SUCCEEDED(hr)) hr = message->SaveChanges(0);
    if (SUCCEEDED(hr)) ++summary_.appointments;
    return hr;
}

HRESULT SampleItemWriter::CreateAssociated(IMAPIFolder* folder, const char* messageClass,
                                           const char* subject) {
    PropBag props;
    props.Text(PR_MESSAGE_CLASS, messageClass);
    props.Text(PR_SUBJECT, subject);
    props.Time(PR_CREATION_TIME, FileTimeFromUnix(RandomTime(2015)));
    ComRef<IMessage> message;
    HRESULT hr = folder->CreateMessage(nullptr, MAPI_ASSOCIATED, message.Out());
    if (SUCCEEDED(hr)) hr = props.ApplyTo(message.get());
    if (SUCCEEDED(hr)) hr = message->SaveChanges(0);
    if (SUCCEEDED(hr)) ++summary_.associated;
    return hr;
}

}  // namespace mapi::tools
