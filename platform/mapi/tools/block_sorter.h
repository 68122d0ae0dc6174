// Sorting the item texts of a dump in bounded memory.
//
// A folder may hold more items than fit in memory as text (a 100,000-item
// folder is about a quarter of a gigabyte of dump), yet a dump lists them
// sorted so that the order in which a store returns them does not matter.
// BlockSorter keeps blocks in memory up to a budget; beyond it, each full
// batch is sorted and appended to an unlinked temporary file as one run, and
// WriteSorted merges the runs. The output is the same as sorting all blocks
// at once with std::string's ordering.
//
// Not thread safe; one sorter per folder.
#pragma once

#include <cstddef>
#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

namespace mapi::tools {

class BlockSorter {
public:
    // budget: bytes of block text kept in memory before a run is written.
    explicit BlockSorter(size_t budget = kDefaultBudget);
    ~BlockSorter();
    BlockSorter(const BlockSorter&) = delete;
    BlockSorter& operator=(const BlockSorter&) = delete;

    // False when a run cannot be written (no temporary folder, disk full);
    // *error then says why and the sorter is unusable.
    bool Add(std::string block, std::string* error);
    // Writes every block added, sorted, and leaves the sorter empty.
    bool WriteSorted(std::ostream& out, std::string* error);

    // Runs written to the temporary file so far (for tests).
    size_t Runs() const { return runs_.size(); }

    static constexpr size_t kDefaultBudget = 4u << 20;
    // Runs merged at once. A 100,000-item folder spills some sixty runs;
    // merging them all at once would hold a read buffer for each, so memory
    // would grow with the folder. Beyond this many, runs are first merged
    // into longer ones on disk.
    static constexpr size_t kMaxFanIn = 16;

private:
    struct Run {
        uint64_t offset;
        uint64_t bytes;
    };
    bool Spill(std::string* error);
    // Merges runs_[first, first + count) in order, handing each block to
    // emit; false when a run cannot be read back or emit fails.
    template <typename Emit>
    bool Merge(size_t first, size_t count, Emit&& emit);
    bool MergeIntoRun(size_t count, std::string* error);

    size_t budget_;
    size_t held_ = 0;
    std::vector<std::string> blocks_;
    std::vector<Run> runs_;
    int fd_ = -1;  // the temporary file, once a run was written
    uint64_t end_ = 0;
};

}  // namespace mapi::tools
