// Deleting, moving and copying whole subfolders of a writable personal
// folder file. Each operation changes the store model and commits; a
// delete or move is one commit, so it happens whole or not at all. A copy
// commits as it goes once the messages it holds in memory grow large, so
// a failure part way leaves a copy with part of the tree, never a damaged
// file.
#include <mapicode.h>
#include <mapitags.h>
#include <mapix.h>

#include "providers/pst/format/msg_values.h"
#include "providers/pst/format/ndb_ids.h"
#include "providers/pst/pstw_objects.h"
#include "runtime/mapi_ptr.h"
#include "runtime/prop_convert.h"
#include "runtime/utf.h"

namespace mapi::pst {
namespace {

using Model = fmt::StoreModel;

// Message bytes a copy holds before it commits what it has.
constexpr size_t kCopyBatchBytes = 32u << 20;

std::u32string Folded(const std::string& utf8) {
    std::u32string out;
    for (char32_t c : CodePointsFromUtf8(utf8)) out.push_back(FoldCase(c));
    return out;
}

std::string NameOf(const Model::Folder& folder) {
    const fmt::PropValue* v = fmt::FindValue(folder.props, PR_DISPLAY_NAME_W);
    if (v == nullptr) return {};
    std::u16string text;
    for (size_t i = 0; i + 1 < v->bytes.size(); i += 2)
        text.push_back(static_cast<char16_t>(fmt::Get16(v->bytes.data() + i)));
    return Utf16ToUtf8(text);
}

size_t NodeBytes(const fmt::Node& node) {
    size_t total = node.data.size();
    for (const auto& [nid, sub] : node.subnodes) total += NodeBytes(sub);
    return total;
}

// The folders every file needs in their places: the store and Outlook
// find them by their fixed node ids.
bool IsFixed(uint32_t nid) {
    return nid == fmt::kNidRootFolder || nid == fmt::kNidIpmSubtree || nid == fmt::kNidSearchRoot ||
           nid == fmt::kNidSpamSearchFolder;
}

// The folders the store's properties name (PR_IPM_OUTBOX_ENTRYID and the
// others) and the inbox: they may move, but not go.
bool IsNamedByStore(const Model& model, uint32_t nid) {
    return IsFixed(nid) || nid == model.inbox() || nid == model.outbox() ||
           nid == model.sentItems() || nid == model.deletedItems();
}

// Every folder of the tree that starts at nid, nid first.
std::vector<uint32_t> TreeOf(const Model& model, uint32_t nid) {
    std::vector<uint32_t> tree{nid};
    for (size_t i = 0; i < tree.size(); ++i)
        for (uint32_t child : model.FindFolder(tree[i])->children) tree.push_back(child);
    return tree;
}

bool InSearchTree(const Model& model, uint32_t nid) {
    for (const Model::Folder* f = model.FindFolder(nid); f != nullptr;
         f = model.FindFolder(f->parent)) {
        if (nid == fmt::kNidSearchRoot || f->search) return true;
        if (f->parent == nid) return false;
        nid = f->parent;
    }
    return false;
}

// The subfolder of parent that cb/eid names; 0 when it names none.
uint32_t ChildNamed(WritableFile& file, uint32_t parent, ULONG cb, LPENTRYID eid) {
    uint32_t nid = 0;
    if (eid == nullptr || !file.NidOf(cb, eid, &nid)) return 0;
    const Model::Folder* f = file.Model().FindFolder(nid);
    return f != nullptr && f->parent == parent && nid != parent ? nid : 0;
}

// A folder of file that dest is (an object of this same store); 0 for a
// folder of another store.
uint32_t FolderOf(WritableFile& file, IMAPIFolder* dest) {
    SizedSPropTagArray(1, tags) = {1, {PR_ENTRYID}};
    ULONG count = 0;
    LPSPropValue raw = nullptr;
    if (FAILED(dest->GetProps(reinterpret_cast<LPSPropTagArray>(&tags), 0, &count, &raw))) return 0;
    MapiBuffer<SPropValue> values(raw);
    if (count != 1 || values.get()[0].ulPropTag != PR_ENTRYID) return 0;
    const SBinary& id = values.get()[0].Value.bin;
    uint32_t nid = 0;
    if (!file.NidOf(id.cb, reinterpret_cast<const ENTRYID*>(id.lpb), &nid)) return 0;
    return file.Model().FindFolder(nid) != nullptr ? nid : 0;
}

bool NameTaken(const Model& model, uint32_t parent, const std::string& name, uint32_t except) {
    std::u32string folded = Folded(name);
    for (uint32_t child : model.FindFolder(parent)->children)
        if (child != except && Folded(NameOf(*model.FindFolder(child))) == folded) return true;
    return false;
}

void Rename(Model& model, uint32_t nid, const std::string& name) {
    std::vector<fmt::PropValue> props = model.FindFolder(nid)->props;
    fmt::SetValue(props, fmt::UnicodeValue(PR_DISPLAY_NAME_W, name));
    model.SetFolderProps(nid, std::move(props));
}

class TreeCopy {
public:
    TreeCopy(WritableFile& file, bool deep) : file_(file), deep_(deep) {}

