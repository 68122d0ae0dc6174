// The profile: the list of message stores of a session, kept as an INI file.
//
// The file is $MAPI_PROFILE when that is set, otherwise
// ${XDG_CONFIG_HOME:-~/.config}/quirnel/profile.ini. One section per store;
// the section key and the display name are unique. The file and the
// folders made for it are for their owner alone (modes 600 and 700).
#pragma once

#include <string>
#include <vector>

#include <mapidefs.h>

#include "provider.h"

namespace mapi {

class Profile {
public:
    // Where the profile of this user lives (see above).
    static std::string DefaultPath();

    // Reads the profile at path. MAPI_E_NOT_FOUND when there is no file;
    // MAPI_E_CORRUPT_DATA when it is malformed (a line that is neither a
    // section, a key=value pair, a comment nor blank; an entry without name,
    // provider or path; a name given to two entries); MAPI_E_NO_ACCESS when it cannot be read. *error then
    // says what is wrong, naming the file and line.
    static HRESULT Load(const std::string& path, Profile* out, std::string* error);

    // Writes the profile to path, creating its folder; replaces the file
    // atomically so a crash never leaves half a profile. When path is a
    // symbolic link, the file it leads to is replaced and the link stays.
    // MAPI_E_INVALID_PARAMETER for a line break in an entry or a name given
    // to two entries.
    HRESULT Save(const std::string& path, std::string* error) const;

    const std::vector<ProfileEntry>& Entries() const { return entries_; }

    // Appends an entry with a new unique section key and returns it.
    const ProfileEntry& Add(const std::string& displayName, const std::string& provider,
                            const std::string& path);

    // Removes the first entry with this display name; false when none has it.
    bool Remove(const std::string& displayName);

    // The first entry with this display name, or null.
    const ProfileEntry* Find(const std::string& displayName) const;

private:
    std::vector<ProfileEntry> entries_;
};

// The text of the last logon failure of this thread (empty when the last
// logon succeeded), so that tools can tell the user why MAPILogonEx failed.
const std::string& LastLogonError();

}  // namespace mapi
