// A personal folder file opened for writing: the store model in memory,
// the file it came from, and the commit that writes it back. Opening reads
// the file's folders and their tables, not its messages: each message is
// known by its contents table row and read from the file when opened.
//
// A commit writes the nodes the model changed into free space and then
// switches the header (fmt::NdbFile): a crash leaves the last committed
// file whole. A commit that fails reloads the model from that file, so a
// change that did not reach the disk is gone from memory too.
//
// Thread use: callers hold Mutex() around every use of the model.
#pragma once

#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include <mapidefs.h>

#include "providers/pst/format/msg_store.h"
#include "providers/pst/format/ndb_commit.h"

namespace mapi::pst {

// Where a read-only store finds the messages its model knows only by their
// rows (the checking reader reads each from its file when it is opened).
// Called with WritableFile::Mutex() held or not: implementations guard
// their own state.
class MessageSource {
public:
    virtual ~MessageSource() = default;
    // The message's node; false with a reason when none can be made.
    virtual bool Node(uint32_t nid, fmt::Node* out, std::string* error) = 0;
    // Its own properties as that node holds them, for its contents table
    // row.
    virtual bool Props(uint32_t nid, std::vector<fmt::PropValue>* out, std::string* error) = 0;
};

class WritableFile {
public:
    // Opens a file this writer can read back (Unicode, unencoded or compressible); null with
    // a reason in *error otherwise.
    static std::shared_ptr<WritableFile> Open(const std::string& path, const MAPIUID& provider,
                                              std::string* error);
    // A store served read-only from a model built elsewhere (the checking
    // reader's rescue of a file); every commit is refused and nothing is
    // ever written to path.
    static std::shared_ptr<WritableFile> ReadOnly(const std::string& path, const MAPIUID& provider,
                                                  fmt::StoreModel model);
    // The same with the messages the model holds as rows only read through
    // source, which the store keeps for its life.
    static std::shared_ptr<WritableFile> ReadOnly(const std::string& path, const MAPIUID& provider,
                                                  fmt::StoreModel model, std::shared_ptr<MessageSource> source);

    std::recursive_mutex& Mutex() { return mutex_; }
    // True for a store served from a checked read of a file that is never written.
    bool IsReadOnly() const { return readOnly_; }
    fmt::StoreModel& Model() { return model_; }
    const MAPIUID& ProviderUid() const { return provider_; }
    MAPIUID StoreUid() const;

    // Writes the model durably. MAPI_E_DISK_ERROR (and the model back at
    // the last commit) when it could not be written.
    HRESULT Commit();

    // A message's node: from the model while it is not yet committed (or the
    // model holds it, as a read-only one does for the items it rebuilt),
    // else read from the file or the MessageSource, so that the file's
    // messages are never all held in memory.
    bool MessageNode(uint32_t nid, fmt::Node* out, std::string* error);
    // A message's properties for a row of its folder's contents table, the
    // subject as MAPI serves it: the model's when it has them all, else its
    // property context read from the file (without its attachments).
    bool MessageProps(uint32_t nid, std::vector<fmt::PropValue>* out, std::string* error);

    // What a read-only store serves besides the file's own values: values
    // of the store object (the damage account of a checked read) and the
    // tag of a contents table column that names each message's place in
    // the file ("node 0x200024"; 0 for none). Set before the store is used.
    void ServeExtras(std::vector<fmt::PropValue> storeValues, uint32_t locatorTag) {
        storeExtras_ = std::move(storeValues);
        locatorTag_ = locatorTag;
    }
    const std::vector<fmt::PropValue>& StoreExtras() const { return storeExtras_; }
    uint32_t LocatorTag() const { return locatorTag_; }

    std::vector<BYTE> EntryId(uint32_t nid) const;
    // The node id of an entry identifier of this store; false otherwise.
    bool NidOf(ULONG cb, const ENTRYID* id, uint32_t* nid) const;

    // GetIDsFromNames / GetNamesFromIDs over the store's name map; names
    // created with MAPI_CREATE are committed before the call returns.
    HRESULT IdsFromNames(ULONG count, LPMAPINAMEID* names, ULONG flags, LPSPropTagArray* tags);
    HRESULT NamesFromIds(LPSPropTagArray* tags, LPGUID propSet, ULONG flags, ULONG* count,
                         LPMAPINAMEID** names);

private:
    WritableFile(std::string path, MAPIUID provider) : path_(std::move(path)), provider_(provider) {}
    bool Load(std::string* error);
    // MessageProps' values as stored.
    bool StoredMessageProps(uint32_t nid, std::vector<fmt::PropValue>* out, std::string* error);

    std::string path_;
    MAPIUID provider_;
    std::recursive_mutex mutex_;
    fmt::StoreModel model_;
    std::unique_ptr<fmt::NdbFile> ndb_;
    std::shared_ptr<MessageSource> source_;
    bool readOnly_ = false;
    std::vector<fmt::PropValue> storeExtras_;
    uint32_t locatorTag_ = 0;
};

}  // namespace mapi::pst
