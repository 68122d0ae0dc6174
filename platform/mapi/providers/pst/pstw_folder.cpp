// Folders of a writable personal folder file: their properties, their
// hierarchy and contents tables from the store model, and the creation of
// subfolders and messages.
#include <cstdio>

#include <mapicode.h>
#include <mapitags.h>
#include <mapix.h>

#include "providers/pst/format/ndb_ids.h"
#include "providers/pst/format/msg_values.h"
#include "providers/pst/pstw_objects.h"
#include "providers/pst/pstw_props.h"
#include "providers/pst/pstw_values.h"
#include "runtime/mapi_ptr.h"
#include "runtime/memory_rows.h"
#include "runtime/message_copy.h"
#include "runtime/prop_convert.h"
#include "runtime/table.h"
#include "runtime/utf.h"

namespace mapi::pst {
namespace {

// Values a table row carries whole; larger ones are read from the object.
constexpr size_t kRowValueLimit = 64 * 1024;

fmt::PropValue Long(ULONG tag, uint32_t v) { return fmt::LongValue(tag, v); }
fmt::PropValue Binary(ULONG tag, const std::vector<BYTE>& b) { return {tag, fmt::Bytes(b.begin(), b.end())}; }

std::u32string Folded(const std::string& utf8) {
    std::u32string out;
    for (char32_t c : CodePointsFromUtf8(utf8)) out.push_back(FoldCase(c));
    return out;
}

std::string NameOf(const Values& props) {
    const fmt::PropValue* v = fmt::FindValue(props, PR_DISPLAY_NAME_W);
    if (v == nullptr) return {};
    std::u16string text;
    for (size_t i = 0; i + 1 < v->bytes.size(); i += 2) text.push_back(static_cast<char16_t>(fmt::Get16(v->bytes.data() + i)));
    return Utf16ToUtf8(text);
}

// The values of a folder the model computes: counts, type, identifiers.
Values FolderComputed(WritableFile& file, uint32_t nid) {
    const fmt::StoreModel::Folder* f = file.Model().FindFolder(nid);
    Values v;
    if (f == nullptr) return v;
    uint32_t unread = 0;
    for (uint32_t m : f->messages) {
        const fmt::PropValue* flags = fmt::FindValue(file.Model().FindMessage(m)->props, PR_MESSAGE_FLAGS);
        if (flags == nullptr || flags->bytes.size() != 4 || (fmt::Get32(flags->bytes.data()) & MSGFLAG_READ) == 0)
            ++unread;
    }
    ULONG type = nid == fmt::kNidRootFolder ? FOLDER_ROOT : f->search ? FOLDER_SEARCH : FOLDER_GENERIC;
    MAPIUID uid = file.StoreUid();
    v.push_back(Binary(PR_ENTRYID, file.EntryId(nid)));
    v.push_back(Binary(PR_RECORD_KEY, file.EntryId(nid)));
    v.push_back(Binary(PR_PARENT_ENTRYID, file.EntryId(f->parent)));
    v.push_back({PR_STORE_RECORD_KEY, fmt::Bytes(uid.ab, uid.ab + 16)});
    v.push_back(Long(PR_OBJECT_TYPE, MAPI_FOLDER));
    v.push_back(Long(PR_FOLDER_TYPE, type));
    v.push_back(Long(PR_CONTENT_COUNT, static_cast<uint32_t>(f->messages.size())));
    v.push_back(Long(PR_CONTENT_UNREAD, unread));
    v.push_back(Long(PR_ASSOC_CONTENT_COUNT, static_cast<uint32_t>(f->associated.size())));
    v.push_back(fmt::BoolValue(PR_SUBFOLDERS, !f->children.empty()));
    return v;
}

bool IsFolderComputed(ULONG id) {
    switch (id) {
        case PROP_ID(PR_ENTRYID):
        case PROP_ID(PR_RECORD_KEY):
        case PROP_ID(PR_PARENT_ENTRYID):
        case PROP_ID(PR_STORE_RECORD_KEY):
        case PROP_ID(PR_OBJECT_TYPE):
        case PROP_ID(PR_FOLDER_TYPE):
        case PROP_ID(PR_CONTENT_COUNT):
        case PROP_ID(PR_CONTENT_UNREAD):
        case PROP_ID(PR_ASSOC_CONTENT_COUNT):
        case PROP_ID(PR_SUBFOLDERS):
        case PROP_ID(PR_CONTAINER_HIERARCHY):
        case PROP_ID(PR_CONTAINER_CONTENTS):
        case PROP_ID(PR_FOLDER_ASSOCIATED_CONTENTS):
            return true;
        default:
            return false;
    }
}

HRESULT AddRow(MemoryRows& rows, const Values& values) {
    auto buffer = AllocateMapi<SPropValue>(static_cast<ULONG>(sizeof(SPropValue) * (values.size() + 1)));
    if (!buffer) return MAPI_E_NOT_ENOUGH_MEMORY;
    ULONG n = 0;
    for (const fmt::PropValue& v : values) {
        if (v.bytes.size() > kRowValueLimit) continue;
        if (SUCCEEDED(DecodeValue(v, buffer.get(), &buffer.get()[n]))) ++n;
    }
    return rows.AddRow(buffer.get(), n);
}

HRESULT MakeTable(std::shared_ptr<MemoryRows> rows, std::initializer_list<ULONG> columns, IMAPITable** out) {
    auto tags = AllocateMapi<SPropTagArray>(CbNewSPropTagArray(columns.size()));
    if (!tags) return MAPI_E_NOT_ENOUGH_MEMORY;
    tags->cValues = static_cast<ULONG>(columns.size());
    std::copy(columns.begin(), columns.end(), tags->aulPropTag);
    return CreateTable(std::move(rows), tags.get(), out);
}

class Folder final : public PstwObject<IMAPIFolder> {
public:
    Folder(std::shared_ptr<WritableFile> file, uint32_t nid) : PstwObject(std::move(file)), nid_(nid) {}

