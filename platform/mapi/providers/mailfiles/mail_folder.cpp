// Folder objects of a mail file store: the root, the IPM subtree and the
// layout's folders, with their contents and hierarchy tables, and the
// opening of entries by identifier.
#include <deque>
#include <functional>
#include <mutex>
#include <map>

#include <mapitags.h>
#include <mapiutil.h>

#include "mime/mime_convert.h"
#include "providers/mailfiles/mail_object.h"
#include "providers/mailfiles/mail_objects.h"
#include "runtime/memory_rows.h"
#include "runtime/message_copy.h"
#include "runtime/prop_convert.h"
#include "runtime/table.h"

namespace mapi::mailfiles {

namespace {

constexpr const char* kSubtreeName = "Top of Personal Folders";
// Parsed items a contents table keeps, so reading a row's columns and then
// its restriction does not parse the message twice.
constexpr size_t kCachedItems = 16;

std::string Bytes(const void* p, size_t n) { return std::string(static_cast<const char*>(p), n); }

// One row of a contents table. Entry identifiers and sizes come from the
// listing; anything else makes the row parse its message once. A message
// that cannot be read shows its code in every such column, so the copy
// engine sees it fail instead of missing it.
class ItemRow final : public RowAccessor {
public:
    using Loader = std::function<HRESULT(std::shared_ptr<const mime::MailItem>*)>;
    ItemRow(mime::PropBag listed, Loader loader)
        : listed_(std::move(listed)), loader_(std::move(loader)) {}

    const SPropValue* GetById(ULONG propId) override {
        if (const SPropValue* v = listed_.Get(propId)) return v;
        // Id 0 is no property: a placeholder column (PR_NULL, such as a
        // named property the store never heard of) must not cost a read of
        // every message, which for a server is a fetch of each.
        if (propId == 0) return nullptr;
        if (!Load()) {
            SPropValue& error = errors_[propId];
            error = ErrorValue(PROP_TAG(PT_ERROR, propId), loadResult_);
            return &error;
        }
        if (propId == PROP_ID(PR_HASATTACH)) {
            hasAttach_.ulPropTag = PR_HASATTACH;
            hasAttach_.Value.b = item_->attachments.empty() ? 0 : 1;
            return &hasAttach_;
        }
        return item_->props.Get(propId);
    }

    HRESULT SubRows(ULONG subObject, std::vector<std::unique_ptr<RowAccessor>>* rows) override {
        rows->clear();
        if (!Load()) return loadResult_;
        auto memory = std::make_shared<MemoryRows>();
        const bool recipients = subObject == PR_MESSAGE_RECIPIENTS;
        if (!recipients && subObject != PR_MESSAGE_ATTACHMENTS) return MAPI_E_NO_SUPPORT;
        if (recipients) {
            for (const mime::PropBag& r : item_->recipients) AddRow(*memory, r);
        } else {
            for (const mime::MailAttachment& a : item_->attachments) AddRow(*memory, a.props);
        }
        sub_.push_back(memory);
        for (ULONG i = 0; i < memory->Count(); ++i) rows->push_back(memory->Row(i));
        return S_OK;
    }

private:
    static void AddRow(MemoryRows& rows, const mime::PropBag& bag) {
        std::vector<SPropValue> values;
        for (const auto& [id, v] : bag.All()) values.push_back(*v);
        rows.AddRow(values.data(), static_cast<ULONG>(values.size()));
    }

    bool Load() {
        if (!tried_) {
            tried_ = true;
            loadResult_ = loader_(&item_);
        }
        return SUCCEEDED(loadResult_) && item_ != nullptr;
    }

    mime::PropBag listed_;
    Loader loader_;
    bool tried_ = false;
    HRESULT loadResult_ = S_OK;
    std::shared_ptr<const mime::MailItem> item_;
    std::map<ULONG, SPropValue> errors_;
    SPropValue hasAttach_{};
    std::vector<std::shared_ptr<MemoryRows>> sub_;
};

class ItemRows final : public RowSource, public std::enable_shared_from_this<ItemRows> {
public:
    ItemRows(std::shared_ptr<StoreCore> core, FolderPath folder, std::vector<ItemEntry> items)
        : core_(std::move(core)), folder_(std::move(folder)), items_(std::move(items)) {}

