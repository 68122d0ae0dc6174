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

// Adds the existing store at file (a file or, for Maildir, mbox and .eml
// stores, a directory; any kind a provider recognises by its content)
// under a name made from the file name. *name receives the
// name it got. A file that is listed already is not added twice: *name is
// then the name it has and the result is empty.
std::string AddStoreFile(const std::string& profilePath, const std::string& file,
                         std::string* name);

// The kinds of store a new target can be. DataFile is a single file: a
// .pst name makes a personal folder file, any other an embedded store. The
// others are directories of mail files that other mail programs read too.
enum class NewStoreKind { DataFile, Maildir, Mbox, Eml };

// Makes a new, empty store of kind at file and adds it (a data file name
// without extension gets ".db"). *name and *file receive the entry's name
// and the file or directory it was made at.
std::string CreateTargetStore(const std::string& profilePath, NewStoreKind kind, std::string* file,
                              std::string* name);

// The address of an IMAP account as the profile keeps it:
// imaps://user@host[:port] with TLS from the start, or
// imap://user@host[:port]?starttls, which the platform holds to STARTTLS
// (a bare imap:// is plain text and only allowed to this machine). The port
// is left out when it is the usual one for the choice; the user is
// percent-encoded where needed.
std::string AccountUrl(const std::string& host, int port, const std::string& user,
                       bool implicitTls);

// Adds the IMAP account at url under a name made from user and host, once
// a logon to it has succeeded (its password is asked for through the
// provider's prompt); a failed logon is the result and nothing is added. An
// account already listed is not added twice; *name is then its name.
std::string AddAccount(const std::string& profilePath, const std::string& url, std::string* name);

// Gives the entry whose file is file the display name newName. Refused
// (with the reason) when another entry has that name already, since the
// copy run finds stores by name, or when the name is empty.
std::string RenameStore(const std::string& profilePath, const std::string& file,
                        const std::string& newName);

// Removes the entry whose file is file. The store file itself is kept.
std::string RemoveStore(const std::string& profilePath, const std::string& file);

}  // namespace store_setup
