// The folders' part of the rescue's damage account: for every folder, what
// it lost of itself (its object, name, tables, place) and of its items.
// A folder's items are known from the larger of its own content count and
// its contents table's rows; those not found in it are either in
// "Recovered items" (found by scanning, their node naming the folder as
// parent) or lost. A folder that is lost itself is known from its parent's
// list of subfolders, with its name and count where that list is sound.
#include <algorithm>

#include "providers/pst/format/chk_ltp.h"
#include "providers/pst/format/chk_rescue_parts.h"
#include "providers/pst/format/chk_rescuer.h"
#include "providers/pst/format/ltp_tc.h"
#include "providers/pst/format/msg_values.h"
#include "runtime/utf.h"

namespace mapi::pst::fmt::rescue {
namespace {

constexpr uint32_t kTagContentCount = 0x36020003;

std::string TextOf(const PropValue& v) {
    if (PropType(v.tag) == 0x001E) return std::string(v.bytes.begin(), v.bytes.end());
    std::u16string wide;
    for (size_t i = 0; i + 1 < v.bytes.size(); i += 2)
        wide.push_back(static_cast<char16_t>(v.bytes[i] | (v.bytes[i + 1] << 8)));
    std::string out;
    for (char32_t c : CodePointsFromUtf16(wide)) AppendUtf8(out, c);
    return out;
}

// Name and content count from a folder's properties or its row in its
// parent's hierarchy table.
void ReadFacts(const std::vector<PropValue>& props, std::string* name, int64_t* count) {
    const PropValue* n = FindValue(props, kTagDisplayName);
    if (n == nullptr) n = FindValue(props, kTagDisplayName8);
    if (n != nullptr) *name = TextOf(*n);
    const PropValue* c = FindValue(props, kTagContentCount);
    if (c != nullptr && c->bytes.size() == 4) *count = Get32(c->bytes.data());
}

std::string Items(uint64_t n) {
    return std::to_string(n) + (n == 1 ? " item" : " items");
}

}  // namespace

void Rescuer::NoteFolderFacts(uint32_t folder, const std::vector<PropValue>& props) {
    FolderFacts& f = folders_[folder];
    ReadFacts(props, &f.name, &f.contentCount);
}

void Rescuer::LoadHierarchy(uint32_t folder) {
    auto t = file_.Nodes().find(SiblingNid(folder, kNidTypeHierarchyTable));
    if (t == file_.Nodes().end()) return;
    Node table;
    std::string why;
    std::vector<uint32_t> columns;
    std::vector<TableRow> rows;
    if (!WholeNode(file_.ReadNode(t->second), &table, &why) || !ReadTableContext(table, &columns, &rows, &why)) {
        FolderIssue(folder, "its list of subfolders cannot be read (" + why +
                                "); its subfolders are placed by their own links to it");
        return;
    }
    for (const TableRow& row : rows) {
        if (!IsFolderNid(row.rowId)) continue;
        FolderFacts& f = listedFolders_[row.rowId];
        ReadFacts(row.cells, &f.name, &f.contentCount);
        f.parent = folder;
    }
}

std::string Rescuer::FolderPath(uint32_t folder) const {
    std::string path;
    uint32_t at = folder;
    for (size_t steps = 0; steps <= folderParent_.size() && at != kNidIpmSubtree && at != kNidRootFolder; ++steps) {
        auto f = folders_.find(at);
        path = "\\" + (f != folders_.end() && !f->second.name.empty() ? f->second.name : HexNid(at)) + path;
        auto up = folderParent_.find(at);
        if (up == folderParent_.end()) break;
        at = up->second;
    }
    if (at == kNidRootFolder && folder != kNidRootFolder) path = "\\(outside the mail folders)" + path;
    return path.empty() ? "\\" : path;
}

std::string Rescuer::FolderLabel(uint32_t folder) const {
    if (folder == kNidRootFolder) return "The root folder (folder " + HexNid(folder) + ")";
    return "Folder " + FolderPath(folder) + " (folder " + HexNid(folder) + ")";
}

void Rescuer::AccountFolders() {
    for (const auto& [nid, parent] : folderParent_) {
        if (NidType(nid) != kNidTypeNormalFolder || nid == recoveredItems_ || nid == recoveredFolders_) continue;
        FolderFacts& f = folders_[nid];
        // A folder found only by scanning is damage when its parent still
        // lists it; otherwise it is one deleted, offered like a deleted item.
        if (strayFolders_.count(nid) != 0 && listedFolders_.count(nid) != 0)
            f.issues.push_back(std::string("its entry in the file's node index is lost; it was found by scanning "
                                           "and is placed below \"") + kRecoveredFoldersName + "\"");
        uint64_t inPlace = 0;
        for (uint32_t m : contents_[nid]) inPlace += NidType(m) == kNidTypeNormalMessage ? 1 : 0;
        int64_t count = f.contentCount;
        if (auto listed = listedFolders_.find(nid); listed != listedFolders_.end())
            count = std::max(count, listed->second.contentCount);
        uint64_t expected = std::max<uint64_t>(count < 0 ? 0 : static_cast<uint64_t>(count), listedItems_[nid]);
        uint64_t missing = expected > inPlace ? expected - inPlace : 0;
        if (f.issues.empty() && missing == 0) continue;
        std::string text = FolderLabel(nid) + ": ";
        for (size_t i = 0; i < f.issues.size(); ++i) text += (i > 0 ? "; " : "") + f.issues[i];
        uint64_t recovered = std::min<uint64_t>(missing, toRecovered_[nid]);
        uint64_t lost = missing - recovered;
        if (!f.issues.empty()) text += "; ";
        if (missing > 0) {
            text += std::to_string(inPlace) + " of its " + Items(expected) + " are in it";
            if (recovered > 0)
                text += ", " + std::to_string(recovered) + " were found by scanning and are in \"" +
                        kRecoveredItemsName + "\"";
            if (lost > 0) text += ", " + std::to_string(lost) + (lost == 1 ? " is" : " are") + " lost";
        } else if (count < 0 && listedItems_.count(nid) == 0) {
            text += Items(inPlace) + " were found in it; how many it held is not known";
        } else {
            text += "none of its items is lost";
        }
        Note(text, lost);
    }
}

void Rescuer::AccountLostFolders() {
    // Folders named as the parent of items in "Recovered items", or listed
    // by their parent, that the rescue could not place.
    std::map<uint32_t, FolderFacts> lost;
    for (const auto& [nid, facts] : listedFolders_)
        if (folderParent_.count(nid) == 0) lost[nid] = facts;
    for (const auto& [nid, n] : toRecovered_)
        if (n > 0 && IsFolderNid(nid) && folderParent_.count(nid) == 0) lost.emplace(nid, FolderFacts());
    for (const auto& [nid, f] : lost) {
        std::string path = f.parent != 0 ? FolderPath(f.parent) : std::string();
        if (path == "\\") path.clear();
        std::string text = "Folder " + path + "\\" + (f.name.empty() ? HexNid(nid) : f.name) + " (folder " +
                           HexNid(nid) + "): the folder is lost (neither the file's node index nor a scan finds it)";
        uint64_t found = toRecovered_.count(nid) != 0 ? toRecovered_.at(nid) : 0;
        uint64_t gone = 0;
        if (found > 0) text += "; " + Items(found) + " of it were found by scanning and are in \"" +
                               std::string(kRecoveredItemsName) + "\"";
        if (f.contentCount >= 0) {
            gone = static_cast<uint64_t>(f.contentCount) > found ? static_cast<uint64_t>(f.contentCount) - found : 0;
            text += "; it held " + Items(static_cast<uint64_t>(f.contentCount)) + ", " + std::to_string(gone) +
                    (gone == 1 ? " is" : " are") + " lost";
        } else {
            text += "; how many items it held is not known";
        }
        Note(text, gone);
    }
}

}  // namespace mapi::pst::fmt::rescue