    ULONG Count() override { return static_cast<ULONG>(items_.size()); }

    std::unique_ptr<RowAccessor> Row(ULONG index) override {
        const ItemEntry& entry = items_.at(index);
        mime::PropBag listed;
        const std::string id = core_->EntryId(EntryKind::kMessage, folder_, entry.key);
        listed.SetBinary(PROP_ID(PR_ENTRYID), id);
        listed.SetBinary(PROP_ID(PR_RECORD_KEY), id);
        listed.SetBinary(PROP_ID(PR_PARENT_ENTRYID), core_->EntryId(EntryKind::kFolder, folder_));
        listed.SetBinary(PROP_ID(PR_STORE_ENTRYID), core_->StoreEntryId());
        listed.SetLong(PROP_ID(PR_OBJECT_TYPE), MAPI_MESSAGE);
        listed.SetLong(PROP_ID(PR_MESSAGE_SIZE),
                       static_cast<LONG>(std::min<uint64_t>(entry.size, 0x7FFFFFFF)));
        // Headers listed with the item answer the subject and the resume
        // columns without reading the whole message. Only values that come
        // from these headers alone are taken: the rest depends on the body.
        if (!entry.headers.empty()) {
            mime::MailItem head;
            if (SUCCEEDED(mime::ReadMime(entry.headers, *core_, &head)))
                for (ULONG id : {static_cast<ULONG>(PROP_ID(PR_SUBJECT)),
                                 core_->IdOf(mime::SourceStoreName()),
                                 core_->IdOf(mime::SourceEntryIdName()),
                                 core_->IdOf(mime::SourceModifiedName())})
                    if (const SPropValue* value = head.props.Get(id)) (void)listed.Set(*value);
        }
        std::weak_ptr<ItemRows> self = weak_from_this();
        const std::string key = entry.key;
        return std::make_unique<ItemRow>(
            std::move(listed), [self, key](std::shared_ptr<const mime::MailItem>* out) -> HRESULT {
                auto rows = self.lock();
                if (!rows) return MAPI_E_CALL_FAILED;
                return rows->Loaded(key, out);
            });
    }

private:
    HRESULT Loaded(const std::string& key, std::shared_ptr<const mime::MailItem>* out) {
        std::lock_guard<std::mutex> lock(cacheLock_);
        for (const auto& [k, item] : cache_)
            if (k == key) {
                *out = item;
                return S_OK;
            }
        auto item = std::make_shared<mime::MailItem>();
        HRESULT hr = LoadItem(*core_, folder_, key, item.get(), nullptr);
        if (FAILED(hr)) return hr;
        cache_.emplace_back(key, item);
        if (cache_.size() > kCachedItems) cache_.pop_front();
        *out = item;
        return S_OK;
    }

    std::shared_ptr<StoreCore> core_;
    FolderPath folder_;
    std::vector<ItemEntry> items_;
    std::mutex cacheLock_;
    std::deque<std::pair<std::string, std::shared_ptr<const mime::MailItem>>> cache_;
};

std::string FolderIdOf(StoreCore& core, EntryKind kind, const FolderPath& folder) {
    return core.EntryId(kind, kind == EntryKind::kRoot ? FolderPath{} : folder);
}

class Folder final : public MailObject<IMAPIFolder> {
public:
    Folder(std::shared_ptr<StoreCore> core, EntryKind kind, FolderPath path)
        : MailObject(std::move(core)), kind_(kind), path_(std::move(path)) {}

