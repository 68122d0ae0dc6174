// Computed properties of folders, messages and attachments (recipients live
// in their message and get theirs with the recipient table).
#include "object_props.h"

#include "prop_object.h"
#include "runtime/prop_convert.h"

namespace mapi::embedded {
namespace {

std::string InstanceKey(int64_t id) {
    return std::string(reinterpret_cast<const char*>(&id), sizeof id);
}

// Embedded messages are marked with num 1; they have no identifiers of their own.
bool IsTopLevelMessage(const ObjectRow& row) {
    return row.kind == ObjectKind::kMessage && row.num == 0;
}

}  // namespace

ULONG ShownMessageFlags(ULONG stored, bool hasAttach, bool assoc) {
    ULONG flags = stored & ~(MSGFLAG_HASATTACH | MSGFLAG_ASSOCIATED);
    if (hasAttach) flags |= MSGFLAG_HASATTACH;
    if (assoc) flags |= MSGFLAG_ASSOCIATED;
    return flags;
}

bool IsComputedProp(ObjectKind kind, ULONG propId) {
    switch (propId) {
        case PROP_ID(PR_ENTRYID):
        case PROP_ID(PR_RECORD_KEY):
        case PROP_ID(PR_INSTANCE_KEY):
        case PROP_ID(PR_STORE_ENTRYID):
        case PROP_ID(PR_STORE_RECORD_KEY):
        case PROP_ID(PR_OBJECT_TYPE):
        case PROP_ID(PR_PARENT_ENTRYID):
            return true;
        case PROP_ID(PR_FOLDER_TYPE):
        case PROP_ID(PR_CONTENT_COUNT):
        case PROP_ID(PR_ASSOC_CONTENT_COUNT):
        case PROP_ID(PR_SUBFOLDERS):
            return kind == ObjectKind::kFolder;
        case PROP_ID(PR_MESSAGE_SIZE):
        case PROP_ID(PR_HASATTACH):
            return kind == ObjectKind::kMessage;
        case PROP_ID(PR_ATTACH_NUM):
            return kind == ObjectKind::kAttachment;
        default:
            return false;
    }
}

std::vector<ULONG> ComputedObjectTags(const ObjectRow& row) {
    switch (row.kind) {
        case ObjectKind::kFolder:
            return {
                PR_ENTRYID,          PR_RECORD_KEY,          PR_INSTANCE_KEY,   PR_STORE_ENTRYID,
                PR_STORE_RECORD_KEY, PR_OBJECT_TYPE,         PR_PARENT_ENTRYID, PR_FOLDER_TYPE,
                PR_CONTENT_COUNT,    PR_ASSOC_CONTENT_COUNT, PR_SUBFOLDERS};
        case ObjectKind::kMessage:
            return {PR_ENTRYID,          PR_RECORD_KEY,   PR_INSTANCE_KEY,   PR_STORE_ENTRYID,
                    PR_STORE_RECORD_KEY, PR_OBJECT_TYPE,  PR_PARENT_ENTRYID, PR_MESSAGE_SIZE,
                    PR_HASATTACH,        PR_MESSAGE_FLAGS};
        case ObjectKind::kAttachment:
            return {PR_INSTANCE_KEY, PR_OBJECT_TYPE, PR_ATTACH_NUM};
        default:
            return {};
    }
}

bool ComputeObjectProp(StoreCore& core, const ObjectRow& row, ULONG propId, int depth, void* parent,
                       SPropValue* out) {
    auto binary = [&](ULONG tag, const std::string& bytes) {
        if (FAILED(BinaryValue(tag, bytes, parent, out)))
            *out = ErrorValue(tag, MAPI_E_NOT_ENOUGH_MEMORY);
        return true;
    };
    auto count = [&](ULONG tag, ObjectKind kind, int assoc) {
        ULONG n = 0;
        HRESULT hr = core.CountChildren(row.id, kind, assoc, &n);
        *out = FAILED(hr) ? ErrorValue(tag, hr) : LongValue(tag, static_cast<LONG>(n));
        return true;
    };
    bool folder = row.kind == ObjectKind::kFolder;
    bool message = row.kind == ObjectKind::kMessage;
    std::string storeUid(reinterpret_cast<const char*>(core.Uid().ab), 16);
    switch (propId) {
        case PROP_ID(PR_INSTANCE_KEY):
            return binary(PR_INSTANCE_KEY, InstanceKey(row.id));
        case PROP_ID(PR_DEPTH):
            if (depth < 0) return false;
            *out = LongValue(PR_DEPTH, depth);
            return true;
        case PROP_ID(PR_OBJECT_TYPE):
            *out = LongValue(PR_OBJECT_TYPE, folder    ? MAPI_FOLDER
                                             : message ? MAPI_MESSAGE
                                                       : MAPI_ATTACH);
            return true;
        case PROP_ID(PR_STORE_ENTRYID):
            return binary(PR_STORE_ENTRYID, core.EntryId(ObjectKind::kStore, 1));
        case PROP_ID(PR_STORE_RECORD_KEY):
            return binary(PR_STORE_RECORD_KEY, storeUid);
        case PROP_ID(PR_ATTACH_NUM):
            if (row.kind != ObjectKind::kAttachment) return false;
            *out = LongValue(PR_ATTACH_NUM, static_cast<LONG>(row.num));
            return true;
        default:
            break;
    }
    if (!folder && !message) return false;
    switch (propId) {
        case PROP_ID(PR_ENTRYID):
        case PROP_ID(PR_RECORD_KEY):
            if (message && !IsTopLevelMessage(row)) return false;
            return binary(PROP_TAG(PT_BINARY, propId), core.EntryId(row.kind, row.id));
        case PROP_ID(PR_PARENT_ENTRYID):
            if (message && !IsTopLevelMessage(row)) return false;
            return binary(PR_PARENT_ENTRYID,
                          core.EntryId(ObjectKind::kFolder, row.parent == 0 ? row.id : row.parent));
        default:
            break;
    }
    if (folder) {
        switch (propId) {
            case PROP_ID(PR_FOLDER_TYPE):
                *out = LongValue(PR_FOLDER_TYPE, static_cast<LONG>(row.folderType));
                return true;
            case PROP_ID(PR_CONTENT_COUNT):
                return count(PR_CONTENT_COUNT, ObjectKind::kMessage, 0);
            case PROP_ID(PR_ASSOC_CONTENT_COUNT):
                return count(PR_ASSOC_CONTENT_COUNT, ObjectKind::kMessage, 1);
            case PROP_ID(PR_SUBFOLDERS): {
                ULONG n = 0;
                HRESULT hr = core.CountChildren(row.id, ObjectKind::kFolder, -1, &n);
                *out = FAILED(hr) ? ErrorValue(PR_SUBFOLDERS, hr) : BoolValue(PR_SUBFOLDERS, n > 0);
                return true;
            }
            default:
                return false;
        }
    }
    switch (propId) {
        case PROP_ID(PR_MESSAGE_SIZE):
            *out = LongValue(PR_MESSAGE_SIZE, static_cast<LONG>(row.size));
            return true;
        case PROP_ID(PR_HASATTACH):
            *out = BoolValue(PR_HASATTACH, row.hasAttach);
            return true;
        case PROP_ID(PR_MESSAGE_FLAGS):
            *out = LongValue(PR_MESSAGE_FLAGS, static_cast<LONG>(ShownMessageFlags(
                                                   row.msgFlags, row.hasAttach, row.assoc)));
            return true;
        default:
            return false;
    }
}

}  // namespace mapi::embedded
