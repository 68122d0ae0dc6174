// Number reading of the query language: numbers are words whose leading
// digits the parsers convert as the context requires.
#pragma once

#include <cstdint>
#include <string>

// The leading decimal number of text (blanks, then an optional sign, then
// digits), clamped to [lo, hi]; 0 when there is none.
int64_t LeadingDecimal(const std::string& text, int64_t lo, int64_t hi);

// True when text starts (after blanks and an optional sign) with a digit, or
// a point and a digit: a text that the conversions above would read as 0
// without it being a number is refused instead.
bool HasLeadingNumber(const std::string& text);