    // Copies the folder source (with its subfolders when deep) below
    // parent under name.
    HRESULT Copy(uint32_t source, uint32_t parent, const std::string& name) {
        Model& model = file_.Model();
        // What is copied is read before anything is added: the new folders
        // never reach into the tree being read.
        const Model::Folder* from = model.FindFolder(source);
        std::vector<fmt::PropValue> props = from->props;
        std::vector<uint32_t> messages = from->messages, associated = from->associated,
                              children = from->children;
        uint32_t copy = model.AddFolder(parent, name, "");
        fmt::SetValue(props, fmt::UnicodeValue(PR_DISPLAY_NAME_W, name));
        model.SetFolderProps(copy, std::move(props));
        for (const std::vector<uint32_t>* list : {&messages, &associated}) {
            for (uint32_t m : *list) {
                fmt::Node node;
                std::string error;
                if (!file_.MessageNode(m, &node, &error)) return MAPI_E_CORRUPT_DATA;
                pending_ += NodeBytes(node);
                std::vector<fmt::PropValue> row = model.FindMessage(m)->props;
                model.AddMessageNode(copy, std::move(node), std::move(row), list == &associated);
                if (pending_ < kCopyBatchBytes) continue;
                pending_ = 0;
                if (HRESULT hr = file_.Commit(); FAILED(hr)) return hr;
            }
        }
        if (!deep_) return S_OK;
        for (uint32_t child : children)
            if (HRESULT hr = Copy(child, copy, NameOf(*model.FindFolder(child))); FAILED(hr))
                return hr;
        return S_OK;
    }

private:
    WritableFile& file_;
    bool deep_;
    size_t pending_ = 0;
};

}  // namespace

HRESULT DeleteSubfolder(WritableFile& file, uint32_t parent, ULONG cb, LPENTRYID eid, ULONG flags) {
    if ((flags & ~(DEL_FOLDERS | DEL_MESSAGES | DEL_ASSOCIATED | FOLDER_DIALOG)) != 0)
        return MAPI_E_UNKNOWN_FLAGS;
    if (file.IsReadOnly()) return MAPI_E_NO_ACCESS;
    Model& model = file.Model();
    uint32_t nid = ChildNamed(file, parent, cb, eid);
    if (nid == 0) return MAPI_E_NOT_FOUND;
    for (uint32_t f : TreeOf(model, nid))
        if (IsNamedByStore(model, f)) return MAPI_E_NO_ACCESS;
    const Model::Folder* folder = model.FindFolder(nid);
    if (!folder->children.empty() && (flags & DEL_FOLDERS) == 0) return MAPI_E_HAS_FOLDERS;
    if ((!folder->messages.empty() || !folder->associated.empty()) && (flags & DEL_MESSAGES) == 0)
        return MAPI_E_HAS_MESSAGES;
    model.RemoveFolder(nid);
    return file.Commit();
}

HRESULT CopySubfolder(WritableFile& file, uint32_t parent, ULONG cb, LPENTRYID eid, LPVOID dest,
                      LPTSTR newName, ULONG flags) {
    if ((flags &
         ~(COPY_SUBFOLDERS | FOLDER_MOVE | FOLDER_DIALOG | MAPI_DECLINE_OK | MAPI_UNICODE)) != 0)
        return MAPI_E_UNKNOWN_FLAGS;
    if (dest == nullptr) return MAPI_E_INVALID_PARAMETER;
    if (file.IsReadOnly()) return MAPI_E_NO_ACCESS;
    Model& model = file.Model();
    uint32_t source = ChildNamed(file, parent, cb, eid);
    if (source == 0) return MAPI_E_NOT_FOUND;
    uint32_t target = FolderOf(file, static_cast<IMAPIFolder*>(dest));
    // Between stores the platform's copy does the work, folder by folder.
    if (target == 0) return MAPI_E_NO_SUPPORT;
    if (InSearchTree(model, source) || InSearchTree(model, target)) return MAPI_E_NO_SUPPORT;
    const std::vector<uint32_t> tree = TreeOf(model, source);
    if (std::find(tree.begin(), tree.end(), target) != tree.end()) return MAPI_E_FOLDER_CYCLE;

    std::string name = NameOf(*model.FindFolder(source));
    if (newName != nullptr) {
        name = (flags & MAPI_UNICODE) != 0 ? Utf16ToUtf8(reinterpret_cast<const WCHAR*>(newName))
                                           : std::string(reinterpret_cast<const char*>(newName));
        if (name.empty()) return MAPI_E_INVALID_PARAMETER;
    }
    const bool move = (flags & FOLDER_MOVE) != 0;
    if (NameTaken(model, target, name, move ? source : 0)) return MAPI_E_COLLISION;
    if (move) {
        if (IsFixed(source)) return MAPI_E_NO_ACCESS;
        model.MoveFolder(source, target);
        if (NameOf(*model.FindFolder(source)) != name) Rename(model, source, name);
        return file.Commit();
    }
    HRESULT hr = TreeCopy(file, (flags & COPY_SUBFOLDERS) != 0).Copy(source, target, name);
    // What was added before a failure is dropped with the model's reload
    // when the commit fails; otherwise it is kept and committed.
    HRESULT commit = file.Commit();
    return FAILED(hr) ? hr : commit;
}

}  // namespace mapi::pst
