// Named property id remapping between two stores.
#include "named_prop_map.h"

#include <algorithm>

#include <mapix.h>

#include "mapi_ptr.h"

namespace mapi {

HRESULT NamedPropertyMap::Resolve(const std::vector<ULONG>& tags) {
    std::vector<ULONG> unknown;
    for (ULONG tag : tags)
        if (IsNamedId(PROP_ID(tag)) && ids_.count(PROP_ID(tag)) == 0) {
            ids_[PROP_ID(tag)] = 0;  // unmappable until shown otherwise
            unknown.push_back(tag);
        }
    if (unknown.empty()) return S_OK;

    auto request = AllocateMapi<SPropTagArray>(CbNewSPropTagArray(unknown.size()));
    if (!request) return MAPI_E_NOT_ENOUGH_MEMORY;
    request->cValues = static_cast<ULONG>(unknown.size());
    std::copy(unknown.begin(), unknown.end(), request->aulPropTag);

    LPSPropTagArray asked = request.get();
    ULONG count = 0;
    LPMAPINAMEID* rawNames = nullptr;
    HRESULT hr = source_->GetNamesFromIDs(&asked, nullptr, 0, &count, &rawNames);
    MapiBuffer<LPMAPINAMEID> names(rawNames);
    // A provider may hand back a tag array of its own instead of ours.
    MapiBuffer<SPropTagArray> replaced(asked != request.get() ? asked : nullptr);
    if (hr == MAPI_E_NO_SUPPORT) return S_OK;  // no names: nothing can be mapped
    if (FAILED(hr)) return hr;
    if (!names) return S_OK;

    std::vector<LPMAPINAMEID> known;
    std::vector<ULONG> knownIds;
    for (ULONG i = 0; i < count && i < unknown.size(); ++i) {
        if (names.get()[i] == nullptr || names.get()[i]->lpguid == nullptr) continue;
        if (names.get()[i]->ulKind == MNID_STRING && names.get()[i]->Kind.lpwstrName == nullptr)
            continue;
        known.push_back(names.get()[i]);
        knownIds.push_back(PROP_ID(unknown[i]));
    }
    if (known.empty()) return S_OK;

    LPSPropTagArray rawIds = nullptr;
    hr = target_->GetIDsFromNames(static_cast<ULONG>(known.size()), known.data(), MAPI_CREATE,
                                  &rawIds);
    MapiBuffer<SPropTagArray> created(rawIds);
    if (FAILED(hr)) return hr;
    if (!created) return MAPI_E_CALL_FAILED;
    for (ULONG i = 0; i < created->cValues && i < knownIds.size(); ++i) {
        const ULONG tag = created->aulPropTag[i];
        if (PROP_TYPE(tag) != PT_ERROR && IsNamedId(PROP_ID(tag))) ids_[knownIds[i]] = PROP_ID(tag);
    }
    return S_OK;
}

ULONG NamedPropertyMap::Map(ULONG tag) const {
    if (!IsNamedId(PROP_ID(tag))) return tag;
    auto it = ids_.find(PROP_ID(tag));
    if (it == ids_.end() || it->second == 0) return PR_NULL;
    return PROP_TAG(PROP_TYPE(tag), it->second);
}

}  // namespace mapi
