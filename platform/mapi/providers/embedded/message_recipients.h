// A message's recipient table, kept whole in one column of the message's
// own row.
//
// Recipients have no identity of their own outside their message: nothing
// opens one by entry identifier, and the table is only ever read or
// replaced whole. Keeping them as objects of their own cost one row per
// recipient on every save (most of a copy's inserts); in the message row,
// saving a message with any number of recipients writes that one row.
//
// Blob layout (little-endian): a format byte (kRecipientsFormat), then per
// recipient in table order: its PR_ROWID (32 bits), the byte count of its
// directory (32 bits) and the directory in packed_props' form with every
// value inside it (a recipient's values are read together, never one by
// one, so none is worth keeping apart). An empty blob or a null column is
// a message without recipients.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include <mapidefs.h>

#include "runtime/memory_rows.h"
#include "store_core.h"

namespace mapi::embedded {

struct RecipientRow {
    ULONG rowId = 0;
    PropMap props;
};

inline constexpr unsigned char kRecipientsFormat = 1;

// The blob of rows, and in *bytes the sum of their values' sizes (what
// PR_MESSAGE_SIZE counts for them).
std::string PackRecipients(const std::vector<RecipientRow>& rows, uint64_t* bytes);

// MAPI_E_CORRUPT_DATA when the blob is not a well-formed table: a cut or
// unknown format, a directory that does not parse or names a value kept
// elsewhere, or two rows with one PR_ROWID. *out is then empty.
HRESULT UnpackRecipients(std::string_view blob, std::vector<RecipientRow>* out);

// Appends the decoded props plus extra computed values as one row of rows.
// A value that cannot be decoded fails the row: as an error value it would
// be left out of the table's columns (TBL_ALL_COLUMNS lists no error), and a
// copy of the recipients or attachments would go on without it.
HRESULT AddMemoryRow(MemoryRows& rows, const PropMap& props, const std::vector<SPropValue>& extra);

// The rows of a recipient table as GetRecipientTable and restrictions on
// PR_MESSAGE_RECIPIENTS show them: the stored values with PR_ROWID and a
// PR_INSTANCE_KEY made from it.
HRESULT RecipientTableRows(const std::vector<RecipientRow>& recipients,
                           std::shared_ptr<MemoryRows>* out);

}  // namespace mapi::embedded
