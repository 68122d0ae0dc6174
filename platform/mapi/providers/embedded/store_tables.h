// Row sources of the embedded store's tables: contents, hierarchy, and the
// rows of objects read straight from the database.
//
// Rows are read lazily: a row loads its object record and property
// directory on first use (contents rows read in order come in blocks of one
// statement each), decodes only the values asked for, and reads large values
// (bodies, attachment data) only when a column or restriction asks for them.
// A contents source answers a restriction with one scan of the folder. A
// source notices changes to the store (through its generation counter) and
// lists its rows again.
#pragma once

#include <memory>
#include <vector>

#include <mapidefs.h>

#include "runtime/row_access.h"
#include "store_core.h"

namespace mapi::embedded {

// A row for one object of the database. depth >= 0 adds PR_DEPTH.
std::unique_ptr<RowAccessor> NewObjectAccessor(std::shared_ptr<StoreCore> core, int64_t id,
                                               int depth = -1);

// The messages of a folder (assoc: the associated ones), in creation order.
// Fails when the database cannot list them.
HRESULT NewContentsSource(std::shared_ptr<StoreCore> core, int64_t folder, bool assoc,
                          std::shared_ptr<RowSource>* out);

// The subfolders of a folder; deep lists the whole subtree depth first with
// PR_DEPTH counting from 0 for the direct children.
HRESULT NewHierarchySource(std::shared_ptr<StoreCore> core, int64_t folder, bool deep,
                           std::shared_ptr<RowSource>* out);

// Default column sets.
const SPropTagArray* ContentsColumns();
const SPropTagArray* HierarchyColumns();
const SPropTagArray* RecipientColumns();
const SPropTagArray* AttachmentColumns();

}  // namespace mapi::embedded