    HRESULT GetContentsTable(ULONG flags, LPMAPITABLE* table) override {
        if (table == nullptr) return MAPI_E_INVALID_PARAMETER;
        *table = nullptr;
        return Guard([&]() -> HRESULT {
            std::vector<ItemEntry> items;
            // Mail files hold no hidden (associated) items: that table is empty.
            if ((flags & MAPI_ASSOCIATED) == 0 && kind_ == EntryKind::kFolder && !path_.empty()) {
                std::lock_guard<std::recursive_mutex> lock(Core()->Lock());
                HRESULT hr = ExplainLayout(Core()->Layout().ListItems(path_, &items));
                if (FAILED(hr)) return hr;
            }
            auto rows = std::make_shared<ItemRows>(Core(), path_, std::move(items));
            SizedSPropTagArray(4, columns) = {
                4, {PR_ENTRYID, PR_SUBJECT, PR_MESSAGE_CLASS, PR_MESSAGE_FLAGS}};
            return CreateTable(rows, reinterpret_cast<LPSPropTagArray>(&columns), table);
        });
    }

    HRESULT GetHierarchyTable(ULONG flags, LPMAPITABLE* table) override {
        if (table == nullptr) return MAPI_E_INVALID_PARAMETER;
        *table = nullptr;
        if ((flags & CONVENIENT_DEPTH) != 0) return MAPI_E_NO_SUPPORT;
        return Guard([&]() -> HRESULT {
            auto rows = std::make_shared<MemoryRows>();
            std::vector<std::pair<EntryKind, FolderPath>> children;
            if (kind_ == EntryKind::kRoot) {
                children.emplace_back(EntryKind::kFolder, FolderPath{});
            } else {
                std::vector<std::string> names;
                std::lock_guard<std::recursive_mutex> lock(Core()->Lock());
                HRESULT hr = ExplainLayout(Core()->Layout().ListFolders(path_, &names));
                if (FAILED(hr)) return hr;
                for (const std::string& name : names) {
                    FolderPath child = path_;
                    child.push_back(name);
                    children.emplace_back(EntryKind::kFolder, std::move(child));
                }
            }
            for (const auto& [kind, path] : children) {
                mime::PropBag props;
                FolderProps(*Core(), kind, path, props);
                props.SetLong(PROP_ID(PR_DEPTH), 0);
                std::vector<SPropValue> values;
                for (const auto& [id, v] : props.All()) values.push_back(*v);
                HRESULT hr = rows->AddRow(values.data(), static_cast<ULONG>(values.size()));
                if (FAILED(hr)) return hr;
            }
            SizedSPropTagArray(3, columns) = {3, {PR_ENTRYID, PR_DISPLAY_NAME, PR_FOLDER_TYPE}};
            return CreateTable(rows, reinterpret_cast<LPSPropTagArray>(&columns), table);
        });
    }

    HRESULT OpenEntry(ULONG cb, LPENTRYID id, LPCIID iid, ULONG flags, ULONG* type,
                      LPUNKNOWN* out) override {
        return Guard([&] { return OpenEntryOf(Core(), cb, id, iid, flags, type, out); });
    }
    HRESULT SetSearchCriteria(LPSRestriction, LPENTRYLIST, ULONG) override {
        return MAPI_E_NO_SUPPORT;
    }
    HRESULT GetSearchCriteria(ULONG, LPSRestriction*, LPENTRYLIST*, ULONG*) override {
        return MAPI_E_NO_SUPPORT;
    }

