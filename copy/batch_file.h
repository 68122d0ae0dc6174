// The batch file of quirnel-copy --batch: one copy per line, a source and a
// target store of the profile.
//
//   # comment
//   Personal Folders 2019<TAB>alice@mail
//   archive.pst  "Mailbox of Bob"
//
// With a tab on the line the two names are what lies on either side of it
// (surrounding blanks trimmed); otherwise they are two words separated by
// blanks, each either bare or in double quotes (\" and \\ inside quotes).
// Blank lines and lines starting with # are skipped.
#pragma once

#include <string>
#include <vector>

namespace quirnel {

struct BatchLine {
    int number = 0;  // line number in the file, from 1
    std::string source;
    std::string target;
};

// False with "line N: what is wrong" in *error for the first bad line.
bool ParseBatchText(const std::string& text, std::vector<BatchLine>* lines, std::string* error);

// Sums the ledgers of finished runs ("Summary: listed N, filtered N, ...").
struct LedgerTotal {
    long long listed = 0, filtered = 0, alreadyThere = 0, copied = 0, failed = 0;
    long long foldersCopied = 0, foldersSkipped = 0;
    int ledgers = 0;  // how many runs gave one
};

// Adds the last ledger line found in output; false when there is none.
bool AddLedger(const std::string& output, LedgerTotal* total);
std::string FormatLedger(const LedgerTotal& total);

}  // namespace quirnel
