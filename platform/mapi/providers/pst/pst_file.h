// One open personal folder file, shared by the store and every object and
// table row opened from it.
//
// libpff keeps one set of caches per file and is not safe for concurrent
// calls on one file, so every libpff call on this file runs under Lock().
// The lock is recursive: an object may read its parent's values while it
// holds it. Everything else here is fixed after Open and read freely.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include <mapidefs.h>

#include "providers/pst/pst_libpff.h"
#include "providers/pst/pst_named_map.h"

namespace mapi::pst {

// Node id types that matter to the store (low five bits of a node id).
constexpr uint32_t kNidTypeNormalFolder = 0x02;
constexpr uint32_t kNidTypeSearchFolder = 0x03;
constexpr uint32_t kNidTypeNormalMessage = 0x04;
constexpr uint32_t kNidTypeAssocMessage = 0x08;
constexpr uint32_t kNidMessageStore = 0x21;
constexpr uint32_t kNidNameToIdMap = 0x61;
constexpr uint32_t kNidRootFolder = 0x122;
constexpr uint32_t kNidReceiveFolderTable = 0x62B;

inline uint32_t NidType(uint32_t nid) {
    return nid & 0x1F;
}

// One row of the file's receive folder table.
struct ReceiveFolder {
    std::string messageClass;  // UTF-8; empty for the default
    uint32_t folderNid = 0;
};

class PstFile {
public:
    // Opens path read-only. On failure returns null with a message for the
    // user in *error.
    static std::shared_ptr<PstFile> Open(const std::string& path, std::string* error);

    PstFile(const PstFile&) = delete;
    PstFile& operator=(const PstFile&) = delete;

    std::recursive_mutex& Lock() { return mutex_; }
    libpff_file_t* Handle() { return file_.get(); }
    const std::string& Path() const { return path_; }

    // The store's MAPIUID: the record key of the file's message store object.
    const MAPIUID& Uid() const { return uid_; }
    // Hands out identifiers under uid instead (the session's routing
    // identity for a file whose record key another store has). Only before
    // any object is made from the file.
    void UseRoutingUid(const MAPIUID& uid) { uid_ = uid; }
    bool IsUnicode() const { return unicode_; }
    // Code page for 8-bit strings of objects that name none themselves.
    uint32_t AsciiCodepage() const { return asciiCodepage_; }
    const NamedPropMap& Names() const { return names_; }
    const std::vector<ReceiveFolder>& ReceiveFolders() const { return receiveFolders_; }

    // Entry identifier of a node: 4 zero flag bytes, the MAPIUID, the node id.
    std::vector<BYTE> EntryId(uint32_t nid) const;
    // The node id inside an entry identifier of this store; false for any
    // other bytes.
    bool NidOf(ULONG cb, const ENTRYID* entryId, uint32_t* nid) const;

    // The item of a node: S_OK, MAPI_E_NOT_FOUND when the file has no such
    // node, MAPI_E_CORRUPT_DATA when it cannot be read. Takes the lock.
    HRESULT ItemById(uint32_t nid, SharedItem* item);
    // The file's message store object, or null when it cannot be read.
    SharedItem MessageStore() const { return messageStore_; }

private:
    PstFile() = default;
    void ReadNameMap();
    void ReadReceiveFolders();

    std::recursive_mutex mutex_;
    // Declared first so it is destroyed last: items below need the file.
    FileHandle file_;
    SharedItem messageStore_;
    std::string path_;
    MAPIUID uid_{};
    bool unicode_ = true;
    uint32_t asciiCodepage_ = 1252;
    NamedPropMap names_;
    std::vector<ReceiveFolder> receiveFolders_;
};

// Reads the stored bytes of entry `propId` of record set `set` of item
// (any type), or returns false. The caller holds the lock.
bool ReadRawEntry(libpff_item_t* item, int set, uint32_t propId, std::vector<uint8_t>* bytes,
                  uint32_t* valueType = nullptr);

}  // namespace mapi::pst
