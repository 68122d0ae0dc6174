#include "providers/pst/format/ndb_file_writer.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <vector>

#include "providers/pst/format/ndb_amap.h"
#include "providers/pst/format/ndb_block.h"
#include "providers/pst/format/ndb_ids.h"
#include "providers/pst/format/ndb_node_encoder.h"
#include "providers/pst/format/ndb_page.h"

namespace mapi::pst::fmt {
namespace {

// A block every node reference holds once; Outlook's files count one more
// than the references, and so do we.
constexpr uint16_t kRefsOfSingleUse = 2;

class Layout {
public:
    Layout(Header* header, Bytes* file)
        : header_(header), file_(file), sink_([this](const Bytes& data, bool internal, uint64_t* bid, std::string*) {
              return StoreBlock(data, internal, bid);
          }) {}

    bool StoreData(const Bytes& data, uint64_t* bid) { return EncodeNodeData(data, sink_, bid, &error_); }
    bool StoreSubnodes(const std::map<uint32_t, Node>& subnodes, uint64_t* bid) {
        return EncodeSubnodes(subnodes, sink_, bid, &error_);
    }

    void AddNode(const NbtEntry& e) { nodes_.push_back(e); }

    // Builds both B-trees, the maps and the header; the file is then whole.
    bool Finish() {
        Bref nbt, bbt;
        std::vector<BtPage> leaves;
        for (size_t at = 0; at < nodes_.size() || at == 0; at += BtPage::kMaxNbtLeaf) {
            BtPage p;
            p.type = kPageNBT;
            size_t n = std::min(BtPage::kMaxNbtLeaf, nodes_.size() - at);
            p.nodes.assign(nodes_.begin() + at, nodes_.begin() + at + n);
            leaves.push_back(std::move(p));
            if (nodes_.empty()) break;
        }
        // Blocks are all stored by now; their entries go in BID order.
        std::sort(blocks_.begin(), blocks_.end(),
                  [](const BbtEntry& a, const BbtEntry& b) { return a.bref.bid < b.bref.bid; });
        std::vector<BtPage> bleaves;
        for (size_t at = 0; at < blocks_.size() || at == 0; at += BtPage::kMaxBbtLeaf) {
            BtPage p;
            p.type = kPageBBT;
            size_t n = std::min(BtPage::kMaxBbtLeaf, blocks_.size() - at);
            p.blocks.assign(blocks_.begin() + at, blocks_.begin() + at + n);
            bleaves.push_back(std::move(p));
            if (blocks_.empty()) break;
        }
        if (!StoreTree(std::move(leaves), &nbt) || !StoreTree(std::move(bleaves), &bbt)) return false;
        return WriteMaps(nbt, bbt);
    }

    const std::string& error() const { return error_; }

private:
    bool Fail(const std::string& why) {
        error_ = why;
        return false;
    }

    uint64_t Place(uint64_t size, uint64_t align) {
        uint64_t ib = space_.Allocate(size, align);
        if (ib == UINT64_MAX) return ib;
        if (file_->size() < ib + size) file_->resize(ib + size, 0);
        return ib;
    }

    bool StoreBlock(const Bytes& data, bool internal, uint64_t* bid) {
        uint64_t id = header_->nextBlockBid | (internal ? kBidInternal : 0);
        header_->nextBlockBid += 4;
        uint64_t ib = Place(BlockSizeOnDisk(data.size()), kBlockAlign);
        if (ib == UINT64_MAX) return Fail("the file would outgrow the size this writer supports");
        Bytes block = EncodeBlock(data, id, ib, header_->cryptMethod);
        std::memcpy(file_->data() + ib, block.data(), block.size());
        blocks_.push_back({{id, ib}, static_cast<uint16_t>(data.size()), kRefsOfSingleUse});
        *bid = id;
        return true;
    }

    static uint64_t FirstKey(const BtPage& p) {
        if (p.level > 0) return p.children.empty() ? 0 : p.children.front().key;
        if (p.type == kPageBBT) return p.blocks.empty() ? 0 : p.blocks.front().bref.bid;
        return p.nodes.empty() ? 0 : p.nodes.front().nid;
    }