    HRESULT SaveChanges(ULONG) override { return S_OK; }  // changes are committed as they are made

    HRESULT GetContentsTable(ULONG flags, LPMAPITABLE* table) override {
        if (table == nullptr) return MAPI_E_INVALID_PARAMETER;
        return Guard([&] {
            const fmt::StoreModel::Folder* f = File()->Model().FindFolder(nid_);
            if (f == nullptr) return HRESULT(MAPI_E_NOT_FOUND);
            auto rows = std::make_shared<MemoryRows>();
            for (uint32_t m : (flags & MAPI_ASSOCIATED) != 0 ? f->associated : f->messages) {
                Values row;
                std::string error;
                if (!File()->MessageProps(m, &row, &error)) return HRESULT(MAPI_E_CORRUPT_DATA);
                fmt::SetValue(row, Binary(PR_ENTRYID, File()->EntryId(m)));
                fmt::SetValue(row, Binary(PR_PARENT_ENTRYID, File()->EntryId(nid_)));
                fmt::SetValue(row, Long(PR_OBJECT_TYPE, MAPI_MESSAGE));
                if (uint32_t tag = File()->LocatorTag(); tag != 0) {
                    char place[24];
                    std::snprintf(place, sizeof place, "node 0x%X", static_cast<unsigned>(m));
                    fmt::SetValue(row, fmt::UnicodeValue(tag, place));
                }
                HRESULT hr = AddRow(*rows, row);
                if (FAILED(hr)) return hr;
            }
            return MakeTable(rows, {PR_ENTRYID, PR_SUBJECT_W, PR_MESSAGE_CLASS_W, PR_MESSAGE_FLAGS}, table);
        });
    }
    HRESULT GetHierarchyTable(ULONG flags, LPMAPITABLE* table) override {
        if (table == nullptr) return MAPI_E_INVALID_PARAMETER;
        return Guard([&] {
            auto rows = std::make_shared<MemoryRows>();
            HRESULT hr = AddChildren(*rows, nid_, 1, (flags & CONVENIENT_DEPTH) != 0);
            if (FAILED(hr)) return hr;
            return MakeTable(rows, {PR_ENTRYID, PR_DISPLAY_NAME_W, PR_DEPTH, PR_SUBFOLDERS}, table);
        });
    }
    HRESULT OpenEntry(ULONG cb, LPENTRYID id, LPCIID, ULONG, ULONG* type, LPUNKNOWN* out) override {
        if (out == nullptr) return MAPI_E_INVALID_PARAMETER;
        return Guard([&] {
            if (id != nullptr) return OpenWritableEntry(File(), cb, id, type, out);
            // No identifier: the folder itself.
            if (type != nullptr) *type = MAPI_FOLDER;
            return CreateFolderObject(File(), nid_, reinterpret_cast<IMAPIFolder**>(out));
        });
    }
    HRESULT SetSearchCriteria(LPSRestriction, LPENTRYLIST, ULONG) override { return MAPI_E_NO_SUPPORT; }
    HRESULT GetSearchCriteria(ULONG, LPSRestriction*, LPENTRYLIST*, ULONG*) override { return MAPI_E_NO_SUPPORT; }

