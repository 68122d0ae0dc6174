#include "providers/pst/format/msg_templates.h"

namespace mapi::pst::fmt {

const std::vector<uint32_t>& HierarchyColumns() {
    static const std::vector<uint32_t> columns = {
        0x0E300003,  // PidTagReplItemid
        0x0E330014,  // PidTagReplChangenum
        0x0E340102,  // PidTagReplVersionHistory
        0x0E380003,  // PidTagReplFlags
        0x3001001F,  // PidTagDisplayName
        0x36020003,  // PidTagContentCount
        0x36030003,  // PidTagContentUnreadCount
        0x360A000B,  // PidTagSubfolders
        0x3613001F,  // PidTagContainerClass
        0x66350003,  // PidTagPstHiddenCount
        0x66360003,  // PidTagPstHiddenUnread
    };
    return columns;
}

const std::vector<uint32_t>& ContentsColumns() {
    static const std::vector<uint32_t> columns = {
        0x00170003,  // PidTagImportance
        0x001A001F,  // PidTagMessageClass
        0x00360003,  // PidTagSensitivity
        0x0037001F,  // PidTagSubject
        0x00390040,  // PidTagClientSubmitTime
        0x0042001F,  // PidTagSentRepresentingName
        0x0057000B,  // PidTagMessageToMe
        0x0058000B,  // PidTagMessageCcMe
        0x0070001F,  // PidTagConversationTopic
        0x00710102,  // PidTagConversationIndex
        0x0E03001F,  // PidTagDisplayCc
        0x0E04001F,  // PidTagDisplayTo
        0x0E060040,  // PidTagMessageDeliveryTime
        0x0E070003,  // PidTagMessageFlags
        0x0E080003,  // PidTagMessageSize
        0x0E170003,  // PidTagMessageStatus
        0x0E300003,  // PidTagReplItemid
        0x0E330014,  // PidTagReplChangenum
        0x0E340102,  // PidTagReplVersionHistory
        0x0E380003,  // PidTagReplFlags
        0x0E3C0102,  // PidTagReplCopiedfromVersionhistory
        0x0E3D0102,  // PidTagReplCopiedfromItemid
        0x10970003,  // PidTagItemTemporaryFlags
        0x30080040,  // PidTagLastModificationTime
        0x65C60003,  // PidTagSecureSubmitFlags
    };
    return columns;
}

const std::vector<uint32_t>& AssocContentsColumns() {
    static const std::vector<uint32_t> columns = {
        0x001A001F,  // PidTagMessageClass
        0x0E070003,  // PidTagMessageFlags
        0x0E170003,  // PidTagMessageStatus
        0x3001001F,  // PidTagDisplayName
        0x67F20003,  // PidTagLtpRowId
        0x67F30003,  // PidTagLtpRowVer
        0x70030003,  // PidTagViewDescriptorFlags
        0x70040102,  // PidTagViewDescriptorLinkTo
        0x70050102,  // PidTagViewDescriptorViewFolder
        0x7006001F,  // PidTagViewDescriptorName
        0x70070003,  // PidTagViewDescriptorVersion
    };
    return columns;
}

const std::vector<uint32_t>& RecipientColumns() {
    static const std::vector<uint32_t> columns = {
        0x0C150003,  // PidTagRecipientType
        0x0E0F000B,  // PidTagResponsibility
        0x0FF90102,  // PidTagRecordKey
        0x0FFE0003,  // PidTagObjectType
        0x0FFF0102,  // PidTagEntryId
        0x3001001F,  // PidTagDisplayName
        0x3002001F,  // PidTagAddressType
        0x3003001F,  // PidTagEmailAddress
        0x300B0102,  // PidTagSearchKey
        0x39000003,  // PidTagDisplayType
        0x39FE001F,  // PidTagSmtpAddress
        0x3A40000B,  // PidTagSendRichInfo
        0x5FDF0003,  // PidTagRecipientOrder
        0x5FF6001F,  // PidTagRecipientDisplayName
        0x5FF70102,  // PidTagRecipientEntryId
        0x5FFD0003,  // PidTagRecipientFlags
        0x5FFF0003,  // PidTagRecipientTrackStatus
    };
    return columns;
}

const std::vector<uint32_t>& AttachmentColumns() {
    static const std::vector<uint32_t> columns = {
        0x0E200003,  // PidTagAttachSize
        0x3704001F,  // PidTagAttachFilename
        0x37050003,  // PidTagAttachMethod
        0x370B0003,  // PidTagRenderingPosition
    };
    return columns;
}

const std::vector<uint32_t>& ReceiveFolderColumns() {
    static const std::vector<uint32_t> columns = {
        0x001A001F,  // PidTagMessageClass
        0x66050003,  // the receiving folder's node id
    };
    return columns;
}

const std::vector<uint32_t>& OutgoingQueueColumns() {
    static const std::vector<uint32_t> columns = {
        0x00390040,  // PidTagClientSubmitTime
        0x0E140003,  // PidTagSubmitFlags
    };
    return columns;
}

}  // namespace mapi::pst::fmt
