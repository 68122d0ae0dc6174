// Where a copied message came from, kept on the copy itself.
//
// A copy run that is stopped, fails or is simply started again must not put
// a second copy of an item into the target. So every top-level message that
// the platform's copy makes carries three named properties of Quirnel's own
// property set: the identity of the store it came from (bytes 4..19 of its
// entry id, the store's MAPIUID that the session routes by), its entry id
// there and its last modification time there. A later run reads them from
// the target's contents table and leaves out what is already there.
//
// Stores that write another format keep these names as they are (mbox and
// Maildir as the header `X-Quirnel-Source: store=HEX; entry=HEX;
// modified=16 HEX DIGITS`), so that any target can answer the same question.
#pragma once

#include <array>
#include <string>

#include <mapidefs.h>
#include <mapitags.h>

namespace mapi {

// {f3c4d0d7-b05b-4214-a817-a819212ea842}
extern const GUID PS_QUIRNEL;

// The three names, in the order of ProvenanceTags.
inline constexpr const char16_t* kSourceStoreName = u"SourceStore";      // PT_BINARY
inline constexpr const char16_t* kSourceEntryIdName = u"SourceEntryId";  // PT_BINARY
inline constexpr const char16_t* kSourceModifiedName = u"SourceModified";  // PT_SYSTIME
// Set by a reader that salvaged an item from a damaged store: what was lost,
// one line each after a first line that says so (PT_UNICODE).
inline constexpr const char16_t* kDamageReportName = u"DamageReport";
// Set on the store object by a reader of a damaged store: one record per
// structure it could not use, in words for the user (PT_MV_UNICODE), and in
// step with them the items each is known to have lost (PT_MV_LONG).
inline constexpr const char16_t* kDamageAccountName = u"DamageAccount";
inline constexpr const char16_t* kDamageItemsLostName = u"DamageItemsLost";
// A contents table column a store may serve: where the item lives in it, for
// the lines that name an item ("node 0x200024"; PT_UNICODE).
inline constexpr const char16_t* kItemLocatorName = u"ItemLocator";

struct ProvenanceTags {
    ULONG sourceStore = PR_NULL;
    ULONG sourceEntryId = PR_NULL;
    ULONG sourceModified = PR_NULL;
    // True when the store knew all three names.
    bool Known() const {
        return sourceStore != PR_NULL && sourceEntryId != PR_NULL && sourceModified != PR_NULL;
    }
};

// The tags of the three names in object's store. With create they are made
// where missing; without, a name the store has never seen stays PR_NULL
// (nothing was ever stamped there) and the store is not written. Fails only
// when the store fails.
HRESULT GetProvenanceTags(IMAPIProp* object, bool create, ProvenanceTags* tags);

// The store identity inside an entry id: its bytes 4..19, or the empty text
// when the id is too short to have one.
std::string StoreIdentityOf(const BYTE* entryId, ULONG size);

// Sets the provenance of src, opened by sourceId (its entry id and store
// identity, and its last modification time when it has one), on dst, an
// unsaved copy of it. Named ids are created in dst's store as needed. Fails
// with MAPI_E_INVALID_ENTRYID when sourceId holds no store identity.
HRESULT StampProvenance(IMessage* src, const SBinary& sourceId, IMessage* dst);

}  // namespace mapi