    HRESULT CreateMessage(LPCIID, ULONG flags, LPMESSAGE* out) override {
        if (out == nullptr) return MAPI_E_INVALID_PARAMETER;
        *out = nullptr;
        return Guard([&] {
            if (File()->Model().FindFolder(nid_) == nullptr) return HRESULT(MAPI_E_NOT_FOUND);
            bool associated = (flags & MAPI_ASSOCIATED) != 0;
            std::shared_ptr<WritableFile> file = File();
            uint32_t folder = nid_;
            MessageSave save = [file, folder, associated](const fmt::MessageContent& content, uint32_t* nid) -> HRESULT {
                std::lock_guard<std::recursive_mutex> lock(file->Mutex());
                bool added = *nid == 0;
                if (added) {
                    *nid = file->Model().AddMessage(folder, content, associated);
                    if (*nid == 0) return MAPI_E_NOT_FOUND;
                } else if (!file->Model().ReplaceMessage(*nid, content)) {
                    return MAPI_E_NOT_FOUND;
                }
                HRESULT hr = file->Commit();
                if (FAILED(hr) && added) *nid = 0;  // the commit failed: the model is back without it
                return hr;
            };
            return CreateMessageObject(File(), {}, 0, nid_, std::move(save), out);
        });
    }
    HRESULT CopyMessages(LPENTRYLIST list, LPCIID, LPVOID dest, ULONG_PTR, LPMAPIPROGRESS, ULONG flags) override {
        if (list == nullptr || dest == nullptr) return MAPI_E_INVALID_PARAMETER;
        // The copy takes the lock per call; holding it here would only serialise more.
        return CopyMessagesBetweenFolders(this, list, static_cast<IMAPIFolder*>(dest), flags);
    }
    HRESULT DeleteMessages(LPENTRYLIST list, ULONG_PTR, LPMAPIPROGRESS, ULONG) override {
        return Guard([&] { return DeleteFolderMessages(*File(), nid_, list); });
    }
    HRESULT CreateFolder(ULONG type, LPTSTR name, LPTSTR comment, LPCIID, ULONG flags, LPMAPIFOLDER* out) override {
        if (out == nullptr || name == nullptr) return MAPI_E_INVALID_PARAMETER;
        *out = nullptr;
        return Guard([&] {
            if (type == FOLDER_SEARCH) return HRESULT(MAPI_E_NO_SUPPORT);
            std::string text = (flags & MAPI_UNICODE) != 0 ? Utf16ToUtf8(reinterpret_cast<const WCHAR*>(name)) : std::string(name);
            if (text.empty()) return HRESULT(MAPI_E_INVALID_PARAMETER);
            fmt::StoreModel& model = File()->Model();
            const fmt::StoreModel::Folder* parent = model.FindFolder(nid_);
            if (parent == nullptr) return HRESULT(MAPI_E_NOT_FOUND);
            for (uint32_t child : parent->children) {
                if (Folded(NameOf(model.FindFolder(child)->props)) != Folded(text)) continue;
                if ((flags & OPEN_IF_EXISTS) == 0) return HRESULT(MAPI_E_COLLISION);
                return CreateFolderObject(File(), child, out);
            }
            uint32_t nid = model.AddFolder(nid_, text, "");
            if (comment != nullptr) {
                std::string note = (flags & MAPI_UNICODE) != 0 ? Utf16ToUtf8(reinterpret_cast<const WCHAR*>(comment))
                                                               : std::string(comment);
                if (!note.empty()) {
                    Values props = model.FindFolder(nid)->props;
                    fmt::SetValue(props, fmt::UnicodeValue(PR_COMMENT_W, note));
                    model.SetFolderProps(nid, std::move(props));
                }
            }
            HRESULT hr = File()->Commit();
            if (FAILED(hr)) return hr;
            return CreateFolderObject(File(), nid, out);
        });
    }
    HRESULT CopyFolder(ULONG cb, LPENTRYID eid, LPCIID, LPVOID dest, LPTSTR name, ULONG_PTR, LPMAPIPROGRESS,
                       ULONG flags) override {
        return Guard([&] { return CopySubfolder(*File(), nid_, cb, eid, dest, name, flags); });
    }
    HRESULT DeleteFolder(ULONG cb, LPENTRYID eid, ULONG_PTR, LPMAPIPROGRESS, ULONG flags) override {
        return Guard([&] { return DeleteSubfolder(*File(), nid_, cb, eid, flags); });
    }
    HRESULT SetReadFlags(LPENTRYLIST list, ULONG_PTR, LPMAPIPROGRESS, ULONG flags) override {
        return Guard([&] { return SetFolderReadFlags(*File(), nid_, list, flags); });
    }
    HRESULT GetMessageStatus(ULONG, LPENTRYID, ULONG, ULONG*) override { return MAPI_E_NO_SUPPORT; }
    HRESULT SetMessageStatus(ULONG, LPENTRYID, ULONG, ULONG, ULONG*) override { return MAPI_E_NO_SUPPORT; }
    HRESULT SaveContentsSort(LPSSortOrderSet, ULONG) override { return MAPI_E_NO_SUPPORT; }
    HRESULT EmptyFolder(ULONG_PTR, LPMAPIPROGRESS, ULONG) override { return MAPI_E_NO_SUPPORT; }

protected:
    bool SupportsInterface(REFIID riid) const override {
        return IidIn(riid, {IID_IMAPIProp, IID_IMAPIContainer, IID_IMAPIFolder});
    }
    Values& Stored() override {
        const fmt::StoreModel::Folder* f = File()->Model().FindFolder(nid_);
        props_ = f == nullptr ? Values{} : f->props;
        return props_;
    }
    Values Computed() override { return FolderComputed(*File(), nid_); }
    bool IsComputed(ULONG id) override { return IsFolderComputed(id); }
    HRESULT AfterChange(HRESULT hr) override {
        if (FAILED(hr)) return hr;
        if (!File()->Model().SetFolderProps(nid_, props_)) return MAPI_E_NOT_FOUND;
        return File()->Commit();
    }
    HRESULT OpenObject(ULONG tag, REFIID iid, ULONG flags, IUnknown** out) override {
        if (PROP_TYPE(tag) != PT_OBJECT) return MAPI_E_NO_SUPPORT;
        if (iid != IID_IMAPITable) return MAPI_E_INTERFACE_NOT_SUPPORTED;
        auto* table = reinterpret_cast<IMAPITable**>(out);
        if (PROP_ID(tag) == PROP_ID(PR_CONTAINER_HIERARCHY)) return GetHierarchyTable(0, table);
        if (PROP_ID(tag) == PROP_ID(PR_CONTAINER_CONTENTS)) return GetContentsTable(0, table);
        if (PROP_ID(tag) == PROP_ID(PR_FOLDER_ASSOCIATED_CONTENTS)) return GetContentsTable(MAPI_ASSOCIATED, table);
        (void)flags;
        return MAPI_E_NOT_FOUND;
    }

private:
    HRESULT AddChildren(MemoryRows& rows, uint32_t nid, uint32_t depth, bool deep) {
        const fmt::StoreModel::Folder* f = File()->Model().FindFolder(nid);
        if (f == nullptr) return MAPI_E_NOT_FOUND;
        for (uint32_t child : f->children) {
            Values row = File()->Model().FindFolder(child)->props;
            for (fmt::PropValue& v : FolderComputed(*File(), child)) fmt::SetValue(row, std::move(v));
            fmt::SetValue(row, Long(PR_DEPTH, depth));
            HRESULT hr = AddRow(rows, row);
            if (FAILED(hr)) return hr;
            if (deep && FAILED(hr = AddChildren(rows, child, depth + 1, true))) return hr;
        }
        return S_OK;
    }

