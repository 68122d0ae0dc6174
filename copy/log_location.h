// Where the copy run's log file lives: "quirnel.log" in the user's documents
// folder.
#pragma once

#include <string>

namespace quirnel {

// The user's documents folder, without a trailing slash: $XDG_DOCUMENTS_DIR
// when set and not empty; else the XDG_DOCUMENTS_DIR entry of
// ${XDG_CONFIG_HOME:-~/.config}/user-dirs.dirs (with "$HOME" expanded, the
// way xdg-user-dir reads it); else the home directory; the empty text when
// not even a home directory is known. The folder is not checked to exist.
// Reads the environment, so it must not race with setenv on another thread.
std::string DocumentsFolder();

// DocumentsFolder() + "/quirnel.log" ("/quirnel.log" without a folder).
std::string LogFilePath();

}  // namespace quirnel
