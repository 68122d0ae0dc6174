// Shared pieces of the embedded store benchmarks: store creation, timing and
// a fast bulk fill that writes generated items straight into a store file in
// one transaction (the store's own tables, directory and value encoding).
#pragma once

#include <sqlite3.h>
#include <sys/resource.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

#include <mapix.h>
#include <mapiutil.h>

#include "providers/embedded/entry_id.h"
#include "providers/embedded/packed_props.h"
#include "providers/embedded/prop_codec.h"
#include "providers/embedded/store_core.h"
#include "providers/providers.h"
#include "runtime/mapi_ptr.h"

namespace embedded_bench {

using Clock = std::chrono::steady_clock;

inline double Seconds(Clock::time_point since) {
    return std::chrono::duration<double>(Clock::now() - since).count();
}

[[noreturn]] inline void Fail(const char* what, long code = 0) {
    std::fprintf(stderr, "benchmark: %s failed (0x%08lX)\n", what,
                 static_cast<unsigned long>(code));
    std::exit(1);
}

inline void Must(HRESULT hr, const char* what) {
    if (FAILED(hr)) Fail(what, hr);
}

inline long PeakRssKb() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

inline mapi::ComRef<IMsgStore> CreateStore(const std::string& path) {
    std::string error;
    ::unlink(path.c_str());
    Must(mapi::EmbeddedStoreProvider()->CreateStore(path, "bench", &error), error.c_str());
    IMsgStore* store = nullptr;
    mapi::ProfileEntry entry{"b", "bench", "embedded", path};
    Must(mapi::EmbeddedStoreProvider()->OpenStore(entry, &store, &error), error.c_str());
    return mapi::ComRef<IMsgStore>(store);
}

inline mapi::ComRef<IMAPIFolder> IpmSubtree(IMsgStore* store) {
    LPSPropValue ipm = nullptr;
    Must(HrGetOneProp(store, PR_IPM_SUBTREE_ENTRYID, &ipm), "IPM subtree");
    mapi::MapiBuffer<SPropValue> hold(ipm);
    IUnknown* unk = nullptr;
    ULONG type = 0;
    Must(store->OpenEntry(ipm->Value.bin.cb, reinterpret_cast<LPENTRYID>(ipm->Value.bin.lpb),
                          nullptr, MAPI_BEST_ACCESS, &type, &unk),
         "open IPM subtree");
    return mapi::ComRef<IMAPIFolder>(static_cast<IMAPIFolder*>(static_cast<IMAPIProp*>(unk)));
}

// The folder called name below the IPM subtree, made when missing.
inline mapi::ComRef<IMAPIFolder> NewFolder(IMsgStore* store, const char* name) {
    mapi::ComRef<IMAPIFolder> root = IpmSubtree(store);
    IMAPIFolder* folder = nullptr;
    Must(root->CreateFolder(FOLDER_GENERIC, const_cast<char*>(name), nullptr, nullptr,
                            OPEN_IF_EXISTS, &folder),
         "CreateFolder");
    return mapi::ComRef<IMAPIFolder>(folder);
}

inline int64_t RowIdOf(IMAPIProp* object) {
    LPSPropValue eid = nullptr;
    Must(HrGetOneProp(object, PR_ENTRYID, &eid), "PR_ENTRYID");
    mapi::MapiBuffer<SPropValue> hold(eid);
    mapi::embedded::ParsedEntryId parsed{};
    if (!mapi::embedded::ParseEntryId(eid->Value.bin.lpb, eid->Value.bin.cb, &parsed))
        Fail("entry id");
    return parsed.id;
}

// Writes items into folder of the closed store file at path, in one
// transaction, through the store's own tables. Each call of fill(i, values)
// gives the properties of item i.
template <class Fill>
void BulkFill(const std::string& path, int64_t folder, int count, Fill fill) {
    sqlite3* db = nullptr;
    if (sqlite3_open(path.c_str(), &db) != SQLITE_OK) Fail("open for bulk fill");
    sqlite3_exec(db, "BEGIN", nullptr, nullptr, nullptr);
    sqlite3_stmt* object = nullptr;
    sqlite3_stmt* prop = nullptr;
    sqlite3_prepare_v2(db,
                       "INSERT INTO objects(kind, parent, size, msg_flags, packed, value_bytes) "
                       "VALUES(3, ?1, ?2, 1, ?3, ?2)",
                       -1, &object, nullptr);
    sqlite3_prepare_v2(db,
                       "INSERT INTO props(obj, pid, type, lazy, value) VALUES(?1, ?2, ?3, 1, ?4)",
                       -1, &prop, nullptr);
    std::vector<SPropValue> values;
    for (int i = 0; i < count; ++i) {
        values.clear();
        fill(i, values);
        std::vector<mapi::embedded::EncodedProp> encoded(values.size());
        mapi::embedded::PackedDir dir;
        for (size_t v = 0; v < values.size(); ++v) {
            Must(mapi::embedded::EncodeValue(values[v], &encoded[v]), "encode");
            mapi::embedded::PutValue(dir, PROP_ID(values[v].ulPropTag), encoded[v]);
        }
        std::string packed = mapi::embedded::Pack(dir);
        sqlite3_bind_int64(object, 1, folder);
        sqlite3_bind_int64(object, 2, static_cast<int64_t>(mapi::embedded::ValueBytes(dir)));
        sqlite3_bind_blob64(object, 3, packed.data(), packed.size(), SQLITE_STATIC);
        if (sqlite3_step(object) != SQLITE_DONE) Fail("insert object");
        sqlite3_reset(object);
        int64_t id = sqlite3_last_insert_rowid(db);
        for (size_t v = 0; v < values.size(); ++v) {
            ULONG pid = PROP_ID(values[v].ulPropTag);
            if (!dir[pid].outside) continue;
            sqlite3_bind_int64(prop, 1, id);
            sqlite3_bind_int64(prop, 2, pid);
            sqlite3_bind_int64(prop, 3, encoded[v].type);
            sqlite3_bind_blob64(prop, 4, encoded[v].bytes.data(), encoded[v].bytes.size(),
                                SQLITE_STATIC);
            if (sqlite3_step(prop) != SQLITE_DONE) Fail("insert property");
            sqlite3_reset(prop);
        }
    }
    sqlite3_finalize(object);
    sqlite3_finalize(prop);
    if (sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr) != SQLITE_OK) Fail("commit");
    sqlite3_close(db);
}

}  // namespace embedded_bench
