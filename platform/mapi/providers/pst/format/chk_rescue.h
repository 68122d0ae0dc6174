// A damaged file's store rebuilt from what the checking reader found
// sound, in the writer's store model so the writer's MAPI objects can serve
// it read-only. Whole messages may stay in the file, known by their rows
// until opened (MessagesInFile).
//
// What damage does, item by item:
// - a message that passed every check is kept byte for byte;
// - a message with parts lost keeps what is sound and carries the note of
//   what was lost twice: the named property DamageReport (PT_UNICODE, in
//   Quirnel's own property set PS_QUIRNEL) for programs, and an attachment
//   "Quirnel damage report.txt" for the user. An attachment rather than a
//   line in the body: the note then shows whatever body format the client
//   renders, and the sound body is handed on unchanged;
// - a message beyond salvage, or one a folder lists whose node is gone,
//   stays listed and fails as a whole when opened (MAPI_E_CORRUPT_DATA),
//   so a copy logs it instead of never seeing it.
// Above the items (each told in the DamageReport of the IPM subtree):
// - a damaged store object is replaced by a minimal one;
// - folders are placed by the node B-tree's parent links, not by their
//   (possibly damaged) hierarchy tables; one whose name cannot be read is
//   named "Recovered folder <id>"; one that cannot reach the root goes
//   below "Recovered folders" in the IPM subtree;
// - messages no folder holds (orphans, and deleted items found by scanning
//   for B-tree leaves) go to "Recovered items";
// - on request (RescueOptions), older revisions of live messages that the
//   scan finds go to "Recovered items\Older versions", each with a note
//   naming the live item and the time of that revision.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "providers/pst/format/chk_ndb.h"
#include "providers/pst/format/msg_namemap.h"
#include "providers/pst/format/msg_store.h"

namespace mapi::pst::fmt {

// PS_QUIRNEL {f3c4d0d7-b05b-4214-a817-a819212ea842}, as stored.
extern const Guid kPsQuirnel;
constexpr char16_t kDamageReportName[] = u"DamageReport";
// The damage account on the store object (PT_MV_UNICODE, one record a
// value) and the items each record knows lost (PT_MV_LONG, in step); a row's
// place in the file (PT_UNICODE, "node 0x200024").
constexpr char16_t kDamageAccountName[] = u"DamageAccount";
constexpr char16_t kDamageItemsLostName[] = u"DamageItemsLost";
constexpr char16_t kItemLocatorName[] = u"ItemLocator";
constexpr char kDamageAttachmentName[] = "Quirnel damage report.txt";
constexpr char kRecoveredItemsName[] = "Recovered items";
constexpr char kRecoveredFoldersName[] = "Recovered folders";
constexpr char kOlderVersionsName[] = "Older versions";
constexpr char16_t kRevisionNoteName[] = u"RevisionNote";
constexpr char kRevisionAttachmentName[] = "Quirnel older version.txt";

// What a rescue offers beyond the live items and what damage or deletion
// cut off from them.
struct RescueOptions {
    // Older revisions of live items: the file keeps them only until their
    // space is reused, and they are many in a file used for long, so they
    // are offered only when asked for.
    bool revisions = false;
};

// One structure of the file the reader could not use (a header field, an
// index page, the store object, a folder or its tables, a name, what lay
// beyond the file's end, an unreadable range): what was lost and what it
// costs, in words for the user, with the number of items known to be lost
// with it (0 when none are, or when that is not knowable).
struct StructureLoss {
    std::string text;
    uint64_t itemsLost = 0;
};

struct RescueStats {
    size_t whole = 0;      // messages as stored
    size_t salvaged = 0;   // messages with a damage note
    size_t failed = 0;     // listed messages that fail when opened
    size_t recovered = 0;  // messages placed in "Recovered items"
    size_t recoveredFolders = 0;  // folders renamed or moved below "Recovered folders"
    size_t revisions = 0;  // older revisions of live messages offered
    // The damage account: one record per structure lost, in the order found.
    std::vector<StructureLoss> structures;
};

namespace rescue {
class Rescuer;
}

// The messages a rescue found whole and left in the file. The model knows
// each only by the cells of its contents table row (rowOnly); Make reads it
// again, through the same checks, when it is opened. Salvaged and failing
// messages are few and keep what the rescue made in the model: their
// damage must be in their rows before they are opened, and the checks that
// find it read them in full anyway.
class MessagesInFile {
public:
    bool Has(uint32_t nid) const;
    size_t size() const { return nids_.size(); }
    // nid's message exactly as the rescue made it. False with the reason
    // when it no longer reads whole: its bytes changed or cannot be read
    // since the rescue, and its row would no longer say what it is.
    bool Make(const CheckedFile& file, uint32_t nid, Node* out, std::string* error) const;
    // nid's own properties as Make's node holds them, for its row in a
    // contents table, without reading its attachments.
    bool Props(const CheckedFile& file, uint32_t nid, std::vector<PropValue>* out, std::string* error) const;

private:
    friend class rescue::Rescuer;
    std::vector<uint32_t> nids_;  // sorted
    bool namesLost_ = false;
};

// fallbackUid: the store's id when its own record key cannot be read.
// inFile: when given, the messages found whole are left in the file (see
// MessagesInFile) instead of held in *out, so that memory follows the
// folders and their rows, not the file's content.
bool RescueStore(const CheckedFile& file, const StoreUid& fallbackUid, StoreModel* out,
                 RescueStats* stats, std::string* error, MessagesInFile* inFile = nullptr,
                 const RescueOptions& options = {});

}  // namespace mapi::pst::fmt
