// libFuzzer target for the mbox scanner: any bytes must split the same
// way whatever pieces the file is read in, into messages that begin at
// "From " lines and cover the file; and two messages quoted into a file
// must come out as exactly those two messages again.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "providers/mailfiles/mbox_scan.h"

namespace {

using mapi::mailfiles::MboxQuote;
using mapi::mailfiles::MboxScanner;
using mapi::mailfiles::MboxUnquote;

void Check(bool ok) {
    if (!ok) std::abort();
}

MboxScanner::Layout ScanInPieces(const std::string& bytes, size_t piece) {
    MboxScanner scanner;
    for (size_t at = 0; at < bytes.size(); at += piece)
        scanner.Feed(bytes.data() + at, std::min(piece, bytes.size() - at));
    return scanner.Finish();
}

void CheckLayout(const std::string& bytes, const MboxScanner::Layout& layout) {
    Check(layout.size == bytes.size());
    Check(layout.starts.size() == layout.ends.size());
    for (size_t i = 0; i < layout.starts.size(); ++i) {
        const uint64_t s = layout.starts[i];
        Check(s < layout.ends[i] && layout.ends[i] <= bytes.size());
        Check(i + 1 == layout.starts.size() ? layout.ends[i] == bytes.size()
                                            : layout.ends[i] == layout.starts[i + 1]);
        if (i == 0 && layout.garbage) {
            Check(s == 0);
            continue;
        }
        Check(s == 0 || bytes[s - 1] == '\n');
        Check(bytes.compare(s, 5, "From ") == 0);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    // The first byte chooses the piece size and where the input splits
    // into two messages; the rest is the file.
    const size_t piece = 1 + data[0] % 64;
    const std::string bytes(reinterpret_cast<const char*>(data) + 1, size - 1);

    const MboxScanner::Layout whole = ScanInPieces(bytes, bytes.size() + 1);
    CheckLayout(bytes, whole);
    const MboxScanner::Layout pieces = ScanInPieces(bytes, piece);
    Check(pieces.garbage == whole.garbage && pieces.starts == whole.starts &&
          pieces.ends == whole.ends);

    const size_t cut = bytes.empty() ? 0 : data[0] % (bytes.size() + 1);
    const std::string first = bytes.substr(0, cut), second = bytes.substr(cut);
    const std::string file = "From a@b Thu Jan  1 00:00:00 1970\n" + MboxQuote(first) +
                             "From c@d Thu Jan  1 00:00:00 1970\n" + MboxQuote(second);
    const MboxScanner::Layout two = ScanInPieces(file, piece);
    CheckLayout(file, two);
    Check(!two.garbage && two.starts.size() == 2);
    auto expected = [](std::string m) {
        if (m.empty() || m.back() != '\n') m.push_back('\n');
        return m;
    };
    Check(MboxUnquote(file, two.starts[0], two.ends[0]) == expected(first));
    Check(MboxUnquote(file, two.starts[1], two.ends[1]) == expected(second));
    return 0;
}
