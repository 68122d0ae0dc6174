// The command line of mapiprofile: which command, its arguments and options.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace mapi::tools {

struct CommandLine {
    std::string command;            // list, create, add, remove, sample, dump, help, version
    std::vector<std::string> args;  // the command's positional arguments
    uint32_t items = 1000;          // sample --items
    uint32_t seed = 1;              // sample --seed
    bool props = false;             // dump --props
    std::string kind;               // create --kind: a provider name, empty for by extension
};

// Parses argv (argv[0] is the program). --help (-h) or --version anywhere
// asks for that alone, whatever else is there. Returns false on wrong usage
// with *error saying in one line what is wrong.
bool ParseCommandLine(int argc, const char* const* argv, CommandLine* out, std::string* error);

// The usage text, including the dump format's named-property lines.
const char* UsageText();

// "mapiprofile (Quirnel) VERSION".
std::string VersionText();

}  // namespace mapi::tools
