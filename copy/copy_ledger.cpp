// Counting and the summary line of a copy run.
#include "copy_ledger.h"

#include <utility>

namespace quirnel {

ItemCounts& ItemCounts::operator+=(const ItemCounts& other) {
    listed += other.listed;
    filtered += other.filtered;
    alreadyThere += other.alreadyThere;
    copied += other.copied;
    failed += other.failed;
    salvaged += other.salvaged;
    return *this;
}

void CopyLedger::AddFolder(FolderLedger folder) {
    items += folder.items;
    ++foldersCopied;
    folders.push_back(std::move(folder));
}

void CopyLedger::AddPartOfFolder(FolderLedger folder) {
    items += folder.items;
    ++foldersSkipped;
    folders.push_back(std::move(folder));
}

std::string CopyLedger::SummaryLine() const {
    auto n = [](uint64_t value) { return std::to_string(value); };
    return "Summary: listed " + n(items.listed) + ", filtered " + n(items.filtered) +
           ", already there " + n(items.alreadyThere) + ", copied " + n(items.copied) +
           ", failed " + n(items.failed) + "; folders copied " + n(foldersCopied) + ", skipped " +
           n(foldersSkipped);
}

std::string CopyLedger::DamageLine() const {
    return "Damage: salvaged " + std::to_string(items.salvaged) + ", structures lost " +
           std::to_string(structuresLost) + ", items known lost " + std::to_string(itemsKnownLost);
}

}  // namespace quirnel
