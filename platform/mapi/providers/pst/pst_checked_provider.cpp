// The store provider for personal folder files read by our own checking
// reader ("pst-checked"), read-only. It is the default for .pst and .ost
// files: unlike libpff (the "pst" provider, still selectable by name) it
// checks every CRC and structure and never hands on damaged data as if it
// were whole, which is what a rescue tool must not do; it also serves items
// above damaged store objects and folders and the recovered items.
//
// Logon checks the whole file once (fmt::RescueStore), offering the older
// revisions of live items too when the session asks for them
// (RecoverRequested("revisions")), and serves what it
// found through the writer's store objects, which refuse every change.
// Only the store, the folders and each message's contents table row stay
// in memory, with the few messages found damaged: a whole message is read
// from the file again, through the same checks, when it is opened, so
// memory does not grow with the file's content. The file is read with
// pread, never mapped: a read that fails on a failing disk, or past the end
// of a file cut short since logon, fails that item, not the process.
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cstring>
#include <functional>
#include <mutex>
#include <new>

#include "providers/providers.h"
#include "providers/pst/format/chk_ndb.h"
#include "providers/pst/format/chk_rescue.h"
#include "providers/pst/format/msg_values.h"
#include "providers/pst/pst_checked_store.h"
#include "providers/pst/pstw_file.h"
#include "providers/pst/pstw_objects.h"
#include "runtime/provider.h"
#include "runtime/read_options.h"

namespace mapi {
namespace {

// The open file and the messages the rescue left in it, for the store's
// life. The store objects may be used from the copy engine's worker thread
// while the session's thread lists; reads of the file go one at a time.
class CheckedSource final : public pst::MessageSource {
public:
    bool Node(uint32_t nid, pst::fmt::Node* out, std::string* error) override {
        std::lock_guard<std::mutex> lock(mutex_);
        return messages.Make(file, nid, out, error);
    }
    bool Props(uint32_t nid, std::vector<pst::fmt::PropValue>* out, std::string* error) override {
        std::lock_guard<std::mutex> lock(mutex_);
        return messages.Props(file, nid, out, error);
    }

    pst::fmt::CheckedFile file;
    pst::fmt::MessagesInFile messages;

private:
    std::mutex mutex_;
};

// A store id for a file whose own record key is lost: stable for one path,
// so entry ids saved by a first run still name the same items in a second.
pst::fmt::StoreUid UidFromPath(const std::string& path) {
    pst::fmt::StoreUid uid{};
    size_t h1 = std::hash<std::string>{}(path), h2 = std::hash<std::string>{}(path + "#quirnel");
    std::memcpy(uid.data(), &h1, 8);
    std::memcpy(uid.data() + 8, &h2, 8);
    return uid;
}

uint32_t NamedTag(pst::fmt::StoreModel& model, const char16_t* name, uint16_t type) {
    pst::fmt::PropertyName n;
    n.guid = pst::fmt::kPsQuirnel;
    n.isString = true;
    n.name = name;
    uint16_t id = model.names().IdOf(n, false);
    return id == 0 ? 0 : (uint32_t{id} << 16) | type;
}

// The damage account as the store object serves it: the records as one
// multi-valued text, and the items each knows lost as a multi-valued long
// in step with it, both in the file's stored form.
std::vector<pst::fmt::PropValue> AccountValues(pst::fmt::StoreModel& model,
                                               const std::vector<pst::fmt::StructureLoss>& account) {
    uint32_t textTag = NamedTag(model, pst::fmt::kDamageAccountName, PT_MV_UNICODE);
    uint32_t lostTag = NamedTag(model, pst::fmt::kDamageItemsLostName, PT_MV_LONG);
    if (account.empty() || textTag == 0 || lostTag == 0) return {};
    pst::fmt::Bytes text, lost, offsets;
    std::vector<pst::fmt::Bytes> items;
    for (const pst::fmt::StructureLoss& record : account) {
        items.push_back(pst::fmt::UnicodeValue(0x001F, record.text).bytes);
        pst::fmt::Append32(lost, static_cast<uint32_t>(std::min<uint64_t>(record.itemsLost, INT32_MAX)));
    }
    pst::fmt::Append32(text, static_cast<uint32_t>(items.size()));
    uint32_t offset = static_cast<uint32_t>(4 + 4 * items.size());
    for (const pst::fmt::Bytes& item : items) {
        pst::fmt::Append32(text, offset);
        offset += static_cast<uint32_t>(item.size());
    }
    for (const pst::fmt::Bytes& item : items) text.insert(text.end(), item.begin(), item.end());
    return {{textTag, std::move(text)}, {lostTag, std::move(lost)}};
}

HRESULT OpenChecked(std::unique_ptr<pst::fmt::ByteSource> bytes, const ProfileEntry& entry, const MAPIUID& providerUid,
                    const MAPIUID* routingUid, IMsgStore** store, std::string* error) {
    if (store == nullptr) return MAPI_E_INVALID_PARAMETER;
    *store = nullptr;
    try {
        auto source = std::make_shared<CheckedSource>();
        pst::fmt::StoreModel model;
        pst::fmt::RescueStats stats;
        std::string why;
        pst::fmt::RescueOptions options;
        options.revisions = RecoverRequested("revisions");
        if (bytes == nullptr || !source->file.Open(std::move(bytes), &why) ||
            !pst::fmt::RescueStore(source->file, UidFromPath(entry.path), &model, &stats, &why,
                                   &source->messages, options)) {
            if (error != nullptr) *error = entry.path + " cannot be read as a personal folder file: " + why;
            return MAPI_E_CORRUPT_STORE;
        }
        if (routingUid != nullptr) {
            pst::fmt::StoreUid uid;
            std::memcpy(uid.data(), routingUid->ab, uid.size());
            model.RouteAs(uid);
        }
        std::vector<pst::fmt::PropValue> account = AccountValues(model, stats.structures);
        uint32_t locator = NamedTag(model, pst::fmt::kItemLocatorName, PT_UNICODE);
        auto served = pst::WritableFile::ReadOnly(entry.path, providerUid, std::move(model), std::move(source));
        served->ServeExtras(std::move(account), locator);
        return pst::CreateWritableStoreObject(std::move(served), entry.displayName, store);
    } catch (const std::bad_alloc&) {
        if (error != nullptr) *error = "not enough memory to open " + entry.path;
        return MAPI_E_NOT_ENOUGH_MEMORY;
    }
}

class PstCheckedProvider final : public StoreProvider {
public:
    const char* Name() const override { return "pst-checked"; }
    const char* DisplayName() const override { return "Personal Folders (checked)"; }
    MAPIUID ProviderUid() const override { return PstStoreProvider()->ProviderUid(); }

