// The compile entry and the condition level of the parser: conditions joined
// by and/or, comparisons, and the allocation of the result tree.
#include <algorithm>
#include <cstring>
#include <new>

#include "restriction_compiler.h"
#include "stored_query.h"

namespace {

// Text of a comparison operator token, for messages.
std::string OperatorText(int kind) {
    switch (kind) {
        case kTokLessEqual:
            return "<=";
        case kTokGreaterEqual:
            return ">=";
        case kTokNotEqual:
            return "<>";
        default:
            return std::string(1, static_cast<char>(kind));
    }
}

// rest without the blanks (any byte up to a space) at either end.
std::string TrimmedRest(const char* rest) {
    std::string text = rest != nullptr ? rest : "";
    auto blank = [](char c) { return static_cast<unsigned char>(c) <= ' '; };
    size_t begin = 0;
    while (begin < text.size() && blank(text[begin])) ++begin;
    size_t end = text.size();
    while (end > begin && blank(text[end - 1])) --end;
    return text.substr(begin, end - begin);
}

}  // namespace

RestrictionCompiler::~RestrictionCompiler() {
    ReleaseResults();
}

void RestrictionCompiler::SetPropertyObject(IMAPIContainer* container) {
    m_propertyObject = IMAPIContainerPtr(container);
}

void RestrictionCompiler::SetSession(IMAPISession* session) {
    m_session = session != nullptr ? std::make_unique<CMapiSession>(session) : nullptr;
}

void RestrictionCompiler::ReleaseResults() {
    m_stack.clear();
    m_restriction = nullptr;
    m_childBlocks.clear();
    if (m_allocationRoot != nullptr) MAPIFreeBuffer(m_allocationRoot);
    m_allocationRoot = nullptr;
    if (m_columns != nullptr) MAPIFreeBuffer(m_columns);
    m_columns = nullptr;
    if (m_sortOrder != nullptr) MAPIFreeBuffer(m_sortOrder);
    m_sortOrder = nullptr;
    m_values.clear();
    m_strings.clear();
    m_wideStrings.clear();
}

void* RestrictionCompiler::Allocate(size_t bytes) {
    if (bytes == 0 || bytes > 0x7FFFFFFF) throw std::bad_alloc();
    void* block = nullptr;
    SCODE sc = m_allocationRoot == nullptr
                   ? MAPIAllocateBuffer(static_cast<ULONG>(bytes), &block)
                   : MAPIAllocateMore(static_cast<ULONG>(bytes), m_allocationRoot, &block);
    if (FAILED(sc) || block == nullptr) throw std::bad_alloc();
    if (m_allocationRoot == nullptr) m_allocationRoot = block;
    std::memset(block, 0, bytes);
    return block;
}

SRestriction* RestrictionCompiler::NewRestrictions(size_t count) {
    if (count > 0x7FFFFFFF / sizeof(SRestriction)) throw std::bad_alloc();
    return static_cast<SRestriction*>(Allocate(count * sizeof(SRestriction)));
}

SPropValue* RestrictionCompiler::NewValue(ULONG tag) {
    m_values.push_back(std::make_unique<SPropValue>());
    SPropValue* value = m_values.back().get();
    value->ulPropTag = tag;
    return value;
}

RestrictionCompiler::ItemPtr RestrictionCompiler::Pop() {
    if (m_stack.empty()) return nullptr;
    ItemPtr item = std::move(m_stack.back());
    m_stack.pop_back();
    return item;
}

void RestrictionCompiler::PushRestrictionItem(SRestriction* restriction) {
    auto item = std::make_unique<QueryItem>();
    item->restriction = restriction;
    Push(std::move(item));
}

void RestrictionCompiler::AddError(const std::string& message) {
    m_errorText += " ";
    m_errorText += message;
    m_error = true;
}

void RestrictionCompiler::Compile(const char* text) {
    ReleaseResults();
    m_error = false;
    SetCursor(text != nullptr ? text : "");
    m_errorText.clear();
    m_unreadText.clear();
    m_activeStoredQueries.clear();
    m_depth = 0;
    try {
        ParseCondition();
        if (!m_error) {
            if (ItemPtr top = Pop()) m_restriction = top->restriction;
        }
        if (m_columns != nullptr) MergeColumns();
        if (!m_error) m_unreadText = TrimmedRest(m_cursor);
    } catch (...) {
        AddError("Crash in Compile");
    }
    m_stack.clear();
    SetCursor("");
}

