// The shared state of one opened embedded store: its SQLite connection and
// the object, property, named-property and receive-folder operations that
// every store object (store, folders, messages, attachments, tables) uses.
//
// Ownership: every object opened from a store holds a shared_ptr to its core;
// the connection closes when the last of them goes.
// Threads: all methods lock the core's recursive mutex, so a store may be used
// from several threads one after the other; callers that need several calls
// to be atomic (a message save) take Lock() around them and a Transaction.
// Damage: a SQLite corruption error while reading one object is answered as
// MAPI_E_CORRUPT_DATA for that object alone; the store stays usable.
#pragma once

#include <sys/types.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <tuple>
#include <unordered_map>
#include <utility>
#include <vector>

#include <mapidefs.h>

#include "entry_id.h"
#include "prop_codec.h"
#include "sqlite_db.h"

namespace mapi::embedded {

using PropMap = std::map<ULONG, EncodedProp>;  // property id -> value
// Property edits: a value set, or nullopt for deleted.
using PropChanges = std::map<ULONG, std::optional<EncodedProp>>;
struct PackedValue;
using PackedDir = std::map<ULONG, PackedValue>;

// One row of the objects table.
struct ObjectRow {
    int64_t id = 0;
    ObjectKind kind = ObjectKind::kMessage;
    int64_t parent = 0;
    bool assoc = false;
    ULONG num = 0;           // PR_ROWID of a recipient, PR_ATTACH_NUM of an attachment, 1 for an
                             // embedded message (0 for one in a folder)
    std::string nameKey;     // folders: case-folded display name
    ULONG folderType = 0;    // folders: FOLDER_ROOT / FOLDER_GENERIC / FOLDER_SEARCH
    ULONG msgFlags = 0;      // messages: stored PR_MESSAGE_FLAGS
    ULONG size = 0;          // messages: PR_MESSAGE_SIZE
    bool hasAttach = false;  // messages
};

// A message's recipient table as its row keeps it (message_recipients.h):
// the blob, and the sum of its values' sizes. A null or empty blob is none.
struct RecipientColumn {
    const std::string* blob = nullptr;
    uint64_t bytes = 0;
};

// Values that tables and property lists leave on disk until asked for.
bool IsLazyProp(ULONG propId, size_t bytes);

// The key under which folder names are compared: Unicode simple case folding.
std::string FoldName(const std::string& utf8);

class StoreCore {
public:
    // Creates a new store file at path with the skeleton of a new personal
    // folder file. The file must not exist. Nothing is left behind on failure.
    static HRESULT Create(const std::string& path, const std::string& displayName,
                          std::string* error);
    // Opens an existing store for reading; the first write reopens it for
    // writing. Read-only for good when the file or its folder is not writable.
    static HRESULT Open(const std::string& path, const std::string& displayName,
                        std::shared_ptr<StoreCore>* out, std::string* error);

    ~StoreCore();
    StoreCore(const StoreCore&) = delete;
    StoreCore& operator=(const StoreCore&) = delete;

    // Holds one read transaction over a sequence of reads (a message's
    // copy), so they take the file's locks once; any write ends it early.
    class ReadSpan {
    public:
        explicit ReadSpan(StoreCore& core) : core_(core) {
            auto lock = core_.Lock();
            token_ = core_.db_.BeginReadSpan();
        }
        ~ReadSpan() {
            auto lock = core_.Lock();
            core_.db_.EndReadSpan(token_);
        }
        ReadSpan(const ReadSpan&) = delete;
        ReadSpan& operator=(const ReadSpan&) = delete;

    private:
        StoreCore& core_;
        uint64_t token_ = 0;
    };

    // A read span kept open across calls for at most kHeldSpanLimit: a copy
    // that reads one message per call takes the file's locks once per
    // interval instead of once per message. It ends at the first call after
    // the limit (which opens a new one, so the copy sees others' commits
    // again), at any write through this store, and at ReleaseHeldSpan. Until
    // then another program's write to the file may wait for it, as it would
    // for the reads of one message.
    static constexpr std::chrono::milliseconds kHeldSpanLimit{100};
    void HoldReadSpan();
    void ReleaseHeldSpan();

    // Whether other is a core on the same file as this one (two views of
    // one file must not hold each other's locks across a copy).
    bool SameFileAs(const StoreCore& other) const;

