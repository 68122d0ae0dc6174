// Number reading of the query language: numbers are words whose leading
// digits the parsers convert as the context requires.
#pragma once

#include <cstdint>
#include <string>

// The leading decimal number of text (blanks, then an optional sign, then
// digits), clamped to [lo, hi]; 0 when there is none.
int64_t LeadingDecimal(const std::string& text, int64_t lo, int64_t hi);
