// Text forms of the property values whose text depends on the user's
// locale: reals, currency, booleans, dates. Where an automation platform
// would convert through a VARIANT, these give the equivalent text directly.
//
// The locale is the user's (std::locale("")), the classic locale when the
// environment names none that exists. Thread-safe.
#pragma once

#include <cstdint>
#include <string>

// Up to `digits` significant digits, shortest form, the locale's decimal
// separator, no grouping; exponent form (1E+20) for very large or small.
std::string LocaleReal(double value, int digits);
// A currency amount in 1/10000 units: no trailing zeros after the locale's
// decimal separator, no separator when whole.
std::string LocaleCurrency(int64_t tenThousandths);
// The locale's words for true and false.
std::string LocaleBool(bool value);
// The locale's date text followed by its time text; the date alone when the
// time is midnight. No time zone is applied: the fields are shown as given.
std::string LocaleDateTime(int year, unsigned month, unsigned day, unsigned hour, unsigned minute,
                           unsigned second);
// Dates of automation (days since 1899-12-30, fraction = time of day) and of
// FILETIME (100 ns since 1601-01-01), as LocaleDateTime gives them.
std::string LocaleAppTime(double days);
std::string LocaleFileTime(uint64_t ticks);
