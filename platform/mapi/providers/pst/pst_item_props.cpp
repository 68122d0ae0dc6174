// Lazy reading of an object's stored values and the values each kind of
// object adds itself.
#include "providers/pst/pst_item_props.h"

#include <cstring>

#include <mapitags.h>

#include "providers/pst/pst_tables.h"
#include "runtime/prop_convert.h"

namespace mapi::pst {
namespace {

constexpr ULONG kIdMessageCodepage = 0x3FFD;
constexpr ULONG kIdInternetCpid = 0x3FDE;

bool UsableCodepage(const SPropValue* v) {
    return v != nullptr && PROP_TYPE(v->ulPropTag) == PT_LONG && v->Value.l > 0 &&
           v->Value.l < 65536 && v->Value.l != 1200 && v->Value.l != 1201;
}

}  // namespace

ItemProps::ItemProps(std::shared_ptr<PstFile> file, SharedItem item, int recordSet, ItemKind kind,
                     uint32_t codepage)
    : file_(std::move(file)),
      item_(std::move(item)),
      set_(recordSet),
      kind_(kind),
      codepage_(codepage) {}

ItemProps::~ItemProps() {
    std::lock_guard<std::recursive_mutex> lock(file_->Lock());
    recordSet_.reset();
    item_.reset();
}

HRESULT ItemProps::LoadIndex() {
    if (indexState_ != 0) return indexState_ > 0 ? S_OK : MAPI_E_CORRUPT_DATA;
    indexState_ = -1;
    if (kind_ == ItemKind::Fixed) {
        indexState_ = 1;
        return S_OK;
    }
    if (item_ == nullptr) return MAPI_E_CORRUPT_DATA;
    PffError error;
    libpff_record_set_t* raw = nullptr;
    if (libpff_item_get_record_set_by_index(item_.get(), set_, &raw, error.Ptr()) != 1)
        return MAPI_E_CORRUPT_DATA;
    recordSet_.reset(raw);
    int count = 0;
    if (libpff_record_set_get_number_of_entries(recordSet_.get(), &count, error.Ptr()) != 1)
        return MAPI_E_CORRUPT_DATA;
    auto readHeader = [&](int i, uint32_t* id, uint32_t* valueType) {
        libpff_record_entry_t* rawEntry = nullptr;
        PffError entryError;
        if (libpff_record_set_get_entry_by_index(recordSet_.get(), i, &rawEntry,
                                                 entryError.Ptr()) != 1)
            return false;
        RecordEntryHandle entry(rawEntry);
        return libpff_record_entry_get_entry_type(entry.get(), id, entryError.Ptr()) == 1 &&
               libpff_record_entry_get_value_type(entry.get(), valueType, entryError.Ptr()) == 1;
    };
    entriesLost_ = !IndexRecordEntries(count, readHeader, &index_);
    indexState_ = 1;
    return S_OK;
}

bool IndexRecordEntries(int count, const EntryHeaderReader& read,
                        std::map<ULONG, StoredEntry>* index) {
    index->clear();
    bool complete = true;
    for (int i = 0; i < count; ++i) {
        uint32_t id = 0, valueType = 0;
        // The value behind a lost entry would be missing from every list and
        // copy without a word, so the loss is remembered rather than skipped.
        if (!read(i, &id, &valueType) || id == 0 || id > 0xFFFE) {
            complete = false;
            continue;
        }
        // A second entry of one id would hide the first from every reader.
        if (!index->emplace(id, StoredEntry{i, valueType}).second) complete = false;
    }
    return complete;
}

HRESULT ItemProps::Check() {
    std::lock_guard<std::recursive_mutex> lock(file_->Lock());
    return LoadIndex();
}

HRESULT ItemProps::CheckComplete() {
    std::lock_guard<std::recursive_mutex> lock(file_->Lock());
    if (LoadIndex() != S_OK || entriesLost_) return MAPI_E_CORRUPT_DATA;
    return S_OK;
}

uint32_t ItemProps::Codepage() {
    std::lock_guard<std::recursive_mutex> lock(file_->Lock());
    if (codepage_ != 0) return codepage_;
    if (resolvingCodepage_) return file_->AsciiCodepage();
    resolvingCodepage_ = true;
    uint32_t chosen = file_->AsciiCodepage();
    const SPropValue* v = GetById(kIdMessageCodepage);
    if (UsableCodepage(v)) {
        chosen = static_cast<uint32_t>(v->Value.l);
    } else {
        v = GetById(kIdInternetCpid);
        if (UsableCodepage(v)) chosen = static_cast<uint32_t>(v->Value.l);
    }
    codepage_ = chosen;
    resolvingCodepage_ = false;
    return codepage_;
}

const SPropValue* ItemProps::GetById(ULONG propId) {
    std::lock_guard<std::recursive_mutex> lock(file_->Lock());
    if (auto c = computed_.find(propId); c != computed_.end()) return &c->second;
    if (auto c = cache_.find(propId); c != cache_.end()) return &c->second;
    if (LoadIndex() != S_OK) {
        auto [it, added] =
            cache_.emplace(propId, ErrorValue(PROP_TAG(PT_ERROR, propId), MAPI_E_CORRUPT_DATA));
        (void)added;
        return &it->second;
    }
    bool stored = index_.count(propId) != 0;
    if (kind_ == ItemKind::Message &&
        (propId == kIdSubject || (!stored && (propId == kIdSubjectPrefix || propId == kIdNormalizedSubject)))) {
        SplitSubjectOnce();
        auto c = cache_.find(propId);
        return c == cache_.end() ? nullptr : &c->second;
    }
    if (!stored) {
        if (kind_ == ItemKind::Message && propId == PROP_ID(PR_HASATTACH)) return HasAttach();
        return nullptr;
    }
    return &cache_.emplace(propId, ReadStored(propId)).first->second;
}

SPropValue ItemProps::ReadStored(ULONG propId) {
    const StoredEntry& stored = index_.at(propId);
    SPropValue value = ErrorValue(PROP_TAG(PT_ERROR, propId), MAPI_E_CORRUPT_DATA);
    ULONG base = PlatformType(stored.valueType) & ~MV_FLAG;
    uint32_t codepage = base == PT_STRING8 ? Codepage() : 0;
    PffError error;
    libpff_record_entry_t* raw = nullptr;
    if (libpff_record_set_get_entry_by_index(recordSet_.get(), stored.index, &raw, error.Ptr()) == 1) {
        RecordEntryHandle entry(raw);
        SPropValue read{};
        if (ReadEntryValue(entry.get(), propId, stored.valueType, codepage, arena_, &read) == S_OK)
            value = read;
    }
    return value;
}

void ItemProps::SplitSubjectOnce() {
    if (subjectSplit_) return;
    subjectSplit_ = true;
    if (index_.count(kIdSubject) == 0) return;
    SPropValue parts[3];
    int count = SplitSubject(ReadStored(kIdSubject), arena_, parts);
    cache_[kIdSubject] = parts[0];
    // What the object stores itself was set on it and wins.
    for (int i = 1; i < count; ++i)
        if (index_.count(PROP_ID(parts[i].ulPropTag)) == 0) cache_[PROP_ID(parts[i].ulPropTag)] = parts[i];
}

HRESULT ItemProps::Tags(std::vector<ULONG>* tags) {
    std::lock_guard<std::recursive_mutex> lock(file_->Lock());
    // A list without the lost entries would pass for the whole object.
    if (CheckComplete() != S_OK) return MAPI_E_CORRUPT_DATA;
    std::map<ULONG, ULONG> byId;
    for (const auto& [id, stored] : index_) byId[id] = PROP_TAG(PlatformType(stored.valueType), id);
    for (const auto& [id, value] : computed_) byId[id] = value.ulPropTag;
    if (kind_ == ItemKind::Message) {
        SplitSubjectOnce();
        for (ULONG id : {kIdSubjectPrefix, kIdNormalizedSubject})
            if (auto c = cache_.find(id); c != cache_.end() && index_.count(id) == 0) byId[id] = c->second.ulPropTag;
    }
    if (kind_ == ItemKind::Message) byId.emplace(PROP_ID(PR_HASATTACH), PR_HASATTACH);
    tags->clear();
    for (const auto& entry : byId) tags->push_back(entry.second);
    return S_OK;
}

// Whether the message has attachments, from the attachments themselves: the
// stored message flags may disagree with them in a damaged file.
const SPropValue* ItemProps::HasAttach() {
    int count = 0;
    PffError error;
    SPropValue value{};
    if (libpff_message_get_number_of_attachments(item_.get(), &count, error.Ptr()) == 1) {
        value.ulPropTag = PR_HASATTACH;
        value.Value.b = count > 0 ? 1 : 0;
    } else {
        value = ErrorValue(PROP_TAG(PT_ERROR, PROP_ID(PR_HASATTACH)), MAPI_E_CORRUPT_DATA);
    }
    return &cache_.emplace(PROP_ID(PR_HASATTACH), value).first->second;
}

HRESULT ItemProps::SubRows(ULONG subObject, std::vector<std::unique_ptr<RowAccessor>>* rows) {
    rows->clear();
    if (kind_ != ItemKind::Message ||
        (subObject != PR_MESSAGE_RECIPIENTS && subObject != PR_MESSAGE_ATTACHMENTS))
        return MAPI_E_NO_SUPPORT;
    if (item_ == nullptr) return MAPI_E_CORRUPT_DATA;
    std::shared_ptr<RowSource> source;
    HRESULT hr = subObject == PR_MESSAGE_RECIPIENTS
                     ? RecipientRows(file_, item_, Codepage(), &source)
                     : AttachmentRows(file_, item_, Codepage(), &source);
    if (hr != S_OK) return hr;
    ULONG count = source->Count();
    for (ULONG i = 0; i < count; ++i) rows->push_back(source->Row(i));
    return S_OK;
}

void ItemProps::SetComputed(const SPropValue& value) {
    computed_[PROP_ID(value.ulPropTag)] = value;
}

void ItemProps::SetLong(ULONG tag, LONG value) {
    SPropValue v{};
    v.ulPropTag = CHANGE_PROP_TYPE(tag, PT_LONG);
    v.Value.l = value;
    SetComputed(v);
}

void ItemProps::SetBool(ULONG tag, bool value) {
    SPropValue v{};
    v.ulPropTag = CHANGE_PROP_TYPE(tag, PT_BOOLEAN);
    v.Value.b = value ? 1 : 0;
    SetComputed(v);
}

void ItemProps::SetBinary(ULONG tag, const std::vector<BYTE>& value) {
    SPropValue v{};
    v.ulPropTag = CHANGE_PROP_TYPE(tag, PT_BINARY);
    v.Value.bin.cb = static_cast<ULONG>(value.size());
    v.Value.bin.lpb = static_cast<BYTE*>(arena_.Copy(value.data(), value.size()));
    SetComputed(v);
}

void ItemProps::SetString(ULONG tag, const std::string& utf8) {
    SPropValue v{};
    v.ulPropTag = CHANGE_PROP_TYPE(tag, PT_STRING8);
    v.Value.lpszA = static_cast<char*>(arena_.Copy(utf8.c_str(), utf8.size() + 1));
    SetComputed(v);
}

namespace {

std::vector<BYTE> StoreRecordKey(const PstFile& file) {
    return std::vector<BYTE>(file.Uid().ab, file.Uid().ab + 16);
}

}  // namespace

std::unique_ptr<ItemProps> MakeFolderProps(std::shared_ptr<PstFile> file, SharedItem item,
                                           uint32_t nid, uint32_t parentNid) {
    auto props = std::make_unique<ItemProps>(file, std::move(item), 0, ItemKind::Folder);
    std::vector<BYTE> id = file->EntryId(nid);
    props->SetBinary(PR_ENTRYID, id);
    props->SetBinary(PR_RECORD_KEY, id);
    if (nid == kNidRootFolder)
        props->SetBinary(PR_PARENT_ENTRYID, id);
    else if (parentNid != 0)
        props->SetBinary(PR_PARENT_ENTRYID, file->EntryId(parentNid));
    props->SetBinary(PR_STORE_ENTRYID, file->EntryId(kNidMessageStore));
    props->SetBinary(PR_STORE_RECORD_KEY, StoreRecordKey(*file));
    props->SetLong(PR_OBJECT_TYPE, MAPI_FOLDER);
    LONG type = nid == kNidRootFolder                  ? FOLDER_ROOT
                : NidType(nid) == kNidTypeSearchFolder ? FOLDER_SEARCH
                                                       : FOLDER_GENERIC;
    props->SetLong(PR_FOLDER_TYPE, type);
    return props;
}

std::unique_ptr<ItemProps> MakeMessageProps(std::shared_ptr<PstFile> file, SharedItem item,
                                            uint32_t nid, uint32_t parentNid) {
    auto props = std::make_unique<ItemProps>(file, std::move(item), 0, ItemKind::Message);
    if (nid != 0) {
        std::vector<BYTE> id = file->EntryId(nid);
        props->SetBinary(PR_ENTRYID, id);
        props->SetBinary(PR_RECORD_KEY, id);
        if (parentNid != 0) props->SetBinary(PR_PARENT_ENTRYID, file->EntryId(parentNid));
    }
    props->SetBinary(PR_STORE_ENTRYID, file->EntryId(kNidMessageStore));
    props->SetBinary(PR_STORE_RECORD_KEY, StoreRecordKey(*file));
    props->SetLong(PR_OBJECT_TYPE, MAPI_MESSAGE);
    return props;
}

std::unique_ptr<ItemProps> MakeRecipientProps(std::shared_ptr<PstFile> file, SharedItem table,
                                              int row, uint32_t codepage) {
    auto props = std::make_unique<ItemProps>(std::move(file), std::move(table), row,
                                             ItemKind::Recipient, codepage);
    props->SetLong(PR_ROWID, row);
    if (props->GetById(PROP_ID(PR_OBJECT_TYPE)) == nullptr)
        props->SetLong(PR_OBJECT_TYPE, MAPI_MAILUSER);
    return props;
}

std::unique_ptr<ItemProps> MakeAttachmentProps(std::shared_ptr<PstFile> file, SharedItem item,
                                               int number, uint32_t codepage) {
    auto props = std::make_unique<ItemProps>(std::move(file), std::move(item), 0,
                                             ItemKind::Attachment, codepage);
    props->SetLong(PR_ATTACH_NUM, number);
    props->SetLong(PR_OBJECT_TYPE, MAPI_ATTACH);
    if (props->Item() != nullptr) {
        std::lock_guard<std::recursive_mutex> lock(props->File()->Lock());
        int type = 0;
        PffError error;
        if (libpff_attachment_get_type(props->Item().get(), &type, error.Ptr()) == 1 &&
            ReportsEmbeddedMethod(type, props->GetById(PROP_ID(PR_ATTACH_METHOD))))
            props->SetLong(PR_ATTACH_METHOD, ATTACH_EMBEDDED_MSG);
    }
    return props;
}

bool ReportsEmbeddedMethod(int attachmentType, const SPropValue* storedMethod) {
    if (attachmentType != LIBPFF_ATTACHMENT_TYPE_ITEM) return false;
    // A copy decides by the method alone whether to copy an embedded
    // message; without it the message libpff found would be left behind
    // without a word.
    if (storedMethod == nullptr) return true;
    // An unreadable method is damage the copy has to see, not a gap to fill.
    if (PROP_TYPE(storedMethod->ulPropTag) == PT_ERROR) return false;
    // A method that disagrees loses to libpff's type: that type comes from
    // the attachment's data, a message object libpff can open, while the
    // method is only a label beside it; trusting the label would drop the
    // message from every copy.
    return PROP_TYPE(storedMethod->ulPropTag) != PT_LONG ||
           storedMethod->Value.l != static_cast<LONG>(ATTACH_EMBEDDED_MSG);
}

}  // namespace mapi::pst
