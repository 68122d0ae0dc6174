// Folders of the embedded store: their tables, subfolders and messages.
#include "folder_object.h"

#include <mapix.h>

#include "message_object.h"
#include "object_props.h"
#include "prop_object.h"
#include "runtime/mapi_ptr.h"
#include "runtime/message_copy.h"
#include "runtime/prop_convert.h"
#include "runtime/table.h"
#include "store_schema.h"
#include "store_tables.h"

namespace mapi::embedded {
namespace {

std::string TextArg(LPTSTR text, ULONG flags) {
    if (text == nullptr) return std::string();
    if (flags & MAPI_UNICODE) return Utf16ToUtf8(reinterpret_cast<const WCHAR*>(text));
    return std::string(text);
}

EncodedProp TextProp(LPTSTR text, ULONG flags) {
    if (flags & MAPI_UNICODE) {
        const auto* w = reinterpret_cast<const WCHAR*>(text);
        return EncodedProp{PT_UNICODE,
                           std::string(reinterpret_cast<const char*>(w), Utf16Length(w) * 2)};
    }
    return EncodedProp{PT_STRING8, std::string(text)};
}

// The display name in a stored value, as UTF-8.
std::string NameOf(const EncodedProp& value) {
    if (value.type == PT_UNICODE)
        return Utf16ToUtf8(std::u16string(reinterpret_cast<const WCHAR*>(value.bytes.data()),
                                          value.bytes.size() / 2));
    return value.bytes;
}

class Folder final : public PropObject<IMAPIFolder> {
public:
    Folder(std::shared_ptr<StoreCore> core, ObjectRow row)
        : core_(std::move(core)), row_(std::move(row)) {}
    // A copy out of this folder is over once the folder goes: the read span
    // it held is let go rather than left to the next call.
    ~Folder() override { core_->ReleaseHeldSpan(); }

    // IMAPIContainer
    HRESULT GetContentsTable(ULONG flags, LPMAPITABLE* table) override {
        if (table == nullptr) return MAPI_E_INVALID_PARAMETER;
        std::shared_ptr<RowSource> source;
        HRESULT hr = NewContentsSource(core_, row_.id, (flags & MAPI_ASSOCIATED) != 0, &source);
        if (FAILED(hr)) return hr;
        return CreateTable(std::move(source), ContentsColumns(), table);
    }
    HRESULT GetHierarchyTable(ULONG flags, LPMAPITABLE* table) override {
        if (table == nullptr) return MAPI_E_INVALID_PARAMETER;
        std::shared_ptr<RowSource> source;
        HRESULT hr = NewHierarchySource(core_, row_.id, (flags & CONVENIENT_DEPTH) != 0, &source);
        if (FAILED(hr)) return hr;
        return CreateTable(std::move(source), HierarchyColumns(), table);
    }
    HRESULT OpenEntry(ULONG cb, LPENTRYID eid, LPCIID iid, ULONG flags, ULONG* type,
                      LPUNKNOWN* out) override {
        return OpenStoreEntry(core_, cb, eid, iid, flags, type, out);
    }
    HRESULT SetSearchCriteria(LPSRestriction, LPENTRYLIST, ULONG) override {
        return MAPI_E_NO_SUPPORT;
    }
    HRESULT GetSearchCriteria(ULONG, LPSRestriction*, LPENTRYLIST*, ULONG*) override {
        return MAPI_E_NO_SUPPORT;
    }

    // IMAPIFolder
    HRESULT CreateMessage(LPCIID iid, ULONG flags, LPMESSAGE* out) override {
        if (out == nullptr) return MAPI_E_INVALID_PARAMETER;
        *out = nullptr;
        if (iid != nullptr && *iid != IID_IMessage && *iid != IID_IMAPIProp)
            return MAPI_E_INTERFACE_NOT_SUPPORTED;
        if (core_->ReadOnly()) return MAPI_E_NO_ACCESS;
        return NewMessageObject(core_, row_.id, (flags & MAPI_ASSOCIATED) != 0, out);
    }

    HRESULT CopyMessages(LPENTRYLIST list, LPCIID iid, LPVOID dest, ULONG_PTR, LPMAPIPROGRESS,
                         ULONG flags) override {
        if (list == nullptr || dest == nullptr) return MAPI_E_INVALID_PARAMETER;
        if (iid != nullptr && *iid != IID_IMAPIFolder) return MAPI_E_INTERFACE_NOT_SUPPORTED;
        // Reading a message takes several statements; one read transaction
        // for all of them, held on across the calls of a copy that goes
        // item by item (StoreCore::HoldReadSpan), takes the file's locks
        // once. Writes through this store (a copy within it, a move) end it
        // first. A target that is the same file opened a second time would
        // wait on it for ever, so that copy reads statement by statement.
        auto* target = static_cast<IMAPIFolder*>(dest);
        if (OtherViewOfThisFile(target))
            core_->ReleaseHeldSpan();
        else
            core_->HoldReadSpan();
        return CopyMessagesBetweenFolders(this, list, target, flags);
    }

