// Reads a whole Unicode personal folder file back into nodes, checking
// every structure on the way: header CRCs, page trailers, B-tree levels
// and key order, block trailers, data and subnode trees. It is the strict
// counterpart of ndb_file_writer and the base of a checking reader.
//
// Unencoded files and those with the compressible (permutation) encoding
// are read; the cyclic encoding is refused: the writer lays it out only
// for tests of the checking reader and never changes such a file in place.
#pragma once

#include <string>

#include "providers/pst/format/ndb_header.h"
#include "providers/pst/format/ndb_node.h"

namespace mapi::pst::fmt {

bool ReadFileImage(const Bytes& file, Header* header, NodeSet* nodes, std::string* error);

}  // namespace mapi::pst::fmt
