// What a copy into a store of each kind is meant to keep, for --verify.
//
// A copy into an embedded store keeps every property. A personal folder
// file recomputes each attachment's size as it stores it, marks an
// attachment without a rendering position as not rendered and numbers the
// rows of each recipient table. A mail file
// store or an IMAP account keeps a message as an Internet message: only
// what MIME carries comes back (the list below follows the conversion in
// platform/mapi/mime), and what the conversion adds on the way (transport
// headers, a Message-ID, the sender taken from From) is the target's own.
// The lists live here, in one place, so the verification and a reader of
// a difference agree on what a copy owes its source.
#pragma once

#include <string>
#include <vector>

#include <mapidefs.h>

namespace quirnel {

enum class TargetKind {
    Complete,         // every property kept (embedded and unknown stores)
    PersonalFolders,  // .pst writer
    Internet,         // Maildir, mbox, .eml, IMAP: through MIME
};

// The kind of store by its provider (PR_MDB_PROVIDER); Complete when the
// store does not say or the provider is not known.
TargetKind TargetKindOf(IMsgStore* store);

// Words for the report: "every property", "what MIME carries", ...
const char* ScopeText(TargetKind kind);

// The lines of a message's dump (as mapi::tools::AppendMessage writes them
// at indent 0) reduced to what a copy into kind keeps, values brought to
// the form the target gives them (8-bit and Unicode text alike, a body's
// last line break the format's). sourceHeaders: the source message has
// transport headers, which win over its recipient table on the way back
// (a recipient's display name is then not compared).
std::vector<std::string> KeptLines(TargetKind kind, const std::vector<std::string>& lines,
                                   bool sourceHeaders);
// Whether the dump lines of a message hold its own transport headers.
bool HasTransportHeaders(const std::vector<std::string>& lines);

// For the Internet kind, true when a line only the copy has is one the
// conversion adds: a property line (a value of the source that the copy
// lost or changed shows as a line only the source has), not a recipient or
// attachment more.
bool AddedByTarget(TargetKind kind, const std::string& copyLine);

}  // namespace quirnel
