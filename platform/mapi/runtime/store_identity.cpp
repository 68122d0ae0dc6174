// File identities and derived routing MAPIUIDs for the session.
#include "store_identity.h"

#include <sys/stat.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>

#include "provider.h"

namespace mapi {
namespace {

// Two independent 64-bit FNV-1a style streams over the same bytes. Not a
// cryptographic hash: it only has to be fixed for all time (entry ids that
// users keep depend on it) and spread different inputs apart.
class Hash128 {
public:
    void Add(const void* data, size_t size) {
        const auto* bytes = static_cast<const unsigned char*>(data);
        for (size_t i = 0; i < size; ++i) {
            a_ = (a_ ^ bytes[i]) * 0x100000001B3ull;
            b_ = (b_ ^ bytes[i]) * 0x5851F42D4C957F2Dull + 0x14057B7EF767814Full;
        }
    }
    MAPIUID Value() const {
        MAPIUID uid{};
        for (int i = 0; i < 8; ++i) {
            uid.ab[i] = static_cast<BYTE>(a_ >> (8 * i));
            uid.ab[8 + i] = static_cast<BYTE>(b_ >> (8 * i));
        }
        return uid;
    }

private:
    uint64_t a_ = 0xCBF29CE484222325ull;
    uint64_t b_ = 0x84222325CBF29CE4ull;
};

}  // namespace

FileIdentity IdentifyFile(const std::string& path) {
    FileIdentity id;
    struct stat st {};
    if (path.empty() || ::stat(path.c_str(), &st) != 0) return id;
    id.known = true;
    id.device = st.st_dev;
    id.inode = st.st_ino;
    return id;
}

std::string CanonicalPath(const std::string& path) {
    std::unique_ptr<char, decltype(&std::free)> resolved(::realpath(path.c_str(), nullptr),
                                                         &std::free);
    return resolved ? std::string(resolved.get()) : path;
}

MAPIUID DeriveRoutingUid(const MAPIUID& own, const std::string& canonicalPath, unsigned attempt) {
    static const char kSalt[] = "quirnel store routing";
    for (;;) {
        Hash128 hash;
        hash.Add(kSalt, sizeof kSalt);
        hash.Add(own.ab, sizeof own.ab);
        hash.Add(canonicalPath.data(), canonicalPath.size());
        const BYTE n[4] = {static_cast<BYTE>(attempt), static_cast<BYTE>(attempt >> 8),
                           static_cast<BYTE>(attempt >> 16), static_cast<BYTE>(attempt >> 24)};
        hash.Add(n, sizeof n);
        MAPIUID uid = hash.Value();
        if (std::memcmp(uid.ab, own.ab, sizeof own.ab) != 0) return uid;
        ++attempt;
    }
}

// Beside the store identity because both must agree on when two entries are
// one store.
std::string StoreProvider::WriterLocation(const ProfileEntry& entry) const {
    std::error_code ec;
    const std::filesystem::path where = std::filesystem::absolute(CanonicalPath(entry.path), ec);
    return ec ? entry.path : where.lexically_normal().string();
}

}  // namespace mapi
