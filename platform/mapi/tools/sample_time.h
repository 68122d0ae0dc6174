// Calendar arithmetic for the sample store's dates (UTC, no time zones).
#pragma once

#include <cstdint>

#include <mapiwin.h>

namespace mapi::tools {

// Seconds from 1970-01-01 to 00:00 on the first of January of year.
constexpr int64_t UnixYearStart(int year) {
    int64_t days = 0;
    for (int y = 1970; y < year; ++y)
        days += (y % 4 == 0 && (y % 100 != 0 || y % 400 == 0)) ? 366 : 365;
    return days * 86400;
}

// FILETIME counts 100 ns ticks from 1601-01-01.
inline FILETIME FileTimeFromUnix(int64_t seconds) {
    constexpr uint64_t kEpochDelta = 11644473600ULL;  // 1601 -> 1970 in seconds
    uint64_t ticks = (static_cast<uint64_t>(seconds) + kEpochDelta) * 10000000ULL;
    return FILETIME{static_cast<DWORD>(ticks), static_cast<DWORD>(ticks >> 32)};
}

}  // namespace mapi::tools
