// A password held for the life of a connection, out of harm's way: in
// pages of its own that are kept out of core dumps and swap, and wiped
// before they are given back. The process that takes one in also makes
// itself non-dumpable, so that neither a crash nor another program of
// the same user (a debugger, /proc/PID/mem) can read it.
#pragma once

#include <cstddef>
#include <string>

namespace mapi::imap {

class Secret {
public:
    Secret() = default;
    ~Secret() { Wipe(); }
    Secret(const Secret&) = delete;
    Secret& operator=(const Secret&) = delete;

    // Takes the text of *from and wipes *from (all of its buffer, not only
    // its length). False when no protected page could be had; *from is
    // wiped all the same.
    bool Take(std::string* from);
    // Wipes and gives back the pages; empty afterwards.
    void Wipe();

    bool empty() const { return size_ == 0; }
    size_t size() const { return size_; }
    // NUL-terminated; "" when empty.
    const char* c_str() const { return data_ != nullptr ? data_ : ""; }

private:
    char* data_ = nullptr;
    size_t size_ = 0;
    size_t mapped_ = 0;
};

// Wipes a string's whole buffer, then empties it.
void WipeString(std::string* text);

// PR_SET_DUMPABLE 0 for this process, once: no core file and no reading by
// other processes of this user from here on.
void MakeProcessUndumpable();

}  // namespace mapi::imap
