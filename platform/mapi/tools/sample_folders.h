// The folder tree of the sample store.
//
// A realistic mailbox: subfolders below the inbox and the other special
// folders, an archive by year, customer folders with non-ASCII names, a
// calendar and contact folders. Each folder says what kind of item it holds
// and how many of the store's mails it gets (a weight).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include <mapidefs.h>

#include "runtime/mapi_ptr.h"

namespace mapi::tools {

enum class FolderRole { kMail, kContacts, kCalendar };

struct SampleFolder {
    ComRef<IMAPIFolder> folder;
    std::string path;  // \-separated below the IPM subtree root
    FolderRole role;
    uint32_t weight;  // share of the mails (0 for none)
    int year;         // the year its mails are dated in, 0 for any
    bool unsent;      // holds unsent mail (outbox, drafts)
    bool sent;        // holds mail the owner sent (sent items and below)
};

// Opens the special folders and creates the rest of the tree (existing
// folders are reused). On failure *error names the folder.
HRESULT BuildSampleFolders(IMsgStore* store, std::vector<SampleFolder>* folders,
                           std::string* error);

}  // namespace mapi::tools
