// Appointments as iCalendar (text/calendar), through libical.
#pragma once

#include <string>
#include <string_view>

#include "mime/mail_item.h"
#include "mime/mail_tags.h"

namespace mapi::mime {

// The iCalendar object (one VEVENT) for an appointment or meeting item
// (message class IPM.Appointment or IPM.Schedule.Meeting.*) that has a
// start time; false for any other item.
bool CalendarOf(const MailItem& item, NameResolver& names, std::string* ics);

// Makes item the appointment the first VEVENT of ics describes: message
// class, start, end, location, and the subject when the item has none.
// false when ics holds no event with a start time (item unchanged).
bool ApplyCalendar(std::string_view ics, NameResolver& names, MailItem& item);

}  // namespace mapi::mime
