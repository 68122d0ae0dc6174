// Line-wise comparison of two message dumps.
#include "item_compare.h"

#include <map>
#include <sstream>

#include <MapiWrapper.h>
#include <dump_message.h>
#include <payload.h>

namespace quirnel {

namespace {

// The dump lines of message (which leave provenance out); false (with why)
// when the message cannot be written out.
bool DumpLines(IMessage* message, std::vector<std::string>* lines, HRESULT* why) {
    mapi::tools::NamedPropertyNames names;
    std::string text;
    HRESULT hr = mapi::tools::AppendMessage(message, 0, names, &text);
    if (FAILED(hr)) {
        *why = hr;
        return false;
    }
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines->push_back(line);
    return true;
}

}  // namespace

std::vector<std::string> CompareMessages(IMessage* source, IMessage* copy, TargetKind kind) {
    std::vector<std::string> a, b;
    HRESULT why = S_OK;
    if (!DumpLines(source, &a, &why))
        return {std::string("source cannot be read: ") + GetErrorName(why)};
    if (!DumpLines(copy, &b, &why)) return {std::string("copy cannot be read: ") + GetErrorName(why)};
    const bool headers = HasTransportHeaders(a);
    a = KeptLines(kind, a, headers);
    b = KeptLines(kind, b, headers);
    if (a == b) return {};

    // Lines are counted rather than matched by position, so that one missing
    // line shows as one difference and not as a shift of all that follow.
    std::map<std::string, int> balance;
    for (const std::string& line : a) ++balance[line];
    for (const std::string& line : b) --balance[line];
    std::vector<std::string> differences;
    for (const std::string& line : a)
        if (balance[line] > 0) {
            --balance[line];
            differences.push_back("- " + line);
        }
    for (const std::string& line : b)
        if (balance[line] < 0) {
            ++balance[line];
            if (!AddedByTarget(kind, line)) differences.push_back("+ " + line);
        }
    // Equal lines in another order (a recipient or attachment moved), or
    // only what the target adds: a copy through MIME is rebuilt in the
    // order the conversion writes.
    if (differences.empty() && kind != TargetKind::Internet)
        differences.push_back("the same lines in another order");
    return differences;
}

}  // namespace quirnel
