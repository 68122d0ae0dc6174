// Changes to the profile that the main dialog offers: a new empty profile,
// an existing store file added, a new target store made, an entry removed.
// Each change is saved at once; the dialog then logs on again to see it.
//
// Failures come back as a text for the user (empty on success); nothing here
// throws or shows anything.
#pragma once

#include <string>

#include <runtime/profile.h>

namespace store_setup {

// The profile at path, or an empty one when there is no file yet. Fails
// (returns the reason) when the file exists but cannot be used.
std::string LoadOrEmpty(const std::string& path, mapi::Profile* profile);

// Writes an empty profile at path (its folder is made as needed).
std::string CreateEmptyProfile(const std::string& path);

// A display name for a new entry: base itself when no entry has it yet,
// else "base (2)", "base (3)", ... The copy run finds stores by name, so
// two entries of one name would leave one of them unreachable.
std::string UniqueName(const mapi::Profile& profile, const std::string& base);

// Adds the existing store file at file (any kind a provider recognises by
// its content) under a name made from the file name. *name receives the
// name it got. A file that is listed already is not added twice: *name is
// then the name it has and the result is empty.
std::string AddStoreFile(const std::string& profilePath, const std::string& file,
                         std::string* name);

// Makes a new, empty store at file (a new embedded store; a file name
// without extension gets ".db") and adds it. *name and *file receive the
// entry's name and the file it was made at.
std::string CreateTargetStore(const std::string& profilePath, std::string* file, std::string* name);

// Removes the entry whose file is file. The store file itself is kept.
std::string RemoveStore(const std::string& profilePath, const std::string& file);

}  // namespace store_setup
