#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <optional>
#include <string>

#include "platform/wintime.h"
#include "support/scoped_time_zone.h"

namespace {

using brevonix::test::ScopedTimeZone;

SYSTEMTIME MakeTime(int y, int mo, int d, int h = 0, int mi = 0, int s = 0, int ms = 0) {
    SYSTEMTIME st{};
    st.wYear = static_cast<WORD>(y);
    st.wMonth = static_cast<WORD>(mo);
    st.wDay = static_cast<WORD>(d);
    st.wHour = static_cast<WORD>(h);
    st.wMinute = static_cast<WORD>(mi);
    st.wSecond = static_cast<WORD>(s);
    st.wMilliseconds = static_cast<WORD>(ms);
    return st;
}

ULONGLONG Ticks(const FILETIME& ft) {
    return (static_cast<ULONGLONG>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime;
}

FILETIME FromTicks(ULONGLONG t) {
    return FILETIME{static_cast<DWORD>(t & 0xFFFFFFFFu), static_cast<DWORD>(t >> 32)};
}

constexpr ULONGLONG kTicksPerSecond = 10'000'000;

} // namespace

TEST(WinTimeTest, SystemTimeToFileTimeKnownInstants) {
    struct Case {
        SYSTEMTIME st;
        ULONGLONG ticks;
    } const cases[] = {
        {MakeTime(1601, 1, 1), 0},
        {MakeTime(1601, 1, 1, 0, 0, 0, 1), 10'000},
        {MakeTime(1970, 1, 1), 116'444'736'000'000'000ULL},
        {MakeTime(2009, 3, 5, 14, 7, 9, 250), 128'807'356'292'500'000ULL},
        {MakeTime(2000, 2, 29, 23, 59, 59, 999), 125'963'423'999'990'000ULL},
        {MakeTime(30827, 12, 31, 23, 59, 59, 999), 0x7FFF'35F4'F06C'58F0ULL},
    };
    for (const auto& c : cases) {
        FILETIME ft{};
        ASSERT_TRUE(SystemTimeToFileTime(&c.st, &ft)) << c.st.wYear;
        EXPECT_EQ(Ticks(ft), c.ticks) << c.st.wYear << "-" << c.st.wMonth << "-" << c.st.wDay;

        SYSTEMTIME back{};
        ASSERT_TRUE(FileTimeToSystemTime(&ft, &back));
        EXPECT_EQ(back.wYear, c.st.wYear);
        EXPECT_EQ(back.wMonth, c.st.wMonth);
        EXPECT_EQ(back.wDay, c.st.wDay);
        EXPECT_EQ(back.wHour, c.st.wHour);
        EXPECT_EQ(back.wMinute, c.st.wMinute);
        EXPECT_EQ(back.wSecond, c.st.wSecond);
        EXPECT_EQ(back.wMilliseconds, c.st.wMilliseconds);
    }
}

TEST(WinTimeTest, SystemTimeToFileTimeRejectsImpossibleFieldsAndLeavesOutputAlone) {
    struct Case {
        const char* what;
        SYSTEMTIME st;
        bool valid;
    } const cases[] = {
        {"29 Feb in a leap year", MakeTime(2004, 2, 29), true},
        {"29 Feb 2000 (divisible by 400)", MakeTime(2000, 2, 29), true},
        {"29 Feb 1900 (century)", MakeTime(1900, 2, 29), false},
        {"29 Feb 2100 (century)", MakeTime(2100, 2, 29), false},
        {"29 Feb 2009", MakeTime(2009, 2, 29), false},
        {"31 April", MakeTime(2009, 4, 31), false},
        {"31 December", MakeTime(2009, 12, 31), true},
        {"day 0", MakeTime(2009, 1, 0), false},
        {"month 0", MakeTime(2009, 0, 1), false},
        {"month 13", MakeTime(2009, 13, 1), false},
        {"hour 24", MakeTime(2009, 1, 1, 24), false},
        {"minute 60", MakeTime(2009, 1, 1, 0, 60), false},
        {"second 60", MakeTime(2009, 1, 1, 0, 0, 60), false},
        {"millisecond 1000", MakeTime(2009, 1, 1, 0, 0, 0, 1000), false},
        {"year 1600", MakeTime(1600, 12, 31, 23, 59, 59), false},
        {"year 30828", MakeTime(30828, 1, 1), false},
        {"all zero", SYSTEMTIME{}, false},
    };
    for (const auto& c : cases) {
        FILETIME ft{0xAAAAAAAA, 0x55555555};
        EXPECT_EQ(SystemTimeToFileTime(&c.st, &ft), c.valid ? TRUE : FALSE) << c.what;
        if (!c.valid) {
            EXPECT_EQ(ft.dwLowDateTime, 0xAAAAAAAAu) << c.what;
            EXPECT_EQ(ft.dwHighDateTime, 0x55555555u) << c.what;
        }
    }
}

TEST(WinTimeTest, FileTimeToSystemTimeFillsDayOfWeekAndRejectsTopBit) {
    struct Case {
        SYSTEMTIME st;
        WORD dayOfWeek;
    } const cases[] = {
        {MakeTime(1601, 1, 1), 1},  // Monday
        {MakeTime(1970, 1, 1), 4},  // Thursday
        {MakeTime(2009, 3, 5), 4},  // Thursday
        {MakeTime(2024, 3, 10), 0}, // Sunday
        {MakeTime(2024, 3, 9), 6},  // Saturday
    };
    for (const auto& c : cases) {
        FILETIME ft{};
        ASSERT_TRUE(SystemTimeToFileTime(&c.st, &ft));
        SYSTEMTIME back{};
        ASSERT_TRUE(FileTimeToSystemTime(&ft, &back));
        EXPECT_EQ(back.wDayOfWeek, c.dayOfWeek) << c.st.wYear << "-" << c.st.wMonth << "-" << c.st.wDay;
    }

    // The largest value still converts (into year 30828); one past it does not.
    SYSTEMTIME st{};
    FILETIME max = FromTicks(0x7FFF'FFFF'FFFF'FFFFULL);
    ASSERT_TRUE(FileTimeToSystemTime(&max, &st));
    EXPECT_EQ(st.wYear, 30828);
    EXPECT_EQ(st.wMonth, 9);
    EXPECT_EQ(st.wDay, 14);
    FILETIME bad = FromTicks(0x8000'0000'0000'0000ULL);
    SYSTEMTIME untouched = MakeTime(1999, 9, 9);
    EXPECT_FALSE(FileTimeToSystemTime(&bad, &untouched));
    EXPECT_EQ(untouched.wYear, 1999);
}

TEST(WinTimeTest, FileTimeToLocalFileTimeAddsTheZoneOffsetInPlace) {
    const ScopedTimeZone tz("IST-5:30");
    SYSTEMTIME st = MakeTime(2009, 3, 5, 14, 7, 9);
    FILETIME ft{};
    ASSERT_TRUE(SystemTimeToFileTime(&st, &ft));
    const ULONGLONG utc = Ticks(ft);
    ASSERT_TRUE(FileTimeToLocalFileTime(&ft, &ft));
    EXPECT_EQ(Ticks(ft) - utc, (5 * 3600 + 30 * 60) * kTicksPerSecond);
    ASSERT_TRUE(FileTimeToSystemTime(&ft, &st));
    EXPECT_EQ(st.wHour, 19);
    EXPECT_EQ(st.wMinute, 37);
    EXPECT_EQ(st.wSecond, 9);
}

TEST(WinTimeTest, FileTimeToLocalFileTimeFailsWhenTheShiftLeavesTheRange) {
    {
        // West of Greenwich the first instant of 1601 has no local counterpart.
        const ScopedTimeZone tz("EST5");
        FILETIME zero{0, 0};
        FILETIME out{1, 1};
        EXPECT_FALSE(FileTimeToLocalFileTime(&zero, &out));
        EXPECT_EQ(out.dwLowDateTime, 1u);
    }
    {
        const ScopedTimeZone tz("IST-5:30");
        FILETIME top = FromTicks(0x7FFF'FFFF'FFFF'FFFFULL);
        FILETIME out{};
        EXPECT_FALSE(FileTimeToLocalFileTime(&top, &out));
        FILETIME negative = FromTicks(0x8000'0000'0000'0000ULL);
        EXPECT_FALSE(FileTimeToLocalFileTime(&negative, &out));
    }
}

TEST(WinTimeTest, ClockReadsAgreeWithTheCLibrary) {
    const ScopedTimeZone tz("IST-5:30");
    const std::time_t before = std::time(nullptr);
    SYSTEMTIME utc{}, local{};
    GetSystemTime(&utc);
    GetLocalTime(&local);
    const std::time_t after = std::time(nullptr);

    FILETIME futc{}, flocal{};
    ASSERT_TRUE(SystemTimeToFileTime(&utc, &futc));
    ASSERT_TRUE(SystemTimeToFileTime(&local, &flocal));
    const ULONGLONG epoch = 116'444'736'000'000'000ULL;
    const auto utcSeconds = static_cast<std::time_t>((Ticks(futc) - epoch) / kTicksPerSecond);
    EXPECT_GE(utcSeconds, before);
    EXPECT_LE(utcSeconds, after);
    // Local is UTC + 5:30, give or take the time between the two reads.
    const auto diff = static_cast<long long>(Ticks(flocal) / kTicksPerSecond) -
                      static_cast<long long>(Ticks(futc) / kTicksPerSecond);
    EXPECT_NEAR(diff, 5 * 3600 + 30 * 60, 2);
    EXPECT_LT(utc.wMilliseconds, 1000);
    EXPECT_LT(utc.wDayOfWeek, 7);
}
