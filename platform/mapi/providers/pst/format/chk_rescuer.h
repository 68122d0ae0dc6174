// The store rescue's working state, shared by the files it is built from:
// chk_rescue.cpp (store object, name map, folders, the model) and
// chk_rescue_items.cpp (messages, contents table rows, scanned strays).
// Private to the checking reader; see chk_rescue.h for what it does.
#pragma once

#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "providers/pst/format/chk_message.h"
#include "providers/pst/format/chk_ndb.h"
#include "providers/pst/format/chk_rescue.h"
#include "providers/pst/format/ndb_ids.h"
#include "providers/pst/format/ndb_node.h"

namespace mapi::pst::fmt::rescue {

constexpr uint32_t kTagRecordKey = 0x0FF90102;
constexpr uint32_t kTagDisplayName = 0x3001001F;
constexpr uint32_t kTagDisplayName8 = 0x3001001E;
constexpr uint32_t kTagMessageClass = 0x001A001F;
constexpr uint32_t kTagAttachMethod = 0x37050003;
constexpr uint32_t kTagAttachDataBin = 0x37010102;
constexpr uint32_t kTagAttachLongFilename = 0x3707001F;
constexpr uint32_t kTagAttachMimeTag = 0x370E001F;
constexpr uint32_t kAttachByValue = 1;

// What a message whose parts all pass the checks becomes: true with *out
// its node as stored (rebuilt from what was read for an ANSI node of
// several blocks, which the writer's readers cannot cut into pages).
// Otherwise false; *salvaged then says whether SalvageMessage made *m
// (with the named properties dropped when namesLost), *error why not, and
// *why what failed when *m is whole but the node is not. Shared by the
// rescue and by MessagesInFile::Make, so a message made again on open is
// the one the rescue made.
bool MakeWhole(CheckedNode& node, bool unicode, bool namesLost, Node* out, SalvagedMessage* m, bool* salvaged,
               std::string* why, std::string* error);

class Rescuer {
public:
    // inFile: see RescueStore.
    Rescuer(const CheckedFile& file, RescueStats* stats, MessagesInFile* inFile = nullptr,
            const RescueOptions& options = {})
        : file_(file), stats_(stats), inFile_(inFile), options_(options) {}
    bool Run(const StoreUid& fallbackUid, StoreModel* out, std::string* error);

private:
    void Store(const StoreUid& fallbackUid);
    void NameMapNode();
    void Folders();
    uint32_t SpecialFolder(uint32_t* nid, const char* name);
    void LoadRows();
    void Messages();
    void ListedButGone();
    void Strays();
    // The folders' part of the damage account (chk_rescue_account.cpp):
    // what each folder lost of itself and of its items, and the folders
    // known only from their parent's list of subfolders.
    void NoteFolderFacts(uint32_t folder, const std::vector<PropValue>& props);
    void LoadHierarchy(uint32_t folder);
    void AccountFolders();
    void AccountLostFolders();
    // A folder's path from the IPM subtree ("\Inbox\Reports"), or from
    // the root for one outside it.
    std::string FolderPath(uint32_t folder) const;
    // "Folder \Inbox (folder 0x8022)"
    std::string FolderLabel(uint32_t folder) const;
    // Damage of one folder, told in its record of the account.
    void FolderIssue(uint32_t folder, std::string issue) { folders_[folder].issues.push_back(std::move(issue)); }
    // node is taken over: a whole message keeps its pages as they were read.
    void AddMessage(uint32_t nid, uint32_t folder, CheckedNode&& node, bool recovered,
                    const std::string& origin = "");
    // A whole message: its node in the model, or only its row with the
    // node left in the file.
    void AddWhole(uint32_t nid, uint32_t folder, Node&& whole);
    // An older revision m of the live message nid (chk_rescue_revisions.cpp).
    void AddRevision(uint32_t nid, SalvagedMessage m);
    void AddFailing(uint32_t nid, uint32_t folder, std::vector<PropValue> props);
    void AddSalvaged(uint32_t nid, uint32_t folder, SalvagedMessage m);
    void DropNamesIfLost(SalvagedMessage* m);
    uint32_t FreshNid(uint32_t type) { return MakeNid(type, nextIndex_++); }
    void Note(std::string line, uint64_t itemsLost = 0) {
        stats_->structures.push_back({std::move(line), itemsLost});
    }

    const CheckedFile& file_;
    RescueStats* stats_;
    MessagesInFile* inFile_;
    RescueOptions options_;
    NodeSet nodes_;
    std::map<uint32_t, std::vector<PropValue>> rowsOnly_;  // of the messages left in the file
    // What the account needs of each folder, from its own properties or
    // (for a folder that is lost) from its parent's list of subfolders.
    struct FolderFacts {
        std::string name;
        int64_t contentCount = -1;  // PR_CONTENT_COUNT; -1 when unknown
        uint32_t parent = 0;        // set for folders known from a list only
        std::vector<std::string> issues;
    };
    std::map<uint32_t, FolderFacts> folders_;
    std::map<uint32_t, FolderFacts> listedFolders_;  // rows of hierarchy tables, by folder
    std::map<uint32_t, size_t> listedItems_;  // normal items a readable contents table lists
    std::map<uint32_t, size_t> toRecovered_;  // items of a folder placed in "Recovered items"
    uint16_t reportId_ = 0;
    uint16_t revisionNoteId_ = 0;  // only when revisions are offered
    bool namesLost_ = false;  // named properties cannot be named
    std::map<uint32_t, uint32_t> folderParent_;  // folder -> parent as placed
    std::set<uint32_t> strayFolders_;
    std::map<uint32_t, std::vector<uint32_t>> contents_, associated_;
    uint32_t recoveredItems_ = 0, recoveredFolders_ = 0, olderVersions_ = 0;
    uint32_t nextIndex_ = 0;
    // The rows of the folders' contents tables by item: the folder and the
    // table. A row is what is left of an item whose node is damaged; its
    // cells are read only for such an item (RowOf), since most files have
    // none and every item has a row.
    struct ListedRow {
        uint32_t folder = 0;
        size_t table = 0;  // in tables_
    };
    std::map<uint32_t, ListedRow> rows_;
    std::vector<Node> tables_;
    std::map<size_t, std::map<uint32_t, std::vector<PropValue>>> tableRows_;  // read so far
    // The cells of nid's row without its row id and version; null when no
    // contents table lists it.
    const std::vector<PropValue>* RowOf(uint32_t nid);
};

}  // namespace mapi::pst::fmt::rescue
