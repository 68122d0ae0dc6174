// A folder double: properties, child folders, messages, and the tables over
// them.
//
// Contents and hierarchy tables are made fresh at each call from the
// messages (associated ones, PR_MESSAGE_FLAGS with MSGFLAG_ASSOCIATED, only
// in the associated table) and children (plus alsoListed); a test that
// checks what a caller does with the very table it got sets contents or
// hierarchy, and that one is handed out instead.
//
// Faults: Fail(GetContentsTable / GetHierarchyTable / OpenEntry /
// CreateFolder), Fail(QueryRows / Restrict) for the contents tables it makes;
// failCreate by name; Fail(CopyMessages) on the folder (every copy out of
// it) or on one message (that message only).
#pragma once

#include <functional>
#include <map>
#include <string>
#include <vector>

#include "fake_message.h"

namespace fake {

class Folder : public PropObject<IMAPIFolder> {
public:
    static constexpr ULONG kObjectType = MAPI_FOLDER;
    // A folder of its own (an entry registry and name map for it alone),
    // without properties: it holds no MAPI memory, so a test can count
    // the chains of the code it checks.
    Folder() : PropObject(Context::Alone("folder"), kObjectType, true) {}
    // A named folder of type (PR_DISPLAY_NAME, PR_FOLDER_TYPE) in context.
    Folder(Context context, const std::string& name, ULONG type);

    std::string Name() const { return Text(PR_DISPLAY_NAME_A); }
    Folder* Child(const std::string& name) const;
    Folder* AddChild(const std::string& name, ULONG type = FOLDER_GENERIC);
    Message* AddMessage();
    // A message with PR_SUBJECT (when not empty) that CopyMessages answers
    // copyResult for.
    Message& AddItem(const std::string& subject, HRESULT copyResult = S_OK);

    std::vector<mapi::ComRef<Folder>> children;
    std::vector<mapi::ComRef<Message>> messages;
    Table* contents = nullptr;
    Table* hierarchy = nullptr;
    // Folders held elsewhere in the store (an ancestor, this folder, a
    // sibling) that the hierarchy table lists after the own children, as a
    // damaged store might.
    std::vector<Folder*> alsoListed;
    std::map<std::string, HRESULT> failCreate;  // CreateFolder of that name
    // DeleteFolder takes a child out when set; otherwise it answers
    // MAPI_E_NO_SUPPORT, as a store that never removes a folder does.
    bool canDeleteFolders = false;
    std::vector<std::string> deletedFolders;  // names, by DeleteFolder
    // Called after each successful CopyMessages out of this folder.
    std::function<void()> afterCopy;
    int restrictCalls = 0;           // over every contents table made here
    std::vector<ULONG> createFlags;  // of CreateMessage
    std::vector<Bytes> deleted;      // by DeleteMessages
    ULONG lastContentsFlags = 0xFFFFFFFF, lastHierarchyFlags = 0xFFFFFFFF;
    ULONG lastCreateFlags = 0xFFFFFFFF;
    std::string lastCreateComment;

    HRESULT GetContentsTable(ULONG flags, LPMAPITABLE* out) override;
    HRESULT GetHierarchyTable(ULONG flags, LPMAPITABLE* out) override;
    HRESULT OpenEntry(ULONG cb, LPENTRYID eid, LPCIID, ULONG flags, ULONG* type,
                      LPUNKNOWN* out) override;
    HRESULT CreateMessage(LPCIID, ULONG flags, LPMESSAGE* out) override;
    // Copies the properties of each message into dest (a Folder); moves
    // take them out of this one.
    HRESULT CopyMessages(LPENTRYLIST list, LPCIID, LPVOID dest, ULONG_PTR, LPMAPIPROGRESS,
                         ULONG flags) override;
    HRESULT DeleteMessages(LPENTRYLIST list, ULONG_PTR, LPMAPIPROGRESS, ULONG) override;
    // Children are unique without regard to case; OPEN_IF_EXISTS opens a
    // clash, without it a clash is MAPI_E_COLLISION.
    HRESULT CreateFolder(ULONG type, LPTSTR name, LPTSTR comment, LPCIID, ULONG flags,
                         LPMAPIFOLDER* out) override;
    HRESULT DeleteFolder(ULONG cb, LPENTRYID eid, ULONG_PTR, LPMAPIPROGRESS, ULONG) override;

protected:
    bool Supports(REFIID riid) const override;

private:
    // The answer of a Get...Table call: its fault, else the test's own
    // table, else a new one from build.
    HRESULT HandOut(Call call, Table* given, const std::function<mapi::ComRef<Table>()>& build,
                    LPMAPITABLE* out) const;
    mapi::ComRef<Table> ContentsRows(ULONG flags);
    mapi::ComRef<Table> HierarchyRows() const;
    std::vector<mapi::ComRef<Message>>::iterator FindMessage(const SBinary& eid);
};

}  // namespace fake
