// RestrictionCompiler: turns the text of the query language into a MAPI
// restriction tree, and select/order clauses into a column set and a sort order.
//
// Contract:
// - Compile never throws. Failures are collected in ErrorText() (each message
//   preceded by one space) and flagged by HasError(); the results of a failed
//   compile are not to be used.
// - Every SRestriction node and array, and every PT_BINARY/PT_CLSID value
//   buffer, is one MAPI allocation chain owned by the compiler; SPropValue
//   records and copied strings live on the ordinary heap, also owned here. All
//   results stay valid until the next Compile on the same object or its
//   destruction. The column set and the sort order are MAPI blocks of their own.
// - The query text is not copied: it must stay alive during Compile.
// - The property object and the session are held with a reference of the
//   compiler's own; the stored-query collection is borrowed and must outlive
//   every Compile that uses it.
// - One thread at a time; no locks.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include <mapix.h>

#include "MapiContPtr.h"
#include "MapiSession.h"
#include "named_field_table.h"
#include "query_token.h"

struct StoredQuery;
struct StoredQueryCollection;
struct StoredQueryParameter;

class RestrictionCompiler {
public:
    RestrictionCompiler();
    ~RestrictionCompiler();
    RestrictionCompiler(const RestrictionCompiler&) = delete;
    RestrictionCompiler& operator=(const RestrictionCompiler&) = delete;

    // Named fields resolve against this object; null clears it. Takes a
    // reference of its own (released on replacement and destruction).
    void SetPropertyObject(IMAPIContainer* container);
    LPMAPICONTAINER PropertyObject() const { return m_propertyObject._rawInterface(); }
    // Needed only for `from`; null clears it. Takes a reference of its own.
    void SetSession(IMAPISession* session);
    // Borrowed; null means no stored queries.
    void SetStoredQueries(const StoredQueryCollection* queries) { m_storedQueries = queries; }

    void Compile(const char* text);

    bool HasError() const { return m_error; }
    const std::string& ErrorText() const { return m_errorText; }
    // The text the last successful Compile did not read, without the blanks
    // around it; empty when the whole text was used. The language ends at
    // its first complete condition, so `Subject = "a" foo` compiles and
    // leaves `foo`: a caller that acts on the query must not ignore it.
    const std::string& UnreadText() const { return m_unreadText; }
    // Null when the query produced no condition.
    const SRestriction* Restriction() const { return m_restriction; }
    // Null unless a select statement named columns.
    const SPropTagArray* Columns() const { return m_columns; }
    // Null unless an order clause was given.
    const SSortOrderSet* SortOrder() const { return m_sortOrder; }
    // Every tag named by a field so far, in order of first reference; grows
    // across compiles on one object.
    const std::vector<ULONG>& ReferencedTags() const { return m_referencedTags; }

    // --- Lexer. Public so that tests can drive it on a text of their own. ---
    void SetCursor(const char* text) {
        m_cursor = text;
        m_tokenStart = text;
    }
    int NextToken();
    void UngetToken() { m_cursor = m_tokenStart; }
    const std::string& TokenText() const { return m_tokenText; }
    static bool IsRelationalOperator(int kind);
    static ULONG HexToInt(const char* text);

    // --- Field resolution. ---
    static bool ParseGuidText(const char* text, GUID* guid);
    // 32-bit tag of the property the item names, or 0 when it names none.
    // May throw (the named-property lookup of the property object).
    ULONG ResolveField(const QueryItem* item);
    void AddReferencedTag(ULONG tag);
    const NamedFieldTable& NamedFields() const { return m_namedFields; }

    // Deepest nesting of parentheses, `not`, sub-restrictions and stored
    // query calls that a query may use.
    static constexpr int kMaxNesting = 200;

private:
    using ItemPtr = std::unique_ptr<QueryItem>;

    // Lexer helpers.
    bool ReadQuoted(std::string* out);
    bool ReadWord(char first, std::string* out);

    // Field tables.
    void AddNamedField(const char* name, USHORT id, USHORT type, const char* guidText);
    void AddNamedStringField(const char* name, const char* stringName, USHORT type,
                             const char* guidText);

    // Condition parser.
    void ParseCondition();
    void ParseComparison();
    void ParsePrimary();
    void ParseContentPrefix(ULONG firstFlag);
    void ParseDate();
    void ParseDaysFromNow();
    void ParseSubRestriction(ULONG subObject);
    void ParseUserField();
    void ParseExists();
    void ParseSize();
    void ParseFieldByTag();
    void ParseNot();
    bool CheckCombinable(const std::string& joiner, size_t base);
    void Combine(ULONG kind);
    void BuildComparison(ULONG relop);
    void PushRestrictionItem(SRestriction* restriction);
    SPropValue* MakeValue(ULONG tag, const QueryItem& item);
    void AddError(const std::string& message);
    static bool MapComparisonOperator(int kind, ULONG* relop);

    // Results and allocation.
    void ReleaseResults();
    void* Allocate(size_t bytes);
    SRestriction* NewRestrictions(size_t count);
    SPropValue* NewValue(ULONG tag);
    ItemPtr Pop();
    void Push(ItemPtr item) { m_stack.push_back(std::move(item)); }

    // Select and order clauses.
    void ParseOrderBy();
    void ParseSelect();
    void OpenTablePath(const std::string& path);
    void OpenPathByNames(const std::vector<std::string>& pieces);
    void OpenPathByEntryId(const std::string& hex);
    void MergeColumns();

    // Stored queries.
    const StoredQuery* FindStoredQuery(const std::string& name) const;
    bool IsActiveStoredQuery(const std::string& name) const;
    void CallStoredQuery(const StoredQuery& query);
    std::string CollectArgument();
    std::string ExpandStoredQuery(const StoredQuery& query);
    static StoredQueryParameter* FindOrAddParameter(StoredQuery& query, const std::string& name);

    // Lexer state.
    const char* m_cursor = "";
    const char* m_tokenStart = "";
    char m_tokenBuffer[256] = {};
    std::string m_tokenText;

    std::vector<ItemPtr> m_stack;
    std::vector<ULONG> m_referencedTags;
    void* m_allocationRoot = nullptr;
    std::vector<std::string> m_activeStoredQueries;
    bool m_error = false;
    const StoredQueryCollection* m_storedQueries = nullptr;
    std::string m_errorText;
    std::string m_unreadText;
    IMAPIContainerPtr m_propertyObject;
    std::unique_ptr<CMapiSession> m_session;
    SRestriction* m_restriction = nullptr;
    SPropTagArray* m_columns = nullptr;
    SSortOrderSet* m_sortOrder = nullptr;
    NamedFieldTable m_namedFields;

    // Heap-side parts of the result: values and the texts they point at.
    std::vector<std::unique_ptr<SPropValue>> m_values;
    std::vector<std::unique_ptr<char[]>> m_strings;
    std::vector<std::unique_ptr<char16_t[]>> m_wideStrings;
    // Start of the block behind each and/or child array that Combine made;
    // the children sit at the block's end so that prepending is cheap.
    std::unordered_map<const SRestriction*, SRestriction*> m_childBlocks;
    int m_depth = 0;
};
