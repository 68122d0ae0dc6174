// The sample-store generator behind `mapiprofile sample`.
//
// Fills a store that has the IPM skeleton (IPM subtree and special folders)
// with a realistic mailbox, using nothing but the published MAPI interfaces,
// so it works on any writable provider. The same options give the same
// store: the same folders, items and property values in the same order.
#pragma once

#include <cstdint>
#include <string>

#include <mapidefs.h>

#include "sample_items.h"

namespace mapi::tools {

struct SampleOptions {
    uint32_t items = 1000;  // mails, contacts and appointments together
    uint32_t seed = 1;
};

// Of options.items, about one in 25 is a contact and one in 20 an
// appointment; the rest are mails spread over the mail folders by weight.
// A few associated items come on top. Fails with the first MAPI code that
// stops it; *error then says which step.
HRESULT FillSampleStore(IMsgStore* store, const SampleOptions& options, SampleSummary* summary,
                        std::string* error);

}  // namespace mapi::tools
