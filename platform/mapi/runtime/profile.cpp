// Reading and writing the profile file (INI: one section per store with
// name, provider and path).
#include "profile.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>

namespace mapi {

namespace {

// A profile lists a handful of stores; anything bigger is not a profile.
constexpr std::uintmax_t kMaxProfileBytes = 1 << 20;

std::string Trim(const std::string& s) {
    const size_t first = s.find_first_not_of(" \t");
    if (first == std::string::npos) return std::string();
    const size_t last = s.find_last_not_of(" \t");
    return s.substr(first, last - first + 1);
}

std::string Where(const std::string& path, size_t line) {
    return path + ":" + std::to_string(line) + ": ";
}

std::string HomeDirectory() {
    if (const char* home = std::getenv("HOME"); home != nullptr && *home != 0) return home;
    if (const passwd* pw = getpwuid(getuid()); pw != nullptr && pw->pw_dir != nullptr)
        return pw->pw_dir;
    return ".";
}

bool HasLineBreak(const std::string& s) {
    return s.find_first_of("\r\n") != std::string::npos;
}

// Checks an entry once its section has ended.
HRESULT FinishEntry(const ProfileEntry& e, const std::string& path, size_t line,
                    std::string* error) {
    const char* missing = e.displayName.empty() ? "name"
                          : e.provider.empty()  ? "provider"
                          : e.path.empty()      ? "path"
                                                : nullptr;
    if (missing == nullptr) return S_OK;
    *error = Where(path, line) + "store [" + e.section + "] has no " + missing;
    return MAPI_E_CORRUPT_DATA;
}

HRESULT Parse(std::istream& in, const std::string& path, std::vector<ProfileEntry>* out,
              std::string* error) {
    std::vector<ProfileEntry> entries;
    std::set<std::string> sections;
    // Names pick stores in the tools and the dialog: of two entries that
    // share one, the second could never be chosen, and which one a run
    // would take is a guess.
    std::map<std::string, size_t> nameLines;
    size_t sectionLine = 0, nameLine = 0;
    // Checks the entry in hand once its section has ended.
    auto finish = [&]() -> HRESULT {
        HRESULT hr = FinishEntry(entries.back(), path, sectionLine, error);
        if (FAILED(hr)) return hr;
        auto [it, fresh] = nameLines.emplace(entries.back().displayName, nameLine);
        if (fresh) return S_OK;
        *error = Where(path, nameLine) + "the name \"" + entries.back().displayName +
                 "\" is given to another store on line " + std::to_string(it->second) +
                 "; names must be unique";
        return MAPI_E_CORRUPT_DATA;
    };
    std::string raw;
    size_t lineNo = 0;
    while (std::getline(in, raw)) {
        ++lineNo;
        if (lineNo == 1 && raw.compare(0, 3, "\xEF\xBB\xBF") == 0) raw.erase(0, 3);
        if (!raw.empty() && raw.back() == '\r') raw.pop_back();
        if (raw.find('\0') != std::string::npos) {
            *error = Where(path, lineNo) + "the file holds binary data, not a profile";
            return MAPI_E_CORRUPT_DATA;
        }
        const std::string line = Trim(raw);
        if (line.empty() || line[0] == '#' || line[0] == ';') continue;
        if (line.front() == '[') {
            if (line.back() != ']' || line.size() < 2) {
                *error = Where(path, lineNo) + "a section header must look like [name]";
                return MAPI_E_CORRUPT_DATA;
            }
            if (!entries.empty()) {
                HRESULT hr = finish();
                if (FAILED(hr)) return hr;
            }
            ProfileEntry e;
            e.section = Trim(line.substr(1, line.size() - 2));
            if (e.section.empty() || !sections.insert(e.section).second) {
                *error = Where(path, lineNo) + "section [" + e.section +
                         (e.section.empty() ? "] has no name" : "] appears twice");
                return MAPI_E_CORRUPT_DATA;
            }
            entries.push_back(std::move(e));
            sectionLine = lineNo;
            continue;
        }
        const size_t eq = line.find('=');
        if (eq == std::string::npos || eq == 0) {
            *error = Where(path, lineNo) + "expected a [section], key = value, or a comment";
            return MAPI_E_CORRUPT_DATA;
        }
        if (entries.empty()) {
            *error = Where(path, lineNo) + "key outside of any [section]";
            return MAPI_E_CORRUPT_DATA;
        }
        const std::string key = Trim(line.substr(0, eq));
        const std::string value = Trim(line.substr(eq + 1));
        ProfileEntry& e = entries.back();
        // Keys this version does not know are left for newer versions.
        if (key == "name") {
            e.displayName = value;
            nameLine = lineNo;
        }
        if (key == "provider") e.provider = value;
        if (key == "path") e.path = value;
    }
    if (in.bad()) {
        *error = path + ": reading failed: " + std::strerror(errno);
        return MAPI_E_NO_ACCESS;
    }
    if (!entries.empty()) {
        HRESULT hr = finish();
        if (FAILED(hr)) return hr;
    }
    *out = std::move(entries);
    return S_OK;
}

// The file that writing path replaces: path itself, or the end of the
// chain of links it starts (a link that dangles names the file to make).
std::string WrittenPath(const std::string& path) {
    std::string file = path;
    for (int hops = 0; hops < 40; ++hops) {
        std::error_code ec;
        if (!std::filesystem::is_symlink(file, ec)) break;
        const std::filesystem::path to = std::filesystem::read_symlink(file, ec);
        if (ec) break;
        file = to.is_absolute() ? to.string()
                                : (std::filesystem::path(file).parent_path() / to).string();
    }
    return file;
}

// Makes dir and the folders above it that are missing, each for its owner
// alone; an empty text when dir exists afterwards, else why not.
std::string MakePrivateDirectories(const std::string& dir) {
    std::error_code ec;
    if (dir.empty() || std::filesystem::is_directory(dir, ec)) return std::string();
    const std::string parent = std::filesystem::path(dir).parent_path().string();
    if (parent != dir) {
        std::string why = MakePrivateDirectories(parent);
        if (!why.empty()) return why;
    }
    if (::mkdir(dir.c_str(), 0700) != 0 && errno != EEXIST) return std::strerror(errno);
    return std::string();
}

}  // namespace

std::string Profile::DefaultPath() {
    if (const char* p = std::getenv("MAPI_PROFILE"); p != nullptr && *p != 0) return p;
    std::string config;
    // XDG: a relative XDG_CONFIG_HOME is invalid and ignored.
    if (const char* x = std::getenv("XDG_CONFIG_HOME"); x != nullptr && x[0] == '/')
        config = x;
    else
        config = HomeDirectory() + "/.config";
    return config + "/quirnel/profile.ini";
}

HRESULT Profile::Load(const std::string& path, Profile* out, std::string* error) {
    std::string ignored;
    if (error == nullptr) error = &ignored;
    if (out == nullptr) return MAPI_E_INVALID_PARAMETER;
    std::error_code ec;
    const auto status = std::filesystem::status(path, ec);
    if (status.type() == std::filesystem::file_type::not_found) {
        *error = path + ": no profile file";
        return MAPI_E_NOT_FOUND;
    }
    if (status.type() == std::filesystem::file_type::directory) {
        *error = path + ": is a directory, not a profile file";
        return MAPI_E_NO_ACCESS;
    }
    if (std::filesystem::file_size(path, ec) > kMaxProfileBytes && !ec) {
        *error = path + ": too large to be a profile";
        return MAPI_E_CORRUPT_DATA;
    }
    errno = 0;
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        *error = path + ": cannot be read: " + std::strerror(errno != 0 ? errno : EACCES);
        return MAPI_E_NO_ACCESS;
    }
    std::vector<ProfileEntry> entries;
    HRESULT hr = Parse(in, path, &entries, error);
    if (FAILED(hr)) return hr;
    out->entries_ = std::move(entries);
    error->clear();
    return S_OK;
}

