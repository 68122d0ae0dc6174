// Select statements and sort clauses: the column set, the sort order, and a
// `from` table path that replaces the property object by another folder.
#include <cstring>
#include <new>

#include <mapiutil.h>

#include "MapiException.h"
#include "MapiRowSet.h"
#include "MsgStorePtr.h"
#include "restriction_compiler.h"

namespace {

template <class T>
T* AllocateBlock(size_t bytes) {
    void* block = nullptr;
    if (FAILED(MAPIAllocateBuffer(static_cast<ULONG>(bytes), &block)) || block == nullptr)
        throw std::bad_alloc();
    std::memset(block, 0, bytes);
    return static_cast<T*>(block);
}

bool EqualNoCase(const std::string& a, const char* b) {
    if (b == nullptr || a.size() != std::strlen(b)) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        char x = a[i], y = b[i];
        if (x >= 'A' && x <= 'Z') x = static_cast<char>(x - 'A' + 'a');
        if (y >= 'A' && y <= 'Z') y = static_cast<char>(y - 'A' + 'a');
        if (x != y) return false;
    }
    return true;
}

// The provider's MAPIUID: bytes 4 to 19 of an entry identifier.
bool SameProvider(const CMapiBinary& a, const CMapiBinary& b) {
    return a.Size() >= 20 && b.Size() >= 20 && std::memcmp(a.Bytes() + 4, b.Bytes() + 4, 16) == 0;
}

// The opened object as a container; a non-container is refused.
IMAPIContainerPtr AsContainer(const CGenMapiPropPtr& object) {
    CInterfaceRef<IUnknown> unknown;
    LPMAPIPROP prop = object._rawInterface();
    if (prop == nullptr) throw CMAPIException(MAPI_E_INVALID_OBJECT, nullptr, __FILE__, __LINE__);
    CheckHr(prop->QueryInterface(IID_IMAPIContainer, reinterpret_cast<void**>(unknown.Receive())));
    auto container =
        CInterfaceRef<IMAPIContainer>::Adopt(static_cast<IMAPIContainer*>(unknown.Detach()));
    return IMAPIContainerPtr(container.get());
}

}  // namespace

// order-clause := "order" "by" key { "," key }
// key := [ "ascending" | "descending" | "combine" ] field
void RestrictionCompiler::ParseOrderBy() {
    if (NextToken() != kTokBy) {
        AddError("Expeced by");
        return;
    }
    std::vector<SSortOrder> keys;
    ULONG categories = 0;
    for (;;) {
        int token = NextToken();
        ULONG order = TABLE_SORT_ASCEND;
        if (token == kTokAscending || token == kTokDescending || token == kTokCombine) {
            order = token == kTokDescending ? TABLE_SORT_DESCEND
                    : token == kTokCombine  ? TABLE_SORT_COMBINE
                                            : TABLE_SORT_ASCEND;
            if (token == kTokCombine) ++categories;
            token = NextToken();
        }
        ULONG tag = 0;
        if (token == kTokIdentifier) {
            QueryItem probe;
            probe.text = m_tokenText;
            tag = ResolveField(&probe);
        }
        if (tag == 0) {
            AddError("Expected fieldname");
            break;
        }
        keys.push_back(SSortOrder{tag, order});
        if (NextToken() != ',') {
            UngetToken();
            break;
        }
    }
    if (m_error) return;
    // One spare key, as the column set keeps one spare column.
    auto* sortOrder = AllocateBlock<SSortOrderSet>(CbNewSSortOrderSet(keys.size() + 1));
    if (m_sortOrder != nullptr) MAPIFreeBuffer(m_sortOrder);
    m_sortOrder = sortOrder;
    m_sortOrder->cSorts = static_cast<ULONG>(keys.size());
    m_sortOrder->cCategories = categories;
    m_sortOrder->cExpanded = 0;
    for (size_t i = 0; i < keys.size(); ++i) m_sortOrder->aSort[i] = keys[i];
}

// select-clause := "select" column { "," column } [ "from" table-path ] "where"
void RestrictionCompiler::ParseSelect() {
    std::vector<std::string> columns;
    for (;;) {
        const int token = NextToken();
        if (token != kTokIdentifier && token != kTokString) {
            AddError("Expeced field name");
            return;
        }
        // A quoted column is taken as written.
        columns.push_back(m_tokenText);
        if (NextToken() != ',') {
            UngetToken();
            break;
        }
    }
    int token = NextToken();
    if (token == kTokFrom) {
        if (!m_session) {
            AddError("For selecting a table, Session must be set");
            return;
        }
        const int path = NextToken();
        if (path != kTokIdentifier && path != kTokString) {
            AddError("Expected a table path");
            return;
        }
        OpenTablePath(m_tokenText);
        token = NextToken();
    }
    if (token != kTokWhere) AddError("Expected WHERE");
    if (columns.empty()) return;

    auto* columnSet = AllocateBlock<SPropTagArray>(CbNewSPropTagArray(columns.size() + 1));
    if (m_columns != nullptr) MAPIFreeBuffer(m_columns);
    m_columns = columnSet;
    m_columns->cValues = static_cast<ULONG>(columns.size());
    for (size_t i = 0; i < columns.size(); ++i) {
        QueryItem probe;
        probe.text = columns[i];
        const ULONG tag = ResolveField(&probe);
        if (tag == 0) {
            AddError(columns[i] + " is not a field");
            return;
        }
        m_columns->aulPropTag[i] = tag;
    }
}

