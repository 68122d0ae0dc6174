// Node and block identifiers ([MS-PST] 2.2.2.1 NID, 2.2.2.2 BID, 2.4.1
// special internal NIDs) and the fixed geometry of a Unicode file.
#pragma once

#include <cstdint>

namespace mapi::pst::fmt {

// NID: low 5 bits the node type, the rest an index.
enum NidType : uint32_t {
    kNidTypeHid = 0x00,
    kNidTypeInternal = 0x01,
    kNidTypeNormalFolder = 0x02,
    kNidTypeSearchFolder = 0x03,
    kNidTypeNormalMessage = 0x04,
    kNidTypeAttachment = 0x05,
    kNidTypeSearchUpdateQueue = 0x06,
    kNidTypeSearchCriteria = 0x07,
    kNidTypeAssocMessage = 0x08,
    kNidTypeContentsTableIndex = 0x0A,
    kNidTypeReceiveFolderTable = 0x0B,
    kNidTypeOutgoingQueueTable = 0x0C,
    kNidTypeHierarchyTable = 0x0D,
    kNidTypeContentsTable = 0x0E,
    kNidTypeAssocContentsTable = 0x0F,
    kNidTypeSearchContentsTable = 0x10,
    kNidTypeAttachmentTable = 0x11,
    kNidTypeRecipientTable = 0x12,
    kNidTypeSearchTableIndex = 0x13,
    kNidTypeLtp = 0x1F,
};

constexpr uint32_t MakeNid(uint32_t type, uint32_t index) { return (index << 5) | type; }
constexpr uint32_t NidType(uint32_t nid) { return nid & 0x1F; }
constexpr uint32_t NidIndex(uint32_t nid) { return nid >> 5; }
// The table nodes of a folder share its index and differ in type.
constexpr uint32_t SiblingNid(uint32_t nid, uint32_t type) { return MakeNid(type, NidIndex(nid)); }

// Special internal nodes ([MS-PST] 2.4.1) and the well-known folders of
// every store ([MS-PST] 2.7.3).
enum SpecialNid : uint32_t {
    kNidMessageStore = 0x21,
    kNidNameToIdMap = 0x61,
    kNidNormalFolderTemplate = 0xA1,
    kNidSearchFolderTemplate = 0xC1,
    kNidRootFolder = 0x122,
    kNidSearchManagementQueue = 0x1E1,
    kNidSearchActivityList = 0x201,
    kNidSearchDomainObject = 0x261,
    kNidSearchGathererQueue = 0x281,
    kNidSearchGathererDescriptor = 0x2A1,
    kNidSearchGathererFolderQueue = 0x321,
    kNidHierarchyTableTemplate = 0x60D,
    kNidContentsTableTemplate = 0x60E,
    kNidAssocContentsTableTemplate = 0x60F,
    kNidSearchContentsTableTemplate = 0x610,
    kNidAttachmentTable = 0x671,
    kNidRecipientTable = 0x692,
    kNidReceiveFolderTable = 0x62B,
    kNidOutgoingQueueTable = 0x64C,
    // Required of every file, with no documented content.
    kNidReserved6B6 = 0x6B6,
    kNidReserved6D7 = 0x6D7,
    kNidReserved6F8 = 0x6F8,
    kNidReservedC01 = 0xC01,
    kNidReservedEC1 = 0xEC1,
    kNidIpmSubtree = 0x8022,
    kNidSearchRoot = 0x8042,
    kNidSpamSearchFolder = 0x2223,
};

// BID: bit 0 reserved, bit 1 marks an internal block (XBLOCK, SLBLOCK...),
// the index counts up from bit 2, so consecutive ids differ by 4.
constexpr uint64_t kBidInternal = 0x2;
constexpr bool IsInternalBid(uint64_t bid) { return (bid & kBidInternal) != 0; }

// Geometry of a Unicode file ([MS-PST] 2.2.2.7, 2.2.2.8).
constexpr uint64_t kPageSize = 512;
constexpr uint64_t kBlockAlign = 64;
constexpr uint64_t kMaxBlockSize = 8192;
constexpr uint64_t kBlockTrailerSize = 16;
constexpr uint64_t kMaxBlockData = kMaxBlockSize - kBlockTrailerSize;  // 8176
constexpr uint64_t kDListOffset = 0x4200;
constexpr uint64_t kFirstAMapOffset = 0x4400;
// One AMap page's bits (496 bytes, 8 bits each, 64 bytes a bit) cover
// this many bytes, the page itself included.
constexpr uint64_t kAMapCoverage = 496ull * 8 * 64;  // 0x3E000
// A PMap follows every eighth AMap.
constexpr uint64_t kAMapsPerPMap = 8;

}  // namespace mapi::pst::fmt
