// The folder operations over a list of its messages: deleting them and
// setting or clearing their read flag. Each call is one commit, so a list
// is applied whole or, when the commit fails, not at all.
#include <mapicode.h>
#include <mapitags.h>
#include <mapix.h>

#include "providers/pst/format/msg_inplace.h"
#include "providers/pst/format/msg_values.h"
#include "providers/pst/pstw_objects.h"

namespace mapi::pst {
namespace {

// The messages of list that folder holds (all its messages for a null
// list); *missing counts the entries that name none.
std::vector<uint32_t> MessagesOf(WritableFile& file, uint32_t folder, LPENTRYLIST list, ULONG* missing) {
    *missing = 0;
    std::vector<uint32_t> nids;
    if (list == nullptr) {
        if (const fmt::StoreModel::Folder* f = file.Model().FindFolder(folder); f != nullptr) nids = f->messages;
        return nids;
    }
    for (ULONG i = 0; i < list->cValues; ++i) {
        const SBinary& eid = list->lpbin[i];
        uint32_t nid = 0;
        const fmt::StoreModel::StoredMessage* m = nullptr;
        if (file.NidOf(eid.cb, reinterpret_cast<const ENTRYID*>(eid.lpb), &nid)) m = file.Model().FindMessage(nid);
        if (m == nullptr || m->folder != folder)
            ++*missing;
        else
            nids.push_back(nid);
    }
    return nids;
}

HRESULT Outcome(HRESULT commit, LPENTRYLIST list, ULONG missing) {
    if (FAILED(commit) || missing == 0) return commit;
    // As the other stores answer: one entry that names nothing is an error,
    // some among several a partial success.
    return missing == list->cValues && list->cValues == 1 ? MAPI_E_NOT_FOUND : MAPI_W_PARTIAL_COMPLETION;
}

uint32_t FlagsOf(const fmt::MessageContent& content) {
    const fmt::PropValue* v = fmt::FindValue(content.props, PR_MESSAGE_FLAGS);
    return v == nullptr || v->bytes.size() != 4 ? 0 : fmt::Get32(v->bytes.data());
}

}  // namespace

HRESULT DeleteFolderMessages(WritableFile& file, uint32_t folder, LPENTRYLIST list) {
    if (list == nullptr) return MAPI_E_INVALID_PARAMETER;
    if (file.IsReadOnly()) return MAPI_E_NO_ACCESS;
    ULONG missing = 0;
    std::vector<uint32_t> nids = MessagesOf(file, folder, list, &missing);
    for (uint32_t nid : nids) file.Model().RemoveMessage(nid);
    return Outcome(nids.empty() ? S_OK : file.Commit(), list, missing);
}

HRESULT SetFolderReadFlags(WritableFile& file, uint32_t folder, LPENTRYLIST list, ULONG flags) {
    if ((flags & ~(SUPPRESS_RECEIPT | CLEAR_READ_FLAG | MAPI_DEFERRED_ERRORS | GENERATE_RECEIPT_ONLY |
                   CLEAR_RN_PENDING | CLEAR_NRN_PENDING)) != 0)
        return MAPI_E_UNKNOWN_FLAGS;
    if (file.IsReadOnly()) return MAPI_E_NO_ACCESS;
    ULONG missing = 0;
    std::vector<uint32_t> nids = MessagesOf(file, folder, list, &missing);
    // No receipts are sent from a file: asking for one only changes nothing.
    if ((flags & GENERATE_RECEIPT_ONLY) != 0) return Outcome(S_OK, list, missing);
    bool changed = false;
    auto next = [flags](uint32_t before) {
        uint32_t after = (flags & CLEAR_READ_FLAG) != 0 ? before & ~ULONG(MSGFLAG_READ) : before | MSGFLAG_READ;
        if ((flags & CLEAR_RN_PENDING) != 0) after &= ~MSGFLAG_RN_PENDING;
        if ((flags & CLEAR_NRN_PENDING) != 0) after &= ~MSGFLAG_NRN_PENDING;
        return after;
    };
    for (uint32_t nid : nids) {
        fmt::Node node;
        fmt::MessageContent content;
        std::string error;
        if (!file.MessageNode(nid, &node, &error)) return MAPI_E_CORRUPT_DATA;
        if (uint32_t before = 0; fmt::InlineLong(node, PR_MESSAGE_FLAGS, &before)) {
            // The flags change where they lie: the rest of the message,
            // attachments and all, keeps its bytes and blocks.
            uint32_t after = next(before);
            if (after == before) continue;
            fmt::InlineLong(node, PR_MESSAGE_FLAGS, &before, &after);
            std::vector<fmt::PropValue> row = file.Model().FindMessage(nid)->props;
            fmt::SetValue(row, fmt::LongValue(PR_MESSAGE_FLAGS, after));
            file.Model().UpdateMessageNode(nid, std::move(node), std::move(row));
            changed = true;
            continue;
        }
        if (!fmt::ParseMessageNode(node, &content, &error)) return MAPI_E_CORRUPT_DATA;
        uint32_t before = FlagsOf(content);
        uint32_t after = next(before);
        if (after == before) continue;
        fmt::SetValue(content.props, fmt::LongValue(PR_MESSAGE_FLAGS, after));
        // Without flags of its own yet, the message is rewritten whole, as a
        // save would: its row and the folder's unread count follow.
        file.Model().ReplaceMessage(nid, content);
        changed = true;
    }
    return Outcome(changed ? file.Commit() : S_OK, list, missing);
}

}  // namespace mapi::pst
