// Dates of the query language: local clock readings to the second, counted
// in seconds since 1601-01-01 00:00:00 so that they map onto FILETIME without
// any change of time zone.
#pragma once

#include <cstdint>
#include <string>

#include <mapiwin.h>

// Seconds of the clock reading; the fields must form a valid date (see
// IsValidQueryDate).
int64_t QueryDateSeconds(int year, int month, int day, int hour, int minute, int second);
// True for a calendar date between 1601-01-01 and 9999-12-31.
bool IsValidQueryDate(int year, int month, int day);
// True when seconds lie between 1601-01-01 and the end of 9999.
bool IsQueryDateInRange(int64_t seconds);

// The current local clock reading, and today at 00:00:00.
int64_t QueryDateNow();
int64_t QueryDateToday();

FILETIME QueryDateToFileTime(int64_t seconds);
// YYYY-MM-DDTHH:MM:SS of the clock reading a FILETIME holds (no time zone).
std::string FileTimeText(const FILETIME& ft);
