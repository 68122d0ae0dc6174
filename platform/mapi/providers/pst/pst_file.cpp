// Opening a personal folder file and reading the store-wide facts: the
// store's identity, the name-to-id map and the receive folder table.
#include "providers/pst/pst_file.h"

#include <cstring>

#include "providers/pst/pst_codepage.h"

namespace mapi::pst {
namespace {

constexpr uint32_t kPropRecordKey = 0x0FF9;
constexpr uint32_t kPropMessageClass = 0x001A;
constexpr uint32_t kPropReceiveFolderNid = 0x6605;
constexpr uint32_t kPropNameGuids = 0x0002;
constexpr uint32_t kPropNameEntries = 0x0003;
constexpr uint32_t kPropNameStrings = 0x0004;

// A MAPIUID for a file whose message store object is unreadable: derived
// from the path so that it stays the same across sessions.
MAPIUID UidFromPath(const std::string& path) {
    MAPIUID uid{};
    uint64_t h1 = 1469598103934665603ull, h2 = 1099511628211ull;
    for (unsigned char c : path) {
        h1 = (h1 ^ c) * 1099511628211ull;
        h2 = (h2 ^ c) * 6364136223846793005ull + 1;
    }
    std::memcpy(uid.ab, &h1, 8);
    std::memcpy(uid.ab + 8, &h2, 8);
    return uid;
}

}  // namespace

bool ReadRawEntry(libpff_item_t* item, int set, uint32_t propId, std::vector<uint8_t>* bytes,
                  uint32_t* valueType) {
    PffError error;
    libpff_record_set_t* rawSet = nullptr;
    if (libpff_item_get_record_set_by_index(item, set, &rawSet, error.Ptr()) != 1) return false;
    RecordSetHandle recordSet(rawSet);
    libpff_record_entry_t* rawEntry = nullptr;
    if (libpff_record_set_get_entry_by_type(recordSet.get(), propId, 0, &rawEntry,
                                            LIBPFF_ENTRY_VALUE_FLAG_MATCH_ANY_VALUE_TYPE |
                                                LIBPFF_ENTRY_VALUE_FLAG_IGNORE_NAME_TO_ID_MAP,
                                            error.Ptr()) != 1)
        return false;
    RecordEntryHandle entry(rawEntry);
    if (valueType != nullptr &&
        libpff_record_entry_get_value_type(entry.get(), valueType, error.Ptr()) != 1)
        return false;
    size_t size = 0;
    if (libpff_record_entry_get_data_size(entry.get(), &size, error.Ptr()) != 1 ||
        size > (size_t{1} << 28))
        return false;
    bytes->assign(size, 0);
    return size == 0 ||
           libpff_record_entry_get_data(entry.get(), bytes->data(), size, error.Ptr()) == 1;
}

std::shared_ptr<PstFile> PstFile::Open(const std::string& path, std::string* error) {
    std::shared_ptr<PstFile> file(new PstFile());
    file->path_ = path;
    {
        libpff_file_t* raw = nullptr;
        PffError e;
        if (libpff_file_initialize(&raw, e.Ptr()) != 1) {
            *error = "cannot set up the reader for " + path + ": " + e.Text();
            return nullptr;
        }
        FileHandle handle(raw);
        if (libpff_file_open(raw, path.c_str(), LIBPFF_OPEN_READ, e.Ptr()) != 1) {
            // Closing a file that never opened is harmless to libpff.
            *error = path + " cannot be read as a personal folder file: " + e.Text();
            return nullptr;
        }
        file->file_ = std::move(handle);
    }

    PffError e;
    uint8_t fileType = 0;
    if (libpff_file_get_type(file->file_.get(), &fileType, e.Ptr()) == 1)
        file->unicode_ = fileType != LIBPFF_FILE_TYPE_32BIT;
    int codepage = 0;
    if (libpff_file_get_ascii_codepage(file->file_.get(), &codepage, e.Ptr()) == 1 && codepage > 0)
        file->asciiCodepage_ = static_cast<uint32_t>(codepage);

    libpff_item_t* store = nullptr;
    if (libpff_file_get_message_store(file->file_.get(), &store, e.Ptr()) == 1 && store != nullptr)
        file->messageStore_ = ShareItem(store);
    // Without a message store object the folders may still be readable;
    // only a file without any root folder is no store at all.
    libpff_item_t* root = nullptr;
    int hasRoot = libpff_file_get_root_folder(file->file_.get(), &root, e.Ptr());
    if (root != nullptr) libpff_item_free(&root, nullptr);
    if (hasRoot != 1 && file->messageStore_ == nullptr) {
        *error =
            path + " is damaged beyond reading: it has neither a message store nor a root folder";
        return nullptr;
    }

    std::vector<uint8_t> key;
    if (file->messageStore_ != nullptr &&
        ReadRawEntry(file->messageStore_.get(), 0, kPropRecordKey, &key) && key.size() == 16)
        std::memcpy(file->uid_.ab, key.data(), 16);
    else
        file->uid_ = UidFromPath(path);

    file->ReadNameMap();
    file->ReadReceiveFolders();
    return file;
}

void PstFile::ReadNameMap() {
    PffError e;
    libpff_item_t* raw = nullptr;
    if (libpff_file_get_name_to_id_map(file_.get(), &raw, e.Ptr()) != 1 || raw == nullptr) return;
    ItemHandle map(raw);
    std::vector<uint8_t> guids, entries, strings;
    ReadRawEntry(map.get(), 0, kPropNameGuids, &guids);
    ReadRawEntry(map.get(), 0, kPropNameEntries, &entries);
    ReadRawEntry(map.get(), 0, kPropNameStrings, &strings);
    names_.Parse(guids, entries, strings);
}

void PstFile::ReadReceiveFolders() {
    SharedItem table;
    if (ItemById(kNidReceiveFolderTable, &table) != S_OK) return;
    int sets = 0;
    PffError e;
    if (libpff_item_get_number_of_record_sets(table.get(), &sets, e.Ptr()) != 1) return;
    for (int i = 0; i < sets; ++i) {
        std::vector<uint8_t> nid, cls;
        uint32_t classType = 0;
        if (!ReadRawEntry(table.get(), i, kPropReceiveFolderNid, &nid) || nid.size() < 4) continue;
        ReceiveFolder row;
        std::memcpy(&row.folderNid, nid.data(), 4);
        if (ReadRawEntry(table.get(), i, kPropMessageClass, &cls, &classType)) {
            if (classType == PT_UNICODE) {
                for (size_t k = 0; k + 1 < cls.size(); k += 2) {
                    char16_t c = static_cast<char16_t>(cls[k] | (cls[k + 1] << 8));
                    if (c == 0) break;
                    // Message classes are ASCII by definition.
                    row.messageClass.push_back(c < 0x80 ? static_cast<char>(c) : '?');
                }
            } else {
                while (!cls.empty() && cls.back() == 0) cls.pop_back();
                row.messageClass = DecodeCodepage(cls.data(), cls.size(), asciiCodepage_);
            }
        }
        receiveFolders_.push_back(std::move(row));
    }
}

std::vector<BYTE> PstFile::EntryId(uint32_t nid) const {
    std::vector<BYTE> id(24, 0);
    std::memcpy(id.data() + 4, uid_.ab, 16);
    for (int i = 0; i < 4; ++i) id[20 + i] = static_cast<BYTE>(nid >> (8 * i));
    return id;
}

bool PstFile::NidOf(ULONG cb, const ENTRYID* entryId, uint32_t* nid) const {
    if (entryId == nullptr || cb != 24) return false;
    const BYTE* bytes = reinterpret_cast<const BYTE*>(entryId);
    if (std::memcmp(bytes + 4, uid_.ab, 16) != 0) return false;
    *nid =
        bytes[20] | (bytes[21] << 8) | (bytes[22] << 16) | (static_cast<uint32_t>(bytes[23]) << 24);
    return true;
}

HRESULT PstFile::ItemById(uint32_t nid, SharedItem* item) {
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    libpff_item_t* raw = nullptr;
    PffError e;
    int result = libpff_file_get_item_by_identifier(file_.get(), nid, &raw, e.Ptr());
    if (result == 1 && raw != nullptr) {
        *item = ShareItem(raw);
        return S_OK;
    }
    return result == 0 ? MAPI_E_NOT_FOUND : MAPI_E_CORRUPT_DATA;
}

}  // namespace mapi::pst
