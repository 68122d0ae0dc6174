// Protected pages for passwords.
#include "providers/imap/imap_secret.h"

#include <sys/mman.h>
#include <sys/prctl.h>
#include <unistd.h>

#include <cstring>

namespace mapi::imap {

void WipeString(std::string* text) {
    if (text == nullptr) return;
    // The capacity, not the size: what an earlier, longer value left past
    // the end is a secret too.
    if (text->capacity() > 0) explicit_bzero(text->data(), text->capacity());
    text->clear();
}

bool Secret::Take(std::string* from) {
    Wipe();
    const size_t page = static_cast<size_t>(::sysconf(_SC_PAGESIZE));
    const size_t want = ((from->size() + 1 + page - 1) / page) * page;
    void* p = ::mmap(nullptr, want, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (p == MAP_FAILED) {
        WipeString(from);
        return false;
    }
    // Best effort: a locked page never reaches swap (RLIMIT_MEMLOCK may
    // refuse it); a page marked so is left out of every core dump.
    (void)::mlock(p, want);
    (void)::madvise(p, want, MADV_DONTDUMP);
    data_ = static_cast<char*>(p);
    mapped_ = want;
    size_ = from->size();
    std::memcpy(data_, from->data(), size_);
    data_[size_] = 0;
    WipeString(from);
    return true;
}

void Secret::Wipe() {
    if (data_ == nullptr) return;
    explicit_bzero(data_, mapped_);
    ::munlock(data_, mapped_);
    ::munmap(data_, mapped_);
    data_ = nullptr;
    size_ = 0;
    mapped_ = 0;
}

void MakeProcessUndumpable() {
    (void)::prctl(PR_SET_DUMPABLE, 0, 0, 0, 0);
}

}  // namespace mapi::imap
