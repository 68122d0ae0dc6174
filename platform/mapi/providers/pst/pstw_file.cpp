#include "providers/pst/pstw_file.h"

#include <cstring>

#include <mapicode.h>
#include <mapix.h>

#include "providers/pst/format/ltp_pc.h"
#include "providers/pst/format/msg_subject.h"
#include "providers/pst/format/ndb_ids.h"
#include "providers/pst/pst_writer.h"
#include "runtime/mapi_ptr.h"

namespace mapi::pst {
namespace {

fmt::PropertyName NameOf(const MAPINAMEID& id) {
    fmt::PropertyName name;
    std::memcpy(name.guid.data(), id.lpguid, 16);
    name.isString = id.ulKind == MNID_STRING;
    if (name.isString) {
        for (const WCHAR* p = id.Kind.lpwstrName; p != nullptr && *p != 0; ++p) name.name.push_back(*p);
    } else {
        name.lid = static_cast<uint32_t>(id.Kind.lID);
    }
    return name;
}

}  // namespace

std::shared_ptr<WritableFile> WritableFile::Open(const std::string& path, const MAPIUID& provider,
                                                 std::string* error) {
    std::shared_ptr<WritableFile> file(new WritableFile(path, provider));
    if (!file->Load(error)) return nullptr;
    return file;
}

std::shared_ptr<WritableFile> WritableFile::ReadOnly(const std::string& path, const MAPIUID& provider,
                                                     fmt::StoreModel model) {
    std::shared_ptr<WritableFile> file(new WritableFile(path, provider));
    file->model_ = std::move(model);
    file->readOnly_ = true;
    return file;
}

std::shared_ptr<WritableFile> WritableFile::ReadOnly(const std::string& path, const MAPIUID& provider,
                                                     fmt::StoreModel model, std::shared_ptr<MessageSource> source) {
    std::shared_ptr<WritableFile> file = ReadOnly(path, provider, std::move(model));
    file->source_ = std::move(source);
    return file;
}

bool WritableFile::Load(std::string* error) {
    fmt::Header header;
    std::string why;
    // Only the header, the B-trees and the folders' nodes are read: messages
    // stay in the file until one is opened.
    ndb_ = fmt::NdbFile::Open(path_, &header, &why);
    if (ndb_ == nullptr || !fmt::StoreModel::Load(*ndb_, header, &model_, &why)) {
        ndb_.reset();
        if (error != nullptr) *error = path_ + " cannot be written here: " + why;
        return false;
    }
    return true;
}

MAPIUID WritableFile::StoreUid() const {
    MAPIUID uid;
    std::memcpy(uid.ab, model_.uid().data(), 16);
    return uid;
}

HRESULT WritableFile::Commit() {
    if (readOnly_) return MAPI_E_NO_ACCESS;
    if (ndb_ == nullptr) return MAPI_E_DISK_ERROR;  // an earlier failure could not even reload
    std::set<uint32_t> removed;
    std::array<uint32_t, 32> counters{};
    fmt::NodeSet changed = model_.TakeChanges(&removed, &counters);
    std::string error;
    if (ndb_->Commit(changed, removed, counters, &error)) return S_OK;
    std::string ignored;
    Load(&ignored);
    return MAPI_E_DISK_ERROR;
}

bool WritableFile::MessageNode(uint32_t nid, fmt::Node* out, std::string* error) {
    const fmt::StoreModel::StoredMessage* m = model_.FindMessage(nid);
    if (m == nullptr) {
        if (error != nullptr) *error = "no such message";
        return false;
    }
    if (source_ != nullptr && m->rowOnly && m->node.data.empty()) return source_->Node(nid, out, error);
    if (!m->node.data.empty() || ndb_ == nullptr) {
        *out = m->node;
        return true;
    }
    return ndb_->ReadNode(nid, out, error);
}

bool WritableFile::StoredMessageProps(uint32_t nid, std::vector<fmt::PropValue>* out, std::string* error) {
    const fmt::StoreModel::StoredMessage* m = model_.FindMessage(nid);
    if (m == nullptr) {
        if (error != nullptr) *error = "no such message";
        return false;
    }
    if (!m->rowOnly) {
        *out = m->props;
        return true;
    }
    // Replaced since it was loaded: the model holds its new node until the
    // next commit, and the file holds it after.
    if (!m->node.data.empty()) return fmt::ReadPropertyContext(m->node, out, error);
    fmt::Node node;
    if (source_ != nullptr) {
        // A row must not fail its whole table: an item that no longer reads
        // is listed by what its row kept and fails when it is opened.
        if (!source_->Props(nid, out, error)) *out = m->props;
        return true;
    }
    return ndb_ != nullptr && ndb_->ReadNode(nid, &node, error, false) && fmt::ReadPropertyContext(node, out, error);
}

bool WritableFile::MessageProps(uint32_t nid, std::vector<fmt::PropValue>* out, std::string* error) {
    if (!StoredMessageProps(nid, out, error)) return false;
    fmt::SubjectFromFile(out);
    return true;
}

std::vector<BYTE> WritableFile::EntryId(uint32_t nid) const {
    fmt::Bytes id = fmt::EntryIdBytes(model_.uid(), nid);
    return std::vector<BYTE>(id.begin(), id.end());
}

bool WritableFile::NidOf(ULONG cb, const ENTRYID* id, uint32_t* nid) const {
    if (id == nullptr || cb != 24) return false;
    const auto* bytes = reinterpret_cast<const BYTE*>(id);
    if (std::memcmp(bytes + 4, model_.uid().data(), 16) != 0) return false;
    *nid = fmt::Get32(bytes + 20);
    return true;
}

HRESULT WritableFile::IdsFromNames(ULONG count, LPMAPINAMEID* names, ULONG flags,
                                   LPSPropTagArray* tags) {
    if (tags == nullptr || (count > 0 && names == nullptr)) return MAPI_E_INVALID_PARAMETER;
    *tags = nullptr;
    if (count == 0) return MAPI_E_NO_SUPPORT;  // listing every id is not offered
    auto out = AllocateMapi<SPropTagArray>(CbNewSPropTagArray(count));
    if (!out) return MAPI_E_NOT_ENOUGH_MEMORY;
    out->cValues = count;
    bool created = false, missing = false;
    for (ULONG i = 0; i < count; ++i) {
        if (names[i] == nullptr || names[i]->lpguid == nullptr ||
            (names[i]->ulKind != MNID_ID && names[i]->ulKind != MNID_STRING))
            return MAPI_E_INVALID_PARAMETER;
        fmt::PropertyName name = NameOf(*names[i]);
        uint16_t id = model_.names().IdOf(name, false);
        if (id == 0 && (flags & MAPI_CREATE) != 0) {
            id = model_.names().IdOf(name, true);
            created = created || id != 0;
        }
        missing = missing || id == 0;
        out->aulPropTag[i] = id == 0 ? PROP_TAG(PT_ERROR, 0) : PROP_TAG(PT_UNSPECIFIED, id);
    }
    if (created) {
        model_.MarkChanged(fmt::kNidNameToIdMap);
        HRESULT hr = Commit();
        if (FAILED(hr)) return hr;
    }
    *tags = out.release();
    return missing ? MAPI_W_ERRORS_RETURNED : S_OK;
}

HRESULT WritableFile::NamesFromIds(LPSPropTagArray* tags, LPGUID propSet, ULONG flags, ULONG* count,
                                   LPMAPINAMEID** names) {
    (void)flags;
    if (tags == nullptr || count == nullptr || names == nullptr) return MAPI_E_INVALID_PARAMETER;
    *count = 0;
    *names = nullptr;
    if (*tags == nullptr) return MAPI_E_NO_SUPPORT;  // listing every name is not offered
    ULONG n = (*tags)->cValues;
    auto out = AllocateMapi<LPMAPINAMEID>(static_cast<ULONG>(sizeof(LPMAPINAMEID) * (n == 0 ? 1 : n)));
    if (!out) return MAPI_E_NOT_ENOUGH_MEMORY;
    bool missing = false;
    for (ULONG i = 0; i < n; ++i) {
        out.get()[i] = nullptr;
        fmt::PropertyName name;
        if (!model_.names().NameOf(static_cast<uint16_t>(PROP_ID((*tags)->aulPropTag[i])), &name) ||
            (propSet != nullptr && std::memcmp(propSet, name.guid.data(), 16) != 0)) {
            missing = true;
            continue;
        }
        void* raw = nullptr;
        if (MAPIAllocateMore(sizeof(MAPINAMEID) + 16, out.get(), &raw) != S_OK) return MAPI_E_NOT_ENOUGH_MEMORY;
        auto* id = static_cast<MAPINAMEID*>(raw);
        id->lpguid = reinterpret_cast<LPGUID>(static_cast<BYTE*>(raw) + sizeof(MAPINAMEID));
        std::memcpy(id->lpguid, name.guid.data(), 16);
        id->ulKind = name.isString ? MNID_STRING : MNID_ID;
        if (name.isString) {
            void* text = nullptr;
            if (MAPIAllocateMore(static_cast<ULONG>((name.name.size() + 1) * sizeof(WCHAR)), out.get(), &text) != S_OK)
                return MAPI_E_NOT_ENOUGH_MEMORY;
            auto* w = static_cast<WCHAR*>(text);
            for (size_t k = 0; k < name.name.size(); ++k) w[k] = name.name[k];
            w[name.name.size()] = 0;
            id->Kind.lpwstrName = w;
        } else {
            id->Kind.lID = static_cast<LONG>(name.lid);
        }
        out.get()[i] = id;
    }
    *count = n;
    *names = out.release();
    return missing ? MAPI_W_ERRORS_RETURNED : S_OK;
}

}  // namespace mapi::pst
