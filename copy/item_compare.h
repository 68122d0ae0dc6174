// The comparison of a copied message with its source, property by property,
// recipients and attachments (embedded messages nested) included.
//
// Both are written as the store dump writes a message (store-internal
// properties left out, named properties by name, so ids of two stores
// compare), and the texts are compared line by line. The provenance the
// copy carries is left out: the source cannot have it. What the target's
// kind does not keep or sets itself is left out too (verify_scope.h).
#pragma once

#include <string>
#include <vector>

#include <mapidefs.h>

#include "verify_scope.h"

namespace quirnel {

// One line each for what only the source has ("- LINE") and what only the
// copy has ("+ LINE"), in the order of the source's text then the copy's;
// empty when the two are alike. A message that cannot be read gives one
// line naming the side and the error.
std::vector<std::string> CompareMessages(IMessage* source, IMessage* copy,
                                         TargetKind kind = TargetKind::Complete);

}  // namespace quirnel
