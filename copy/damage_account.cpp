#include "damage_account.h"

#include <runtime/provenance.h>

namespace quirnel {

std::vector<DamageRecord> ReadDamageAccount(const IMsgStorePtr& store) {
    std::vector<DamageRecord> records;
    LPMDB raw = store._rawInterface();
    if (raw == nullptr) return records;
    MAPINAMEID text{const_cast<LPGUID>(&mapi::PS_QUIRNEL), MNID_STRING, {}};
    text.Kind.lpwstrName = const_cast<LPWSTR>(mapi::kDamageAccountName);
    MAPINAMEID lost{const_cast<LPGUID>(&mapi::PS_QUIRNEL), MNID_STRING, {}};
    lost.Kind.lpwstrName = const_cast<LPWSTR>(mapi::kDamageItemsLostName);
    LPMAPINAMEID names[] = {&text, &lost};
    LPSPropTagArray rawTags = nullptr;
    // Without MAPI_CREATE: a store that never knew the names has no account,
    // and a read-only one must not be asked to write.
    HRESULT hr = raw->GetIDsFromNames(2, names, 0, &rawTags);
    MapiBufferPtr<SPropTagArray> tags(rawTags);
    if (FAILED(hr) || !tags || tags->cValues != 2 || PROP_TYPE(tags->aulPropTag[0]) == PT_ERROR)
        return records;
    SizedSPropTagArray(2, wanted) = {2, {CHANGE_PROP_TYPE(tags->aulPropTag[0], PT_MV_STRING8),
                                         PROP_TYPE(tags->aulPropTag[1]) == PT_ERROR
                                             ? PR_NULL
                                             : CHANGE_PROP_TYPE(tags->aulPropTag[1], PT_MV_LONG)}};
    ULONG count = 0;
    LPSPropValue rawValues = nullptr;
    hr = raw->GetProps(reinterpret_cast<LPSPropTagArray>(&wanted), 0, &count, &rawValues);
    MapiBufferPtr<SPropValue> values(rawValues);
    if (FAILED(hr) || !values || count != 2 || PROP_TYPE(values.get()[0].ulPropTag) != PT_MV_STRING8)
        return records;
    const SLPSTRArray& lines = values.get()[0].Value.MVszA;
    const bool counted = PROP_TYPE(values.get()[1].ulPropTag) == PT_MV_LONG;
    for (ULONG i = 0; i < lines.cValues; ++i) {
        DamageRecord record;
        if (lines.lppszA != nullptr && lines.lppszA[i] != nullptr) record.text = lines.lppszA[i];
        if (counted && i < values.get()[1].Value.MVl.cValues && values.get()[1].Value.MVl.lpl[i] > 0)
            record.itemsLost = static_cast<uint64_t>(values.get()[1].Value.MVl.lpl[i]);
        records.push_back(std::move(record));
    }
    return records;
}

}  // namespace quirnel
