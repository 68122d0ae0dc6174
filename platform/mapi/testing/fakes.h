// The test doubles of the MAPI interfaces, one model for every test:
//   fake_object.h       counting, Make<T>(), faults (Fail)
//   fake_unsupported.h  MAPI_E_NO_SUPPORT for everything not modelled
//   fake_values.h       value builders, name map, entry registry
//   fake_prop.h         the property side and streams
//   fake_table.h        tables over the platform's own table
//   fake_message.h      messages, recipients, attachments
//   fake_folder.h       folders
//   fake_store.h        stores and sessions
//   fake_raised.h       what a wrapper call threw (access layer tests)
#pragma once

#include "fake_store.h"
