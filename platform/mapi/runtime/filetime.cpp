// Calendar conversions of FILETIME (100 ns ticks since 1601-01-01 00:00),
// in the proleptic Gregorian calendar, without time zones.
#include <mapiwin.h>

namespace {

constexpr unsigned long long kTicksPerMillisecond = 10000;
constexpr unsigned long long kTicksPerDay = 864000000000ULL;
constexpr long long kDaysFrom1601To1970 = 134774;
constexpr int kMaxYear = 30827;  // the last year FILETIME's signed range reaches

// Days since 1970-01-01 of a civil date, and back (Hinnant's algorithms).
long long DaysFromCivil(long long y, unsigned m, unsigned d) {
    y -= m <= 2;
    const long long era = (y >= 0 ? y : y - 399) / 400;
    const unsigned yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<long long>(doe) - 719468;
}

void CivilFromDays(long long z, long long* y, unsigned* m, unsigned* d) {
    z += 719468;
    const long long era = (z >= 0 ? z : z - 146096) / 146097;
    const unsigned doe = static_cast<unsigned>(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    *d = doy - (153 * mp + 2) / 5 + 1;
    *m = mp < 10 ? mp + 3 : mp - 9;
    *y = static_cast<long long>(yoe) + era * 400 + (*m <= 2);
}

bool IsLeap(unsigned y) {
    return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
}

unsigned DaysInMonth(unsigned y, unsigned m) {
    static const unsigned kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return (m == 2 && IsLeap(y)) ? 29 : kDays[m - 1];
}

}  // namespace

BOOL FileTimeToSystemTime(const FILETIME* lpFileTime, LPSYSTEMTIME lpSystemTime) {
    if (lpFileTime == nullptr || lpSystemTime == nullptr) return FALSE;
    const unsigned long long ticks =
        (static_cast<unsigned long long>(lpFileTime->dwHighDateTime) << 32) |
        lpFileTime->dwLowDateTime;
    if (ticks > 0x7FFFFFFFFFFFFFFFULL) return FALSE;
    const long long days = static_cast<long long>(ticks / kTicksPerDay);
    unsigned long long rest = ticks % kTicksPerDay;
    long long year;
    unsigned month, day;
    CivilFromDays(days - kDaysFrom1601To1970, &year, &month, &day);
    lpSystemTime->wYear = static_cast<WORD>(year);
    lpSystemTime->wMonth = static_cast<WORD>(month);
    lpSystemTime->wDay = static_cast<WORD>(day);
    lpSystemTime->wDayOfWeek = static_cast<WORD>((days + 1) % 7);  // 1601-01-01 was a Monday
    lpSystemTime->wMilliseconds = static_cast<WORD>(rest / kTicksPerMillisecond % 1000);
    rest /= kTicksPerMillisecond * 1000;
    lpSystemTime->wSecond = static_cast<WORD>(rest % 60);
    lpSystemTime->wMinute = static_cast<WORD>(rest / 60 % 60);
    lpSystemTime->wHour = static_cast<WORD>(rest / 3600);
    return TRUE;
}

BOOL SystemTimeToFileTime(const SYSTEMTIME* lpSystemTime, LPFILETIME lpFileTime) {
    if (lpSystemTime == nullptr || lpFileTime == nullptr) return FALSE;
    const SYSTEMTIME& st = *lpSystemTime;
    if (st.wYear < 1601 || st.wYear > kMaxYear || st.wMonth < 1 || st.wMonth > 12 || st.wDay < 1 ||
        st.wDay > DaysInMonth(st.wYear, st.wMonth) || st.wHour > 23 || st.wMinute > 59 ||
        st.wSecond > 59 || st.wMilliseconds > 999)
        return FALSE;
    const long long days = DaysFromCivil(st.wYear, st.wMonth, st.wDay) + kDaysFrom1601To1970;
    const unsigned long long ticks =
        static_cast<unsigned long long>(days) * kTicksPerDay +
        ((st.wHour * 3600ULL + st.wMinute * 60ULL + st.wSecond) * 1000ULL + st.wMilliseconds) *
            kTicksPerMillisecond;
    lpFileTime->dwLowDateTime = static_cast<DWORD>(ticks);
    lpFileTime->dwHighDateTime = static_cast<DWORD>(ticks >> 32);
    return TRUE;
}
