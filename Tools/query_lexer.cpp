// The query lexer: hands the parsers one token per call, with one token of
// push-back. Its state lives in RestrictionCompiler.
#include <cstring>

#include "restriction_compiler.h"

namespace {

struct Keyword {
    const char* text;
    int kind;
};

// Matched against the lower-cased token text. "hierrarchy" and "accociated"
// are spelled as users have always typed them.
constexpr Keyword kKeywords[] = {
    {"and", kTokAnd},
    {"or", kTokOr},
    {"not", kTokNot},
    {"substring", kTokSubstring},
    {"prefix", kTokPrefix},
    {"ignorecase", kTokIgnoreCase},
    {"loose", kTokLoose},
    {"ignorespace", kTokIgnoreSpace},
    {"fullstring", kTokFullString},
    {"now", kTokNow},
    {"today", kTokToday},
    {"daysfromnow", kTokDaysFromNow},
    {"bitmask", kTokBitmask},
    {"bit", kTokBitmask},
    {"attachment", kTokAttachment},
    {"recipient", kTokRecipient},
    {"exists", kTokExists},
    {"exist", kTokExists},
    {"field", kTokField},
    {"userfield", kTokUserField},
    {"order", kTokOrder},
    {"by", kTokBy},
    {"ascending", kTokAscending},
    {"descending", kTokDescending},
    {"combine", kTokCombine},
    {"from", kTokFrom},
    {"select", kTokSelect},
    {"where", kTokWhere},
    {"size", kTokSize},
    {"hierrarchy", kTokHierrarchy},
    {"accociated", kTokAccociated},
    {"date", kTokDate},
    {"string", kTokString8Type},
    {"long", kTokLong},
};

constexpr size_t kTokenCapacity = 255;

bool IsWhite(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

bool IsWordChar(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9');
}

bool IsSingleOperator(char c) {
    return c != '\0' && std::strchr("()*+,-/=><:", c) != nullptr;
}

int KeywordKind(const std::string& text) {
    std::string lower(text);
    for (char& c : lower)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    for (const Keyword& k : kKeywords)
        if (lower == k.text) return k.kind;
    return 0;
}

}  // namespace

// string literal := '"' { any character but '"' } [ '"' ]
// Returns false when the text does not fit the token buffer.
bool RestrictionCompiler::ReadQuoted(std::string* out) {
    while (*m_cursor != '\0' && *m_cursor != '"') {
        if (out->size() == kTokenCapacity) return false;
        out->push_back(*m_cursor++);
    }
    if (*m_cursor == '"') ++m_cursor;
    return true;
}

// word := any-character { letter | digit }
bool RestrictionCompiler::ReadWord(char first, std::string* out) {
    out->push_back(first);
    while (IsWordChar(*m_cursor)) {
        if (out->size() == kTokenCapacity) return false;
        out->push_back(*m_cursor++);
    }
    return true;
}

// token := end | operator | "<=" | "<>" | ">=" | string literal | word
int RestrictionCompiler::NextToken() {
    m_tokenStart = m_cursor;
    m_tokenText.clear();
    if (*m_cursor == '\0') return kTokEnd;
    char c = *m_cursor++;
    while (IsWhite(c)) {
        if (*m_cursor == '\0') return kTokEnd;
        c = *m_cursor++;
    }
    if (c == '>' && *m_cursor == '=') {
        ++m_cursor;
        return kTokGreaterEqual;
    }
    if (c == '<' && (*m_cursor == '>' || *m_cursor == '=')) {
        return *m_cursor++ == '>' ? kTokNotEqual : kTokLessEqual;
    }
    if (IsSingleOperator(c)) return static_cast<unsigned char>(c);

    std::string text;
    const bool quoted = c == '"';
    const bool fits = quoted ? ReadQuoted(&text) : ReadWord(c, &text);
    if (!fits) {
        // Skip the rest of the overlong token so that nothing loops on it.
        while (*m_cursor != '\0' && (quoted ? *m_cursor != '"' : IsWordChar(*m_cursor))) ++m_cursor;
        if (quoted && *m_cursor == '"') ++m_cursor;
        AddError("Word or string longer than 255 characters");
        return kTokEnd;
    }
    std::memcpy(m_tokenBuffer, text.data(), text.size());
    m_tokenBuffer[text.size()] = '\0';
    m_tokenText.assign(m_tokenBuffer, text.size());
    if (int keyword = KeywordKind(m_tokenText)) return keyword;
    return quoted ? kTokString : kTokIdentifier;
}

bool RestrictionCompiler::IsRelationalOperator(int kind) {
    switch (kind) {
        case '=':
        case '<':
        case '>':
        case kTokLessEqual:
        case kTokGreaterEqual:
        case kTokNotEqual:
        case '+':
        case '-':
        case ':':
            return true;
        default:
            return false;
    }
}

ULONG RestrictionCompiler::HexToInt(const char* text) {
    ULONG value = 0;
    for (; text != nullptr && *text != '\0'; ++text) {
        char c = *text;
        ULONG digit;
        if (c >= '0' && c <= '9')
            digit = static_cast<ULONG>(c - '0');
        else if (c >= 'A' && c <= 'F')
            digit = static_cast<ULONG>(c - 'A' + 10);
        else if (c >= 'a' && c <= 'f')
            digit = static_cast<ULONG>(c - 'a' + 10);
        else
            break;
        value = (value << 4) | digit;
    }
    return value;
}
