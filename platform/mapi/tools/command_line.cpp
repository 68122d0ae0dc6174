// Parsing mapiprofile's arguments; options may come before or after the
// positional arguments of their command.
#include "command_line.h"

#include <cstring>

#include "quirnel_version.h"

namespace mapi::tools {
namespace {

struct CommandShape {
    const char* name;
    size_t positional;
    bool sampleOptions;
    bool dumpOptions;
};

const CommandShape kCommands[] = {
    {"list", 0, false, false},   {"create", 2, false, false},  {"add", 2, false, false},
    {"remove", 1, false, false}, {"sample", 2, true, false},   {"dump", 1, false, true},
    {"help", 0, false, false},   {"version", 0, false, false},
};

// A decimal number in [0, max], digits only.
bool ParseNumber(const std::string& text, uint64_t max, uint32_t* out) {
    if (text.empty() || text.size() > 10) return false;
    uint64_t value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return false;
        value = value * 10 + static_cast<uint64_t>(c - '0');
    }
    if (value > max) return false;
    *out = static_cast<uint32_t>(value);
    return true;
}

}  // namespace

bool ParseCommandLine(int argc, const char* const* argv, CommandLine* out, std::string* error) {
    *out = CommandLine();
    if (argc < 2) {
        *error = "no command given";
        return false;
    }
    // Asking for help or the version never fails, wherever it is asked.
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--help" || arg == "-h" || arg == "--version") {
            out->command = arg == "--version" ? "version" : "help";
            return true;
        }
    }
    std::string command = argv[1];
    const CommandShape* shape = nullptr;
    for (const CommandShape& c : kCommands)
        if (command == c.name) shape = &c;
    if (shape == nullptr) {
        *error = "unknown command '" + command + "'";
        return false;
    }
    out->command = command;
    for (int i = 2; i < argc; ++i) {
        std::string arg = argv[i];
        if (shape->sampleOptions && (arg == "--items" || arg == "--seed")) {
            if (i + 1 >= argc) {
                *error = arg + " needs a number";
                return false;
            }
            std::string value = argv[++i];
            bool ok = arg == "--items" ? ParseNumber(value, 10000000, &out->items)
                                       : ParseNumber(value, UINT32_MAX, &out->seed);
            if (!ok) {
                *error = arg + " wants a whole number" +
                         (arg == "--items" ? " from 0 to 10000000" : " from 0 to 4294967295") +
                         ", not '" + value + "'";
                return false;
            }
        } else if (command == "create" && arg == "--kind") {
            static const char* const kKinds[] = {"maildir", "mbox", "eml", "pst", "embedded"};
            const std::string value = i + 1 < argc ? argv[++i] : "";
            bool known = false;
            for (const char* k : kKinds) known |= value == k;
            if (!known) {
                *error = "--kind wants maildir, mbox, eml, pst or embedded, not '" + value + "'";
                return false;
            }
            out->kind = value;
        } else if (shape->dumpOptions && arg == "--props") {
            out->props = true;
        } else if (arg.size() > 1 && arg[0] == '-') {
            *error = "unknown option '" + arg + "' for " + command;
            return false;
        } else {
            out->args.push_back(arg);
        }
    }
    if (out->args.size() != shape->positional) {
        *error = command + " takes " + std::to_string(shape->positional) + " argument" +
                 (shape->positional == 1 ? "" : "s") + ", not " + std::to_string(out->args.size());
        return false;
    }
    for (const std::string& a : out->args) {
        if (a.empty()) {
            *error = "empty argument for " + command;
            return false;
        }
    }
    return true;
}

std::string VersionText() {
    return std::string("mapiprofile (Quirnel) ") + QUIRNEL_VERSION;
}

const char* UsageText() {
    return R"(usage: mapiprofile COMMAND [ARGUMENTS]

Administers the profile ($MAPI_PROFILE, else ~/.config/quirnel/profile.ini)
and its message stores.

  list                          name, provider and path of each store (tab-separated)
  create NAME PATH [--kind maildir|mbox|eml|pst|embedded]
                                a new, empty store at PATH, added to the profile; without
                                --kind a .pst/.ost name makes a personal folder file,
                                any other an embedded store
  add NAME PATH                 an existing store (embedded or .pst/.ost file, Maildir,
                                mbox or .eml folder), recognised by its content
  remove NAME                   takes the store out of the profile (the file stays)
  sample NAME PATH [--items N] [--seed S]
                                a new embedded store filled with a generated mailbox of
                                N items (default 1000), the same for the same seed S
                                (default 1), added to the profile
  dump NAME [--props]           the store's folder tree as text
  --help, --version             this text; the program's version

dump prints one line per folder below the root of the IPM subtree, depth first:
  folder PATH items=N [special=inbox|outbox|wastebasket|sentmail]
With --props each item follows as "  item", then one line per property,
"    0xTAG=PAYLOAD" in ascending tag order, then "    recipient" and
"    attachment" blocks with their properties two spaces deeper (an embedded
message as a "message" block inside its attachment). Items are sorted by
their text. Named properties (ids from 0x8000) differ in id between stores,
so they are printed by name after the numbered ones, sorted:
  {GUID}:"Name":0xTYPE=PAYLOAD        named by a string
  {GUID}:0xLLLLLLLL:0xTYPE=PAYLOAD    named by a number
PAYLOAD: integers (PT_I8 too) and booleans decimal, floating point the
shortest exact decimal (a NaN as nan:0x and its bits), currency with four
places, errors 0xCODE, strings in double quotes (" and \ escaped, bytes
outside 0x20-0x7E as \xHH), times YYYY-MM-DDTHH:MM:SS, binary <HEX>, GUIDs
{...}, multi-valued [P, P], other types ?. Control characters in folder
names are written \xHH.

Exit status: 0 done, 1 failed (the reason on standard error), 64 wrong usage.
)";
}

}  // namespace mapi::tools
