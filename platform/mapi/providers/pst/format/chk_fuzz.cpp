// libFuzzer target for the checking reader: whatever the bytes, reading
// them ends in values or reasons, without a crash, a hang or a leak.
//
// The first byte chooses what the rest is: 0 a whole file (indexed, every
// node read, every message salvaged, the store rebuilt), 1 the data of one
// node read as a property context and a message, 2 as a table context.
//
// Seeds: run with QUIRNEL_PST_SEED_DIR=DIR and QUIRNEL_PST_SAMPLES=a.pst:b.pst
// and every sample (mode 0) and the data of each of its nodes (modes 1 and
// 2) are written to DIR first; the samples are not kept in the repository.
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>

#include "providers/pst/format/chk_ltp.h"
#include "providers/pst/format/chk_message.h"
#include "providers/pst/format/chk_ndb.h"
#include "providers/pst/format/chk_rescue.h"
#include "providers/pst/format/chk_tc.h"
#include "providers/pst/format/ltp_tc.h"

namespace fmt = mapi::pst::fmt;

namespace {

// Node data cut into pages as a Unicode file's blocks cut it.
fmt::CheckedNode NodeOf(const uint8_t* data, size_t size) {
    fmt::CheckedNode node;
    for (size_t at = 0; at < size; at += 8176) {
        size_t n = std::min<size_t>(8176, size - at);
        node.pages.emplace_back(data + at, data + at + n);
        node.pageErrors.emplace_back();
    }
    return node;
}

void WriteSeed(const std::string& path, uint8_t mode, const fmt::Bytes& bytes) {
    std::ofstream out(path, std::ios::binary);
    out.put(static_cast<char>(mode));
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

void MakeSeeds() {
    const char* dir = std::getenv("QUIRNEL_PST_SEED_DIR");
    const char* samples = std::getenv("QUIRNEL_PST_SAMPLES");
    if (dir == nullptr || samples == nullptr) return;
    std::stringstream list(samples);
    std::string path;
    int file = 0;
    while (std::getline(list, path, ':')) {
        std::ifstream in(path, std::ios::binary);
        fmt::Bytes image((std::istreambuf_iterator<char>(in)), {});
        std::string prefix = std::string(dir) + "/s" + std::to_string(file++);
        WriteSeed(prefix + "-file", 0, image);
        fmt::CheckedFile f;
        std::string error;
        if (!f.Open(image.data(), image.size(), &error)) continue;
        for (const auto& [nid, entry] : f.Nodes()) {
            fmt::CheckedNode node = f.ReadNode(entry);
            if (!node.DataWhole()) continue;
            fmt::Bytes data = node.Joined();
            WriteSeed(prefix + "-node" + std::to_string(nid), (nid & 0x1F) >= 0x0D && (nid & 0x1F) <= 0x12 ? 2 : 1,
                      data);
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    MakeSeeds();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    uint8_t mode = data[0] % 3;
    ++data;
    --size;
    std::string error;
    if (mode == 0) {
        fmt::CheckedFile file;
        if (!file.Open(data, size, &error)) return 0;
        for (const auto& [nid, entry] : file.Nodes()) {
            fmt::CheckedNode node = file.ReadNode(entry);
            fmt::SalvagedMessage m;
            fmt::SalvageMessage(node, &m, &error);
        }
        fmt::StoreModel model;
        fmt::RescueStats stats;
        fmt::RescueStore(file, fmt::StoreUid{}, &model, &stats, &error);
        return 0;
    }
    fmt::CheckedNode node = NodeOf(data, size);
    if (mode == 1) {
        std::vector<fmt::CheckedProp> props;
        std::vector<std::string> lost;
        fmt::ReadCheckedPc(node, &props, &lost, &error);
        fmt::SalvagedMessage m;
        bool salvaged = fmt::SalvageMessage(node, &m, &error);
        // The shortcut of the rescue may never keep whole what the salvage
        // finds damaged.
        if (fmt::MessageIsWhole(node) && !(salvaged && m.Whole())) __builtin_trap();
        return 0;
    }
    fmt::Node whole;
    std::vector<uint32_t> columns, ids;
    std::vector<fmt::TableRow> rows;
    if (!fmt::WholeNode(node, &whole, &error)) return 0;
    bool read = fmt::ReadTableContext(whole, &columns, &rows, &error);
    // The table check stands for the strict reader: the same answer, the same rows.
    if (fmt::CheckTableContext(whole, &ids, &error) != read || (read && ids.size() != rows.size())) __builtin_trap();
    for (size_t i = 0; read && i < ids.size(); ++i)
        if (ids[i] != rows[i].rowId) __builtin_trap();
    return 0;
}