    uint32_t nid_;
    Values props_;
};

}  // namespace

HRESULT CreateFolderObject(std::shared_ptr<WritableFile> file, uint32_t nid, IMAPIFolder** out) {
    if (out == nullptr) return MAPI_E_INVALID_PARAMETER;
    try {
        *out = new Folder(std::move(file), nid);
        return S_OK;
    } catch (const std::bad_alloc&) {
        *out = nullptr;
        return MAPI_E_NOT_ENOUGH_MEMORY;
    }
}

HRESULT OpenWritableEntry(const std::shared_ptr<WritableFile>& file, ULONG cb, const ENTRYID* id, ULONG* type,
                          IUnknown** out) {
    if (out == nullptr) return MAPI_E_INVALID_PARAMETER;
    *out = nullptr;
    uint32_t nid = 0;
    if (!file->NidOf(cb, id, &nid)) return MAPI_E_INVALID_ENTRYID;
    fmt::StoreModel& model = file->Model();
    if (model.FindFolder(nid) != nullptr) {
        if (type != nullptr) *type = MAPI_FOLDER;
        return CreateFolderObject(file, nid, reinterpret_cast<IMAPIFolder**>(out));
    }
    const fmt::StoreModel::StoredMessage* m = model.FindMessage(nid);
    if (m == nullptr) return MAPI_E_NOT_FOUND;
    fmt::MessageContent content;
    fmt::Node node;
    std::string error;
    // In a checked read, a message that cannot be made again is damage.
    if (!file->MessageNode(nid, &node, &error)) return file->IsReadOnly() ? MAPI_E_CORRUPT_DATA : MAPI_E_DISK_ERROR;
    if (!fmt::ParseMessageNode(node, &content, &error)) return MAPI_E_CORRUPT_DATA;
    std::shared_ptr<WritableFile> hold = file;
    MessageSave save = [hold](const fmt::MessageContent& c, uint32_t* saved) -> HRESULT {
        std::lock_guard<std::recursive_mutex> lock(hold->Mutex());
        if (!hold->Model().ReplaceMessage(*saved, c)) return MAPI_E_NOT_FOUND;
        return hold->Commit();
    };
    if (type != nullptr) *type = MAPI_MESSAGE;
    return CreateMessageObject(file, std::move(content), nid, m->folder, std::move(save),
                               reinterpret_cast<IMessage**>(out));
}

}  // namespace mapi::pst
