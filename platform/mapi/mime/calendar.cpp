// iCalendar for appointments ([MS-OXCICAL] names the full mapping; these
// are the fields an appointment cannot do without).
#include "mime/calendar.h"

#include <cstdlib>
#include <memory>

#include <libical/ical.h>
#include <mapitags.h>

namespace mapi::mime {

namespace {

struct ComponentFree {
    void operator()(icalcomponent* c) const {
        if (c != nullptr) icalcomponent_free(c);
    }
};
using ComponentPtr = std::unique_ptr<icalcomponent, ComponentFree>;

bool StartsWith(const std::string& text, const char* prefix) {
    return text.rfind(prefix, 0) == 0;
}

icaltimetype UtcTime(FILETIME ft) {
    return icaltime_from_timet_with_zone(static_cast<time_t>(UnixFromFileTime(ft)), 0,
                                         icaltimezone_get_utc_timezone());
}

FILETIME FileTimeOf(icaltimetype t) {
    icaltimezone* zone = const_cast<icaltimezone*>(t.zone);
    if (zone == nullptr) zone = icaltimezone_get_utc_timezone();  // floating: read as UTC
    return FileTimeFromUnix(static_cast<int64_t>(icaltime_as_timet_with_zone(t, zone)));
}

}  // namespace

bool CalendarOf(const MailItem& item, NameResolver& names, std::string* ics) {
    const std::string cls = item.props.Text(PROP_ID(PR_MESSAGE_CLASS)).value_or("");
    if (!StartsWith(cls, "IPM.Appointment") && !StartsWith(cls, "IPM.Schedule.Meeting"))
        return false;
    const ULONG startId = names.IdOf(AppointmentStartName());
    const ULONG endId = names.IdOf(AppointmentEndName());
    const ULONG locationId = names.IdOf(AppointmentLocationName());
    if (startId == 0) return false;
    auto start = item.props.Time(startId);
    if (!start) return false;

    ComponentPtr calendar(icalcomponent_new_vcalendar());
    icalcomponent_add_property(calendar.get(), icalproperty_new_version("2.0"));
    icalcomponent_add_property(calendar.get(), icalproperty_new_prodid("-//Quirnel//Mail files//EN"));
    icalcomponent_add_property(calendar.get(), icalproperty_new_method(ICAL_METHOD_PUBLISH));
    icalcomponent* event = icalcomponent_new_vevent();
    icalcomponent_add_component(calendar.get(), event);
    icalcomponent_set_dtstart(event, UtcTime(*start));
    if (endId != 0)
        if (auto end = item.props.Time(endId)) icalcomponent_set_dtend(event, UtcTime(*end));
    if (auto subject = item.props.Text(PROP_ID(PR_SUBJECT)))
        icalcomponent_set_summary(event, subject->c_str());
    if (locationId != 0)
        if (auto location = item.props.Text(locationId); location && !location->empty())
            icalcomponent_set_location(event, location->c_str());
    std::string uid = item.props.Text(PROP_ID(PR_INTERNET_MESSAGE_ID)).value_or("");
    if (!uid.empty()) icalcomponent_set_uid(event, uid.c_str());
    icalcomponent_set_dtstamp(event, icaltime_current_time_with_zone(icaltimezone_get_utc_timezone()));
    char* text = icalcomponent_as_ical_string_r(calendar.get());
    if (text == nullptr) return false;
    ics->assign(text);
    std::free(text);
    return true;
}

bool ApplyCalendar(std::string_view ics, NameResolver& names, MailItem& item) {
    std::string text(ics);
    ComponentPtr root(icalparser_parse_string(text.c_str()));
    if (!root) return false;
    icalcomponent* event = icalcomponent_isa(root.get()) == ICAL_VEVENT_COMPONENT
                               ? root.get()
                               : icalcomponent_get_first_component(root.get(), ICAL_VEVENT_COMPONENT);
    if (event == nullptr) return false;
    icaltimetype start = icalcomponent_get_dtstart(event);
    if (icaltime_is_null_time(start)) return false;
    const ULONG startId = names.IdOf(AppointmentStartName());
    if (startId == 0) return false;
    const bool request = icalcomponent_isa(root.get()) == ICAL_VCALENDAR_COMPONENT &&
                         icalcomponent_get_method(root.get()) == ICAL_METHOD_REQUEST;
    item.props.SetText(PROP_ID(PR_MESSAGE_CLASS),
                       request ? "IPM.Schedule.Meeting.Request" : "IPM.Appointment");
    item.props.SetTime(startId, FileTimeOf(start));
    icaltimetype end = icalcomponent_get_dtend(event);
    if (ULONG endId = names.IdOf(AppointmentEndName()); endId != 0 && !icaltime_is_null_time(end))
        item.props.SetTime(endId, FileTimeOf(end));
    if (const char* location = icalcomponent_get_location(event))
        if (ULONG id = names.IdOf(AppointmentLocationName()); id != 0 && *location != '\0')
            item.props.SetText(id, location);
    if (!item.props.Has(PROP_ID(PR_SUBJECT)))
        if (const char* summary = icalcomponent_get_summary(event))
            item.props.SetText(PROP_ID(PR_SUBJECT), summary);
    return true;
}

}  // namespace mapi::mime
