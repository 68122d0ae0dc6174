// The property values of one object of a personal folder file: a folder, a
// message, a recipient, an attachment, the message store, or a row made up
// here (receive folder table).
//
// Values are read lazily, one property at a time, the first time they are
// asked for, and kept: a contents table row reads its subject without
// touching the body. Values known without the file (entry identifiers,
// object types) are set by the creator and take precedence over stored ones.
//
// Thread use: every read takes the file's lock; returned pointers stay valid
// as long as the ItemProps.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include <mapidefs.h>

#include "providers/pst/pst_file.h"
#include "providers/pst/pst_values.h"
#include "runtime/row_access.h"

namespace mapi::pst {

enum class ItemKind { Store, Folder, Message, Recipient, Attachment, Fixed };

struct StoredEntry {
    int index;           // entry index in the record set
    uint32_t valueType;  // as stored
};
// Reads the property id and stored value type of entry `index` of a record
// set; false when the entry cannot be read.
using EntryHeaderReader = std::function<bool(int index, uint32_t* id, uint32_t* valueType)>;
// Indexes `count` entries by property id. Returns false when the record set
// is damaged: an entry that cannot be read, an id no property can have, or
// an id stored twice. Every readable entry is indexed either way, so single
// values can still be read; only the complete list is untrustworthy.
bool IndexRecordEntries(int count, const EntryHeaderReader& read,
                        std::map<ULONG, StoredEntry>* index);

class ItemProps : public RowAccessor {
public:
    // item may be null for a row that could not be opened: every stored value
    // then reads as PT_ERROR with MAPI_E_CORRUPT_DATA (Kind::Fixed rows have
    // no stored values at all). codepage 0: taken from the object's own
    // PR_MESSAGE_CODEPAGE/PR_INTERNET_CPID, else the file's.
    ItemProps(std::shared_ptr<PstFile> file, SharedItem item, int recordSet, ItemKind kind,
              uint32_t codepage = 0);
    ~ItemProps() override;
    ItemProps(const ItemProps&) = delete;
    ItemProps& operator=(const ItemProps&) = delete;

    const SPropValue* GetById(ULONG propId) override;
    // Recipient and attachment rows of a message.
    HRESULT SubRows(ULONG subObject, std::vector<std::unique_ptr<RowAccessor>>* rows) override;

    void SetLong(ULONG tag, LONG value);
    void SetBool(ULONG tag, bool value);
    void SetBinary(ULONG tag, const std::vector<BYTE>& value);
    void SetString(ULONG tag, const std::string& utf8);

    // S_OK when the object's property record can be read, MAPI_E_CORRUPT_DATA
    // when it cannot be read at all. An object that passes may still have
    // lost some of its entries: see CheckComplete.
    HRESULT Check();
    // As Check, and MAPI_E_CORRUPT_DATA as well when some entry of the record
    // could not be read, so the list of values is incomplete.
    HRESULT CheckComplete();
    // Tags of every value (computed and stored) in native types, ascending by
    // id; MAPI_E_CORRUPT_DATA as CheckComplete.
    HRESULT Tags(std::vector<ULONG>* tags);
    // The code page 8-bit strings of this object are stored in.
    uint32_t Codepage();

    const std::shared_ptr<PstFile>& File() const { return file_; }
    const SharedItem& Item() const { return item_; }
    ItemKind Kind() const { return kind_; }

private:
    HRESULT LoadIndex();
    // The stored value of an indexed id, PT_ERROR when it cannot be read.
    SPropValue ReadStored(ULONG propId);
    // Reads the subject once and caches it without the format's prefix
    // marker, with the prefix and normalized subject the object does not
    // store itself.
    void SplitSubjectOnce();
    const SPropValue* HasAttach();
    void SetComputed(const SPropValue& value);

    std::shared_ptr<PstFile> file_;
    SharedItem item_;
    RecordSetHandle recordSet_;  // after item_: released before it
    int set_;
    ItemKind kind_;
    uint32_t codepage_;
    bool resolvingCodepage_ = false;
    int indexState_ = 0;  // 0 not read, 1 read, -1 unreadable
    bool entriesLost_ = false;
    bool subjectSplit_ = false;
    std::map<ULONG, StoredEntry> index_;
    std::map<ULONG, SPropValue> computed_;
    std::map<ULONG, SPropValue> cache_;
    ValueArena arena_;
};

// Whether an attachment reports PR_ATTACH_METHOD as ATTACH_EMBEDDED_MSG in
// place of its stored method (storedMethod null when there is none), given
// libpff's type of the attachment (LIBPFF_ATTACHMENT_TYPE_*).
bool ReportsEmbeddedMethod(int attachmentType, const SPropValue* storedMethod);

// What each kind of object says about itself beyond its stored values.
// parentNid 0: not known (the object was opened by its entry identifier).
std::unique_ptr<ItemProps> MakeFolderProps(std::shared_ptr<PstFile> file, SharedItem item,
                                           uint32_t nid, uint32_t parentNid);
// nid 0: an embedded message, which has no entry identifier.
std::unique_ptr<ItemProps> MakeMessageProps(std::shared_ptr<PstFile> file, SharedItem item,
                                            uint32_t nid, uint32_t parentNid);
std::unique_ptr<ItemProps> MakeRecipientProps(std::shared_ptr<PstFile> file, SharedItem table,
                                              int row, uint32_t codepage);
std::unique_ptr<ItemProps> MakeAttachmentProps(std::shared_ptr<PstFile> file, SharedItem item,
                                               int number, uint32_t codepage);

}  // namespace mapi::pst