// condition := comparison { ("and" | "+" | "or") comparison
//                          | "order" order-clause | "select" select-clause comparison }
void RestrictionCompiler::ParseCondition() {
    if (m_depth >= kMaxNesting) {
        AddError("Query nested too deeply");
        return;
    }
    struct DepthGuard {
        int& depth;
        explicit DepthGuard(int& d) : depth(d) { ++depth; }
        ~DepthGuard() { --depth; }
    } guard(m_depth);

    const size_t base = m_stack.size();
    ParseComparison();
    if (m_error) return;
    while (!m_error) {
        const int token = NextToken();
        if (token == kTokAnd || token == '+' || token == kTokOr) {
            const std::string joiner = token == '+' ? "+" : m_tokenText;
            ParseComparison();
            if (m_error) return;
            if (!CheckCombinable(joiner, base)) return;
            Combine(token == kTokOr ? RES_OR : RES_AND);
        } else if (token == kTokOrder) {
            ParseOrderBy();
        } else if (token == kTokSelect) {
            ParseSelect();
            ParseComparison();
        } else {
            UngetToken();
            return;
        }
    }
}

// Both sides of and/or must be conditions of this level, not bare operands.
bool RestrictionCompiler::CheckCombinable(const std::string& joiner, size_t base) {
    const size_t n = m_stack.size();
    if (n < base + 2 || m_stack[n - 1]->restriction == nullptr ||
        m_stack[n - 2]->restriction == nullptr) {
        AddError("'" + joiner + "' needs a condition on each side");
        return false;
    }
    return true;
}

// Children of the new node: the right side's (or the right side itself), then
// the left side's. Each child array sits at the end of a larger block so that
// a long chain prepends in place instead of copying itself every time.
void RestrictionCompiler::Combine(ULONG kind) {
    ItemPtr right = Pop();
    ItemPtr left = Pop();
    SRestriction* r = right->restriction;
    SRestriction* l = left->restriction;
    auto children = [kind](SRestriction* node, SRestriction** first, size_t* count) {
        if (node->rt == kind) {
            *first = node->res.resAnd.lpRes;
            *count = node->res.resAnd.cRes;
        } else {
            *first = node;
            *count = 1;
        }
    };
    SRestriction *rFirst, *lFirst;
    size_t rCount, lCount;
    children(r, &rFirst, &rCount);
    children(l, &lFirst, &lCount);
    const size_t total = rCount + lCount;
    if (total > 0xFFFFFFFF) throw std::bad_alloc();

    SRestriction* array = nullptr;
    SRestriction* block = nullptr;
    auto reusable = l->rt == kind ? m_childBlocks.find(lFirst) : m_childBlocks.end();
    if (reusable != m_childBlocks.end() &&
        static_cast<size_t>(lFirst - reusable->second) >= rCount) {
        block = reusable->second;
        array = lFirst - rCount;
        m_childBlocks.erase(reusable);
    } else {
        const size_t capacity = std::max<size_t>(4, total * 2);
        block = NewRestrictions(capacity);
        array = block + (capacity - total);
        std::copy(lFirst, lFirst + lCount, array + rCount);
    }
    std::copy(rFirst, rFirst + rCount, array);
    m_childBlocks[array] = block;

    SRestriction* node = NewRestrictions(1);
    node->rt = kind;
    if (kind == RES_OR) {
        node->res.resOr.cRes = static_cast<ULONG>(total);
        node->res.resOr.lpRes = array;
    } else {
        node->res.resAnd.cRes = static_cast<ULONG>(total);
        node->res.resAnd.lpRes = array;
    }
    PushRestrictionItem(node);
}

bool RestrictionCompiler::MapComparisonOperator(int kind, ULONG* relop) {
    switch (kind) {
        case '<':
            *relop = RELOP_LT;
            return true;
        case kTokLessEqual:
            *relop = RELOP_LE;
            return true;
        case '>':
            *relop = RELOP_GT;
            return true;
        case kTokGreaterEqual:
            *relop = RELOP_GE;
            return true;
        case '=':
            *relop = RELOP_EQ;
            return true;
        case kTokNotEqual:
            *relop = RELOP_NE;
            return true;
        case ':':
            *relop = RELOP_EQ;
            return true;
        default:
            return false;
    }
}

// comparison := primary { (":" | "<" | "=" | ">" | "<=" | ">=" | "<>") primary }
void RestrictionCompiler::ParseComparison() {
    if (m_error) return;
    const size_t before = m_stack.size();
    ParsePrimary();
    bool haveLeft = m_stack.size() > before;
    while (!m_error) {
        const int token = NextToken();
        ULONG relop;
        if (token == kTokEnd) return;
        if (!MapComparisonOperator(token, &relop)) {
            UngetToken();
            return;
        }
        if (!haveLeft) {
            AddError("Expected an operand before '" + OperatorText(token) + "'");
            return;
        }
        const size_t middle = m_stack.size();
        ParsePrimary();
        if (m_error) return;
        if (m_stack.size() == middle) {
            AddError("Expected an operand after '" + OperatorText(token) + "'");
            return;
        }
        // `:` makes a content match: case-insensitive substring.
        if (token == ':') m_stack.back()->flags = FL_SUBSTRING | FL_IGNORECASE;
        BuildComparison(relop);
        haveLeft = true;
    }
}