    HRESULT CreateMessage(LPCIID, ULONG flags, LPMESSAGE* out) override {
        if (out == nullptr) return MAPI_E_INVALID_PARAMETER;
        *out = nullptr;
        if (kind_ != EntryKind::kFolder || path_.empty()) return MAPI_E_NO_ACCESS;
        if ((flags & MAPI_ASSOCIATED) != 0) return MAPI_E_NO_SUPPORT;
        return Guard([&] { return NewMessage(Core(), path_, out); });
    }
    HRESULT CopyMessages(LPENTRYLIST list, LPCIID, LPVOID dest, ULONG_PTR, LPMAPIPROGRESS,
                         ULONG flags) override {
        if ((flags & MESSAGE_MOVE) != 0) return MAPI_E_NO_SUPPORT;  // items are never removed
        return Guard([&] {
            HRESULT hr = CopyWhereTheyLie(list, static_cast<IMAPIFolder*>(dest));
            if (hr != MAPI_E_NO_SUPPORT) return hr;
            std::string why;
            hr = CopyMessagesBetweenFolders(this, list, static_cast<IMAPIFolder*>(dest), flags,
                                            &why);
            return Explain(hr, std::move(why));
        });
    }
    HRESULT DeleteMessages(LPENTRYLIST, ULONG_PTR, LPMAPIPROGRESS, ULONG) override {
        return MAPI_E_NO_SUPPORT;
    }
    HRESULT CreateFolder(ULONG type, LPTSTR name, LPTSTR, LPCIID, ULONG flags,
                         LPMAPIFOLDER* out) override {
        if (out == nullptr || name == nullptr) return MAPI_E_INVALID_PARAMETER;
        *out = nullptr;
        if (type == FOLDER_SEARCH) return MAPI_E_NO_SUPPORT;
        if (kind_ != EntryKind::kFolder) return MAPI_E_NO_ACCESS;
        const std::string text = (flags & MAPI_UNICODE) != 0
                                     ? Utf16ToUtf8(reinterpret_cast<const WCHAR*>(name))
                                     : std::string(name);
        if (text.empty()) return MAPI_E_INVALID_PARAMETER;
        return Guard([&]() -> HRESULT {
            std::lock_guard<std::recursive_mutex> lock(Core()->Lock());
            std::vector<std::string> siblings;
            HRESULT hr = ExplainLayout(Core()->Layout().ListFolders(path_, &siblings));
            if (FAILED(hr)) return hr;
            FolderPath child = path_;
            for (const std::string& sibling : siblings) {
                if (!SameName(sibling, text)) continue;
                if ((flags & OPEN_IF_EXISTS) == 0) return MAPI_E_COLLISION;
                child.push_back(sibling);
                return OpenFolder(Core(), EntryKind::kFolder, child, out);
            }
            hr = ExplainLayout(Core()->Layout().CreateFolder(path_, text));
            if (FAILED(hr)) return hr;
            child.push_back(text);
            return OpenFolder(Core(), EntryKind::kFolder, child, out);
        });
    }
    HRESULT CopyFolder(ULONG, LPENTRYID, LPCIID, LPVOID, LPTSTR, ULONG_PTR, LPMAPIPROGRESS,
                       ULONG) override {
        return MAPI_E_NO_SUPPORT;
    }
    HRESULT DeleteFolder(ULONG, LPENTRYID, ULONG_PTR, LPMAPIPROGRESS, ULONG) override {
        return MAPI_E_NO_SUPPORT;
    }
    HRESULT SetReadFlags(LPENTRYLIST, ULONG_PTR, LPMAPIPROGRESS, ULONG) override {
        return MAPI_E_NO_SUPPORT;
    }
    HRESULT GetMessageStatus(ULONG, LPENTRYID, ULONG, ULONG*) override { return MAPI_E_NO_SUPPORT; }
    HRESULT SetMessageStatus(ULONG, LPENTRYID, ULONG, ULONG, ULONG*) override {
        return MAPI_E_NO_SUPPORT;
    }
    HRESULT SaveContentsSort(LPSSortOrderSet, ULONG) override { return MAPI_E_NO_SUPPORT; }
    HRESULT EmptyFolder(ULONG_PTR, LPMAPIPROGRESS, ULONG) override { return MAPI_E_NO_SUPPORT; }

protected:
    bool SupportsInterface(REFIID riid) const override {
        return IidIn(riid, {IID_IMAPIProp, IID_IMAPIContainer, IID_IMAPIFolder});
    }

private:
    // A copy between two folders of this very store, whose layout copies
    // on its own (a server's COPY): the messages stay as they are, bytes,
    // flags and dates, and never travel through this machine. Such a copy
    // is the message itself again, so it gets no provenance of its own:
    // the copy engine, which resumes by provenance, never copies within
    // one store. MAPI_E_NO_SUPPORT when the MIME copy must do it (another
    // store, a layout without such a copy, an entry of another folder).
    HRESULT CopyWhereTheyLie(LPENTRYLIST list, IMAPIFolder* dest) {
        auto* target = dynamic_cast<Folder*>(dest);
        if (list == nullptr || target == nullptr || target->Core() != Core() ||
            target->kind_ != EntryKind::kFolder || target->path_.empty() || list->cValues == 0 ||
            list->lpbin == nullptr)
            return MAPI_E_NO_SUPPORT;
        std::vector<std::string> keys;
        for (ULONG i = 0; i < list->cValues; ++i) {
            ParsedEntryId parsed;
            if (list->lpbin[i].lpb == nullptr ||
                !Core()->ParseEntryId(list->lpbin[i].lpb, list->lpbin[i].cb, &parsed) ||
                parsed.kind != EntryKind::kMessage || parsed.folder != path_)
                return MAPI_E_NO_SUPPORT;
            keys.push_back(parsed.key);
        }
        std::lock_guard<std::recursive_mutex> lock(Core()->Lock());
        std::vector<std::string> copied;
        return ExplainLayout(Core()->Layout().CopyItems(path_, keys, target->path_, &copied));
    }

protected:
    void Compute(mime::PropBag& out) override { FolderProps(*Core(), kind_, path_, out); }
    // Folder properties follow from the files, but for the container class,
    // which the store keeps; the problems name every other property.
    HRESULT SetOther(ULONG count, LPSPropValue values, LPSPropProblemArray* problems) override {
        if (values == nullptr && count > 0) return MAPI_E_INVALID_PARAMETER;
        std::vector<SPropValue> refused;
        for (ULONG i = 0; i < count; ++i) {
            const SPropValue& v = values[i];
            const bool isClass = PROP_ID(v.ulPropTag) == PROP_ID(PR_CONTAINER_CLASS) &&
                                 kind_ == EntryKind::kFolder && !path_.empty();
            HRESULT hr = MAPI_E_NO_ACCESS;
            if (isClass && PROP_TYPE(v.ulPropTag) == PT_STRING8 && v.Value.lpszA != nullptr)
                hr = Core()->SetFolderClass(path_, v.Value.lpszA);
            else if (isClass && PROP_TYPE(v.ulPropTag) == PT_UNICODE && v.Value.lpszW != nullptr)
                hr = Core()->SetFolderClass(path_, Utf16ToUtf8(v.Value.lpszW));
            if (FAILED(hr)) refused.push_back(v);
        }
        return AllProblems(static_cast<ULONG>(refused.size()), refused.data(), MAPI_E_NO_ACCESS,
                           problems);
    }

private:
    // Folder names compare without regard to case, as in every MAPI store.
    static bool SameName(const std::string& a, const std::string& b) {
        std::u16string x = Utf8ToUtf16(a), y = Utf8ToUtf16(b);
        if (x.size() != y.size()) return false;
        for (size_t i = 0; i < x.size(); ++i) {
            char16_t p = x[i], q = y[i];
            if (p < 128 && p >= 'A' && p <= 'Z') p = static_cast<char16_t>(p + 32);
            if (q < 128 && q >= 'A' && q <= 'Z') q = static_cast<char16_t>(q + 32);
            if (p != q) return false;
        }
        return true;
    }