    // Writes one level of pages and the levels above it until one root.
    bool StoreTree(std::vector<BtPage> level, Bref* root) {
        for (;;) {
            std::vector<BtEntry> refs;
            for (const BtPage& p : level) {
                uint64_t ib = Place(kPageSize, kPageSize);
                if (ib == UINT64_MAX) return Fail("the file would outgrow the size this writer supports");
                uint64_t bid = header_->nextPageBid++;
                p.Write(file_->data() + ib, bid, ib);
                refs.push_back({FirstKey(p), {bid, ib}});
            }
            if (refs.size() == 1) {
                *root = refs.front().child;
                return true;
            }
            std::vector<BtPage> up;
            uint8_t height = static_cast<uint8_t>(level.front().level + 1);
            for (size_t at = 0; at < refs.size(); at += BtPage::kMaxIntermediate) {
                BtPage p;
                p.type = level.front().type;
                p.level = height;
                size_t n = std::min(BtPage::kMaxIntermediate, refs.size() - at);
                p.children.assign(refs.begin() + at, refs.begin() + at + n);
                up.push_back(std::move(p));
            }
            level = std::move(up);
        }
    }

    bool WriteMaps(const Bref& nbt, const Bref& bbt) {
        uint64_t end = space_.FileEnd();
        file_->resize(end, 0);
        for (const MapPage& map : space_.TakeChangedMaps()) {
            uint8_t* page = file_->data() + map.ib;
            std::memcpy(page, map.bits.data(), map.bits.size());
            // Map pages carry their own offset as their id.
            PageTrailer::Seal(page, map.type, map.ib, map.ib);
        }
        // An empty density list: readers that use it rebuild it.
        uint8_t* dlist = file_->data() + kDListOffset;
        std::memset(dlist, 0, kPageSize);
        PageTrailer::Seal(dlist, kPageDList, header_->nextPageBid++, kDListOffset);

        header_->root.fileEof = end;
        header_->root.amapLast = AMapOffset(space_.RangeCount() - 1);
        header_->root.amapFree = space_.FreeBytes();
        header_->root.pmapFree = 0;
        header_->root.nbt = nbt;
        header_->root.bbt = bbt;
        header_->root.amapValid = 0x02;
        header_->Write(file_->data());
        return true;
    }

    Header* header_;
    Bytes* file_;
    FileSpace space_;
    std::vector<NbtEntry> nodes_;
    std::vector<BbtEntry> blocks_;
    std::string error_;
    BlockSink sink_;
};

bool WriteAll(int fd, const Bytes& bytes) {
    size_t done = 0;
    while (done < bytes.size()) {
        ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

}  // namespace

bool LayOutFile(const NodeSet& nodes, Header* header, Bytes* file, std::string* error) {
    file->assign(kFirstAMapOffset + 2 * kPageSize, 0);
    Layout layout(header, file);
    for (const auto& [nid, top] : nodes) {
        NbtEntry e{nid, 0, 0, top.parent};
        if (!layout.StoreData(top.node.data, &e.bidData) || !layout.StoreSubnodes(top.node.subnodes, &e.bidSub)) {
            if (error != nullptr) *error = layout.error();
            return false;
        }
        layout.AddNode(e);
    }
    if (!layout.Finish()) {
        if (error != nullptr) *error = layout.error();
        return false;
    }
    return true;
}

bool WriteFile(const std::string& path, const NodeSet& nodes, Header header, std::string* error) {
    Bytes file;
    if (!LayOutFile(nodes, &header, &file, error)) return false;
    std::string temp = path + ".writing";
    // Mail is private: readable by its owner alone.
    int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0) {
        if (error != nullptr) *error = "cannot create " + temp + ": " + std::strerror(errno);
        return false;
    }
    bool ok = WriteAll(fd, file) && ::fsync(fd) == 0;
    int saved = errno;
    ::close(fd);
    if (!ok || ::rename(temp.c_str(), path.c_str()) != 0) {
        if (!ok) errno = saved;
        if (error != nullptr) *error = "cannot write " + path + ": " + std::strerror(errno);
        ::unlink(temp.c_str());
        return false;
    }
    // The rename itself is durable only once the directory is flushed.
    std::string dir = path.find('/') == std::string::npos ? "." : path.substr(0, path.rfind('/') + 1);
    int dfd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dfd >= 0) {
        ::fsync(dfd);
        ::close(dfd);
    }
    return true;
}

}  // namespace mapi::pst::fmt
