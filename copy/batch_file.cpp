// Reading batch files and adding up ledgers.
#include "batch_file.h"

#include <cstdio>
#include <sstream>

namespace quirnel {

namespace {

std::string Trim(const std::string& s) {
    const size_t b = s.find_first_not_of(" \t\r");
    if (b == std::string::npos) return {};
    const size_t e = s.find_last_not_of(" \t\r");
    return s.substr(b, e - b + 1);
}

// The next word of line from *pos: bare up to a blank, or double-quoted.
bool NextWord(const std::string& line, size_t* pos, std::string* word, std::string* error) {
    size_t i = line.find_first_not_of(" \r", *pos);
    word->clear();
    if (i == std::string::npos) return false;
    if (line[i] != '"') {
        const size_t end = line.find_first_of(" \r", i);
        *word = line.substr(i, end == std::string::npos ? std::string::npos : end - i);
        *pos = end == std::string::npos ? line.size() : end;
        return true;
    }
    for (++i; i < line.size(); ++i) {
        if (line[i] == '\\' && i + 1 < line.size() && (line[i + 1] == '"' || line[i + 1] == '\\')) {
            word->push_back(line[++i]);
        } else if (line[i] == '"') {
            *pos = i + 1;
            if (word->empty()) *error = "an empty store name";
            return !word->empty();
        } else {
            word->push_back(line[i]);
        }
    }
    *error = "a quote is not closed";
    return false;
}

long long Field(const std::string& line, const char* name) {
    const size_t at = line.find(name);
    if (at == std::string::npos) return 0;
    return std::atoll(line.c_str() + at + std::string(name).size());
}

}  // namespace

bool ParseBatchText(const std::string& text, std::vector<BatchLine>* lines, std::string* error) {
    lines->clear();
    std::istringstream in(text);
    std::string raw;
    int number = 0;
    while (std::getline(in, raw)) {
        ++number;
        const std::string line = Trim(raw);
        if (line.empty() || line[0] == '#') continue;
        BatchLine entry;
        entry.number = number;
        std::string why;
        if (const size_t tab = line.find('\t'); tab != std::string::npos) {
            entry.source = Trim(line.substr(0, tab));
            entry.target = Trim(line.substr(tab + 1));
            if (entry.target.find('\t') != std::string::npos) why = "more than two names";
        } else {
            size_t pos = 0;
            std::string extra;
            if (!NextWord(line, &pos, &entry.source, &why) ||
                !NextWord(line, &pos, &entry.target, &why)) {
                if (why.empty()) why = "a source and a target are needed";
            } else if (NextWord(line, &pos, &extra, &why) || !why.empty()) {
                if (why.empty()) why = "more than two names (quote names with blanks)";
            }
        }
        if (why.empty() && (entry.source.empty() || entry.target.empty()))
            why = "a source and a target are needed";
        if (!why.empty()) {
            *error = "line " + std::to_string(number) + ": " + why;
            return false;
        }
        lines->push_back(std::move(entry));
    }
    return true;
}

bool AddLedger(const std::string& output, LedgerTotal* total) {
    const size_t at = output.rfind("Summary: listed ");
    if (at == std::string::npos) return false;
    const std::string line = output.substr(at, output.find('\n', at) - at);
    total->listed += Field(line, "listed ");
    total->filtered += Field(line, "filtered ");
    total->alreadyThere += Field(line, "already there ");
    total->copied += Field(line, "copied ");
    total->failed += Field(line, "failed ");
    total->foldersCopied += Field(line, "folders copied ");
    total->foldersSkipped += Field(line, "skipped ");
    ++total->ledgers;
    return true;
}

std::string FormatLedger(const LedgerTotal& t) {
    char text[256];
    std::snprintf(text, sizeof text,
                  "listed %lld, filtered %lld, already there %lld, copied %lld, failed %lld; "
                  "folders copied %lld, skipped %lld",
                  t.listed, t.filtered, t.alreadyThere, t.copied, t.failed, t.foldersCopied,
                  t.foldersSkipped);
    return text;
}

}  // namespace quirnel
