// The store providers built into the platform. Each provider's folder
// implements its factory; the registry (builtin.cpp) lists them.
#pragma once

#include "runtime/provider.h"

namespace mapi {

// The embedded SQLite store provider, the default for new stores.
StoreProvider* EmbeddedStoreProvider();
// The read-only personal folder file (.pst/.ost) provider over libpff.
StoreProvider* PstStoreProvider();
// The read-only personal folder file provider over our own checking reader,
// the default for .pst/.ost files.
StoreProvider* PstCheckedStoreProvider();
// New personal folder files, written by our own writer and opened read/write.
StoreProvider* PstWriterStoreProvider();
// Mail in open formats, read/write: Maildir++, mbox and .eml folder trees.
StoreProvider* MaildirStoreProvider();
StoreProvider* MboxStoreProvider();
StoreProvider* EmlStoreProvider();
// IMAP accounts (imap:// and imaps:// addresses), read/write.
StoreProvider* ImapStoreProvider();

}  // namespace mapi
