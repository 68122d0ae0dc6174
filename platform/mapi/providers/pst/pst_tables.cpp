// Row sources over libpff's folder, recipient and attachment lists.
#include "providers/pst/pst_tables.h"

#include <map>
#include <vector>

#include <mapitags.h>

#include "providers/pst/pst_item_props.h"
#include "runtime/table.h"

namespace mapi::pst {
namespace {

// Returns a new item for entry index of a folder list, or null.
libpff_item_t* OpenFromList(libpff_item_t* folder, FolderList which, int index) {
    libpff_item_t* item = nullptr;
    PffError error;
    int result = -1;
    switch (which) {
        case FolderList::Subfolders:
            result = libpff_folder_get_sub_folder(folder, index, &item, error.Ptr());
            break;
        case FolderList::Messages:
            result = libpff_folder_get_sub_message(folder, index, &item, error.Ptr());
            break;
        case FolderList::Associated:
            result = libpff_folder_get_sub_associated_content(folder, index, &item, error.Ptr());
            break;
    }
    if (result != 1) {
        if (item != nullptr) libpff_item_free(&item, nullptr);
        return nullptr;
    }
    return item;
}

class FolderListSource final : public RowSource {
public:
    FolderListSource(std::shared_ptr<PstFile> file, SharedItem folder, uint32_t folderNid,
                     FolderList which, int count)
        : file_(std::move(file)),
          folder_(std::move(folder)),
          folderNid_(folderNid),
          which_(which),
          count_(count) {}
    ~FolderListSource() override {
        std::lock_guard<std::recursive_mutex> lock(file_->Lock());
        folder_.reset();
    }

    ULONG Count() override { return static_cast<ULONG>(count_); }

