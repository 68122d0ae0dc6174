// The named properties the sample store uses, resolved in the target store.
//
// Named properties have no fixed id: each store maps names to ids of its
// own. The generator asks the store once (GetIDsFromNames with MAPI_CREATE)
// and then writes with the tags this table hands out.
#pragma once

#include <array>
#include <cstddef>

#include <mapidefs.h>

namespace mapi::tools {

enum SampleNamed : size_t {
    kKeywords,           // PS_PUBLIC_STRINGS "Keywords": categories
    kFileUnder,          // PSETID_Address
    kEmail1DisplayName,  // PSETID_Address
    kEmail1AddressType,  // PSETID_Address
    kEmail1Address,      // PSETID_Address
    kBusyStatus,         // PSETID_Appointment
    kLocation,           // PSETID_Appointment
    kAppointmentStart,   // PSETID_Appointment
    kAppointmentEnd,     // PSETID_Appointment
    kDuration,           // PSETID_Appointment
    kAllDay,             // PSETID_Appointment (sub type)
    kReminderDelta,      // PSETID_Common
    kReminderSet,        // PSETID_Common
    kCommonStart,        // PSETID_Common
    kCommonEnd,          // PSETID_Common
    kSampleNamedCount
};

class SampleNamedTags {
public:
    // Resolves every name in the store's map, creating what is missing.
    HRESULT Resolve(IMAPIProp* store);
    // The full tag (id and type) of a resolved name.
    ULONG operator[](SampleNamed which) const { return tags_[which]; }

private:
    std::array<ULONG, kSampleNamedCount> tags_{};
};

}  // namespace mapi::tools