    std::unique_lock<std::recursive_mutex> Lock() {
        return std::unique_lock<std::recursive_mutex>(mutex_);
    }
    Db& db() { return db_; }
    const MAPIUID& Uid() const { return uid_; }
    // Hands out identifiers under uid instead of the MAPIUID in the file
    // (the session's routing identity for a copied store file); the file
    // keeps its own. Only before the core is shared with any object.
    void UseRoutingUid(const MAPIUID& uid) {
        if (!routed_) fileUid_ = uid_;
        routed_ = true;
        uid_ = uid;
    }
    // The MAPIUID kept in the file, which identifiers stored in it carry.
    const MAPIUID& FileUid() const { return routed_ ? fileUid_ : uid_; }
    bool ReadOnly() const { return readOnly_; }
    const std::string& DisplayName() const { return displayName_; }
    const std::string& Path() const { return path_; }

    std::string EntryId(ObjectKind kind, int64_t id) const { return MakeEntryId(uid_, kind, id); }
    // MAPI_E_INVALID_ENTRYID for malformed identifiers and those of other stores.
    HRESULT ParseOwnEntryId(ULONG cb, const ENTRYID* eid, ParsedEntryId* out) const;

    // Bumped by every write, so tables know when to look again.
    uint64_t Generation() const { return generation_.load(); }
    void Changed() { ++generation_; }

    HRESULT LoadObject(int64_t id, ObjectRow* out);
    // The object row and its property directory (packed_props.h, checked
    // whole), in one query; with recipients, a message's recipient column
    // too, unchecked.
    HRESULT LoadObjectWithProps(int64_t id, ObjectRow* out, std::string* packed,
                                std::string* recipients = nullptr);
    // One object as a scan hands it out: its row and checked directory, or
    // the code that made it unreadable.
    struct LoadedObject {
        ObjectRow row;
        std::string_view view;  // the directory, valid during the callback only
        HRESULT error = S_OK;
    };
    // The children of one kind (assoc as in Children) with id >= fromId, in
    // id order, at most limit of them (0: all), each loaded as
    // LoadObjectWithProps would, with one statement for all of them. An
    // object that cannot be read is handed out with its error; each stops
    // the scan when the callback returns false.
    template <class Each>
    HRESULT ScanChildren(int64_t parent, ObjectKind kind, int assoc, int64_t fromId, size_t limit,
                         Each each);
    // assoc: 0 normal, 1 associated, -1 either. Ordered by id (creation order).
    HRESULT Children(int64_t parent, ObjectKind kind, int assoc, std::vector<int64_t>* ids);
    // (id, num) of the children of one kind, in creation order.
    HRESULT ChildNumbers(int64_t parent, ObjectKind kind,
                         std::vector<std::pair<int64_t, ULONG>>* out);
    HRESULT CountChildren(int64_t parent, ObjectKind kind, int assoc, ULONG* count);
    // Assigns row->id. The object starts with the values of props (deletions
    // in it are ignored) and, for a message, recipients, written with the
    // row itself.
    HRESULT InsertObject(ObjectRow* row, const PropChanges& props = {},
                         RecipientColumn recipients = {});
    HRESULT UpdateObject(const ObjectRow& row);
    // Removes the object, everything below it and all their properties.
    HRESULT DeleteTree(int64_t id);

    HRESULT ReadProps(int64_t obj, bool withLazy, PropMap* out);
    // MAPI_E_NOT_FOUND when the object lacks the property.
    HRESULT ReadProp(int64_t obj, ULONG propId, EncodedProp* out);
    // A value its directory lists as kept outside (ReadPropSummary tells).
    HRESULT ReadLargeProp(int64_t obj, ULONG propId, EncodedProp* out);
    // The type of every property and the values of the non-lazy ones, in one
    // query that reads no large value.
    HRESULT ReadPropSummary(int64_t obj, PropMap* small, std::map<ULONG, ULONG>* types);
    // (id, type) of every property, without reading any value.
    HRESULT ReadPropTypes(int64_t obj, std::vector<std::pair<ULONG, ULONG>>* out);
    HRESULT WriteProp(int64_t obj, ULONG propId, const EncodedProp& value);
    HRESULT DeleteProp(int64_t obj, ULONG propId);
    HRESULT DeleteAllProps(int64_t obj);
    // Applies every edit to obj with one read and one write of its row.
    HRESULT ApplyProps(int64_t obj, const PropChanges& changes);
    // A message's recipient column (empty when it has none); MAPI_E_NOT_FOUND
    // when there is no such object.
    HRESULT ReadRecipients(int64_t message, std::string* blob);
    // Replaces a message's recipient table.
    HRESULT WriteRecipients(int64_t message, RecipientColumn recipients);
    // Bytes of every value of id and everything below it (PR_MESSAGE_SIZE).
    HRESULT TreeBytes(int64_t id, uint64_t* bytes);

