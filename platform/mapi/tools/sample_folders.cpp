// Opening and creating the sample store's folders.
#include "sample_folders.h"

#include <map>

#include "prop_bag.h"
#include "store_folders.h"

namespace mapi::tools {
namespace {

struct FolderSpec {
    const char* parent;  // key of the parent: "" the IPM subtree, "@..." a special folder
    const char* name;    // display name; for special folders their key
    const char* containerClass;
    FolderRole role;
    uint32_t weight;
    int year;
    bool unsent;
};

// Parents come before their children.
const FolderSpec kTree[] = {
    {"", "@inbox", nullptr, FolderRole::kMail, 30, 0, false},
    {"", "@sentmail", nullptr, FolderRole::kMail, 16, 0, false},
    {"", "@wastebasket", nullptr, FolderRole::kMail, 5, 0, false},
    {"", "@outbox", nullptr, FolderRole::kMail, 1, 0, true},
    {"@inbox", "Projects", "IPF.Note", FolderRole::kMail, 2, 0, false},
    {"@inbox/Projects", "Apollo", "IPF.Note", FolderRole::kMail, 6, 0, false},
    {"@inbox/Projects", "Zephyr", "IPF.Note", FolderRole::kMail, 5, 0, false},
    {"@inbox/Projects/Zephyr", "Drawings", "IPF.Note", FolderRole::kMail, 2, 0, false},
    {"@inbox", "Newsletters", "IPF.Note", FolderRole::kMail, 8, 0, false},
    {"@inbox", "Receipts", "IPF.Note", FolderRole::kMail, 4, 0, false},
    {"@sentmail", "Personal", "IPF.Note", FolderRole::kMail, 2, 0, false},
    {"@wastebasket", "Recovered", "IPF.Note", FolderRole::kMail, 1, 0, false},
    {"", "Drafts", "IPF.Note", FolderRole::kMail, 2, 0, true},
    {"", "Archive", "IPF.Note", FolderRole::kMail, 0, 0, false},
    {"Archive", "2016", "IPF.Note", FolderRole::kMail, 3, 2016, false},
    {"Archive", "2018", "IPF.Note", FolderRole::kMail, 3, 2018, false},
    {"Archive", "2020", "IPF.Note", FolderRole::kMail, 3, 2020, false},
    {"Archive", "2022", "IPF.Note", FolderRole::kMail, 3, 2022, false},
    {"", "Kunden", "IPF.Note", FolderRole::kMail, 0, 0, false},
    {"Kunden", "Müller GmbH", "IPF.Note", FolderRole::kMail, 3, 0, false},
    {"Kunden", "Gärtnerei Blümchen", "IPF.Note", FolderRole::kMail, 2, 0, false},
    {"", "Calendar", "IPF.Appointment", FolderRole::kCalendar, 0, 0, false},
    {"", "Contacts", "IPF.Contact", FolderRole::kContacts, 0, 0, false},
    {"Contacts", "Suppliers", "IPF.Contact", FolderRole::kContacts, 0, 0, false},
};

bool SpecialByKey(const std::string& key, SpecialFolder* which) {
    for (SpecialFolder s : kSpecialFolders) {
        if (key == std::string("@") + SpecialFolderName(s)) {
            *which = s;
            return true;
        }
    }
    return false;
}

// The folder's display name, for the path of its children.
std::string DisplayName(IMAPIFolder* folder) {
    LPSPropValue raw = nullptr;
    SizedSPropTagArray(1, tags) = {1, {PR_DISPLAY_NAME}};
    ULONG count = 0;
    HRESULT hr = folder->GetProps(reinterpret_cast<LPSPropTagArray>(&tags), 0, &count, &raw);
    MapiBuffer<SPropValue> values(raw);
    if (FAILED(hr) || !values || PROP_TYPE(values->ulPropTag) != PT_STRING8) return "?";
    return values->Value.lpszA;
}

HRESULT CreateChild(IMAPIFolder* parent, const FolderSpec& def, ComRef<IMAPIFolder>* child) {
    std::string name = def.name;
    HRESULT hr = parent->CreateFolder(FOLDER_GENERIC, name.data(), nullptr, &IID_IMAPIFolder,
                                      OPEN_IF_EXISTS, child->Out());
    if (FAILED(hr)) return hr;
    if (def.containerClass == nullptr) return S_OK;
    PropBag props;
    props.Text(PR_CONTAINER_CLASS, def.containerClass);
    hr = props.ApplyTo(child->get());
    if (FAILED(hr)) return hr;
    // Folder properties take effect at once in most stores; those that
    // buffer them want SaveChanges, which the others need not support.
    hr = (*child)->SaveChanges(KEEP_OPEN_READWRITE);
    return hr == MAPI_E_NO_SUPPORT ? S_OK : hr;
}

}  // namespace

HRESULT BuildSampleFolders(IMsgStore* store, std::vector<SampleFolder>* folders,
                           std::string* error) {
    EntryIdBytes rootId;
    ComRef<IMAPIFolder> root;
    HRESULT hr = GetIpmSubtreeId(store, &rootId);
    if (SUCCEEDED(hr)) hr = OpenFolder(store, rootId, true, &root);
    if (FAILED(hr)) {
        *error = "cannot open the root of the IPM subtree";
        return hr;
    }
    std::map<std::string, size_t> byKey;
    folders->clear();
    for (const FolderSpec& def : kTree) {
        std::string key =
            def.parent[0] == '\0' ? def.name : std::string(def.parent) + "/" + def.name;
        bool sent = key.rfind("@sentmail", 0) == 0;
        SampleFolder made{{}, "", def.role, def.weight, def.year, def.unsent, sent};
        SpecialFolder special;
        if (SpecialByKey(def.name, &special)) {
            EntryIdBytes id;
            hr = GetSpecialFolderId(store, special, &id);
            if (SUCCEEDED(hr)) hr = OpenFolder(store, id, true, &made.folder);
            if (FAILED(hr)) {
                *error =
                    std::string("cannot open the special folder ") + SpecialFolderName(special);
                return hr;
            }
            made.path = "\\" + DisplayName(made.folder.get());
        } else {
            IMAPIFolder* parent = root.get();
            std::string parentPath;
            if (def.parent[0] != '\0') {
                const SampleFolder& p = (*folders)[byKey.at(def.parent)];
                parent = p.folder.get();
                parentPath = p.path;
            }
            hr = CreateChild(parent, def, &made.folder);
            made.path = parentPath + "\\" + def.name;
            if (FAILED(hr)) {
                *error = "cannot create the folder " + made.path;
                return hr;
            }
        }
        byKey[key] = folders->size();
        folders->push_back(std::move(made));
    }
    return S_OK;
}

}  // namespace mapi::tools
