// Helpers shared by the embedded store's tests: temporary store files and
// short forms of the MAPI calls the tests repeat.
#pragma once

#include <gtest/gtest.h>

#include <ftw.h>
#include <stdlib.h>
#include <unistd.h>

#include <string>
#include <vector>

#include <mapix.h>
#include <mapiutil.h>

#include "providers/providers.h"
#include "runtime/mapi_ptr.h"

namespace mapi::embedded::test {

// A directory removed with everything in it when the holder goes.
class TempDir {
public:
    TempDir() {
        char pattern[] = "/tmp/quirnel-embedded-XXXXXX";
        char* made = mkdtemp(pattern);
        if (made != nullptr) path_ = made;
    }
    ~TempDir() {
        if (!path_.empty())
            nftw(
                path_.c_str(),
                [](const char* p, const struct stat*, int, struct FTW*) { return ::remove(p); }, 16,
                FTW_DEPTH | FTW_PHYS);
    }
    std::string File(const std::string& name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

inline ComRef<IMsgStore> OpenStore(const std::string& path, const std::string& name = "Test",
                                   HRESULT* result = nullptr, std::string* error = nullptr) {
    ProfileEntry entry{"s", name, "embedded", path};
    IMsgStore* store = nullptr;
    std::string message;
    HRESULT hr = EmbeddedStoreProvider()->OpenStore(entry, &store, &message);
    if (result != nullptr) *result = hr;
    if (error != nullptr) *error = message;
    return ComRef<IMsgStore>(store);
}

inline ComRef<IMsgStore> CreateAndOpen(const std::string& path, const std::string& name = "Test") {
    std::string error;
    HRESULT hr = EmbeddedStoreProvider()->CreateStore(path, name, &error);
    EXPECT_EQ(hr, S_OK) << error;
    return OpenStore(path, name);
}

inline std::string Binary(const SPropValue& v) {
    return std::string(reinterpret_cast<const char*>(v.Value.bin.lpb), v.Value.bin.cb);
}

// The binary property tag of obj as bytes; empty when missing.
inline std::string GetBinary(IMAPIProp* obj, ULONG tag) {
    LPSPropValue value = nullptr;
    if (HrGetOneProp(obj, tag, &value) != S_OK) return std::string();
    MapiBuffer<SPropValue> hold(value);
    return Binary(*value);
}

inline std::string GetString(IMAPIProp* obj, ULONG tag) {
    LPSPropValue value = nullptr;
    if (HrGetOneProp(obj, CHANGE_PROP_TYPE(tag, PT_STRING8), &value) != S_OK) return "<missing>";
    MapiBuffer<SPropValue> hold(value);
    return value->Value.lpszA;
}

inline LONG GetLong(IMAPIProp* obj, ULONG tag, LONG missing = -1) {
    LPSPropValue value = nullptr;
    if (HrGetOneProp(obj, tag, &value) != S_OK) return missing;
    MapiBuffer<SPropValue> hold(value);
    return value->Value.l;
}

inline HRESULT SetString(IMAPIProp* obj, ULONG tag, const char* text) {
    SPropValue v{};
    v.ulPropTag = CHANGE_PROP_TYPE(tag, PT_STRING8);
    v.Value.lpszA = const_cast<char*>(text);
    return obj->SetProps(1, &v, nullptr);
}

template <class I>
ComRef<I> OpenById(IMsgStore* store, const std::string& eid, HRESULT* result = nullptr) {
    IUnknown* unk = nullptr;
    ULONG type = 0;
    HRESULT hr = store->OpenEntry(static_cast<ULONG>(eid.size()),
                                  reinterpret_cast<LPENTRYID>(const_cast<char*>(eid.data())),
                                  nullptr, MAPI_BEST_ACCESS, &type, &unk);
    if (result != nullptr) *result = hr;
    return ComRef<I>(static_cast<I*>(static_cast<IMAPIProp*>(unk)));
}

inline ComRef<IMAPIFolder> IpmSubtree(IMsgStore* store) {
    return OpenById<IMAPIFolder>(store, GetBinary(store, PR_IPM_SUBTREE_ENTRYID));
}

inline ComRef<IMAPIFolder> Subfolder(IMAPIFolder* parent, const char* name, ULONG flags = 0,
                                     HRESULT* result = nullptr) {
    IMAPIFolder* folder = nullptr;
    HRESULT hr = parent->CreateFolder(FOLDER_GENERIC, const_cast<char*>(name), nullptr, nullptr,
                                      flags, &folder);
    if (result != nullptr) *result = hr;
    return ComRef<IMAPIFolder>(folder);
}

// Every row of a table with the given columns.
inline RowSetPtr AllRows(IMAPITable* table, std::vector<ULONG> columns,
                         LPSRestriction restriction = nullptr) {
    std::vector<ULONG> buffer(columns.size() + 1);
    buffer[0] = static_cast<ULONG>(columns.size());
    std::copy(columns.begin(), columns.end(), buffer.begin() + 1);
    LPSRowSet rows = nullptr;
    HRESULT hr = HrQueryAllRows(table, reinterpret_cast<LPSPropTagArray>(buffer.data()),
                                restriction, nullptr, 0, &rows);
    EXPECT_EQ(hr, S_OK);
    return RowSetPtr(rows);
}

inline ComRef<IMAPITable> Contents(IMAPIFolder* folder, ULONG flags = 0) {
    IMAPITable* table = nullptr;
    EXPECT_EQ(folder->GetContentsTable(flags, &table), S_OK);
    return ComRef<IMAPITable>(table);
}

inline ComRef<IMAPITable> Hierarchy(IMAPIFolder* folder, ULONG flags = 0) {
    IMAPITable* table = nullptr;
    EXPECT_EQ(folder->GetHierarchyTable(flags, &table), S_OK);
    return ComRef<IMAPITable>(table);
}

// A saved message with a subject; returns its entry id.
inline std::string AddMessage(IMAPIFolder* folder, const char* subject, ULONG flags = 0) {
    IMessage* message = nullptr;
    EXPECT_EQ(folder->CreateMessage(nullptr, flags, &message), S_OK);
    ComRef<IMessage> hold(message);
    EXPECT_EQ(SetString(message, PR_SUBJECT, subject), S_OK);
    EXPECT_EQ(message->SaveChanges(0), S_OK);
    return GetBinary(message, PR_ENTRYID);
}

inline SBinary BinaryOf(const std::string& bytes) {
    return SBinary{static_cast<ULONG>(bytes.size()),
                   reinterpret_cast<LPBYTE>(const_cast<char*>(bytes.data()))};
}

}  // namespace mapi::embedded::test
