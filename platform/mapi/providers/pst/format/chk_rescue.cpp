#include "providers/pst/format/chk_rescue.h"

#include "providers/pst/format/chk_rescue_parts.h"
#include "providers/pst/format/chk_rescuer.h"

#include <algorithm>
#include <map>
#include <set>

#include "providers/pst/format/chk_ltp.h"
#include "providers/pst/format/chk_message.h"
#include "providers/pst/format/ltp_pc.h"
#include "providers/pst/format/ltp_tc.h"
#include "providers/pst/format/msg_values.h"
#include "providers/pst/format/ndb_ids.h"

namespace mapi::pst::fmt {

const Guid kPsQuirnel = {0xd7, 0xd0, 0xc4, 0xf3, 0x5b, 0xb0, 0x14, 0x42,
                         0xa8, 0x17, 0xa8, 0x19, 0x21, 0x2e, 0xa8, 0x42};

namespace rescue {

void Rescuer::Store(const StoreUid& fallbackUid) {
    std::vector<PropValue> props;
    std::vector<std::string> lost;
    auto it = file_.Nodes().find(kNidMessageStore);
    if (it == file_.Nodes().end()) {
        Note("The message store object is missing; a plain one stands in for it");
    } else if (!SoundProps(file_.ReadNode(it->second), &props, &lost) || !lost.empty()) {
        if (lost.empty()) Note("The message store object cannot be read; a plain one stands in for it");
        for (const std::string& l : lost) Note("The message store object is damaged: " + l);
    }
    const PropValue* key = FindValue(props, kTagRecordKey);
    if (key == nullptr || key->bytes.size() != 16) {
        SetValue(props, BinaryValue(kTagRecordKey, Bytes(fallbackUid.begin(), fallbackUid.end())));
        if (it != file_.Nodes().end()) Note("The message store's record key is lost; the store gets a new one");
    }
    if (FindValue(props, kTagDisplayName) == nullptr && FindValue(props, kTagDisplayName8) == nullptr)
        SetValue(props, UnicodeValue(kTagDisplayName, "Personal Folders"));
    nodes_[kNidMessageStore].node = PcNode(props);
}

void Rescuer::NameMapNode() {
    NameMap names;
    auto it = file_.Nodes().find(kNidNameToIdMap);
    if (it != file_.Nodes().end()) {
        std::vector<PropValue> props;
        std::vector<std::string> lost;
        std::string why;
        Node whole;
        // The map is all or nothing: a partly read map would give named
        // properties the wrong names.
        if (!WholeNode(file_.ReadNode(it->second), &whole, &why) || !ReadPropertyContext(whole, &props, &why) ||
            !names.FromProps(props, &why)) {
            names = NameMap();
            namesLost_ = true;
            Note("The named property map is damaged (" + why + "); named properties are left out of every item");
        }
    } else {
        namesLost_ = true;
        Note("The named property map is missing; named properties are left out of every item");
    }
    PropertyName report;
    report.guid = kPsQuirnel;
    report.isString = true;
    report.name = kDamageReportName;
    reportId_ = names.IdOf(report, true);
    if (options_.revisions) {
        PropertyName note = report;
        note.name = kRevisionNoteName;
        revisionNoteId_ = names.IdOf(note, true);
    }
    // The names the store object and the rows serve the account and the
    // items' places under.
    for (const char16_t* name : {kDamageAccountName, kDamageItemsLostName, kItemLocatorName}) {
        report.name = name;
        names.IdOf(report, true);
    }
    nodes_[kNidNameToIdMap].node = PcNode(names.ToProps());
}

uint32_t Rescuer::SpecialFolder(uint32_t* nid, const char* name) {
    if (*nid != 0) return *nid;
    *nid = FreshNid(kNidTypeNormalFolder);
    nodes_[*nid] = {kNidIpmSubtree, PcNode({UnicodeValue(kTagDisplayName, name)})};
    folderParent_[*nid] = kNidIpmSubtree;
    folders_[*nid].name = name;
    return *nid;
}

void Rescuer::Folders() {
    std::map<uint32_t, uint32_t> parentOf;
    for (const auto& [nid, entry] : file_.Nodes()) {
        if (!IsFolderNid(nid)) continue;
        std::vector<PropValue> props;
        std::vector<std::string> lost;
        bool read = SoundProps(file_.ReadNode(entry), &props, &lost);
        if (!read) FolderIssue(nid, "its folder object cannot be read");
        else if (!lost.empty()) FolderIssue(nid, "its folder object is damaged (" + lost.front() + ")");
        bool named = FindValue(props, kTagDisplayName) != nullptr || FindValue(props, kTagDisplayName8) != nullptr;
        if (!named && nid != kNidRootFolder) {
            SetValue(props, UnicodeValue(kTagDisplayName, "Recovered folder " + HexNid(nid)));
            ++stats_->recoveredFolders;
            FolderIssue(nid, "its name cannot be read; it is named \"Recovered folder " + HexNid(nid) + "\"");
        }
        NoteFolderFacts(nid, props);
        nodes_[nid].node = PcNode(props);
        parentOf[nid] = entry.nidParent;
    }
    // Folders only a scan found (their index page damaged, or deleted for
    // good) come back below "Recovered folders" with what they hold.
    for (const NbtEntry& entry : file_.StrayNodes()) {
        uint32_t nid = static_cast<uint32_t>(entry.nid);
        if (!IsFolderNid(nid) || parentOf.count(nid) != 0) continue;
        std::vector<PropValue> props;
        std::vector<std::string> lost;
        // An entry whose data is no property context is no folder: the
        // unused slots of a leaf hold leftovers of every kind, and a folder
        // made of one would stand empty among the recovered ones.
        if (!SoundProps(file_.ReadNode(entry), &props, &lost)) continue;
        if (FindValue(props, kTagDisplayName) == nullptr && FindValue(props, kTagDisplayName8) == nullptr)
            SetValue(props, UnicodeValue(kTagDisplayName, "Recovered folder " + HexNid(nid)));
        nodes_[nid].node = PcNode(props);
        parentOf[nid] = entry.nidParent;
        NoteFolderFacts(nid, props);
        // The fixed folders have one place only, wherever they were found.
        if (nid == kNidIpmSubtree || nid == kNidSearchRoot || nid == kNidSpamSearchFolder) continue;
        strayFolders_.insert(nid);
        ++stats_->recoveredFolders;
    }
    if (parentOf.count(kNidRootFolder) != 0 && strayFolders_.count(kNidRootFolder) != 0) strayFolders_.erase(kNidRootFolder);
    if (parentOf.count(kNidRootFolder) == 0) {
        Note("The root folder is missing; a new one stands in for it");
        nodes_[kNidRootFolder].node = PcNode({UnicodeValue(kTagDisplayName, "")});
    }
    parentOf[kNidRootFolder] = kNidRootFolder;
    if (parentOf.count(kNidIpmSubtree) == 0) {
        Note("The folder \"Top of Personal Folders\" is missing; a new one stands in for it");
        nodes_[kNidIpmSubtree].node = PcNode({UnicodeValue(kTagDisplayName, "Top of Personal Folders")});
        parentOf[kNidIpmSubtree] = kNidRootFolder;
    }
    // A folder that cannot reach the root through existing folders (a lost
    // parent, a loop) is an orphan.
    for (const auto& [nid, parent] : parentOf) {
        uint32_t at = nid;
        bool reaches = false;
        for (size_t steps = 0; steps <= parentOf.size(); ++steps) {
            if (at == kNidRootFolder) {
                reaches = true;
                break;
            }
            auto up = parentOf.find(at);
            if (up == parentOf.end() || !IsFolderNid(up->second)) break;
            at = up->second;
        }
        // A recovered folder stays below the recovered folder it was in,
        // unless their parent links loop; the topmost goes below
        // "Recovered folders".
        bool stray = strayFolders_.count(nid) != 0;
        bool underStray = false;
        if (stray && strayFolders_.count(parent) != 0) {
            underStray = true;
            uint32_t up = parent;
            for (size_t steps = 0; steps <= strayFolders_.size() && strayFolders_.count(up) != 0; ++steps) {
                if (up == nid) underStray = false;
                auto next = parentOf.find(up);
                if (next == parentOf.end()) break;
                up = next->second;
            }
        }
        folderParent_[nid] = (reaches && !stray) || underStray ? parent : 0;
    }
    for (auto& [nid, parent] : folderParent_) {
        if (parent != 0) continue;
        if (strayFolders_.count(nid) != 0) {
            parent = SpecialFolder(&recoveredFolders_, kRecoveredFoldersName);
            continue;
        }
        ++stats_->recoveredFolders;
        FolderIssue(nid, std::string("it cannot be reached from the root (a folder above it is lost); it is placed "
                                     "below \"") + kRecoveredFoldersName + "\"");
        parent = SpecialFolder(&recoveredFolders_, kRecoveredFoldersName);
    }
    // Whatever the links found, every folder must hang below the root: a
    // folder out of reach would hide its items from every walk.
    for (auto& [nid, parent] : folderParent_) {
        uint32_t at = nid;
        size_t steps = 0;
        while (at != kNidRootFolder && steps++ <= folderParent_.size()) {
            auto up = folderParent_.find(at);
            if (up == folderParent_.end()) break;
            at = up->second;
        }
        if (at != kNidRootFolder && nid != kNidRootFolder) parent = kNidRootFolder;
    }
}

bool Rescuer::Run(const StoreUid& fallbackUid, StoreModel* out, std::string* error) {
    // The file's own damage (header, index pages, read errors) first, in
    // the order the reader found it.
    for (const std::string& problem : file_.Problems()) Note(problem);
    for (const auto& [nid, e] : file_.Nodes()) nextIndex_ = std::max(nextIndex_, NidIndex(nid) + 1);
    for (const NbtEntry& e : file_.StrayNodes())
        nextIndex_ = std::max(nextIndex_, NidIndex(static_cast<uint32_t>(e.nid)) + 1);
    // Rows of contents tables may name nodes no longer in either tree.
    nextIndex_ = std::max<uint32_t>(nextIndex_ + 0x100, 0x10000);
    Store(fallbackUid);
    NameMapNode();
    Folders();
    LoadRows();
    Messages();
    Strays();
    ListedButGone();
    if (auto r = file_.Nodes().find(kNidReceiveFolderTable); r != file_.Nodes().end()) {
        Node whole;
        std::string why;
        if (WholeNode(file_.ReadNode(r->second), &whole, &why)) nodes_[kNidReceiveFolderTable].node = std::move(whole);
        else Note("The receive folder table is damaged (" + why + "); which folder is the Inbox is not known");
    }
    AccountFolders();
    AccountLostFolders();
    for (const auto& [nid, parent] : folderParent_) {
        nodes_[nid].parent = parent;
        if (NidType(nid) != kNidTypeNormalFolder) continue;
        std::vector<uint32_t> children;
        for (const auto& [child, p] : folderParent_)
            if (p == nid && child != nid) children.push_back(child);
        nodes_[SiblingNid(nid, kNidTypeHierarchyTable)].node = RowIdTable(children);
        nodes_[SiblingNid(nid, kNidTypeContentsTable)].node = RowIdTable(contents_[nid]);
        nodes_[SiblingNid(nid, kNidTypeAssocContentsTable)].node = RowIdTable(associated_[nid]);
    }
    // Damage above the items is told on the IPM subtree, where a copy and
    // a dump see it (the store object's own properties are not served).
    if (!stats_->structures.empty() && reportId_ != 0) {
        std::vector<PropValue> props;
        std::string why;
        if (ReadPropertyContext(nodes_[kNidIpmSubtree].node, &props, &why)) {
            std::string report = "The source file is damaged above its items:\n";
            for (const StructureLoss& n : stats_->structures) report += n.text + "\n";
            SetValue(props, UnicodeValue((uint32_t{reportId_} << 16) | 0x001F, report));
            nodes_[kNidIpmSubtree].node = PcNode(props);
        }
    }
    Header header;
    if (inFile_ == nullptr) return StoreModel::Load(std::move(nodes_), header, out, error);
    std::sort(inFile_->nids_.begin(), inFile_->nids_.end());
    inFile_->namesLost_ = namesLost_;
    return StoreModel::Load(std::move(nodes_), header, std::move(rowsOnly_), out, error);
}

}  // namespace rescue

bool MessagesInFile::Has(uint32_t nid) const {
    return std::binary_search(nids_.begin(), nids_.end(), nid);
}

bool MessagesInFile::Make(const CheckedFile& file, uint32_t nid, Node* out, std::string* error) const {
    auto entry = file.Nodes().find(nid);
    if (!Has(nid) || entry == file.Nodes().end()) {
        if (error != nullptr) *error = "no message " + rescue::HexNid(nid) + " was left in the file";
        return false;
    }
    CheckedNode node = file.ReadNode(entry->second);
    SalvagedMessage m;
    bool salvaged = false;
    std::string why, failure;
    if (rescue::MakeWhole(node, file.Unicode(), namesLost_, out, &m, &salvaged, &why, &failure)) return true;
    if (why.empty()) why = salvaged ? m.Report() : failure;
    if (error != nullptr) *error = "item " + rescue::HexNid(nid) + " no longer reads as it did when the file was opened: " + why;
    return false;
}

bool MessagesInFile::Props(const CheckedFile& file, uint32_t nid, std::vector<PropValue>* out,
                           std::string* error) const {
    // An ANSI message may have been rebuilt by Make; its node is the one to read.
    Node made;
    if (!file.Unicode()) return Make(file, nid, &made, error) && ReadPropertyContext(made, out, error);
    auto entry = file.Nodes().find(nid);
    if (!Has(nid) || entry == file.Nodes().end()) {
        if (error != nullptr) *error = "no message " + rescue::HexNid(nid) + " was left in the file";
        return false;
    }
    // A whole Unicode message is kept as stored, so its properties are
    // those of the node as read, attachments aside.
    std::string why;
    if (!WholeNode(file.ReadNode(entry->second, false), &made, &why)) {
        if (error != nullptr) *error = "item " + rescue::HexNid(nid) + " no longer reads as it did when the file was opened: " + why;
        return false;
    }
    return ReadPropertyContext(made, out, error);
}

bool RescueStore(const CheckedFile& file, const StoreUid& fallbackUid, StoreModel* out,
                 RescueStats* stats, std::string* error, MessagesInFile* inFile, const RescueOptions& options) {
    *stats = RescueStats();
    if (inFile != nullptr) *inFile = MessagesInFile();
    rescue::Rescuer r(file, stats, inFile, options);
    return r.Run(fallbackUid, out, error);
}

}  // namespace mapi::pst::fmt
