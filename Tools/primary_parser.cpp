// The primaries of the query language: parenthesised conditions, operands,
// dates, content-match prefixes and the keyword forms (not, exists, size,
// recipient/attachment, userfield, field, bitmask).
#include <climits>

#include "query_date.h"
#include "query_number.h"
#include "restriction_compiler.h"
#include "stored_query.h"

namespace {

std::unique_ptr<QueryItem> MakeItem(std::string text, ItemKind kind, ULONG flags = 0) {
    auto item = std::make_unique<QueryItem>();
    item->text = std::move(text);
    item->kind = kind;
    item->flags = flags;
    return item;
}

std::unique_ptr<QueryItem> MakeDateItem(int64_t seconds) {
    auto item = MakeItem("", ItemKind::Date);
    item->date = seconds;
    return item;
}

// Flag of a content-match keyword; 0 for any other token.
ULONG ContentFlag(int token) {
    switch (token) {
        case kTokSubstring:
            return FL_SUBSTRING;
        case kTokPrefix:
            return FL_PREFIX;
        case kTokIgnoreCase:
            return FL_IGNORECASE;
        case kTokIgnoreSpace:
            return FL_IGNORENONSPACE;
        case kTokLoose:
            return FL_LOOSE;
        case kTokBitmask:
            return kBitmaskMarker;
        default:
            return 0;
    }
}

}  // namespace

// primary := "(" condition ")" | identifier | string | "not" condition
//          | content-prefix | date | "now" | "today" | daysfromnow | "bitmask" token
//          | ("recipient" | "attachment") "(" condition ")" | userfield
//          | "exists" field | "size" field relop constant | "field" tag | (nothing)
void RestrictionCompiler::ParsePrimary() {
    const int token = NextToken();
    switch (token) {
        case '(':
            ParseCondition();
            if (m_error) return;
            if (NextToken() != ')') AddError("Syntax error expeced ')'\n");
            return;
        case kTokIdentifier:
            if (m_storedQueries != nullptr) {
                if (const StoredQuery* query = FindStoredQuery(m_tokenText)) {
                    if (IsActiveStoredQuery(query->name)) AddError("Loop in Query execution");
                    CallStoredQuery(*query);
                    return;
                }
            }
            Push(MakeItem(m_tokenText, ItemKind::Identifier));
            return;
        case kTokString:
            Push(MakeItem(m_tokenText, ItemKind::StringLiteral));
            return;
        case kTokNot:
            ParseNot();
            return;
        case kTokSubstring:
        case kTokPrefix:
        case kTokIgnoreCase:
        case kTokLoose:
            ParseContentPrefix(ContentFlag(token));
            return;
        case kTokDate:
            ParseDate();
            return;
        case kTokNow:
            Push(MakeDateItem(QueryDateNow()));
            return;
        case kTokToday:
            Push(MakeDateItem(QueryDateToday()));
            return;
        case kTokDaysFromNow:
            ParseDaysFromNow();
            return;
        case kTokBitmask:
            NextToken();
            Push(MakeItem(m_tokenText, ItemKind::Identifier, kBitmaskMarker));
            return;
        case kTokRecipient:
            ParseSubRestriction(PR_MESSAGE_RECIPIENTS);
            return;
        case kTokAttachment:
            ParseSubRestriction(PR_MESSAGE_ATTACHMENTS);
            return;
        case kTokUserField:
            ParseUserField();
            return;
        case kTokExists:
            ParseExists();
            return;
        case kTokSize:
            ParseSize();
            return;
        case kTokField:
            ParseFieldByTag();
            return;
        default:
            UngetToken();
            return;
    }
}

// "not" condition
void RestrictionCompiler::ParseNot() {
    const size_t before = m_stack.size();
    ParseCondition();
    if (m_error) return;
    ItemPtr operand = m_stack.size() > before ? Pop() : nullptr;
    if (!operand || operand->restriction == nullptr) {
        AddError("'not' needs a condition after it");
        return;
    }
    SRestriction* node = NewRestrictions(1);
    node->rt = RES_NOT;
    node->res.resNot.lpRes = operand->restriction;
    PushRestrictionItem(node);
}

// content-prefix := ("substring" | "prefix" | "ignorecase" | "loose")
//                   { flag-keyword } operand
void RestrictionCompiler::ParseContentPrefix(ULONG flags) {
    for (;;) {
        const int token = NextToken();
        const ULONG flag = ContentFlag(token);
        if (flag == 0) {
            Push(MakeItem(m_tokenText, ItemKind::ContentOperand, flags));
            return;
        }
        flags |= flag;
    }
}

