// Test helper: a profile in a temporary folder with embedded stores, empty
// or filled by the sample generator, and the dump of a store for comparing
// a copy with its source.
#pragma once

#include <QTemporaryDir>

#include <cstdint>
#include <map>
#include <string>
#include <vector>

class TestProfile {
public:
    // Points MAPI_PROFILE (and HOME, for the log file) into a new temporary folder.
    TestProfile();
    ~TestProfile();

    // Adds a new empty embedded store named name; false (and a test failure) on error.
    bool AddEmptyStore(const std::string& name);
    // Adds a new embedded store filled with items generated from seed.
    bool AddSampleStore(const std::string& name, uint32_t items, uint32_t seed = 1);
    // Adds to the inbox of store name an item as the checking .pst reader
    // hands out one it could only partly read: subject, and a damage report
    // saying lost.
    bool AddSalvagedItem(const std::string& name, const std::string& subject,
                         const std::string& lost);
    // Writes the profile file; the next logon reads it.
    bool Save();

    // The dump of the first store named name: folder lines and, with props,
    // item texts. Empty on failure.
    std::string Dump(const std::string& name, bool props);
    std::string Folder() const { return dir_.path().toStdString(); }

private:
    std::string StorePath(const std::string& name);

    QTemporaryDir dir_;
    std::vector<std::pair<std::string, std::string>> stores_;  // name, path
    QByteArray oldProfile_;
    QByteArray oldHome_;
};

// A dump with props split into folder path -> item texts, for subset checks.
std::map<std::string, std::vector<std::string>> ItemsByFolder(const std::string& dump);
// Total of the items=N counts of a dump's folder lines.
uint32_t CountItems(const std::string& dump);
