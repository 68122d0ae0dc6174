// Saturating decimal conversion, so that no query text overflows.
#include "query_number.h"

#include <algorithm>

int64_t LeadingDecimal(const std::string& text, int64_t lo, int64_t hi) {
    size_t i = 0;
    while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
    // Accumulate as a negative number, whose range includes INT64_MIN.
    int64_t value = 0;
    const int64_t limit = INT64_MIN / 10;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        const int digit = text[i] - '0';
        if (value < limit || value * 10 < INT64_MIN + digit) {
            value = INT64_MIN;
            continue;
        }
        value = value * 10 - digit;
    }
    if (!negative) value = value == INT64_MIN ? INT64_MAX : -value;
    return std::clamp(value, lo, hi);
}

bool HasLeadingNumber(const std::string& text) {
    size_t i = 0;
    while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) ++i;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) ++i;
    auto digit = [&](size_t at) { return at < text.size() && text[at] >= '0' && text[at] <= '9'; };
    return digit(i) || (i < text.size() && text[i] == '.' && digit(i + 1));
}
