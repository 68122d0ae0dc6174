// The progress text of the item copy, in the user's language: "32 of 250",
// or "32 vom 250" for German, the application's first language.
#pragma once

#include <string>

namespace quirnel {

// True when the messages locale is German: the first of LC_ALL, LC_MESSAGES
// and LANG that is set and not empty starts with "de". Null stands for unset.
bool GermanMessages(const char* lcAll, const char* lcMessages, const char* lang);

// The text for item index of count, in the language of the environment.
std::string ProgressText(unsigned index, unsigned count);
// The same for a given language, for tests.
std::string ProgressText(unsigned index, unsigned count, bool german);

}  // namespace quirnel