    std::unique_ptr<RowAccessor> Row(ULONG index) override {
        std::lock_guard<std::recursive_mutex> lock(file_->Lock());
        SharedItem item = ShareItem(OpenFromList(folder_.get(), which_, static_cast<int>(index)));
        uint32_t nid = 0;
        PffError error;
        if (item != nullptr && libpff_item_get_identifier(item.get(), &nid, error.Ptr()) != 1)
            nid = 0;
        if (which_ == FolderList::Subfolders) {
            if (item == nullptr)
                return std::make_unique<ItemProps>(file_, nullptr, 0, ItemKind::Folder);
            return MakeFolderProps(file_, item, nid, folderNid_);
        }
        if (item == nullptr)
            return std::make_unique<ItemProps>(file_, nullptr, 0, ItemKind::Message);
        return MakeMessageProps(file_, item, nid, folderNid_);
    }

private:
    std::shared_ptr<PstFile> file_;
    SharedItem folder_;
    uint32_t folderNid_;
    FolderList which_;
    int count_;
};

class RecipientSource final : public RowSource {
public:
    RecipientSource(std::shared_ptr<PstFile> file, SharedItem table, int count, uint32_t codepage)
        : file_(std::move(file)), table_(std::move(table)), count_(count), codepage_(codepage) {}
    ~RecipientSource() override {
        std::lock_guard<std::recursive_mutex> lock(file_->Lock());
        table_.reset();
    }
    ULONG Count() override { return static_cast<ULONG>(count_); }
    std::unique_ptr<RowAccessor> Row(ULONG index) override {
        return MakeRecipientProps(file_, table_, static_cast<int>(index), codepage_);
    }
    // A message copy reads recipients through all columns; with only the
    // defaults every other recipient property would be dropped unnoticed.
    // A row that cannot be read adds nothing: its cells show the damage.
    HRESULT AllColumns(std::vector<ULONG>* tags) override {
        std::lock_guard<std::recursive_mutex> lock(file_->Lock());
        std::map<ULONG, ULONG> byId;
        for (int i = 0; i < count_; ++i) {
            std::vector<ULONG> rowTags;
            if (MakeRecipientProps(file_, table_, i, codepage_)->Tags(&rowTags) != S_OK) continue;
            for (ULONG tag : rowTags) byId.emplace(PROP_ID(tag), tag);
        }
        tags->clear();
        for (const auto& entry : byId) tags->push_back(entry.second);
        return S_OK;
    }

private:
    std::shared_ptr<PstFile> file_;
    SharedItem table_;
    int count_;
    uint32_t codepage_;
};

class AttachmentSource final : public RowSource {
public:
    AttachmentSource(std::shared_ptr<PstFile> file, SharedItem message, int count,
                     uint32_t codepage)
        : file_(std::move(file)),
          message_(std::move(message)),
          count_(count),
          codepage_(codepage) {}
    ~AttachmentSource() override {
        std::lock_guard<std::recursive_mutex> lock(file_->Lock());
        message_.reset();
    }
    ULONG Count() override { return static_cast<ULONG>(count_); }
    std::unique_ptr<RowAccessor> Row(ULONG index) override {
        std::lock_guard<std::recursive_mutex> lock(file_->Lock());
        libpff_item_t* raw = nullptr;
        PffError error;
        if (libpff_message_get_attachment(message_.get(), static_cast<int>(index), &raw,
                                          error.Ptr()) != 1)
            raw = nullptr;
        return MakeAttachmentProps(file_, ShareItem(raw), static_cast<int>(index), codepage_);
    }

private:
    std::shared_ptr<PstFile> file_;
    SharedItem message_;
    int count_;
    uint32_t codepage_;
};

class ReceiveFolderSource final : public RowSource {
public:
    explicit ReceiveFolderSource(std::shared_ptr<PstFile> file) : file_(std::move(file)) {}
    ULONG Count() override { return static_cast<ULONG>(file_->ReceiveFolders().size()); }
    std::unique_ptr<RowAccessor> Row(ULONG index) override {
        const ReceiveFolder& folder = file_->ReceiveFolders().at(index);
        auto row = std::make_unique<ItemProps>(file_, nullptr, 0, ItemKind::Fixed);
        std::vector<BYTE> id = file_->EntryId(folder.folderNid);
        row->SetString(PR_MESSAGE_CLASS, folder.messageClass);
        row->SetBinary(PR_ENTRYID, id);
        row->SetBinary(PR_RECORD_KEY, id);
        return row;
    }

private:
    std::shared_ptr<PstFile> file_;
};

SizedSPropTagArray(6, kHierarchyColumns) = {6,
                                            {PR_ENTRYID, PR_DISPLAY_NAME, PR_FOLDER_TYPE,
                                             PR_CONTENT_COUNT, PR_SUBFOLDERS, PR_CONTAINER_CLASS}};
SizedSPropTagArray(6, kContentsColumns) = {
    6,
    {PR_ENTRYID, PR_SUBJECT, PR_MESSAGE_CLASS, PR_MESSAGE_FLAGS, PR_MESSAGE_SIZE,
     PR_LAST_MODIFICATION_TIME}};
SizedSPropTagArray(6, kRecipientColumns) = {
    6, {PR_ROWID, PR_DISPLAY_NAME, PR_EMAIL_ADDRESS, PR_ADDRTYPE, PR_RECIPIENT_TYPE, PR_ENTRYID}};
SizedSPropTagArray(5, kAttachmentColumns) = {
    5,
    {PR_ATTACH_NUM, PR_ATTACH_METHOD, PR_ATTACH_LONG_FILENAME, PR_ATTACH_SIZE,
     PR_RENDERING_POSITION}};
SizedSPropTagArray(3, kReceiveFolderColumns) = {3, {PR_MESSAGE_CLASS, PR_ENTRYID, PR_RECORD_KEY}};

}  // namespace

HRESULT MakeTable(std::shared_ptr<RowSource> source, TableKind kind, IMAPITable** table) {
    const void* columns = nullptr;
    switch (kind) {
        case TableKind::Hierarchy:
            columns = &kHierarchyColumns;
            break;
        case TableKind::Contents:
            columns = &kContentsColumns;
            break;
        case TableKind::Recipients:
            columns = &kRecipientColumns;
            break;
        case TableKind::Attachments:
            columns = &kAttachmentColumns;
            break;
        case TableKind::ReceiveFolders:
            columns = &kReceiveFolderColumns;
            break;
    }
    return CreateTable(std::move(source), static_cast<const SPropTagArray*>(columns), table);
}

bool CountFolderList(libpff_item_t* folder, FolderList which, int* count) {
    PffError error;
    int result = -1;
    switch (which) {
        case FolderList::Subfolders:
            result = libpff_folder_get_number_of_sub_folders(folder, count, error.Ptr());
            break;
        case FolderList::Messages:
            result = libpff_folder_get_number_of_sub_messages(folder, count, error.Ptr());
            break;
        case FolderList::Associated:
            result =
                libpff_folder_get_number_of_sub_associated_contents(folder, count, error.Ptr());
            break;
    }
    return result == 1 && *count >= 0;
}

HRESULT FolderRows(std::shared_ptr<PstFile> file, SharedItem folder, uint32_t folderNid,
                   FolderList which, std::shared_ptr<RowSource>* source) {
    std::lock_guard<std::recursive_mutex> lock(file->Lock());
    int count = 0;
    if (folder == nullptr) return MAPI_E_CORRUPT_DATA;
    if (!CountFolderList(folder.get(), which, &count)) {
        // A search folder keeps no messages of its own, only a search over
        // other folders, which libpff does not evaluate: its contents are
        // empty here rather than damaged.
        if (NidType(folderNid) != kNidTypeSearchFolder || which == FolderList::Subfolders)
            return MAPI_E_CORRUPT_DATA;
        count = 0;
    }
    *source = std::make_shared<FolderListSource>(file, std::move(folder), folderNid, which, count);
    return S_OK;
}

HRESULT RecipientRows(std::shared_ptr<PstFile> file, SharedItem message, uint32_t codepage,
                      std::shared_ptr<RowSource>* source) {
    std::lock_guard<std::recursive_mutex> lock(file->Lock());
    libpff_item_t* raw = nullptr;
    PffError error;
    int result = libpff_message_get_recipients(message.get(), &raw, error.Ptr());
    if (result == -1) return MAPI_E_CORRUPT_DATA;
    SharedItem table = ShareItem(raw);
    int count = 0;
    if (table != nullptr &&
        libpff_item_get_number_of_record_sets(table.get(), &count, error.Ptr()) != 1)
        return MAPI_E_CORRUPT_DATA;
    *source = std::make_shared<RecipientSource>(file, std::move(table), count, codepage);
    return S_OK;
}

HRESULT AttachmentRows(std::shared_ptr<PstFile> file, SharedItem message, uint32_t codepage,
                       std::shared_ptr<RowSource>* source) {
    std::lock_guard<std::recursive_mutex> lock(file->Lock());
    int count = 0;
    PffError error;
    if (libpff_message_get_number_of_attachments(message.get(), &count, error.Ptr()) != 1 ||
        count < 0)
        return MAPI_E_CORRUPT_DATA;
    *source = std::make_shared<AttachmentSource>(file, std::move(message), count, codepage);
    return S_OK;
}

std::shared_ptr<RowSource> ReceiveFolderRows(std::shared_ptr<PstFile> file) {
    return std::make_shared<ReceiveFolderSource>(std::move(file));
}

}  // namespace mapi::pst
