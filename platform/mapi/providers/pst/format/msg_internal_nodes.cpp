#include "providers/pst/format/msg_internal_nodes.h"

#include <algorithm>

#include "providers/pst/format/ltp_pc.h"
#include "providers/pst/format/ltp_tc.h"
#include "providers/pst/format/msg_templates.h"
#include "providers/pst/format/ndb_ids.h"

namespace mapi::pst::fmt {
namespace {

// Nodes no reader interprets: they only have to exist, with no data, as
// the search queues do while no search folder has been defined.
constexpr uint32_t kBareNodes[] = {
    kNidSearchManagementQueue, kNidSearchActivityList, kNidSearchDomainObject,
    kNidSearchGathererQueue,   kNidSearchGathererFolderQueue,
    kNidReserved6B6,           kNidReserved6D7, kNidReserved6F8, kNidReservedC01, kNidReservedEC1,
};

const std::vector<uint32_t>* TableColumns(uint32_t nid) {
    switch (nid) {
        case kNidHierarchyTableTemplate: return &HierarchyColumns();
        case kNidContentsTableTemplate: return &ContentsColumns();
        case kNidAssocContentsTableTemplate: return &AssocContentsColumns();
        case kNidSearchContentsTableTemplate: return &ContentsColumns();
        case kNidAttachmentTable: return &AttachmentColumns();
        case kNidRecipientTable: return &RecipientColumns();
        case kNidOutgoingQueueTable: return &OutgoingQueueColumns();
        default: return nullptr;
    }
}

}  // namespace

const std::vector<uint32_t>& InternalNodeNids() {
    static const std::vector<uint32_t> nids = [] {
        std::vector<uint32_t> v(std::begin(kBareNodes), std::end(kBareNodes));
        for (uint32_t nid : {kNidNormalFolderTemplate, kNidSearchFolderTemplate, kNidHierarchyTableTemplate,
                             kNidContentsTableTemplate, kNidAssocContentsTableTemplate,
                             kNidSearchContentsTableTemplate, kNidAttachmentTable, kNidRecipientTable,
                             kNidOutgoingQueueTable})
            v.push_back(nid);
        std::sort(v.begin(), v.end());
        return v;
    }();
    return nids;
}

bool BuildInternalNode(uint32_t nid, NodeSet& nodes) {
    if (std::find(std::begin(kBareNodes), std::end(kBareNodes), nid) != std::end(kBareNodes)) {
        nodes[nid];
        return true;
    }
    // The folder templates are what an empty folder (normal or search)
    // starts from: a property context with nothing set yet.
    if (nid == kNidNormalFolderTemplate || nid == kNidSearchFolderTemplate) {
        WritePropertyContext({}, &nodes[nid].node);
        return true;
    }
    const std::vector<uint32_t>* columns = TableColumns(nid);
    if (columns == nullptr) return false;
    WriteTableContext(*columns, {}, &nodes[nid].node);
    return true;
}

}  // namespace mapi::pst::fmt