    EntryKind kind_;
    FolderPath path_;
};

HRESULT AsInterface(IUnknown* object, LPCIID iid, LPUNKNOWN* out) {
    if (iid == nullptr) {
        *out = object;
        return S_OK;
    }
    HRESULT hr = object->QueryInterface(*iid, reinterpret_cast<void**>(out));
    object->Release();
    return hr == S_OK ? S_OK : MAPI_E_INTERFACE_NOT_SUPPORTED;
}

}  // namespace

void FolderProps(StoreCore& core, EntryKind kind, const FolderPath& folder, mime::PropBag& out) {
    const std::string id = FolderIdOf(core, kind, folder);
    out.SetBinary(PROP_ID(PR_ENTRYID), id);
    out.SetBinary(PROP_ID(PR_RECORD_KEY), id);
    out.SetBinary(PROP_ID(PR_STORE_ENTRYID), core.StoreEntryId());
    out.SetBinary(PROP_ID(PR_STORE_RECORD_KEY), Bytes(core.Uid().ab, sizeof core.Uid().ab));
    out.SetLong(PROP_ID(PR_OBJECT_TYPE), MAPI_FOLDER);
    if (kind == EntryKind::kRoot) {
        out.SetText(PROP_ID(PR_DISPLAY_NAME), "");
        out.SetLong(PROP_ID(PR_FOLDER_TYPE), FOLDER_ROOT);
        out.SetBinary(PROP_ID(PR_PARENT_ENTRYID), id);
        out.SetBool(PROP_ID(PR_SUBFOLDERS), true);
        out.SetLong(PROP_ID(PR_CONTENT_COUNT), 0);
        return;
    }
    out.SetLong(PROP_ID(PR_FOLDER_TYPE), FOLDER_GENERIC);
    std::lock_guard<std::recursive_mutex> lock(core.Lock());
    std::vector<std::string> children;
    (void)core.Layout().ListFolders(folder, &children);
    out.SetBool(PROP_ID(PR_SUBFOLDERS), !children.empty());
    if (folder.empty()) {
        out.SetText(PROP_ID(PR_DISPLAY_NAME), kSubtreeName);
        out.SetBinary(PROP_ID(PR_PARENT_ENTRYID), core.EntryId(EntryKind::kRoot));
        out.SetLong(PROP_ID(PR_CONTENT_COUNT), 0);
        return;
    }
    out.SetText(PROP_ID(PR_DISPLAY_NAME), folder.back());
    out.SetText(PROP_ID(PR_CONTAINER_CLASS), core.FolderClass(folder));
    out.SetBinary(PROP_ID(PR_PARENT_ENTRYID),
                  core.EntryId(EntryKind::kFolder, FolderPath(folder.begin(), folder.end() - 1)));
    std::vector<ItemEntry> items;
    (void)core.Layout().ListItems(folder, &items);
    out.SetLong(PROP_ID(PR_CONTENT_COUNT), static_cast<LONG>(items.size()));
}

HRESULT OpenFolder(std::shared_ptr<StoreCore> core, EntryKind kind, const FolderPath& folder,
                   IMAPIFolder** out) {
    *out = new Folder(std::move(core), kind, folder);
    return S_OK;
}

HRESULT OpenEntryOf(const std::shared_ptr<StoreCore>& core, ULONG cb, const ENTRYID* id,
                    LPCIID iid, ULONG flags, ULONG* type, LPUNKNOWN* out) {
    if (out == nullptr) return MAPI_E_INVALID_PARAMETER;
    *out = nullptr;
    ParsedEntryId parsed;
    if (cb != 0 && id != nullptr) {
        if (!core->ParseEntryId(id, cb, &parsed)) return MAPI_E_INVALID_ENTRYID;
    }
    if (parsed.kind == EntryKind::kMessage) {
        if ((flags & MAPI_MODIFY) != 0) return MAPI_E_NO_ACCESS;
        IMessage* message = nullptr;
        HRESULT hr = OpenMessage(core, parsed.folder, parsed.key, &message);
        if (FAILED(hr)) return hr;
        hr = AsInterface(message, iid, out);
        if (hr == S_OK && type != nullptr) *type = MAPI_MESSAGE;
        return hr;
    }
    if (parsed.kind == EntryKind::kFolder && !core->FolderExists(parsed.folder))
        return MAPI_E_NOT_FOUND;
    IMAPIFolder* folder = nullptr;
    HRESULT hr = OpenFolder(core, parsed.kind, parsed.folder, &folder);
    if (FAILED(hr)) return hr;
    hr = AsInterface(folder, iid, out);
    if (hr == S_OK && type != nullptr) *type = MAPI_FOLDER;
    return hr;
}

}  // namespace mapi::mailfiles
