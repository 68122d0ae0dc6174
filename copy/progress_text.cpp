// Progress text by the locale of the environment.
#include "progress_text.h"

#include <cstdio>
#include <cstdlib>

namespace quirnel {

bool GermanMessages(const char* lcAll, const char* lcMessages, const char* lang) {
    for (const char* value : {lcAll, lcMessages, lang}) {
        if (value == nullptr || *value == '\0') continue;
        return value[0] == 'd' && value[1] == 'e' &&
               (value[2] == '\0' || value[2] == '_' || value[2] == '.' || value[2] == '@');
    }
    return false;
}

std::string ProgressText(unsigned index, unsigned count, bool german) {
    char text[64];
    std::snprintf(text, sizeof text, german ? "%u vom %u" : "%u of %u", index, count);
    return text;
}

std::string ProgressText(unsigned index, unsigned count) {
    // Read once: the environment does not change during a run, and getenv
    // is not to be raced with setenv from other threads.
    static const bool german = GermanMessages(std::getenv("LC_ALL"), std::getenv("LC_MESSAGES"),
                                              std::getenv("LANG"));
    return ProgressText(index, count, german);
}

}  // namespace quirnel
