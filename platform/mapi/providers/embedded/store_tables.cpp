// Lazy database rows and the contents and hierarchy sources.
#include "store_tables.h"

#include <algorithm>
#include <map>
#include <set>
#include <unordered_map>

#include <mapix.h>

#include "message_recipients.h"
#include "object_props.h"
#include "packed_props.h"
#include "runtime/mapi_ptr.h"
#include "runtime/prop_convert.h"
#include "runtime/restriction_eval.h"
#include "object_batch.h"
#include "sql_restriction.h"

namespace mapi::embedded {
namespace {

// A row of an in-memory table that keeps the table it reads from.
class SharedRow final : public RowAccessor {
public:
    SharedRow(std::shared_ptr<MemoryRows> table, std::unique_ptr<RowAccessor> row)
        : table_(std::move(table)), row_(std::move(row)) {}
    const SPropValue* GetById(ULONG propId) override { return row_->GetById(propId); }
    HRESULT SubRows(ULONG subObject, std::vector<std::unique_ptr<RowAccessor>>* rows) override {
        return row_->SubRows(subObject, rows);
    }

private:
    std::shared_ptr<MemoryRows> table_;
    std::unique_ptr<RowAccessor> row_;
};

class ObjectAccessor final : public RowAccessor {
public:
    ObjectAccessor(std::shared_ptr<StoreCore> core, int64_t id, int depth)
        : core_(std::move(core)), id_(id), depth_(depth) {}
    // A row already read by a scan. With borrow, its directory stays where
    // the scan has it, which must then outlive the accessor.
    ObjectAccessor(std::shared_ptr<StoreCore> core, StoreCore::LoadedObject&& loaded,
                   bool borrow = false)
        : core_(std::move(core)),
          id_(loaded.row.id),
          depth_(-1),
          loaded_(true),
          loadError_(loaded.error),
          row_(std::move(loaded.row)) {
        if (borrow) {
            blob_ = loaded.view;
        } else {
            packed_ = loaded.view;
            blob_ = packed_;
        }
    }

    const SPropValue* GetById(ULONG propId) override {
        for (const auto& [id, value] : cache_)
            if (id == propId) return value;
        if (!arena_) {
            arena_ = AllocateMapi<char>(1);
            if (!arena_) return OutOfMemory(propId);
        }
        SPropValue value{};
        bool have = false;
        if (!loaded_) Load();
        if (FAILED(loadError_)) {
            value = ErrorValue(PROP_TAG(PT_ERROR, propId), loadError_);
            have = true;
        } else if (ComputeObjectProp(*core_, row_, propId, depth_, arena_.get(), &value)) {
            have = true;
        } else {
            EncodedProp stored;
            HRESULT hr = S_OK;
            ULONG type = 0;
            bool outside = false;
            std::string_view bytes;
            if (!FindPacked(blob_, propId, &type, &outside, &bytes)) {
                hr = MAPI_E_NOT_FOUND;
            } else if (outside) {
                hr = core_->ReadLargeProp(id_, propId, &stored);
                type = stored.type;
                bytes = stored.bytes;
            }
            if (hr == MAPI_E_NOT_FOUND) {
                cache_.emplace_back(propId, nullptr);
                return nullptr;
            }
            if (SUCCEEDED(hr)) hr = DecodeValue(propId, type, bytes, arena_.get(), &value);
            if (FAILED(hr)) value = ErrorValue(PROP_TAG(PT_ERROR, propId), hr);
            have = true;
        }
        if (!have) return nullptr;
        void* slot = nullptr;
        if (MAPIAllocateMore(sizeof(SPropValue), arena_.get(), &slot) != S_OK)
            return OutOfMemory(propId);
        auto* stored = static_cast<SPropValue*>(slot);
        *stored = value;
        cache_.emplace_back(propId, stored);
        return stored;
    }

    HRESULT SubRows(ULONG subObject, std::vector<std::unique_ptr<RowAccessor>>* rows) override {
        rows->clear();
        if (!loaded_) Load();
        if (FAILED(loadError_)) return loadError_;
        if (row_.kind != ObjectKind::kMessage) return MAPI_E_NO_SUPPORT;
        if (subObject == PR_MESSAGE_RECIPIENTS) return RecipientSubRows(rows);
        if (subObject != PR_MESSAGE_ATTACHMENTS) return MAPI_E_NO_SUPPORT;
        std::vector<int64_t> ids;
        HRESULT hr = core_->Children(id_, ObjectKind::kAttachment, -1, &ids);
        if (FAILED(hr)) return hr;
        for (int64_t id : ids) rows->push_back(NewObjectAccessor(core_, id));
        return S_OK;
    }

private:
    // The rows GetRecipientTable would show, each keeping the table alive.
    HRESULT RecipientSubRows(std::vector<std::unique_ptr<RowAccessor>>* rows) {
        std::string blob;
        std::vector<RecipientRow> recipients;
        std::shared_ptr<MemoryRows> table;
        HRESULT hr = core_->ReadRecipients(id_, &blob);
        if (SUCCEEDED(hr)) hr = UnpackRecipients(blob, &recipients);
        if (SUCCEEDED(hr)) hr = RecipientTableRows(recipients, &table);
        if (FAILED(hr)) return hr;
        for (ULONG i = 0; i < table->Count(); ++i)
            rows->push_back(std::make_unique<SharedRow>(table, table->Row(i)));
        return S_OK;
    }

