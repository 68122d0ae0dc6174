// Writing the sample store's items through the MAPI message interfaces:
// mails (with recipients, bodies, categories, attachments and now and then
// a forwarded mail embedded), contacts, appointments and associated items.
#pragma once

#include <cstdint>
#include <string>

#include <mapidefs.h>

#include "sample_names.h"
#include "sample_random.h"

namespace mapi::tools {

// What the generator made, for its caller and its tests.
struct SampleSummary {
    uint32_t folders = 0;
    uint32_t mails = 0;
    uint32_t contacts = 0;
    uint32_t appointments = 0;
    uint32_t associated = 0;
    uint32_t attachments = 0;  // by value, embedded messages' own included
    uint32_t embedded = 0;     // embedded messages
    uint32_t unicodeSubjects = 0;
};

class SampleItemWriter {
public:
    SampleItemWriter(SampleRandom& rng, const SampleNamedTags& named, SampleSummary& summary)
        : rng_(rng), named_(named), summary_(summary) {}

    // A mail dated in year (0 for any year from 2015 to 2025); unsent mail
    // has no delivery data; sent mail is from the mailbox owner.
    HRESULT CreateMail(IMAPIFolder* folder, int year, bool unsent, bool sent);
    HRESULT CreateContact(IMAPIFolder* folder);
    HRESULT CreateAppointment(IMAPIFolder* folder);
    // A hidden item of folder (view definitions, settings and the like).
    HRESULT CreateAssociated(IMAPIFolder* folder, const char* messageClass, const char* subject);

private:
    HRESULT FillMail(IMessage* message, int year, bool unsent, bool sent, bool embedded);
    HRESULT AddRecipients(IMessage* message, bool sent);
    HRESULT AddFile(IMessage* message);
    HRESULT AddEmbeddedMail(IMessage* message, int year);
    int64_t RandomTime(int year);

    SampleRandom& rng_;
    const SampleNamedTags& named_;
    SampleSummary& summary_;
};

}  // namespace mapi::tools
