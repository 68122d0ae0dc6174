#include "providers/pst/pst_writer.h"

#include <random>

#include "providers/pst/format/ndb_file_writer.h"

namespace mapi::pst {

fmt::StoreUid NewStoreUid() {
    std::random_device device;
    fmt::StoreUid uid{};
    for (size_t i = 0; i < uid.size(); i += 4) {
        uint32_t r = device();
        for (size_t k = 0; k < 4; ++k) uid[i + k] = static_cast<uint8_t>(r >> (8 * k));
    }
    return uid;
}

bool WriteStoreFile(const std::string& path, const fmt::StoreModel& model, std::string* error) {
    fmt::Header header;
    fmt::NodeSet nodes = model.Build(&header);
    return fmt::WriteFile(path, nodes, header, error);
}

bool CreateEmptyStoreFile(const std::string& path, const std::string& displayName, std::string* error) {
    return WriteStoreFile(path, fmt::StoreModel::NewStore(NewStoreUid(), displayName), error);
}

}  // namespace mapi::pst
