// One message of a dump: its properties, recipients and attachments as
// indented text, embedded messages nested.
//
// Property lines are `0xTAG=PAYLOAD` in ascending tag order. Named
// properties (id 0x8000 and up) have ids of the store they live in, so they
// are printed by name, after the numbered ones and sorted by text:
//   {GUID}:"Name":0xTYPE=PAYLOAD     a property named by a string
//   {GUID}:0xLLLLLLLL:0xTYPE=PAYLOAD a property named by a number (LID)
// A named id the store cannot name keeps its numbered form. Store-internal
// properties and object-valued ones (sub-objects) are left out.
#pragma once

#include <map>
#include <string>
#include <vector>

#include <mapidefs.h>

namespace mapi::tools {

// Printed keys of named properties, cached per store (ids are per store).
class NamedPropertyNames {
public:
    // The key for each named id among tags that object can name; ids it
    // cannot name stay absent.
    void Resolve(IMAPIProp* object, const std::vector<ULONG>& tags);
    // The key of a resolved id, or null.
    const std::string* Find(ULONG tag) const;

private:
    std::map<ULONG, std::string> keys_;  // by property id
    std::map<ULONG, bool> asked_;
};

// Appends the text of message at indent spaces (property lines), then its
// `recipient` and `attachment` blocks at the same indent with their
// properties two spaces deeper, and an embedded message as a `message`
// block inside its attachment.
HRESULT AppendMessage(IMessage* message, int indent, NamedPropertyNames& names, std::string* out);

}  // namespace mapi::tools
