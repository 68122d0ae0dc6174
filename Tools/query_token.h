// Token kinds of the query lexer and the operand items that the parsers keep
// on their stack.
#pragma once

#include <cstdint>
#include <string>

#include <mapidefs.h>

// Kinds returned by RestrictionCompiler::NextToken. A single-character
// operator is returned as its own character code: ( ) * + , - / = > < :
enum QueryToken : int {
    kTokEnd = 0,
    kTokLessEqual = 256,  // <=
    kTokNotEqual,         // <>
    kTokGreaterEqual,     // >=
    kTokString,           // "..."
    kTokIdentifier,       // a word (numbers included)
    // Keywords, in the order of the keyword table.
    kTokAnd,
    kTokOr,
    kTokNot,
    kTokSubstring,
    kTokPrefix,
    kTokIgnoreCase,
    kTokLoose,
    kTokIgnoreSpace,
    kTokFullString,
    kTokNow,
    kTokToday,
    kTokDaysFromNow,
    kTokBitmask,
    kTokAttachment,
    kTokRecipient,
    kTokExists,
    kTokField,
    kTokUserField,
    kTokOrder,
    kTokBy,
    kTokAscending,
    kTokDescending,
    kTokCombine,
    kTokFrom,
    kTokSelect,
    kTokWhere,
    kTokSize,
    kTokHierrarchy,
    kTokAccociated,
    kTokDate,
    kTokString8Type,  // the keyword `string`
    kTokLong,
};

// What kind of token an operand item came from.
enum class ItemKind {
    Identifier,
    StringLiteral,
    ContentOperand,
    Date,
    SizeOperand,
    HexField,
};

// Flag that marks an operand written after `bitmask`.
constexpr ULONG kBitmaskMarker = 0x80000000;

// One entry of the operand stack: a finished condition (restriction set) or
// an operand. The restriction belongs to the compiler's allocation chain.
struct QueryItem {
    SRestriction* restriction = nullptr;
    ItemKind kind = ItemKind::Identifier;
    ULONG flags = 0;
    std::string text;
    // For dates: the local clock reading in seconds since 1601-01-01 00:00:00.
    int64_t date = 0;
};