    // IMAPIProp::GetIDsFromNames / GetNamesFromIDs for every object of the store.
    HRESULT IdsFromNames(ULONG count, LPMAPINAMEID* names, ULONG flags, LPSPropTagArray* out);
    HRESULT NamesFromIds(LPSPropTagArray* tags, LPGUID guid, ULONG flags, ULONG* count,
                         LPMAPINAMEID** names);

    // The folder for a message class: the longest registered prefix of cls
    // (at '.' boundaries), falling back to "". MAPI_E_NOT_FOUND when none.
    HRESULT ReceiveFolder(const std::string& cls, int64_t* folder, std::string* explicitClass);
    // folder 0 removes the entry.
    HRESULT SetReceiveFolder(const std::string& cls, int64_t folder);
    HRESULT ReceiveFolderRows(std::vector<std::pair<std::string, int64_t>>* rows);

private:
    // Runs the scan behind ScanChildren; visit is called per object.
    HRESULT ScanChildrenImpl(int64_t parent, ObjectKind kind, int assoc, int64_t fromId,
                             size_t limit, bool (*visit)(void*, LoadedObject&), void* context);

    // Resets a cached statement when the caller is done with it, so no read
    // transaction stays open between calls.
    class CachedStmt {
    public:
        explicit CachedStmt(Stmt* s) : s_(s) {}
        CachedStmt(const CachedStmt&) = delete;
        CachedStmt& operator=(const CachedStmt&) = delete;
        ~CachedStmt() { s_->Reset(); }
        Stmt& operator*() { return *s_; }

    private:
        Stmt* s_;
    };
    // The prepared statement for sql (a string literal), prepared once per core.
    Stmt* Cached(const char* sql);

    StoreCore() = default;
    // MAPI_E_NO_ACCESS for a store that cannot be written; otherwise makes
    // sure the connection is open for writing.
    HRESULT WriteCheck() {
        if (readOnly_) return MAPI_E_NO_ACCESS;
        // The connection may be replaced: no other thread may be using it.
        auto lock = Lock();
        return HrFromSqlite(db_.EnsureWritable());
    }
    int ReopenForWriting();

    // The directory of obj (empty when obj has no row).
    HRESULT ReadPacked(int64_t obj, PackedDir* out);
    HRESULT WritePacked(int64_t obj, const PackedDir& dir);
    // Large values in the props table.
    HRESULT ReadOutside(int64_t obj, PropMap* out);
    HRESULT WriteOutside(int64_t obj, ULONG propId, const EncodedProp& value);
    HRESULT DeleteOutside(int64_t obj, ULONG propId);

    // Named properties, kept in memory for the store's life. Names are never
    // removed, so a name found here is right; one not found may have been
    // added by another connection, and the map is read again before the
    // answer is "unknown" or a new id is chosen.
    struct NamedProp {
        GUID guid;
        ULONG kind;
        LONG lid;
        std::string name;  // UTF-8, MNID_STRING only
    };
    using NameKey =
        std::tuple<std::string, ULONG, LONG, std::string>;  // guid bytes, kind, lid, name
    static NameKey KeyOf(const NamedProp& n);
    HRESULT LoadNames();
    HRESULT LookupName(const MAPINAMEID& name, bool create, ULONG* id);
    bool namesLoaded_ = false;
    int64_t namesVersion_ = 0;
    std::map<NameKey, ULONG> idsByName_;
    std::map<ULONG, NamedProp> namesById_;

    uint64_t heldSpan_ = 0;  // token of the held read span, 0 when none
    std::chrono::steady_clock::time_point heldSince_;
    // The file's identity, taken when it was opened; st_ino 0 when unknown.
    dev_t fileDev_ = 0;
    ino_t fileIno_ = 0;

    std::recursive_mutex mutex_;
    Db db_;
    MAPIUID uid_{};
    MAPIUID fileUid_{};
    bool routed_ = false;
    bool readOnly_ = false;
    bool wrote_ = false;  // the connection was reopened for writing
    std::string displayName_;
    std::string path_;
    std::atomic<uint64_t> generation_{0};
    // Declared after db_ so the statements are finalised before it closes.
    std::unordered_map<const char*, std::unique_ptr<Stmt>> statements_;
};

template <class Each>
HRESULT StoreCore::ScanChildren(int64_t parent, ObjectKind kind, int assoc, int64_t fromId,
                                size_t limit, Each each) {
    return ScanChildrenImpl(
        parent, kind, assoc, fromId, limit,
        [](void* context, LoadedObject& object) { return (*static_cast<Each*>(context))(object); },
        &each);
}

}  // namespace mapi::embedded
