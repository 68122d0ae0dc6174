// Helpers shared by the tests of the personal folder file provider: opening
// the samples, walking a store's folder tree through MAPI, and reading the
// tree pffexport writes for the same file.
#pragma once

#include <map>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <mapix.h>

#include "providers/pst/format/chk_bytes.h"
#include "runtime/mapi_ptr.h"

namespace mapi::pst::testing {

std::string SamplePath(const std::string& name);
// The four sample files.
std::vector<std::string> SampleNames();

// Opens path through the provider; on failure returns null and the code and
// message in *hr / *error.
ComRef<IMsgStore> OpenStoreFile(const std::string& path, HRESULT* hr = nullptr,
                                std::string* error = nullptr);

struct FolderSummary {
    std::string path;  // "/"-joined display names below the root folder
    ULONG items = 0;
    ULONG associated = 0;
    LONG folderType = -1;
    std::vector<BYTE> entryId;
};

// Every folder below root, depth first in hierarchy order. Folders or
// tables that cannot be read are listed with their error in *failures.
std::vector<FolderSummary> WalkFolders(IMAPIFolder* root, std::vector<std::string>* failures);

// Runs pffexport (items mode) on path into a fresh directory below dir and
// returns folder path -> number of item directories; false when pffexport
// could not be run.
bool PffexportCounts(const std::string& path, const std::string& dir,
                     std::map<std::string, ULONG>* counts, std::string* exportRoot);

// Every message of the store (normal and associated contents of every
// folder), keyed by its entry id in hex, with a digest of everything a copy
// reads of it: all properties, recipients, attachments and embedded
// messages; "fail" for a message that cannot be opened or read.
std::map<std::string, std::string> FingerprintStore(IMsgStore* store);

// A fresh directory for one test, removed by the caller if it likes.
std::string MakeTempDir();

// Reads a whole binary value through GetProps (empty on failure).
std::vector<BYTE> BinaryProp(IMAPIProp* object, ULONG tag);
// A long property's value; kNoLong when the object has none.
constexpr LONG kNoLong = -12345;
LONG LongProp(IMAPIProp* object, ULONG tag);
// Opens an entry of store by its id as interface I (null, with a test
// failure, when it cannot be opened).
template <class I>
ComRef<I> OpenById(IMsgStore* store, const std::vector<BYTE>& id) {
    ComRef<IUnknown> object;
    ULONG type = 0;
    HRESULT hr = store->OpenEntry(static_cast<ULONG>(id.size()), reinterpret_cast<LPENTRYID>(const_cast<BYTE*>(id.data())),
                                  nullptr, MAPI_BEST_ACCESS, &type, object.Out());
    EXPECT_EQ(hr, S_OK);
    return ComRef<I>(reinterpret_cast<I*>(object.Detach()));
}
std::string StringProp(IMAPIProp* object, ULONG tag);

// The bytes of an image whose reads fail over [from, to), as a failing
// disk's sectors do. The image must outlive the source.
class BadSectors final : public fmt::ByteSource {
public:
    BadSectors(const std::vector<uint8_t>& bytes, uint64_t from, uint64_t to) : bytes_(bytes), from_(from), to_(to) {}
    uint64_t Size() const override { return bytes_.size(); }
    bool Read(uint64_t at, size_t n, uint8_t* out, std::string* why) const override;

private:
    const std::vector<uint8_t>& bytes_;
    uint64_t from_, to_;
};

}  // namespace mapi::pst::testing