    HRESULT DeleteMessages(LPENTRYLIST list, ULONG_PTR, LPMAPIPROGRESS, ULONG) override {
        if (list == nullptr) return MAPI_E_INVALID_PARAMETER;
        if (core_->ReadOnly()) return MAPI_E_NO_ACCESS;
        auto lock = core_->Lock();
        Transaction tx(core_->db());
        if (tx.BeginCode() != SQLITE_OK) return HrFromSqlite(tx.BeginCode());
        ULONG failed = 0;
        for (ULONG i = 0; i < list->cValues; ++i) {
            ParsedEntryId parsed;
            ObjectRow row;
            const SBinary& eid = list->lpbin[i];
            bool ok = SUCCEEDED(core_->ParseOwnEntryId(
                          eid.cb, reinterpret_cast<const ENTRYID*>(eid.lpb), &parsed)) &&
                      parsed.kind == ObjectKind::kMessage &&
                      SUCCEEDED(core_->LoadObject(parsed.id, &row)) &&
                      row.kind == ObjectKind::kMessage && row.parent == row_.id &&
                      SUCCEEDED(core_->DeleteTree(parsed.id));
            if (!ok) ++failed;
        }
        if (int rc = tx.Commit(); rc != SQLITE_OK) return HrFromSqlite(rc);
        if (failed == 0) return S_OK;
        return failed == list->cValues && list->cValues == 1 ? MAPI_E_NOT_FOUND
                                                             : MAPI_W_PARTIAL_COMPLETION;
    }

    HRESULT CreateFolder(ULONG type, LPTSTR name, LPTSTR comment, LPCIID iid, ULONG flags,
                         LPMAPIFOLDER* out) override {
        if (out == nullptr || name == nullptr) return MAPI_E_INVALID_PARAMETER;
        *out = nullptr;
        if (type != FOLDER_GENERIC && type != FOLDER_SEARCH) return MAPI_E_INVALID_PARAMETER;
        if (iid != nullptr && *iid != IID_IMAPIFolder && *iid != IID_IMAPIContainer &&
            *iid != IID_IMAPIProp)
            return MAPI_E_INTERFACE_NOT_SUPPORTED;
        std::string text = TextArg(name, flags);
        if (text.empty()) return MAPI_E_INVALID_PARAMETER;
        std::string key = FoldName(text);
        auto lock = core_->Lock();
        int64_t existing = 0;
        if (HRESULT hr = FindChild(key, 0, &existing); FAILED(hr)) return hr;
        if (existing != 0) {
            if ((flags & OPEN_IF_EXISTS) == 0) return MAPI_E_COLLISION;
            return OpenFolderObject(core_, existing, out);
        }
        if (core_->ReadOnly()) return MAPI_E_NO_ACCESS;
        Transaction tx(core_->db());
        if (tx.BeginCode() != SQLITE_OK) return HrFromSqlite(tx.BeginCode());
        ObjectRow row;
        row.kind = ObjectKind::kFolder;
        row.parent = row_.id;
        row.folderType = type;
        row.nameKey = key;
        HRESULT hr = core_->InsertObject(&row);
        if (SUCCEEDED(hr))
            hr = core_->WriteProp(row.id, PROP_ID(PR_DISPLAY_NAME), TextProp(name, flags));
        if (SUCCEEDED(hr) && comment != nullptr && !TextArg(comment, flags).empty())
            hr = core_->WriteProp(row.id, PROP_ID(PR_COMMENT), TextProp(comment, flags));
        if (FAILED(hr)) return hr;
        if (int rc = tx.Commit(); rc != SQLITE_OK) return HrFromSqlite(rc);
        return OpenFolderObject(core_, row.id, out);
    }

    HRESULT CopyFolder(ULONG, LPENTRYID, LPCIID, LPVOID, LPTSTR, ULONG_PTR, LPMAPIPROGRESS,
                       ULONG) override {
        return MAPI_E_NO_SUPPORT;
    }