HRESULT Profile::Save(const std::string& path, std::string* error) const {
    std::string ignored;
    if (error == nullptr) error = &ignored;
    std::ostringstream text;
    text << "# Message stores of this user's sessions; see mapiprofile.\n";
    std::set<std::string> names;
    for (const ProfileEntry& e : entries_) {
        if (HasLineBreak(e.section) || HasLineBreak(e.displayName) || HasLineBreak(e.provider) ||
            HasLineBreak(e.path) || e.section.find(']') != std::string::npos) {
            *error = "store \"" + e.displayName + "\": names and paths cannot hold line breaks";
            return MAPI_E_INVALID_PARAMETER;
        }
        // Load would refuse the file.
        if (!names.insert(e.displayName).second) {
            *error = "two stores are named \"" + e.displayName + "\"";
            return MAPI_E_INVALID_PARAMETER;
        }
        text << "\n[" << e.section << "]\nname = " << e.displayName << "\nprovider = " << e.provider
             << "\npath = " << e.path << "\n";
    }

    // A profile that is a link (kept with other settings elsewhere) stays
    // one: the file it points to is replaced, not the link.
    const std::string file = WrittenPath(path);
    const std::filesystem::path target(file);
    if (target.has_parent_path()) {
        const std::string made = MakePrivateDirectories(target.parent_path().string());
        if (!made.empty()) {
            *error = target.parent_path().string() + ": cannot create folder: " + made;
            return MAPI_E_NO_ACCESS;
        }
    }
    // The profile names every store and server of its user: it is made
    // for its owner alone, the temporary file too.
    const std::string temp = file + ".tmp." + std::to_string(getpid());
    const int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    FILE* f = fd < 0 ? nullptr : ::fdopen(fd, "wb");
    if (f == nullptr) {
        *error = temp + ": cannot be written: " + std::strerror(errno);
        if (fd >= 0) ::close(fd);
        std::remove(temp.c_str());
        return MAPI_E_NO_ACCESS;
    }
    const std::string data = text.str();
    bool ok = std::fwrite(data.data(), 1, data.size(), f) == data.size();
    ok = std::fflush(f) == 0 && ok;
    ok = fsync(fileno(f)) == 0 && ok;
    ok = std::fclose(f) == 0 && ok;
    if (!ok || std::rename(temp.c_str(), file.c_str()) != 0) {
        *error = path + ": cannot be written: " + std::strerror(errno);
        std::remove(temp.c_str());
        return MAPI_E_NO_ACCESS;
    }
    return S_OK;
}

const ProfileEntry& Profile::Add(const std::string& displayName, const std::string& provider,
                                 const std::string& path) {
    std::set<std::string> used;
    for (const ProfileEntry& e : entries_) used.insert(e.section);
    std::string section;
    for (size_t n = 1;; ++n) {
        section = "store" + std::to_string(n);
        if (used.count(section) == 0) break;
    }
    entries_.push_back(ProfileEntry{section, displayName, provider, path});
    return entries_.back();
}

bool Profile::Remove(const std::string& displayName) {
    for (auto it = entries_.begin(); it != entries_.end(); ++it) {
        if (it->displayName == displayName) {
            entries_.erase(it);
            return true;
        }
    }
    return false;
}

const ProfileEntry* Profile::Find(const std::string& displayName) const {
    for (const ProfileEntry& e : entries_)
        if (e.displayName == displayName) return &e;
    return nullptr;
}

}  // namespace mapi
