// Test doubles of the MAPI interfaces: the parts that allocate or look up.
#include "wrapper_fakes.h"

#include <mapiutil.h>

#include <algorithm>
#include <cstring>

namespace fakes {

namespace {

struct RowsDeleter {
    void operator()(SRowSet* rows) const { FreeProws(rows); }
};

}  // namespace

bool FillValue(const Value& v, SPropValue* out, void* parent) {
    *out = SPropValue{};
    out->ulPropTag = v.tag;
    switch (PROP_TYPE(v.tag)) {
        case PT_LONG:
            out->Value.l = v.l;
            break;
        case PT_STRING8: {
            void* text = nullptr;
            if (MAPIAllocateMore(static_cast<ULONG>(v.s.size() + 1), parent, &text) != S_OK)
                return false;
            std::memcpy(text, v.s.c_str(), v.s.size() + 1);
            out->Value.lpszA = static_cast<LPSTR>(text);
            break;
        }
        case PT_BINARY: {
            void* bytes = nullptr;
            if (MAPIAllocateMore(static_cast<ULONG>(v.bin.size()), parent, &bytes) != S_OK)
                return false;
            if (!v.bin.empty()) std::memcpy(bytes, v.bin.data(), v.bin.size());
            out->Value.bin.cb = static_cast<ULONG>(v.bin.size());
            out->Value.bin.lpb = static_cast<LPBYTE>(bytes);
            break;
        }
        default:
            break;
    }
    return true;
}

void FillMissing(ULONG tag, SPropValue* out) {
    *out = SPropValue{};
    out->ulPropTag = CHANGE_PROP_TYPE(tag, PT_ERROR);
    out->Value.err = MAPI_E_NOT_FOUND;
}

Value FromProp(const SPropValue& p) {
    switch (PROP_TYPE(p.ulPropTag)) {
        case PT_LONG:
            return Long(p.ulPropTag, p.Value.l);
        case PT_STRING8:
            return Str(p.ulPropTag, p.Value.lpszA ? p.Value.lpszA : "");
        case PT_BINARY:
            return Bin(p.ulPropTag, Bytes(p.Value.bin.lpb, p.Value.bin.lpb + p.Value.bin.cb));
        default:
            return Value{p.ulPropTag, 0, {}, {}};
    }
}

HRESULT Table::SetColumns(LPSPropTagArray tags, ULONG) {
    ++setColumnsCalls;
    columns.assign(tags->aulPropTag, tags->aulPropTag + tags->cValues);
    return S_OK;
}

HRESULT Table::SeekRow(BOOKMARK origin, LONG count, LONG* sought) {
    if (origin != BOOKMARK_BEGINNING) return MAPI_E_NO_SUPPORT;
    m_position = count < 0 ? 0 : std::min(rows.size(), static_cast<size_t>(count));
    if (sought) *sought = static_cast<LONG>(m_position);
    return S_OK;
}

HRESULT Table::QueryRows(LONG count, ULONG, LPSRowSet* out) {
    *out = nullptr;
    if (queryHr != S_OK) return queryHr;
    const size_t n = std::min(rows.size() - m_position, static_cast<size_t>(count < 0 ? 0 : count));
    void* block = nullptr;
    if (MAPIAllocateBuffer(static_cast<ULONG>(CbNewSRowSet(n ? n : 1)), &block) != S_OK)
        return MAPI_E_NOT_ENOUGH_MEMORY;
    std::unique_ptr<SRowSet, RowsDeleter> set(static_cast<LPSRowSet>(block));
    set->cRows = 0;
    SRow* rowSlots = set->aRow;
    for (size_t i = 0; i < n; ++i) {
        const auto& source = rows[m_position + i];
        void* props = nullptr;
        if (MAPIAllocateBuffer(static_cast<ULONG>(columns.size() * sizeof(SPropValue)), &props) !=
            S_OK)
            return MAPI_E_NOT_ENOUGH_MEMORY;
        MapiBufferPtr<SPropValue> values(static_cast<LPSPropValue>(props));
        for (size_t c = 0; c < columns.size(); ++c) {
            const Value* found = nullptr;
            for (const Value& v : source)
                if (PROP_ID(v.tag) == PROP_ID(columns[c])) found = &v;
            if (!found)
                FillMissing(columns[c], &values.get()[c]);
            else if (!FillValue(*found, &values.get()[c], props))
                return MAPI_E_NOT_ENOUGH_MEMORY;
        }
        rowSlots[i] = SRow{0, static_cast<ULONG>(columns.size()), values.release()};
        set->cRows = static_cast<ULONG>(i + 1);
    }
    m_position += n;
    *out = set.release();
    return S_OK;
}

HRESULT Entries::Open(ULONG cb, LPENTRYID eid, LPUNKNOWN* out) const {
    *out = nullptr;
    if (openHr != S_OK) return openHr;
    const auto* bytes = reinterpret_cast<const BYTE*>(eid);
    auto it = m_map.find(Bytes(bytes, bytes + cb));
    if (it == m_map.end()) return MAPI_E_NOT_FOUND;
    it->second->AddRef();
    *out = it->second;
    return S_OK;
}

HRESULT Folder::GetContentsTable(ULONG flags, LPMAPITABLE* out) {
    lastContentsFlags = flags;
    *out = nullptr;
    if (contentsHr != S_OK) return contentsHr;
    if (!contents) return MAPI_E_NO_SUPPORT;
    contents->AddRef();
    *out = contents;
    return S_OK;
}

HRESULT Folder::GetHierarchyTable(ULONG flags, LPMAPITABLE* out) {
    lastHierarchyFlags = flags;
    *out = nullptr;
    if (hierarchyHr != S_OK) return hierarchyHr;
    if (!hierarchy) return MAPI_E_NO_SUPPORT;
    hierarchy->AddRef();
    *out = hierarchy;
    return S_OK;
}

HRESULT Folder::OpenEntry(ULONG cb, LPENTRYID eid, LPCIID, ULONG flags, ULONG* type,
                          LPUNKNOWN* out) {
    entries.lastFlags = flags;
    if (type) *type = MAPI_FOLDER;
    return entries.Open(cb, eid, out);
}

HRESULT Folder::CreateFolder(ULONG, LPTSTR newName, LPTSTR comment, LPCIID, ULONG flags,
                             LPMAPIFOLDER* out) {
    *out = nullptr;
    lastCreateFlags = flags;
    lastCreateComment = comment ? comment : "<null>";
    if (createHr != S_OK) return createHr;
    for (auto& child : children) {
        if (strcasecmp(child->name.c_str(), newName) != 0) continue;
        if (!(flags & OPEN_IF_EXISTS)) return MAPI_E_COLLISION;
        child->AddRef();
        *out = child.get();
        return S_OK;
    }
    children.push_back(std::make_unique<Folder>());
    children.back()->name = newName;
    children.back()->AddRef();  // the parent keeps the initial reference
    *out = children.back().get();
    return S_OK;
}

HRESULT Store::OpenEntry(ULONG cb, LPENTRYID eid, LPCIID, ULONG flags, ULONG* type,
                         LPUNKNOWN* out) {
    entries.lastFlags = flags;
    if (type) *type = MAPI_FOLDER;
    return entries.Open(cb, eid, out);
}

HRESULT Store::GetReceiveFolder(LPTSTR messageClass, ULONG, ULONG* cb, LPENTRYID* eid,
                                LPTSTR* explicitClass) {
    lastReceiveClass = messageClass ? messageClass : "<null>";
    *cb = 0;
    *eid = nullptr;
    if (explicitClass) *explicitClass = nullptr;
    if (receiveHr != S_OK) return receiveHr;
    void* block = nullptr;
    if (MAPIAllocateBuffer(static_cast<ULONG>(receiveEid.size()), &block) != S_OK)
        return MAPI_E_NOT_ENOUGH_MEMORY;
    if (!receiveEid.empty()) std::memcpy(block, receiveEid.data(), receiveEid.size());
    *cb = static_cast<ULONG>(receiveEid.size());
    *eid = static_cast<LPENTRYID>(block);
    return S_OK;
}

HRESULT Session::GetMsgStoresTable(ULONG, LPMAPITABLE* out) {
    ++storesCalls;
    *out = nullptr;
    if (storesHr != S_OK) return storesHr;
    storesTable->AddRef();
    *out = storesTable;
    return S_OK;
}

HRESULT Session::OpenEntry(ULONG cb, LPENTRYID eid, LPCIID, ULONG flags, ULONG* type,
                           LPUNKNOWN* out) {
    entries.lastFlags = flags;
    if (type) *type = MAPI_STORE;
    return entries.Open(cb, eid, out);
}

}  // namespace fakes
