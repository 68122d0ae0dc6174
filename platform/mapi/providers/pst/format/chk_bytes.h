// Where the checking reader's bytes come from: an image in memory (tests,
// fuzzing) or a file read with pread. A file is never mapped: on failing
// media, or a file another program cuts short while it is read, touching a
// mapped page ends the process, while a read that fails is one more
// unreadable page or block, reported and worked around like any damage.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace mapi::pst::fmt {

class ByteSource {
public:
    virtual ~ByteSource() = default;
    // The size when the source was opened; a file may shrink since.
    virtual uint64_t Size() const = 0;
    // Exactly n bytes at offset at; false with the reason (an I/O error, or
    // the end of the file before n bytes) otherwise. Safe from any thread.
    virtual bool Read(uint64_t at, size_t n, uint8_t* out, std::string* why) const = 0;

    // Reads what it can: a 512-byte unit that cannot be read comes back as
    // zeros, which no check of the reader accepts. Returns the number of
    // units that could not be read, and the offset of the first in
    // *firstBad when given. For the scans over the whole file.
    size_t ReadLenient(uint64_t at, size_t n, uint8_t* out, uint64_t* firstBad = nullptr) const;
};

// Borrows the bytes, which must outlive the source.
std::unique_ptr<ByteSource> MemoryBytes(const uint8_t* data, size_t size);
// Opens path read-only; null with the reason in *error.
std::unique_ptr<ByteSource> FileBytes(const std::string& path, std::string* error);

}  // namespace mapi::pst::fmt
