// Text of the generated sample store: people, subjects, bodies, categories.
//
// Everything is drawn from fixed word tables through SampleRandom, so the
// same seed gives the same text everywhere.
#pragma once

#include <string>
#include <vector>

#include "sample_random.h"

namespace mapi::tools {

struct SamplePerson {
    std::string given;
    std::string surname;
    std::string company;
    std::string email;  // SMTP address
    std::string DisplayName() const { return given + " " + surname; }
};

SamplePerson PickPerson(SampleRandom& rng);

// A subject line of a mail, sometimes a reply or a forward.
std::string MailSubject(SampleRandom& rng);
// A subject with non-ASCII text (UTF-8), for items stored as PT_UNICODE.
std::string UnicodeSubject(SampleRandom& rng);
// An appointment's subject and place.
std::string MeetingSubject(SampleRandom& rng);
std::string MeetingLocation(SampleRandom& rng);

// A plain-text body of a few paragraphs separated by blank lines, signed by
// signer; \r\n line ends as mail clients store them.
std::string BodyText(SampleRandom& rng, const std::string& signer);
// The same text as a small HTML document.
std::string BodyHtml(const std::string& text);

// One to three distinct category names.
std::vector<std::string> PickCategories(SampleRandom& rng);

std::string PhoneNumber(SampleRandom& rng);
std::string JobTitle(SampleRandom& rng);

// A file attachment: its long file name, extension (with dot), MIME type and
// content.
struct SampleFile {
    std::string name;
    std::string extension;
    std::string mimeType;
    std::string data;
};
SampleFile MakeFile(SampleRandom& rng);

}  // namespace mapi::tools