    HRESULT DeleteFolder(ULONG cb, LPENTRYID eid, ULONG_PTR, LPMAPIPROGRESS, ULONG flags) override {
        if (core_->ReadOnly()) return MAPI_E_NO_ACCESS;
        ParsedEntryId parsed;
        if (HRESULT hr = core_->ParseOwnEntryId(cb, eid, &parsed); FAILED(hr)) return hr;
        auto lock = core_->Lock();
        ObjectRow row;
        HRESULT hr = core_->LoadObject(parsed.id, &row);
        if (FAILED(hr)) return hr;
        if (row.kind != ObjectKind::kFolder || row.parent != row_.id) return MAPI_E_NOT_FOUND;
        ULONG folders = 0, messages = 0;
        if (FAILED(hr = core_->CountChildren(row.id, ObjectKind::kFolder, -1, &folders)) ||
            FAILED(hr = core_->CountChildren(row.id, ObjectKind::kMessage, -1, &messages)))
            return hr;
        if (folders != 0 && (flags & DEL_FOLDERS) == 0) return MAPI_E_HAS_FOLDERS;
        if (messages != 0 && (flags & DEL_MESSAGES) == 0) return MAPI_E_HAS_MESSAGES;
        Transaction tx(core_->db());
        if (tx.BeginCode() != SQLITE_OK) return HrFromSqlite(tx.BeginCode());
        if (FAILED(hr = core_->DeleteTree(row.id))) return hr;
        int rc = tx.Commit();
        return rc == SQLITE_OK ? S_OK : HrFromSqlite(rc);
    }

    HRESULT SetReadFlags(LPENTRYLIST, ULONG_PTR, LPMAPIPROGRESS, ULONG) override {
        return MAPI_E_NO_SUPPORT;
    }
    HRESULT GetMessageStatus(ULONG, LPENTRYID, ULONG, ULONG*) override { return MAPI_E_NO_SUPPORT; }
    HRESULT SetMessageStatus(ULONG, LPENTRYID, ULONG, ULONG, ULONG*) override {
        return MAPI_E_NO_SUPPORT;
    }
    HRESULT SaveContentsSort(LPSSortOrderSet, ULONG) override { return MAPI_E_NO_SUPPORT; }

    HRESULT EmptyFolder(ULONG_PTR, LPMAPIPROGRESS, ULONG flags) override {
        if (core_->ReadOnly()) return MAPI_E_NO_ACCESS;
        auto lock = core_->Lock();
        Transaction tx(core_->db());
        if (tx.BeginCode() != SQLITE_OK) return HrFromSqlite(tx.BeginCode());
        std::vector<int64_t> ids, folders;
        HRESULT hr =
            core_->Children(row_.id, ObjectKind::kMessage, (flags & DEL_ASSOCIATED) ? -1 : 0, &ids);
        if (SUCCEEDED(hr)) hr = core_->Children(row_.id, ObjectKind::kFolder, -1, &folders);
        if (FAILED(hr)) return hr;
        ids.insert(ids.end(), folders.begin(), folders.end());
        for (int64_t id : ids)
            if (FAILED(hr = core_->DeleteTree(id))) return hr;
        int rc = tx.Commit();
        return rc == SQLITE_OK ? S_OK : HrFromSqlite(rc);
    }

protected:
    bool SupportsInterface(REFIID riid) const override {
        return IidIn(riid, {IID_IMAPIFolder, IID_IMAPIContainer, IID_IMAPIProp});
    }

    // PropHost
    StoreCore& Core() override { return *core_; }
    bool ComputedValue(ULONG id, void* parent, SPropValue* out) override {
        return ComputeObjectProp(*core_, row_, id, -1, parent, out);
    }
    std::vector<ULONG> ComputedTags() override { return ComputedObjectTags(row_); }
    bool IsReadOnlyProp(ULONG id) override { return IsComputedProp(ObjectKind::kFolder, id); }
    HRESULT StoredTypes(std::vector<std::pair<ULONG, ULONG>>* out) override {
        return core_->ReadPropTypes(row_.id, out);
    }
    HRESULT ReadStored(ULONG id, EncodedProp* out) override {
        return core_->ReadProp(row_.id, id, out);
    }
    HRESULT WriteStored(ULONG id, EncodedProp value) override {
        if (id != PROP_ID(PR_DISPLAY_NAME)) return core_->WriteProp(row_.id, id, value);
        if (value.type != PT_STRING8 && value.type != PT_UNICODE) return MAPI_E_INVALID_TYPE;
        // Renaming keeps sibling names unique, as CreateFolder does.
        std::string key = FoldName(NameOf(value));
        auto lock = core_->Lock();
        int64_t clash = 0;
        if (HRESULT hr = FindSibling(key, &clash); FAILED(hr)) return hr;
        if (clash != 0) return MAPI_E_COLLISION;
        Transaction tx(core_->db());
        if (tx.BeginCode() != SQLITE_OK) return HrFromSqlite(tx.BeginCode());
        ObjectRow updated = row_;
        updated.nameKey = key;
        HRESULT hr = core_->UpdateObject(updated);
        if (SUCCEEDED(hr)) hr = core_->WriteProp(row_.id, id, value);
        if (FAILED(hr)) return hr;
        if (int rc = tx.Commit(); rc != SQLITE_OK) return HrFromSqlite(rc);
        row_ = updated;
        return S_OK;
    }
    HRESULT RemoveStored(ULONG id) override { return core_->DeleteProp(row_.id, id); }
    bool CanWrite() override { return !core_->ReadOnly(); }

private:
    bool OtherViewOfThisFile(IMAPIFolder* other) const {
        auto* folder = dynamic_cast<Folder*>(other);
        if (folder == nullptr || folder->core_ == core_) return false;
        return core_->SameFileAs(*folder->core_);
    }