    // Null would say the row has no such value, and a copy or a restriction
    // would act on that; the answer lives outside the allocator that failed
    // and is not cached, so a later read may still succeed.
    const SPropValue* OutOfMemory(ULONG propId) {
        SPropValue& error = failed_[propId];
        error = ErrorValue(PROP_TAG(PT_ERROR, propId), MAPI_E_NOT_ENOUGH_MEMORY);
        return &error;
    }

    void Load() {
        loaded_ = true;
        loadError_ = core_->LoadObjectWithProps(id_, &row_, &packed_);
        blob_ = packed_;
    }

    std::shared_ptr<StoreCore> core_;
    int64_t id_;
    int depth_;
    bool loaded_ = false;
    HRESULT loadError_ = S_OK;
    ObjectRow row_;
    std::string packed_;     // the property directory, checked whole, when owned
    std::string_view blob_;  // the directory: packed_ or the scan's
    MapiBuffer<char> arena_;
    // Values handed out so far; rows are asked for a few properties each.
    std::vector<std::pair<ULONG, const SPropValue*>> cache_;
    std::map<ULONG, SPropValue> failed_;
};

// Ids listed again whenever the store has changed since the last listing.
class ListedSource : public RowSource {
public:
    explicit ListedSource(std::shared_ptr<StoreCore> core) : core_(std::move(core)) {}

    // Count() cannot fail, so the first listing is made here, where a
    // refusal can still fail the table instead of showing it empty.
    HRESULT FirstListing() { return Refresh(); }

    ULONG Count() override {
        Refresh();
        return static_cast<ULONG>(ids_.size());
    }

    std::unique_ptr<RowAccessor> Row(ULONG index) override {
        Refresh();
        if (index >= ids_.size()) return nullptr;
        return NewObjectAccessor(core_, ids_[index].first, ids_[index].second);
    }

protected:
    // The object id of row index of the current listing, 0 past its end.
    int64_t IdAt(ULONG index) {
        Refresh();
        return index < ids_.size() ? ids_[index].first : 0;
    }
    // The current listing; fails only when there has never been one.
    HRESULT Listing(std::vector<std::pair<int64_t, int>>* ids) {
        HRESULT hr = Refresh();
        if (FAILED(hr) && !listed_) return hr;
        *ids = ids_;
        return S_OK;
    }

    virtual HRESULT List(std::vector<std::pair<int64_t, int>>* ids) = 0;
    std::shared_ptr<StoreCore> core_;

private:
    // A later listing that fails keeps the last good one and is tried again.
    HRESULT Refresh() {
        uint64_t now = core_->Generation();
        if (listed_ && now == generation_) return S_OK;
        std::vector<std::pair<int64_t, int>> ids;
        HRESULT hr = List(&ids);
        if (FAILED(hr)) return hr;
        ids_ = std::move(ids);
        generation_ = now;
        listed_ = true;
        return S_OK;
    }

    bool listed_ = false;
    uint64_t generation_ = 0;
    std::vector<std::pair<int64_t, int>> ids_;
};

class ContentsSource final : public ListedSource {
public:
    ContentsSource(std::shared_ptr<StoreCore> core, int64_t folder, bool assoc)
        : ListedSource(std::move(core)), folder_(folder), assoc_(assoc) {}

