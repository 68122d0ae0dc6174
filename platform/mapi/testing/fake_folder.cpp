// The folder double.
#include "fake_folder.h"

#include <algorithm>
#include <strings.h>

#include "runtime/prop_convert.h"

namespace fake {

Folder::Folder(Context context, const std::string& name, ULONG type)
    : PropObject(std::move(context), kObjectType, true) {
    Set(Str(PR_DISPLAY_NAME_A, name));
    Set(Long(PR_FOLDER_TYPE, static_cast<LONG>(type)));
}

Folder* Folder::Child(const std::string& name) const {
    for (const auto& child : children)
        if (child->Name() == name) return child.get();
    return nullptr;
}

Folder* Folder::AddChild(const std::string& name, ULONG type) {
    children.push_back(Make<Folder>(Shared(), name, type));
    return children.back().get();
}

Message* Folder::AddMessage() {
    messages.push_back(Make<Message>(Shared()));
    return messages.back().get();
}

Message& Folder::AddItem(const std::string& subject, HRESULT copyResult) {
    Message* m = AddMessage();
    if (!subject.empty()) m->Set(Str(PR_SUBJECT_A, subject));
    m->Fail(Call::CopyMessages, copyResult);
    return *m;
}

HRESULT Folder::HandOut(Call call, Table* given, const std::function<mapi::ComRef<Table>()>& build,
                        LPMAPITABLE* out) const {
    *out = nullptr;
    if (HRESULT hr = Failure(call)) return hr;
    *out = given != nullptr ? given->Share() : build().Detach();
    return S_OK;
}

HRESULT Folder::GetContentsTable(ULONG flags, LPMAPITABLE* out) {
    lastContentsFlags = flags;
    return HandOut(
        Call::GetContentsTable, contents, [this, flags] { return ContentsRows(flags); }, out);
}

mapi::ComRef<Table> Folder::ContentsRows(ULONG flags) {
    auto table = Make<Table>(std::vector<ULONG>{PR_ENTRYID, PR_SUBJECT_A});
    const bool associated = (flags & MAPI_ASSOCIATED) != 0;
    for (const auto& m : messages) {
        const SPropValue* f = m->Get(PR_MESSAGE_FLAGS);
        const bool isAssociated = f != nullptr && PROP_TYPE(f->ulPropTag) == PT_LONG &&
                                  (f->Value.l & MSGFLAG_ASSOCIATED) != 0;
        if (isAssociated != associated) continue;
        SPropValue eid{};
        table->AddRow(m->Row(&eid));
    }
    table->Fail(Call::QueryRows, Failure(Call::QueryRows));
    table->Fail(Call::Restrict, Failure(Call::Restrict));
    // Counted here: the folder outlives the tables it hands out.
    table->restrictCounter = &restrictCalls;
    return table;
}

HRESULT Folder::GetHierarchyTable(ULONG flags, LPMAPITABLE* out) {
    lastHierarchyFlags = flags;
    return HandOut(
        Call::GetHierarchyTable, hierarchy, [this] { return HierarchyRows(); }, out);
}

mapi::ComRef<Table> Folder::HierarchyRows() const {
    auto table = Make<Table>(std::vector<ULONG>{PR_DISPLAY_NAME_A, PR_ENTRYID});
    auto list = [&table](const Folder* child) {
        SPropValue eid{};
        eid.ulPropTag = PR_ENTRYID;
        eid.Value.bin.cb = static_cast<ULONG>(child->Eid().size());
        eid.Value.bin.lpb = const_cast<BYTE*>(child->Eid().data());
        SPropValue missing = mapi::ErrorValue(PR_DISPLAY_NAME_A, MAPI_E_NOT_FOUND);
        const SPropValue* name = child->Get(PR_DISPLAY_NAME_A);
        table->AddRow({name != nullptr ? name : &missing, &eid});
    };
    for (const auto& child : children) list(child.get());
    for (const Folder* other : alsoListed) list(other);
    return table;
}

HRESULT Folder::OpenEntry(ULONG cb, LPENTRYID eid, LPCIID, ULONG flags, ULONG* type,
                          LPUNKNOWN* out) {
    *out = nullptr;
    if (HRESULT hr = Failure(Call::OpenEntry)) return hr;
    return entries->Open(cb, eid, flags, type, out);
}

HRESULT Folder::CreateMessage(LPCIID, ULONG flags, LPMESSAGE* out) {
    createFlags.push_back(flags);
    *out = mapi::ComRef<Message>::Share(AddMessage()).Detach();
    return S_OK;
}

std::vector<mapi::ComRef<Message>>::iterator Folder::FindMessage(const SBinary& eid) {
    const Bytes key = BytesOf(eid.cb, eid.lpb);
    return std::find_if(messages.begin(), messages.end(),
                        [&key](const mapi::ComRef<Message>& m) { return m->Eid() == key; });
}

HRESULT Folder::CopyMessages(LPENTRYLIST list, LPCIID, LPVOID dest, ULONG_PTR, LPMAPIPROGRESS,
                             ULONG flags) {
    if (HRESULT hr = Failure(Call::CopyMessages)) return hr;
    auto* target =
        dest != nullptr ? dynamic_cast<Folder*>(static_cast<IMAPIFolder*>(dest)) : nullptr;
    if (list == nullptr || target == nullptr || (flags & ~MESSAGE_MOVE) != 0)
        return MAPI_E_INVALID_PARAMETER;
    for (ULONG i = 0; i < list->cValues; ++i) {
        auto it = FindMessage(list->lpbin[i]);
        if (it == messages.end()) return MAPI_E_NOT_FOUND;
        if (HRESULT hr = (*it)->Failure(Call::CopyMessages)) return hr;
        Message* copy = target->AddMessage();
        for (const auto& [id, v] : (*it)->props)
            if (HRESULT hr = copy->Set(*v)) return hr;
        if (flags & MESSAGE_MOVE) messages.erase(it);
    }
    if (afterCopy) afterCopy();
    return S_OK;
}

HRESULT Folder::DeleteMessages(LPENTRYLIST list, ULONG_PTR, LPMAPIPROGRESS, ULONG) {
    for (ULONG i = 0; i < list->cValues; ++i) {
        deleted.push_back(BytesOf(list->lpbin[i].cb, list->lpbin[i].lpb));
        auto it = FindMessage(list->lpbin[i]);
        if (it != messages.end()) messages.erase(it);
    }
    return S_OK;
}

HRESULT Folder::CreateFolder(ULONG type, LPTSTR name, LPTSTR comment, LPCIID, ULONG flags,
                             LPMAPIFOLDER* out) {
    *out = nullptr;
    lastCreateFlags = flags;
    lastCreateComment = comment != nullptr ? comment : "<null>";
    if (HRESULT hr = Failure(Call::CreateFolder)) return hr;
    const std::string text = name != nullptr ? name : "";
    // As the embedded store does.
    if (text.empty()) return MAPI_E_INVALID_PARAMETER;
    if (auto failure = failCreate.find(text); failure != failCreate.end()) return failure->second;
    for (const auto& child : children) {
        if (strcasecmp(child->Name().c_str(), text.c_str()) != 0) continue;
        if ((flags & OPEN_IF_EXISTS) == 0) return MAPI_E_COLLISION;
        *out = mapi::ComRef<Folder>::Share(child.get()).Detach();
        return S_OK;
    }
    *out = mapi::ComRef<Folder>::Share(AddChild(text, type)).Detach();
    return S_OK;
}

HRESULT Folder::DeleteFolder(ULONG cb, LPENTRYID eid, ULONG_PTR, LPMAPIPROGRESS, ULONG) {
    if (!canDeleteFolders) return MAPI_E_NO_SUPPORT;
    if (eid == nullptr) return MAPI_E_INVALID_ENTRYID;
    const Bytes wanted = BytesOf(cb, reinterpret_cast<const BYTE*>(eid));
    for (auto it = children.begin(); it != children.end(); ++it) {
        if ((*it)->Eid() != wanted) continue;
        deletedFolders.push_back((*it)->Name());
        children.erase(it);
        return S_OK;
    }
    return MAPI_E_NOT_FOUND;
}

bool Folder::Supports(REFIID riid) const {
    return mapi::IidIn(riid, {IID_IMAPIFolder, IID_IMAPIContainer, IID_IMAPIProp});
}

}  // namespace fake
