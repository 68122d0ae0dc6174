// Finds the user's documents folder the way the XDG user directories define
// it, so the log file lands where the desktop's file manager shows it.
#include "log_location.h"

#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>

namespace quirnel {
namespace {

std::string Env(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr ? std::string(value) : std::string();
}

std::string HomeFolder() {
    std::string home = Env("HOME");
    if (!home.empty()) return home;
    if (const passwd* pw = getpwuid(getuid()); pw != nullptr && pw->pw_dir != nullptr)
        return pw->pw_dir;
    return std::string();
}

std::string WithoutTrailingSlashes(std::string path) {
    while (path.size() > 1 && path.back() == '/') path.pop_back();
    return path;
}

// The value of XDG_DOCUMENTS_DIR in user-dirs.dirs: a shell assignment of a
// double-quoted text that is either absolute or starts with "$HOME".
std::string FromUserDirsFile(const std::string& home) {
    std::string config = Env("XDG_CONFIG_HOME");
    if (config.empty()) {
        if (home.empty()) return std::string();
        config = home + "/.config";
    }
    std::ifstream in(config + "/user-dirs.dirs");
    const std::string key = "XDG_DOCUMENTS_DIR=";
    std::string line;
    while (std::getline(in, line)) {
        size_t start = line.find_first_not_of(" \t");
        if (start == std::string::npos || line.compare(start, key.size(), key) != 0) continue;
        std::string value = line.substr(start + key.size());
        if (value.size() < 2 || value.front() != '"') continue;
        size_t close = value.find('"', 1);
        if (close == std::string::npos) continue;
        value = value.substr(1, close - 1);
        if (value.rfind("$HOME", 0) == 0) {
            if (home.empty()) continue;
            value = home + value.substr(5);
        }
        if (!value.empty() && value.front() == '/') return WithoutTrailingSlashes(value);
    }
    return std::string();
}

}  // namespace

std::string DocumentsFolder() {
    std::string direct = Env("XDG_DOCUMENTS_DIR");
    if (!direct.empty()) return WithoutTrailingSlashes(direct);
    std::string home = HomeFolder();
    std::string configured = FromUserDirsFile(home);
    if (!configured.empty()) return configured;
    return WithoutTrailingSlashes(home);
}

std::string LogFilePath() {
    return DocumentsFolder() + "/quirnel.log";
}

}  // namespace quirnel
