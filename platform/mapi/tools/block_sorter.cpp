// Runs of sorted blocks in an unlinked temporary file, merged on output.
// A run is a sequence of records: the block's length as 8 bytes little
// endian, then its bytes.
#include "block_sorter.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <queue>

namespace mapi::tools {
namespace {

constexpr size_t kReadBuffer = 64 * 1024;

std::string SystemError(const std::string& what) {
    return what + ": " + std::strerror(errno);
}

bool WriteAt(int fd, uint64_t offset, const char* data, size_t size) {
    while (size > 0) {
        ssize_t n = ::pwrite(fd, data, size, static_cast<off_t>(offset));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        data += n;
        size -= static_cast<size_t>(n);
        offset += static_cast<uint64_t>(n);
    }
    return true;
}

void AppendRecord(std::string* chunk, const std::string& block) {
    char size[8];
    uint64_t length = block.size();
    for (char& b : size) {
        b = static_cast<char>(length & 0xFF);
        length >>= 8;
    }
    chunk->append(size, sizeof size);
    *chunk += block;
}

// The blocks of one run in order, read through a buffer of its own so that
// memory stays at one buffer per run however long the runs are.
class RunReader {
public:
    RunReader(int fd, uint64_t offset, uint64_t bytes)
        : fd_(fd), pos_(offset), end_(offset + bytes), buffer_(kReadBuffer) {}

    // False at the end of the run or on a read failure (*failed then true).
    bool Next(std::string* block, bool* failed) {
        unsigned char size[8];
        if (pos_ == end_ && at_ == have_) return false;
        if (!Read(reinterpret_cast<char*>(size), sizeof size)) return Fail(failed);
        uint64_t length = 0;
        for (int i = 7; i >= 0; --i) length = (length << 8) | size[i];
        block->resize(static_cast<size_t>(length));
        if (!Read(block->data(), block->size())) return Fail(failed);
        return true;
    }

private:
    static bool Fail(bool* failed) {
        *failed = true;
        return false;
    }
    bool Read(char* out, size_t size) {
        while (size > 0) {
            if (at_ == have_) {
                const size_t want =
                    static_cast<size_t>(std::min<uint64_t>(kReadBuffer, end_ - pos_));
                if (want == 0) return false;
                ssize_t n = ::pread(fd_, buffer_.data(), want, static_cast<off_t>(pos_));
                if (n < 0 && errno == EINTR) continue;
                if (n <= 0) return false;
                pos_ += static_cast<uint64_t>(n);
                at_ = 0;
                have_ = static_cast<size_t>(n);
            }
            const size_t take = std::min(size, have_ - at_);
            std::memcpy(out, buffer_.data() + at_, take);
            at_ += take;
            out += take;
            size -= take;
        }
        return true;
    }

    int fd_;
    uint64_t pos_;
    uint64_t end_;
    std::vector<char> buffer_;
    size_t at_ = 0;
    size_t have_ = 0;
};

}  // namespace

BlockSorter::BlockSorter(size_t budget) : budget_(budget) {}

BlockSorter::~BlockSorter() {
    if (fd_ >= 0) ::close(fd_);
}

bool BlockSorter::Add(std::string block, std::string* error) {
    held_ += block.size();
    blocks_.push_back(std::move(block));
    return held_ < budget_ || Spill(error);
}

bool BlockSorter::Spill(std::string* error) {
    if (blocks_.empty()) return true;
    if (fd_ < 0) {
        const char* folder = std::getenv("TMPDIR");
        std::string name = std::string(folder != nullptr && *folder != 0 ? folder : "/tmp") +
                           "/quirnel-dump-XXXXXX";
        fd_ = ::mkstemp(name.data());
        if (fd_ < 0) {
            *error = SystemError("cannot make a temporary file in which to sort the items (" +
                                 name + ")");
            return false;
        }
        // Gone from the folder at once: nothing is left behind on any exit.
        ::unlink(name.c_str());
    }
    std::sort(blocks_.begin(), blocks_.end());
    const uint64_t start = end_;
    std::string chunk;
    auto flush = [&] {
        if (!WriteAt(fd_, end_, chunk.data(), chunk.size())) return false;
        end_ += chunk.size();
        chunk.clear();
        return true;
    };
    for (std::string& block : blocks_) {
        AppendRecord(&chunk, block);
        std::string().swap(block);
        if (chunk.size() >= kReadBuffer && !flush()) {
            *error = SystemError("cannot write the temporary file in which the items are sorted");
            return false;
        }
    }
    if (!flush()) {
        *error = SystemError("cannot write the temporary file in which the items are sorted");
        return false;
    }
    runs_.push_back({start, end_ - start});
    blocks_.clear();
    held_ = 0;
    return true;
}

bool BlockSorter::WriteSorted(std::ostream& out, std::string* error) {
    if (runs_.empty()) {
        std::sort(blocks_.begin(), blocks_.end());
        for (const std::string& b : blocks_)
            out.write(b.data(), static_cast<std::streamsize>(b.size()));
        blocks_.clear();
        held_ = 0;
        return true;
    }
    if (!Spill(error)) return false;
    bool merged = true;
    while (merged && runs_.size() > kMaxFanIn) merged = MergeIntoRun(kMaxFanIn, error);
    if (merged) {
        merged = Merge(0, runs_.size(), [&](const std::string& block) {
            out.write(block.data(), static_cast<std::streamsize>(block.size()));
            return true;
        });
        if (!merged)
            *error = SystemError("cannot read back the temporary file in which the items are sorted");
    }
    runs_.clear();
    end_ = 0;
    if (::ftruncate(fd_, 0) != 0 && merged) {
        *error = SystemError("cannot empty the temporary file in which the items are sorted");
        return false;
    }
    return merged;
}

template <typename Emit>
bool BlockSorter::Merge(size_t first, size_t count, Emit&& emit) {
    std::vector<RunReader> readers;
    std::vector<std::string> heads(count);
    readers.reserve(count);
    for (size_t i = 0; i < count; ++i)
        readers.emplace_back(fd_, runs_[first + i].offset, runs_[first + i].bytes);
    auto later = [&](size_t a, size_t b) { return heads[b] < heads[a]; };
    std::priority_queue<size_t, std::vector<size_t>, decltype(later)> next(later);
    bool failed = false;
    for (size_t i = 0; i < readers.size(); ++i)
        if (readers[i].Next(&heads[i], &failed)) next.push(i);
    while (!next.empty() && !failed) {
        const size_t i = next.top();
        next.pop();
        if (!emit(heads[i])) return false;
        if (readers[i].Next(&heads[i], &failed)) next.push(i);
    }
    return !failed;
}

bool BlockSorter::MergeIntoRun(size_t count, std::string* error) {
    const uint64_t start = end_;
    std::string chunk;
    bool written = true;
    auto flush = [&] {
        written = WriteAt(fd_, end_, chunk.data(), chunk.size());
        end_ += chunk.size();
        chunk.clear();
        return written;
    };
    const bool merged = Merge(0, count, [&](const std::string& block) {
        AppendRecord(&chunk, block);
        return chunk.size() < kReadBuffer || flush();
    });
    if (!merged || !flush()) {
        *error = written ? SystemError("cannot read back the temporary file in which the items are sorted")
                         : SystemError("cannot write the temporary file in which the items are sorted");
        return false;
    }
    runs_.erase(runs_.begin(), runs_.begin() + static_cast<std::ptrdiff_t>(count));
    runs_.push_back({start, end_ - start});
    return true;
}

}  // namespace mapi::tools
