// The one way this provider includes libpff, with owning handles for its
// objects.
//
// Debian's libpff headers announce the optional libbfio interface, whose
// headers are not packaged; this provider opens files by name only, so that
// interface is switched off before libpff.h is read.
#pragma once

#include <libpff/features.h>
#undef LIBPFF_HAVE_BFIO
#include <libpff.h>

#include <memory>
#include <string>

namespace mapi::pst {

struct FileCloser {
    void operator()(libpff_file_t* file) const {
        libpff_file_close(file, nullptr);
        libpff_file_free(&file, nullptr);
    }
};
struct ItemFree {
    void operator()(libpff_item_t* item) const { libpff_item_free(&item, nullptr); }
};
struct RecordSetFree {
    void operator()(libpff_record_set_t* set) const { libpff_record_set_free(&set, nullptr); }
};
struct RecordEntryFree {
    void operator()(libpff_record_entry_t* entry) const {
        libpff_record_entry_free(&entry, nullptr);
    }
};
struct MultiValueFree {
    void operator()(libpff_multi_value_t* value) const { libpff_multi_value_free(&value, nullptr); }
};

using FileHandle = std::unique_ptr<libpff_file_t, FileCloser>;
using ItemHandle = std::unique_ptr<libpff_item_t, ItemFree>;
using RecordSetHandle = std::unique_ptr<libpff_record_set_t, RecordSetFree>;
using RecordEntryHandle = std::unique_ptr<libpff_record_entry_t, RecordEntryFree>;
using MultiValueHandle = std::unique_ptr<libpff_multi_value_t, MultiValueFree>;
// An item shared by the objects and table rows that read it (one recipient
// table item serves every recipient row).
using SharedItem = std::shared_ptr<libpff_item_t>;
inline SharedItem ShareItem(libpff_item_t* item) {
    return item == nullptr ? SharedItem() : SharedItem(item, ItemFree());
}

// Collects a libpff error: pass Ptr() as the error argument; the text, if
// any, is read with Text() and the error freed with the object.
class PffError {
public:
    PffError() = default;
    PffError(const PffError&) = delete;
    PffError& operator=(const PffError&) = delete;
    ~PffError() {
        if (error_ != nullptr) libpff_error_free(&error_);
    }
    libpff_error_t** Ptr() { return &error_; }
    std::string Text() const;

private:
    libpff_error_t* error_ = nullptr;
};

}  // namespace mapi::pst