    bool Recognizes(const std::string& path) const override {
        int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
        if (fd < 0) return false;
        // Every encoding is read here, the cyclic one too: libpff would hand
        // on whatever a damaged block of it decodes to.
        uint8_t head[12] = {};
        ssize_t n = ::read(fd, head, sizeof head);
        ::close(fd);
        if (n < 12 || std::memcmp(head, "!BDN", 4) != 0) return false;
        uint16_t version = static_cast<uint16_t>(head[10] | (head[11] << 8));
        return version == 23 || version == 14 || version == 15;
    }

    HRESULT OpenStore(const ProfileEntry& entry, IMsgStore** store, std::string* error) override {
        return Open(entry, nullptr, store, error);
    }

    // A copy of a file whose record key another store of the session has
    // already reads under the session's routing identity; the file is never
    // written either way.
    HRESULT OpenStoreAs(const ProfileEntry& entry, const MAPIUID& routingUid, IMsgStore** store,
                        std::string* error) override {
        return Open(entry, &routingUid, store, error);
    }

    HRESULT CreateStore(const std::string&, const std::string&, std::string* error) override {
        if (error != nullptr) *error = "the checked reader only reads personal folder files";
        return MAPI_E_NO_SUPPORT;
    }

private:
    HRESULT Open(const ProfileEntry& entry, const MAPIUID* routingUid, IMsgStore** store, std::string* error) {
        std::string why;
        std::unique_ptr<pst::fmt::ByteSource> bytes = pst::fmt::FileBytes(entry.path, &why);
        if (bytes == nullptr) {
            if (store != nullptr) *store = nullptr;
            if (error != nullptr) *error = entry.path + " cannot be read as a personal folder file: " + why;
            return MAPI_E_CORRUPT_STORE;
        }
        return OpenChecked(std::move(bytes), entry, ProviderUid(), routingUid, store, error);
    }
};

}  // namespace

StoreProvider* PstCheckedStoreProvider() {
    static PstCheckedProvider provider;
    return &provider;
}

HRESULT OpenCheckedStore(std::unique_ptr<pst::fmt::ByteSource> bytes, const ProfileEntry& entry, IMsgStore** store,
                         std::string* error) {
    return OpenChecked(std::move(bytes), entry, PstCheckedStoreProvider()->ProviderUid(), nullptr, store, error);
}

}  // namespace mapi
