// Locale-dependent text of reals, currency, booleans and dates.
#include "LocaleText.h"

#include <cctype>
#include <charconv>
#include <chrono>
#include <cmath>
#include <ctime>
#include <locale>
#include <sstream>

namespace {

const std::locale& UserLocale() {
    static const std::locale locale = [] {
        try {
            return std::locale("");
        } catch (const std::exception&) {
            return std::locale::classic();
        }
    }();
    return locale;
}

char DecimalPoint() {
    return std::use_facet<std::numpunct<char>>(UserLocale()).decimal_point();
}

std::string WithLocalePoint(std::string text) {
    const char point = DecimalPoint();
    for (char& c : text)
        if (c == '.') c = point;
    return text;
}

constexpr int64_t kSecondsPerDay = 86400;

std::string FromDaysAndSeconds(std::chrono::sys_days day, int64_t secondOfDay) {
    const std::chrono::year_month_day ymd{day};
    return LocaleDateTime(
        static_cast<int>(ymd.year()), static_cast<unsigned>(ymd.month()),
        static_cast<unsigned>(ymd.day()), static_cast<unsigned>(secondOfDay / 3600),
        static_cast<unsigned>(secondOfDay / 60 % 60), static_cast<unsigned>(secondOfDay % 60));
}

}  // namespace

std::string LocaleReal(double value, int digits) {
    if (std::isnan(value)) return "NaN";
    if (std::isinf(value)) return value < 0 ? "-Inf" : "Inf";
    char buffer[64];
    // to_chars ignores the C locale, so the separator is ours to choose.
    auto result =
        std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::general, digits);
    // General format already drops trailing zeros, as %g does.
    std::string text(buffer, result.ptr);
    const size_t exp = text.find('e');
    std::string out = WithLocalePoint(text.substr(0, exp));
    if (exp != std::string::npos)
        for (char c : text.substr(exp))
            out += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return out;
}

std::string LocaleCurrency(int64_t tenThousandths) {
    const bool negative = tenThousandths < 0;
    const uint64_t magnitude = negative ? 0 - static_cast<uint64_t>(tenThousandths)
                                        : static_cast<uint64_t>(tenThousandths);
    std::string text = negative ? "-" : "";
    text += std::to_string(magnitude / 10000);
    uint64_t fraction = magnitude % 10000;
    if (fraction != 0) {
        std::string digits = std::to_string(fraction);
        digits.insert(0, 4 - digits.size(), '0');
        digits.erase(digits.find_last_not_of('0') + 1);
        text += DecimalPoint();
        text += digits;
    }
    return text;
}

std::string LocaleBool(bool value) {
    const auto& punct = std::use_facet<std::numpunct<char>>(UserLocale());
    return value ? punct.truename() : punct.falsename();
}

std::string LocaleDateTime(int year, unsigned month, unsigned day, unsigned hour, unsigned minute,
                           unsigned second) {
    using namespace std::chrono;
    std::tm tm{};
    tm.tm_year = year - 1900;
    tm.tm_mon = static_cast<int>(month) - 1;
    tm.tm_mday = static_cast<int>(day);
    tm.tm_hour = static_cast<int>(hour);
    tm.tm_min = static_cast<int>(minute);
    tm.tm_sec = static_cast<int>(second);
    const sys_days date{std::chrono::year{year} / std::chrono::month{month} /
                        std::chrono::day{day}};
    tm.tm_wday = static_cast<int>(weekday{date}.c_encoding());
    tm.tm_yday = static_cast<int>((date - sys_days{std::chrono::year{year} / January / 1}).count());

    std::ostringstream out;
    out.imbue(UserLocale());
    const bool midnight = hour == 0 && minute == 0 && second == 0;
    const auto& put = std::use_facet<std::time_put<char>>(UserLocale());
    const char* pattern = midnight ? "%x" : "%x %X";
    put.put(std::ostreambuf_iterator<char>(out), out, ' ', &tm, pattern,
            pattern + std::char_traits<char>::length(pattern));
    return out.str();
}

std::string LocaleAppTime(double days) {
    using namespace std::chrono;
    if (!std::isfinite(days) || std::fabs(days) > 3.0e6) return "";
    // The whole part counts days from 1899-12-30 (negative before it); the
    // fraction is the time of that day, whatever the sign.
    double whole = std::trunc(days);
    int64_t seconds = std::llround(std::fabs(days - whole) * kSecondsPerDay);
    if (seconds >= kSecondsPerDay) {
        seconds -= kSecondsPerDay;
        whole += days < 0 ? -1 : 1;
    }
    const sys_days epoch{1899y / December / 30};
    return FromDaysAndSeconds(epoch + std::chrono::days{static_cast<int64_t>(whole)}, seconds);
}

std::string LocaleFileTime(uint64_t ticks) {
    using namespace std::chrono;
    // Times from the top bit on are not valid file times (past year 30827).
    if (ticks >> 63) return "";
    const uint64_t totalSeconds = ticks / 10000000;
    const sys_days epoch{1601y / January / 1};
    return FromDaysAndSeconds(
        epoch + std::chrono::days{static_cast<int64_t>(totalSeconds / kSecondsPerDay)},
        static_cast<int64_t>(totalSeconds % kSecondsPerDay));
}