    // Rows read in order (QueryRows) are read a block at a time with one
    // statement and find the next ones waiting. So are the matches of the
    // last restriction, which a restricted table reads in their order; any
    // other row asked for out of order reads itself alone.
    std::unique_ptr<RowAccessor> Row(ULONG index) override {
        int64_t id = IdAt(index);
        if (id == 0) return nullptr;
        const bool inOrder = index == next_;
        next_ = index + 1;
        auto ready = block_.find(id);
        if (ready == block_.end() && !inOrder) {
            auto match = std::lower_bound(selected_.begin(), selected_.end(), index);
            if (match == selected_.end() || *match != index) return NewObjectAccessor(core_, id);
            std::vector<int64_t> ids;
            for (; match != selected_.end() && ids.size() < kMaxBatch; ++match)
                if (int64_t at = IdAt(*match); at != 0) ids.push_back(at);
            block_.clear();
            LoadObjects(*core_, ids, [&](StoreCore::LoadedObject& object) {
                int64_t at = object.row.id;
                block_.emplace(at, std::make_unique<ObjectAccessor>(core_, std::move(object)));
            });
            ready = block_.find(id);
            // Not read with the others (gone, or the read failed): the row
            // reads itself and shows what it finds.
            if (ready == block_.end()) return NewObjectAccessor(core_, id);
        }
        if (ready == block_.end()) {
            block_.clear();
            HRESULT hr = core_->ScanChildren(
                folder_, ObjectKind::kMessage, assoc_ ? 1 : 0, id, kBlockRows,
                [&](StoreCore::LoadedObject& object) {
                    int64_t at = object.row.id;
                    block_.emplace(at, std::make_unique<ObjectAccessor>(core_, std::move(object)));
                    return true;
                });
            ready = block_.find(id);
            // Gone since it was listed, or the block could not be read: the
            // row reads itself and shows what it finds.
            if (FAILED(hr) || ready == block_.end()) return NewObjectAccessor(core_, id);
        }
        std::unique_ptr<RowAccessor> row = std::move(ready->second);
        block_.erase(ready);
        return row;
    }

    HRESULT Select(const SRestriction& restriction, std::vector<ULONG>* matches) override {
        matches->clear();
        std::vector<std::pair<int64_t, int>> ids;
        HRESULT hr = Listing(&ids);
        if (FAILED(hr)) return hr;
        std::unordered_map<int64_t, ULONG> places;
        places.reserve(ids.size());
        for (ULONG i = 0; i < ids.size(); ++i) places.emplace(ids[i].first, i);
        std::vector<bool> seen(ids.size(), false);
        // SQL rejects what it can tell does not match; the evaluator judges
        // the rest, so the answer is the evaluator's either way.
        auto judge = [&](StoreCore::LoadedObject& object, Verdict verdict) {
            auto place = places.find(object.row.id);
            if (place == places.end()) return;
            seen[place->second] = true;
            if (verdict == Verdict::kNo) return;
            ObjectAccessor row(core_, std::move(object), true);
            if (EvaluateRestriction(restriction, row)) matches->push_back(place->second);
        };
        // When the folder, seen in the scan's own snapshot, still holds
        // exactly the listed rows, a row the scan does not hand out was
        // rejected by SQL, and SQL need not hand rejected rows out at all.
        StoreCore::ReadSpan snapshot(*core_);
        std::vector<int64_t> present;
        const bool unchanged =
            SUCCEEDED(core_->Children(folder_, ObjectKind::kMessage, assoc_ ? 1 : 0, &present)) &&
            std::equal(present.begin(), present.end(), ids.begin(), ids.end(),
                       [](int64_t a, const std::pair<int64_t, int>& b) { return a == b.first; });
        hr = ScanWithVerdicts(*core_, folder_, assoc_ ? 1 : 0, restriction, unchanged, judge);
        if (SUCCEEDED(hr) && unchanged) std::fill(seen.begin(), seen.end(), true);
        if (hr == MAPI_E_TOO_COMPLEX) {
            std::fill(seen.begin(), seen.end(), false);
            matches->clear();
            hr = core_->ScanChildren(folder_, ObjectKind::kMessage, assoc_ ? 1 : 0, 0, 0,
                                     [&](StoreCore::LoadedObject& object) {
                                         judge(object, Verdict::kMaybe);
                                         return true;
                                     });
        }
        if (FAILED(hr)) return hr;
        // Listed but not met by the scan (written meanwhile by another
        // connection): judged on their own, as Row would show them.
        for (ULONG i = 0; i < ids.size(); ++i) {
            if (seen[i]) continue;
            ObjectAccessor row(core_, ids[i].first, -1);
            if (EvaluateRestriction(restriction, row)) matches->push_back(i);
        }
        std::sort(matches->begin(), matches->end());
        selected_ = *matches;
        return S_OK;
    }

protected:
    HRESULT List(std::vector<std::pair<int64_t, int>>* out) override {
        block_.clear();
        std::vector<int64_t> ids;
        HRESULT hr = core_->Children(folder_, ObjectKind::kMessage, assoc_ ? 1 : 0, &ids);
        if (FAILED(hr)) return hr;
        out->reserve(ids.size());
        for (int64_t id : ids) out->emplace_back(id, -1);
        return S_OK;
    }

private:
    static constexpr size_t kBlockRows = 256;

