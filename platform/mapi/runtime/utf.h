// Code point level text handling shared by value conversion and the
// restriction evaluator.
//
// Decoders never fail: an ill-formed sequence becomes U+FFFD (one per maximal
// ill-formed subpart for UTF-8, one per unpaired surrogate for UTF-16).
#pragma once

#include <string>
#include <string_view>

namespace mapi {

std::u32string CodePointsFromUtf8(std::string_view text);
std::u32string CodePointsFromUtf16(std::u16string_view text);
void AppendUtf8(std::string& out, char32_t cp);
void AppendUtf16(std::u16string& out, char32_t cp);

// Unicode simple case folding (one code point to one code point), every
// script (ICU's data).
char32_t FoldCase(char32_t cp);

// True for combining marks that take no space of their own (category Mn).
bool IsNonSpacingMark(char32_t cp);

// The base letter of a precomposed accented letter (é -> e, Ё -> Е): its
// canonical decomposition without non-spacing marks, when that is one code
// point; cp itself otherwise.
char32_t BaseLetter(char32_t cp);

// The text prepared for comparison: with foldCase every code point is case
// folded; with dropMarks non-spacing marks are removed, also from the
// canonical decomposition of precomposed letters.
std::u32string PrepareForCompare(std::u32string text, bool foldCase, bool dropMarks);

}  // namespace mapi