// date := "date" "(" day "," month "," year ")"
void RestrictionCompiler::ParseDate() {
    if (NextToken() != '(') AddError("Expected '('");
    NextToken();
    const int day = static_cast<int>(LeadingDecimal(m_tokenText, INT_MIN, INT_MAX));
    if (NextToken() != ',') AddError("Expected ','");
    NextToken();
    const int month = static_cast<int>(LeadingDecimal(m_tokenText, INT_MIN, INT_MAX));
    if (NextToken() != ',') AddError("Expected ','");
    NextToken();
    const int year = static_cast<int>(LeadingDecimal(m_tokenText, INT_MIN, INT_MAX));
    if (NextToken() != ')') AddError("Expected ')'");
    int64_t seconds = 0;
    if (IsValidQueryDate(year, month, day)) {
        seconds = QueryDateSeconds(year, month, day, 0, 0, 0);
    } else if (!m_error) {
        AddError("Invalid date");
    }
    Push(MakeDateItem(seconds));
}

// daysfromnow := "daysfromnow" "(" number ")"
void RestrictionCompiler::ParseDaysFromNow() {
    if (NextToken() != '(') AddError("Expected '('");
    int64_t days = 0;
    if (NextToken() != kTokIdentifier) {
        AddError("Expected integer");
    } else {
        // More days than the calendar holds give a date out of range, which
        // the comparison reports.
        days = LeadingDecimal(m_tokenText, -4000000, 4000000);
    }
    if (NextToken() != ')') AddError("Expeced ')'");
    Push(MakeDateItem(QueryDateToday() - days * 86400));
}

// sub := ("recipient" | "attachment") "(" condition ")"
void RestrictionCompiler::ParseSubRestriction(ULONG subObject) {
    if (NextToken() != '(') AddError("Expeced '('\n");
    const size_t before = m_stack.size();
    ParseCondition();
    if (m_error) return;
    if (NextToken() != ')') {
        AddError("Expeced ')'\n");
        return;
    }
    ItemPtr inner = m_stack.size() > before ? Pop() : nullptr;
    if (!inner || inner->restriction == nullptr) {
        AddError("Expected expression");
        return;
    }
    SRestriction* node = NewRestrictions(1);
    node->rt = RES_SUBRESTRICTION;
    node->res.resSub.ulSubObject = subObject;
    node->res.resSub.lpRes = inner->restriction;
    PushRestrictionItem(node);
}

// userfield := "userfield" "(" name [ "," ("string" | "long") ] ")"
void RestrictionCompiler::ParseUserField() {
    if (NextToken() != '(') AddError("Expected '('");
    NextToken();
    const std::string name = m_tokenText;
    if (name.empty()) AddError("Expected a name in userfield");
    std::string prefix = "string:";
    int token = NextToken();
    if (token == ',') {
        const int type = NextToken();
        if (type == kTokLong) {
            prefix = "long:";
        } else if (type != kTokString8Type) {
            AddError("userfield type must be string or long");
        }
        token = NextToken();
    }
    if (token != ')') AddError("Expected '('");
    Push(MakeItem(prefix + name, ItemKind::StringLiteral));
}

// exists := ("exists" | "exist") field
void RestrictionCompiler::ParseExists() {
    NextToken();
    QueryItem probe;
    probe.text = m_tokenText;
    probe.kind = ItemKind::Identifier;
    const ULONG tag = ResolveField(&probe);
    if (tag == 0) {
        AddError("Expected Fieldname");
        return;
    }
    SRestriction* node = NewRestrictions(1);
    node->rt = RES_EXIST;
    node->res.resExist.ulPropTag = tag;
    PushRestrictionItem(node);
}

// size := "size" field relop constant
void RestrictionCompiler::ParseSize() {
    int token = NextToken();
    if (token != kTokIdentifier && token != kTokString) {
        AddError("Expected field");
        return;
    }
    Push(MakeItem(m_tokenText, ItemKind::SizeOperand));
    const int op = NextToken();
    if (!IsRelationalOperator(op)) {
        AddError("Exptected relop");
        return;
    }
    ULONG relop;
    if (!MapComparisonOperator(op, &relop)) {
        // `+` and `-` pass the relational test but compare nothing.
        AddError(std::string("size cannot compare with '") + static_cast<char>(op) + "'");
        return;
    }
    token = NextToken();
    if (token != kTokIdentifier && token != kTokString) {
        AddError("Expected constant");
        return;
    }
    Push(MakeItem(m_tokenText, ItemKind::SizeOperand));
    BuildComparison(relop);
}

// field := "field" hex-tag   (the property with that tag, 0x optional)
void RestrictionCompiler::ParseFieldByTag() {
    if (NextToken() != kTokIdentifier) {
        AddError("Expected a property tag after field");
        return;
    }
    Push(MakeItem(m_tokenText, ItemKind::HexField));
}
