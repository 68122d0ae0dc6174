// Folders of a personal folder file: hierarchy and contents tables, and the
// way into their messages. Copying out works through the platform's one
// message copy; everything that would change the file answers
// MAPI_E_NO_ACCESS.
#include <mapitags.h>

#include "providers/pst/pst_object.h"
#include "providers/pst/pst_objects.h"
#include "providers/pst/pst_tables.h"
#include "runtime/message_copy.h"

namespace mapi::pst {
namespace {

class PstFolder final : public PstObject<IMAPIFolder> {
public:
    PstFolder(std::unique_ptr<ItemProps> props, uint32_t nid)
        : PstObject(std::move(props)), nid_(nid) {}

    HRESULT GetContentsTable(ULONG flags, LPMAPITABLE* table) override {
        return Table((flags & MAPI_ASSOCIATED) != 0 ? FolderList::Associated : FolderList::Messages,
                     table);
    }
    HRESULT GetHierarchyTable(ULONG flags, LPMAPITABLE* table) override {
        if (table != nullptr) *table = nullptr;
        // Whole subtrees in one table are not offered; callers walk level by level.
        if ((flags & CONVENIENT_DEPTH) != 0) return MAPI_E_NO_SUPPORT;
        return Table(FolderList::Subfolders, table);
    }
    HRESULT OpenEntry(ULONG cb, LPENTRYID entryId, LPCIID iid, ULONG flags, ULONG* type,
                      LPUNKNOWN* object) override {
        return GuardCall(
            [&] { return OpenEntryOf(File(), nid_, cb, entryId, iid, flags, type, object); });
    }
    HRESULT SetSearchCriteria(LPSRestriction, LPENTRYLIST, ULONG) override {
        return MAPI_E_NO_ACCESS;
    }
    HRESULT GetSearchCriteria(ULONG, LPSRestriction*, LPENTRYLIST*, ULONG*) override {
        return MAPI_E_NO_SUPPORT;
    }

    HRESULT CreateMessage(LPCIID, ULONG, LPMESSAGE* message) override {
        if (message != nullptr) *message = nullptr;
        return MAPI_E_NO_ACCESS;
    }
    HRESULT CopyMessages(LPENTRYLIST list, LPCIID, LPVOID destination, ULONG_PTR, LPMAPIPROGRESS,
                         ULONG flags) override {
        if ((flags & MESSAGE_MOVE) != 0) return MAPI_E_NO_ACCESS;
        if (list == nullptr || destination == nullptr) return MAPI_E_INVALID_PARAMETER;
        return GuardCall([&] {
            return CopyMessagesBetweenFolders(this, list, static_cast<IMAPIFolder*>(destination),
                                              flags);
        });
    }
    HRESULT DeleteMessages(LPENTRYLIST, ULONG_PTR, LPMAPIPROGRESS, ULONG) override {
        return MAPI_E_NO_ACCESS;
    }
    HRESULT CreateFolder(ULONG, LPTSTR, LPTSTR, LPCIID, ULONG, LPMAPIFOLDER* folder) override {
        if (folder != nullptr) *folder = nullptr;
        return MAPI_E_NO_ACCESS;
    }
    HRESULT CopyFolder(ULONG, LPENTRYID, LPCIID, LPVOID, LPTSTR, ULONG_PTR, LPMAPIPROGRESS,
                       ULONG flags) override {
        return (flags & FOLDER_MOVE) != 0 ? MAPI_E_NO_ACCESS : MAPI_E_NO_SUPPORT;
    }
    HRESULT DeleteFolder(ULONG, LPENTRYID, ULONG_PTR, LPMAPIPROGRESS, ULONG) override {
        return MAPI_E_NO_ACCESS;
    }
    HRESULT SetReadFlags(LPENTRYLIST, ULONG_PTR, LPMAPIPROGRESS, ULONG) override {
        return MAPI_E_NO_ACCESS;
    }
    HRESULT GetMessageStatus(ULONG, LPENTRYID, ULONG, ULONG* status) override {
        if (status == nullptr) return MAPI_E_INVALID_PARAMETER;
        *status = 0;
        return S_OK;
    }
    HRESULT SetMessageStatus(ULONG, LPENTRYID, ULONG, ULONG, ULONG*) override {
        return MAPI_E_NO_ACCESS;
    }
    HRESULT SaveContentsSort(LPSSortOrderSet, ULONG) override { return MAPI_E_NO_ACCESS; }
    HRESULT EmptyFolder(ULONG_PTR, LPMAPIPROGRESS, ULONG) override { return MAPI_E_NO_ACCESS; }

protected:
    bool SupportsInterface(REFIID riid) const override {
        return IidIn(riid, {IID_IMAPIProp, IID_IMAPIContainer, IID_IMAPIFolder});
    }

    HRESULT OpenObjectProperty(ULONG tag, REFIID iid, ULONG, ULONG, IUnknown** object) override {
        if (iid != IID_IMAPITable) return MAPI_E_NO_SUPPORT;
        IMAPITable* table = nullptr;
        HRESULT hr = MAPI_E_NOT_FOUND;
        if (PROP_ID(tag) == PROP_ID(PR_CONTAINER_CONTENTS))
            hr = Table(FolderList::Messages, &table);
        else if (PROP_ID(tag) == PROP_ID(PR_FOLDER_ASSOCIATED_CONTENTS))
            hr = Table(FolderList::Associated, &table);
        else if (PROP_ID(tag) == PROP_ID(PR_CONTAINER_HIERARCHY))
            hr = Table(FolderList::Subfolders, &table);
        if (hr == S_OK) *object = table;
        return hr;
    }

private:
    HRESULT Table(FolderList which, LPMAPITABLE* table) {
        if (table == nullptr) return MAPI_E_INVALID_PARAMETER;
        *table = nullptr;
        return GuardCall([&] {
            std::shared_ptr<RowSource> source;
            HRESULT hr = FolderRows(File(), Props().Item(), nid_, which, &source);
            if (hr != S_OK) return hr;
            return MakeTable(
                std::move(source),
                which == FolderList::Subfolders ? TableKind::Hierarchy : TableKind::Contents,
                table);
        });
    }

    uint32_t nid_;
};

}  // namespace

HRESULT CreateFolderObject(std::shared_ptr<PstFile> file, SharedItem item, uint32_t nid,
                           uint32_t parentNid, IMAPIFolder** folder) {
    auto props = MakeFolderProps(std::move(file), std::move(item), nid, parentNid);
    if (props->Check() != S_OK) return MAPI_E_CORRUPT_DATA;
    *folder = new PstFolder(std::move(props), nid);
    return S_OK;
}

}  // namespace mapi::pst