    int64_t folder_;
    bool assoc_;
    ULONG next_ = 0;  // the index after the last row asked for
    // The matches of the last restriction: where a row asked for out of
    // order finds the rows likely asked for next. Only a hint: a listing
    // changed since then costs a few rows read in vain, never a wrong row.
    std::vector<ULONG> selected_;
    std::unordered_map<int64_t, std::unique_ptr<RowAccessor>> block_;
};

class HierarchySource final : public ListedSource {
public:
    HierarchySource(std::shared_ptr<StoreCore> core, int64_t folder, bool deep)
        : ListedSource(std::move(core)), folder_(folder), deep_(deep) {}

protected:
    HRESULT List(std::vector<std::pair<int64_t, int>>* out) override {
        // Parent links damaged into a loop would list a folder below itself,
        // and a caller walking down the tables would never reach the end. The
        // loop is cut above the folder of it created first (the top it had
        // before the damage); below that, a walk never lists a folder again
        // that it is inside of.
        std::vector<int64_t> chain;
        std::set<int64_t> onChain;
        std::set<int64_t> skip{folder_};
        for (int64_t at = folder_; at != 0;) {
            if (!onChain.insert(at).second) {
                auto loop = std::find(chain.begin(), chain.end(), at);
                skip.insert(*std::min_element(loop, chain.end()));
                break;
            }
            chain.push_back(at);
            ObjectRow row;
            if (FAILED(core_->LoadObject(at, &row))) break;
            at = row.parent;
        }
        return Walk(folder_, 0, &skip, out);
    }

private:
    HRESULT Walk(int64_t folder, int depth, std::set<int64_t>* skip,
                 std::vector<std::pair<int64_t, int>>* out) {
        std::vector<int64_t> ids;
        HRESULT hr = core_->Children(folder, ObjectKind::kFolder, -1, &ids);
        if (FAILED(hr)) return hr;
        for (int64_t id : ids) {
            if (skip->count(id) != 0) continue;
            out->emplace_back(id, depth);
            // A damaged subtree leaves its parent listed; its children are skipped.
            if (deep_ && depth < 256) {
                skip->insert(id);
                Walk(id, depth + 1, skip, out);
                skip->erase(id);
            }
        }
        return S_OK;
    }

    int64_t folder_;
    bool deep_;
};

template <size_t N>
struct TagList {
    ULONG cValues;
    ULONG aulPropTag[N];
    const SPropTagArray* get() const { return reinterpret_cast<const SPropTagArray*>(this); }
};

}  // namespace

std::unique_ptr<RowAccessor> NewObjectAccessor(std::shared_ptr<StoreCore> core, int64_t id,
                                               int depth) {
    return std::make_unique<ObjectAccessor>(std::move(core), id, depth);
}

HRESULT NewContentsSource(std::shared_ptr<StoreCore> core, int64_t folder, bool assoc,
                          std::shared_ptr<RowSource>* out) {
    auto source = std::make_shared<ContentsSource>(std::move(core), folder, assoc);
    HRESULT hr = source->FirstListing();
    if (SUCCEEDED(hr)) *out = std::move(source);
    return hr;
}

HRESULT NewHierarchySource(std::shared_ptr<StoreCore> core, int64_t folder, bool deep,
                           std::shared_ptr<RowSource>* out) {
    auto source = std::make_shared<HierarchySource>(std::move(core), folder, deep);
    HRESULT hr = source->FirstListing();
    if (SUCCEEDED(hr)) *out = std::move(source);
    return hr;
}

const SPropTagArray* ContentsColumns() {
    static const TagList<7> tags{7,
                                 {PR_ENTRYID, PR_INSTANCE_KEY, PR_SUBJECT, PR_MESSAGE_CLASS,
                                  PR_MESSAGE_FLAGS, PR_MESSAGE_SIZE, PR_LAST_MODIFICATION_TIME}};
    return tags.get();
}

const SPropTagArray* HierarchyColumns() {
    static const TagList<8> tags{8,
                                 {PR_ENTRYID, PR_INSTANCE_KEY, PR_DISPLAY_NAME, PR_FOLDER_TYPE,
                                  PR_CONTENT_COUNT, PR_SUBFOLDERS, PR_DEPTH, PR_CONTAINER_CLASS}};
    return tags.get();
}

const SPropTagArray* RecipientColumns() {
    static const TagList<6> tags{6,
                                 {PR_ROWID, PR_INSTANCE_KEY, PR_DISPLAY_NAME, PR_EMAIL_ADDRESS,
                                  PR_ADDRTYPE, PR_RECIPIENT_TYPE}};
    return tags.get();
}

const SPropTagArray* AttachmentColumns() {
    static const TagList<6> tags{6,
                                 {PR_ATTACH_NUM, PR_INSTANCE_KEY, PR_ATTACH_METHOD,
                                  PR_ATTACH_FILENAME, PR_ATTACH_LONG_FILENAME, PR_ATTACH_SIZE}};
    return tags.get();
}

}  // namespace mapi::embedded