    // The subfolder of this folder named key (0 when none), skipping skip.
    HRESULT FindChild(const std::string& key, int64_t skip, int64_t* found) {
        return FindIn(row_.id, key, skip, found);
    }
    HRESULT FindSibling(const std::string& key, int64_t* found) {
        if (row_.parent == 0) {
            *found = 0;
            return S_OK;
        }
        return FindIn(row_.parent, key, row_.id, found);
    }
    HRESULT FindIn(int64_t parent, const std::string& key, int64_t skip, int64_t* found) {
        Stmt q(core_->db(),
               "SELECT id FROM objects WHERE parent=?1 AND kind=?2 AND name_key=?3 AND id<>?4 "
               "LIMIT 1");
        q.Bind(1, parent).Bind(2, static_cast<int64_t>(ObjectKind::kFolder)).Bind(3, key);
        q.Bind(4, skip);
        int rc = q.Step();
        *found = rc == SQLITE_ROW ? q.Int(0) : 0;
        return rc == SQLITE_ROW || rc == SQLITE_DONE ? S_OK : HrFromSqlite(rc);
    }

    std::shared_ptr<StoreCore> core_;
    ObjectRow row_;
};

HRESULT AsInterface(IUnknown* object, LPCIID iid, LPUNKNOWN* out) {
    ComRef<IUnknown> held(object);
    if (iid == nullptr) {
        *out = held.Detach();
        return S_OK;
    }
    return held->QueryInterface(*iid, reinterpret_cast<void**>(out));
}

}  // namespace

HRESULT OpenFolderObject(std::shared_ptr<StoreCore> core, int64_t id, IMAPIFolder** out) {
    if (out == nullptr) return MAPI_E_INVALID_PARAMETER;
    *out = nullptr;
    ObjectRow row;
    HRESULT hr = core->LoadObject(id, &row);
    if (FAILED(hr)) return hr;
    if (row.kind != ObjectKind::kFolder) return MAPI_E_NOT_FOUND;
    *out = new Folder(std::move(core), std::move(row));
    return S_OK;
}

HRESULT OpenStoreEntry(std::shared_ptr<StoreCore> core, ULONG cb, LPENTRYID eid, LPCIID iid,
                       ULONG flags, ULONG* objType, LPUNKNOWN* out) {
    if (out == nullptr) return MAPI_E_INVALID_PARAMETER;
    *out = nullptr;
    if ((flags & MAPI_MODIFY) && !(flags & MAPI_BEST_ACCESS) && core->ReadOnly())
        return MAPI_E_NO_ACCESS;
    int64_t id = kRootFolderId;
    ObjectKind kind = ObjectKind::kFolder;
    if (eid != nullptr && cb != 0) {
        ParsedEntryId parsed;
        if (HRESULT hr = core->ParseOwnEntryId(cb, eid, &parsed); FAILED(hr)) return hr;
        id = parsed.id;
        kind = parsed.kind;
    }
    if (kind == ObjectKind::kFolder) {
        IMAPIFolder* folder = nullptr;
        HRESULT hr = OpenFolderObject(std::move(core), id, &folder);
        if (FAILED(hr)) return hr;
        if (objType != nullptr) *objType = MAPI_FOLDER;
        return AsInterface(folder, iid, out);
    }
    if (kind == ObjectKind::kMessage) {
        IMessage* message = nullptr;
        HRESULT hr = OpenMessageObject(std::move(core), id, &message);
        if (FAILED(hr)) return hr;
        if (objType != nullptr) *objType = MAPI_MESSAGE;
        return AsInterface(message, iid, out);
    }
    return MAPI_E_INVALID_ENTRYID;
}

}  // namespace mapi::embedded