// The selected columns first, then every other tag the query referenced.
void RestrictionCompiler::MergeColumns() {
    const ULONG selected = m_columns->cValues;
    auto* merged = AllocateBlock<SPropTagArray>(
        CbNewSPropTagArray(static_cast<size_t>(selected) + m_referencedTags.size()));
    ULONG count = 0;
    for (ULONG i = 0; i < selected; ++i) merged->aulPropTag[count++] = m_columns->aulPropTag[i];
    for (ULONG tag : m_referencedTags) {
        bool present = false;
        for (ULONG i = 0; i < selected && !present; ++i) present = m_columns->aulPropTag[i] == tag;
        if (!present) merged->aulPropTag[count++] = tag;
    }
    merged->cValues = count;
    MAPIFreeBuffer(m_columns);
    m_columns = merged;
}

// table-path := "Store\Folder\..." (by display names) | hex entry identifier
void RestrictionCompiler::OpenTablePath(const std::string& path) {
    try {
        if (path.find('\\') == std::string::npos) {
            OpenPathByEntryId(path);
            return;
        }
        std::vector<std::string> pieces;
        for (size_t from = 0; from <= path.size();) {
            size_t stop = path.find('\\', from);
            if (stop == std::string::npos) stop = path.size();
            if (stop > from) pieces.push_back(path.substr(from, stop - from));
            from = stop + 1;
        }
        OpenPathByNames(pieces);
    } catch (const CMAPIException& e) {
        AddError(GetErrorName(e.m_hr));
    } catch (...) {
        AddError("Fatal Error in OpenTable");
    }
}

void RestrictionCompiler::OpenPathByNames(const std::vector<std::string>& pieces) {
    CMapiRowSet stores;
    stores.QueryAllRows(m_session->GetStoresTable(), {PR_ENTRYID, PR_DISPLAY_NAME});
    if (pieces.empty()) return;
    ULONG row = 0;
    while (row < stores.Count() && !EqualNoCase(pieces[0], stores.Cell(row, 1).String8())) ++row;
    if (row == stores.Count()) {
        AddError("MsgStore " + pieces[0] + " not found");
        return;
    }
    CMapiBinary storeId;
    storeId = stores.Cell(row, 0);
    CInterfaceRef<IUnknown> opened = m_session->OpenEntry(storeId);
    IMsgStorePtr store(static_cast<LPMDB>(opened.get()));
    IMAPIFolderPtr root = store._getIPMRoot();
    m_propertyObject = IMAPIContainerPtr(root._rawInterface());

    for (size_t i = 1; i < pieces.size(); ++i) {
        IMAPITablePtr hierarchy = m_propertyObject._rawHierrarchyTable();
        SPropValue name{};
        name.ulPropTag = PR_DISPLAY_NAME;
        name.Value.lpszA = const_cast<char*>(pieces[i].c_str());
        SRestriction match{};
        match.rt = RES_CONTENT;
        match.res.resContent = {FL_FULLSTRING | FL_IGNORECASE, PR_DISPLAY_NAME, &name};
        SizedSPropTagArray(2, columns) = {2, {PR_DISPLAY_NAME, PR_ENTRYID}};
        LPSRowSet raw = nullptr;
        CheckHr(HrQueryAllRows(hierarchy.get(), reinterpret_cast<LPSPropTagArray>(&columns), &match,
                               nullptr, 0, &raw));
        CMapiRowSet rows(raw, true);
        if (rows.Count() == 0) {
            AddError("Folder " + pieces[i] + " not found");
            return;
        }
        CMapiBinary folderId;
        folderId = rows.Cell(0, 1);
        m_propertyObject = AsContainer(m_propertyObject.OpenEntryv(folderId));
    }
}

void RestrictionCompiler::OpenPathByEntryId(const std::string& hex) {
    CMapiRowSet stores;
    stores.QueryAllRows(m_session->GetStoresTable(), {PR_ENTRYID, PR_DISPLAY_NAME});
    const CMapiBinary folderId = HexToBinary(hex.c_str());
    for (ULONG row = 0; row < stores.Count(); ++row) {
        CMapiBinary storeId;
        storeId = stores.Cell(row, 0);
        if (!SameProvider(storeId, folderId)) continue;
        CInterfaceRef<IUnknown> opened = m_session->OpenEntry(storeId);
        IMsgStorePtr store(static_cast<LPMDB>(opened.get()));
        m_propertyObject = AsContainer(store.OpenEntry(folderId));
    }
}
