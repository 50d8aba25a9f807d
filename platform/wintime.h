// The Windows kernel's time conversions and clock reads.
//
// A FILETIME counts 100-nanosecond ticks since 1601-01-01 00:00:00 UTC; a SYSTEMTIME is the same
// instant broken into calendar fields. Conversions reject what Windows rejects and return FALSE
// without touching the output.
#pragma once

#include <cstdint>

#include "platform/win32.h"

// Calendar fields to ticks. wDayOfWeek is ignored. Fails unless year is 1601..30827, month 1..12,
// day valid for that month (Gregorian leap years), hour < 24, minute < 60, second < 60 and
// milliseconds < 1000.
BOOL SystemTimeToFileTime(const SYSTEMTIME* lpSystemTime, LPFILETIME lpFileTime);

// Shifts a UTC file time by the local zone's offset from UTC as it stands at the moment of the call
// (daylight saving time included when it is in force now), whatever the date the value itself
// names. Input and output may be the same object. Fails when the result would fall outside
// 0..0x7FFFFFFFFFFFFFFF. The zone comes from the C library (TZ is honoured).
BOOL FileTimeToLocalFileTime(const FILETIME* lpFileTime, LPFILETIME lpLocalFileTime);

// Ticks to calendar fields, day of the week included (0 = Sunday). Fails for values with the top
// bit set.
BOOL FileTimeToSystemTime(const FILETIME* lpFileTime, LPSYSTEMTIME lpSystemTime);

// The current time, as local time and as UTC, to the millisecond.
void GetLocalTime(LPSYSTEMTIME lpSystemTime);
void GetSystemTime(LPSYSTEMTIME lpSystemTime);

// The proleptic Gregorian calendar, for every conversion between dates and day counts.
namespace calendar {
bool IsLeapYear(std::int64_t year);
int DaysInMonth(std::int64_t year, int month); // month 1..12
// Days since 1970-01-01 of a date, and back.
std::int64_t DaysFromCivil(std::int64_t year, unsigned month, unsigned day);
void CivilFromDays(std::int64_t days, std::int64_t& year, unsigned& month, unsigned& day);
} // namespace calendar
