#include "runtime/read_options.h"

#include <cstdlib>
#include <sstream>

namespace mapi {

bool RecoverRequested(const std::string& word) {
    const char* value = std::getenv(kRecoverVariable);
    if (value == nullptr) return false;
    std::istringstream words(value);
    for (std::string w; std::getline(words, w, ',');)
        if (w == word) return true;
    return false;
}

}  // namespace mapi
