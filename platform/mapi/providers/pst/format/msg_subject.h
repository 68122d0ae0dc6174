// A message's subject as a personal folder file keeps it ([MS-PST]
// 2.5.3.1.1.1): when the subject has a prefix ("RE: "), PidTagSubject
// starts with the character 0x01 and a character whose value is the
// prefix's length plus one, followed by the whole subject. MAPI hands out
// the subject without those two characters and derives PidTagSubjectPrefix
// and PidTagNormalizedSubject from them.
//
// Both directions work on values as the LTP layer stores them: UTF-16LE
// for PtypString, the file's code page bytes for PtypString8 (whose prefix
// length then counts bytes).
#pragma once

#include <cstddef>
#include <string_view>
#include <vector>

#include "providers/pst/format/ltp_value.h"

namespace mapi::pst::fmt {

// Where the subject text and its prefix lie in a subject as stored, in
// characters of its own width. marked is false for a subject stored
// without the two leading characters; its prefix is then unknown.
struct StoredSubject {
    bool marked = false;
    size_t textStart = 0;  // 2 when marked
    size_t prefixLength = 0;
};

// Reads the marker from the first characters of a stored subject of
// `length` characters (c0 and c1 are 0 when it is shorter). A prefix
// length beyond the text is cut to the text.
StoredSubject ParseStoredSubject(unsigned c0, unsigned c1, size_t length);

// Turns a message's properties as stored into what MAPI serves: the
// subject without its marker and, when it had one, the prefix and the
// normalized subject the file does not store itself. Nothing changes for
// a subject without marker.
void SubjectFromFile(std::vector<PropValue>* props);

// The reverse, for a message about to be written: a subject whose prefix
// is known (PidTagSubjectPrefix, or PidTagNormalizedSubject as its tail)
// gets the marker. A subject that already starts with 0x01 is taken as
// stored already (a copy of a file read before subjects were served
// without marker) and left as it is.
void SubjectToFile(std::vector<PropValue>* props);

}  // namespace mapi::pst::fmt
