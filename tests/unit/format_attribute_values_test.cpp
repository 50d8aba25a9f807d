#include <gtest/gtest.h>

#include <sys/mman.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <ctime>
#include <optional>
#include <string>
#include <vector>

#include "directory/FormatAttributeValues.h"
#include "support/scoped_time_zone.h"

namespace {

using brevonix::test::ScopedTimeZone;

// Memory whose last byte is followed by an inaccessible page, so that reading one byte too far
// crashes the test in every build, not only under the address sanitizer.
class GuardedMemory {
public:
    GuardedMemory() {
        m_page = static_cast<size_t>(sysconf(_SC_PAGESIZE));
        void* p = mmap(nullptr, 2 * m_page, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (p == MAP_FAILED) std::abort();
        m_base = static_cast<BYTE*>(p);
        if (mprotect(m_base + m_page, m_page, PROT_NONE) != 0) std::abort();
    }
    ~GuardedMemory() { munmap(m_base, 2 * m_page); }
    GuardedMemory(const GuardedMemory&) = delete;
    GuardedMemory& operator=(const GuardedMemory&) = delete;

    // Copies the bytes so that they end exactly at the guard page.
    template <typename T> T* Place(const T* data, size_t count) {
        BYTE* dst = m_base + m_page - count * sizeof(T);
        if (count) std::memcpy(dst, data, count * sizeof(T));
        return reinterpret_cast<T*>(dst);
    }

private:
    size_t m_page = 0;
    BYTE* m_base = nullptr;
};

ADSVALUE Str(ADSTYPE type, const char16_t* s) {
    ADSVALUE v{};
    v.dwType = type;
    v.CaseIgnoreString = const_cast<LPWSTR>(s);
    return v;
}
ADSVALUE Bool(DWORD b) {
    ADSVALUE v{};
    v.dwType = ADSTYPE_BOOLEAN;
    v.Boolean = b;
    return v;
}
ADSVALUE Int(DWORD i) {
    ADSVALUE v{};
    v.dwType = ADSTYPE_INTEGER;
    v.Integer = i;
    return v;
}
ADSVALUE Large(LONGLONG q) {
    ADSVALUE v{};
    v.dwType = ADSTYPE_LARGE_INTEGER;
    v.LargeInteger.QuadPart = q;
    return v;
}
ADSVALUE Octet(ADSTYPE type, DWORD length, BYTE* bytes) {
    ADSVALUE v{};
    v.dwType = type;
    v.OctetString.dwLength = length;
    v.OctetString.lpValue = bytes;
    return v;
}
ADSVALUE Time(int y, int mo, int d, int h, int mi, int s, int ms = 0, int dow = 0) {
    ADSVALUE v{};
    v.dwType = ADSTYPE_UTC_TIME;
    v.UTCTime = SYSTEMTIME{static_cast<WORD>(y), static_cast<WORD>(mo), static_cast<WORD>(dow),
                           static_cast<WORD>(d), static_cast<WORD>(h),  static_cast<WORD>(mi),
                           static_cast<WORD>(s), static_cast<WORD>(ms)};
    return v;
}
// A type the tool doesn't show, carrying a string pointer so that misreading it as a string shows.
ADSVALUE Hidden(DWORD type) {
    ADSVALUE v = Str(ADSTYPE_CASE_IGNORE_STRING, u"must not show");
    v.dwType = static_cast<ADSTYPE>(type);
    return v;
}

BYTE kBytes0To27[28] = {0x00, 0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08, 0x09, 0x0A, 0x0B, 0x0C, 0x0D,
                        0x0E, 0x0F, 0x10, 0x11, 0x12, 0x13, 0x14, 0x15, 0x16, 0x17, 0x18, 0x19, 0x1A, 0x1B};
// The bytes of {109BA8EC-92F0-11D0-A790-00C04FD8D5A8} as a directory stores them.
BYTE kStoredGuid[16] = {0xEC, 0xA8, 0x9B, 0x10, 0xF0, 0x92, 0xD0, 0x11,
                        0xA7, 0x90, 0x00, 0xC0, 0x4F, 0xD8, 0xD5, 0xA8};
ADS_DN_WITH_STRING kDnWithString = {const_cast<LPWSTR>(u"value"), const_cast<LPWSTR>(u"CN=x")};
ADS_DN_WITH_BINARY kDnWithBinary = {16, kBytes0To27, const_cast<LPWSTR>(u"CN=x")};

struct Case {
    const char* name;
    std::vector<ADSVALUE> values;
    DWORD count;
    // Octet bytes to place at the end of guarded memory; the first value's lpValue points there.
    std::vector<BYTE> guardedBytes;
    const char16_t* expected;
};

std::vector<Case> Cases() {
    std::vector<Case> c = {
        {"type 0 (invalid)", {Str(ADSTYPE_INVALID, u"x")}, 1, {}, u""},
        {"DN string",
         {Str(ADSTYPE_DN_STRING, u"CN=Ann Lee,OU=Sales,DC=example,DC=com")},
         1,
         {},
         u"CN=Ann Lee,OU=Sales,DC=example,DC=com"},
        {"case-exact string", {Str(ADSTYPE_CASE_EXACT_STRING, u"MiXed \u00e9")}, 1, {}, u"MiXed \u00e9"},
        {"case-ignore string", {Str(ADSTYPE_CASE_IGNORE_STRING, u"Sales")}, 1, {}, u"Sales"},
        {"printable string", {Str(ADSTYPE_PRINTABLE_STRING, u"+1 555 0100")}, 1, {}, u"+1 555 0100"},
        {"numeric string", {Str(ADSTYPE_NUMERIC_STRING, u"0042")}, 1, {}, u"0042"},
        {"object class list",
         {Str(ADSTYPE_OBJECT_CLASS, u"top"), Str(ADSTYPE_OBJECT_CLASS, u"person"),
          Str(ADSTYPE_OBJECT_CLASS, u"user")},
         3,
         {},
         u"top;person;user"},
        {"string list a;b;c",
         {Str(ADSTYPE_CASE_IGNORE_STRING, u"a"), Str(ADSTYPE_CASE_IGNORE_STRING, u"b"),
          Str(ADSTYPE_CASE_IGNORE_STRING, u"c")},
         3,
         {},
         u"a;b;c"},
        {"string list keeps line breaks and commas for the list to handle",
         {Str(ADSTYPE_CASE_IGNORE_STRING, u"1 Main St\r\nSuite 2"), Str(ADSTYPE_CASE_IGNORE_STRING, u"x,y")},
         2,
         {},
         u"1 Main St\r\nSuite 2;x,y"},
        {"string list stops at count",
         {Str(ADSTYPE_CASE_IGNORE_STRING, u"a"), Str(ADSTYPE_CASE_IGNORE_STRING, u"b"),
          Str(ADSTYPE_CASE_IGNORE_STRING, u"c")},
         2,
         {},
         u"a;b"},
        {"empty value in the middle adds nothing",
         {Str(ADSTYPE_CASE_IGNORE_STRING, u"a"), Str(ADSTYPE_CASE_IGNORE_STRING, u""),
          Str(ADSTYPE_CASE_IGNORE_STRING, u"c")},
         3,
         {},
         u"a;c"},
        {"empty first value adds nothing",
         {Str(ADSTYPE_CASE_IGNORE_STRING, u""), Str(ADSTYPE_CASE_IGNORE_STRING, u"b")},
         2,
         {},
         u"b"},
        {"null string pointer reads as empty",
         {Str(ADSTYPE_CASE_IGNORE_STRING, u"a"), Str(ADSTYPE_CASE_IGNORE_STRING, nullptr)},
         2,
         {},
         u"a"},
        {"only empty values",
         {Str(ADSTYPE_CASE_IGNORE_STRING, u""), Str(ADSTYPE_CASE_IGNORE_STRING, u"")},
         2,
         {},
         u""},
        {"string list with count 0", {Str(ADSTYPE_CASE_IGNORE_STRING, u"a")}, 0, {}, u""},

        {"boolean 0", {Bool(0)}, 1, {}, u"FALSE"},
        {"boolean 1", {Bool(1)}, 1, {}, u"TRUE"},
        {"boolean any non-zero", {Bool(0xFFFFFFFFu)}, 1, {}, u"TRUE"},
        {"boolean 1 then 0 shows the first only", {Bool(1), Bool(0)}, 2, {}, u"TRUE"},
        {"boolean 0 then 1 shows the first only", {Bool(0), Bool(1)}, 2, {}, u"FALSE"},
        {"boolean with count 0", {Bool(1)}, 0, {}, u""},

        {"integer 512", {Int(512)}, 1, {}, u"512"},
        {"integer 0", {Int(0)}, 1, {}, u"0"},
        {"integer all bits set", {Int(0xFFFFFFFFu)}, 1, {}, u"-1"},
        {"integer lowest", {Int(0x80000000u)}, 1, {}, u"-2147483648"},
        {"integer highest, no grouping", {Int(0x7FFFFFFFu)}, 1, {}, u"2147483647"},
        {"integer first only", {Int(1), Int(2)}, 2, {}, u"1"},
        {"integer with count 0", {Int(512)}, 0, {}, u""},

        {"octet string 00..0F",
         {Octet(ADSTYPE_OCTET_STRING, 16, nullptr)},
         1,
         std::vector<BYTE>(kBytes0To27, kBytes0To27 + 16),
         u"{03020100-0504-0706-0809-0A0B0C0D0E0F}"},
        {"octet string of 28 bytes shows the first 16",
         {Octet(ADSTYPE_OCTET_STRING, 28, nullptr)},
         1,
         std::vector<BYTE>(kBytes0To27, kBytes0To27 + 28),
         u"{03020100-0504-0706-0809-0A0B0C0D0E0F}"},
        {"octet string digits in upper case",
         {Octet(ADSTYPE_OCTET_STRING, 16, nullptr)},
         1,
         std::vector<BYTE>(kStoredGuid, kStoredGuid + 16),
         u"{109BA8EC-92F0-11D0-A790-00C04FD8D5A8}"},
        {"octet string of 15 bytes",
         {Octet(ADSTYPE_OCTET_STRING, 15, nullptr)},
         1,
         std::vector<BYTE>(kBytes0To27, kBytes0To27 + 15),
         u""},
        {"octet string of 1 byte",
         {Octet(ADSTYPE_OCTET_STRING, 1, nullptr)},
         1,
         std::vector<BYTE>{0xAB},
         u""},
        {"empty octet string without bytes", {Octet(ADSTYPE_OCTET_STRING, 0, nullptr)}, 1, {}, u""},
        {"octet string claiming 16 bytes without a pointer",
         {Octet(ADSTYPE_OCTET_STRING, 16, nullptr)},
         1,
         {},
         u""},
        {"octet string with count 0", {Octet(ADSTYPE_OCTET_STRING, 16, kBytes0To27)}, 0, {}, u""},

        {"time, UTC shown in local time", {Time(2009, 3, 5, 14, 7, 9)}, 1, {}, u"5/3/2009  19:37:9"},
        {"time ignores milliseconds and day of week",
         {Time(2009, 3, 5, 14, 7, 9, 999, 6)},
         1,
         {},
         u"5/3/2009  19:37:9"},
        {"time rolls over into the next year", {Time(2009, 12, 31, 20, 0, 0)}, 1, {}, u"1/1/2010  1:30:0"},
        {"time list",
         {Time(2009, 3, 5, 14, 7, 9), Time(2021, 11, 20, 8, 45, 30)},
         2,
         {},
         u"5/3/2009  19:37:9; 20/11/2021  14:15:30"},
        {"time list stops at count",
         {Time(2009, 3, 5, 14, 7, 9), Time(2021, 11, 20, 8, 45, 30)},
         1,
         {},
         u"5/3/2009  19:37:9"},
        {"impossible time", {Time(2009, 13, 5, 14, 7, 9)}, 1, {}, u""},
        {"impossible time in a list adds nothing",
         {Time(2009, 3, 5, 14, 7, 9), Time(2009, 2, 30, 0, 0, 0), Time(2010, 1, 1, 0, 0, 0)},
         3,
         {},
         u"5/3/2009  19:37:9; 1/1/2010  5:30:0"},
        {"time with count 0", {Time(2009, 3, 5, 14, 7, 9)}, 0, {}, u""},

        {"large integer 0", {Large(0)}, 1, {}, u"0"},
        {"large integer 3000000000", {Large(3000000000LL)}, 1, {}, u"3000000000"},
        {"large integer 4294967296", {Large(4294967296LL)}, 1, {}, u"4294967296"},
        {"large integer -1", {Large(-1)}, 1, {}, u"-1"},
        {"large integer never-expires value", {Large(0x7FFFFFFFFFFFFFFFLL)}, 1, {}, u"9223372036854775807"},
        {"large integer lowest", {Large(INT64_MIN)}, 1, {}, u"-9223372036854775808"},
        {"large integer with count 0", {Large(5)}, 0, {}, u""},

        {"provider specific",
         {Octet(ADSTYPE_PROV_SPECIFIC, 28, kBytes0To27)},
         1,
         {},
         u"(provider specific value) "},
        {"provider specific without bytes",
         {Octet(ADSTYPE_PROV_SPECIFIC, 0, nullptr)},
         1,
         {},
         u"(provider specific value) "},
        {"provider specific with count 0", {Octet(ADSTYPE_PROV_SPECIFIC, 0, nullptr)}, 0, {}, u""},
        {"security descriptor",
         {Octet(ADSTYPE_NT_SECURITY_DESCRIPTOR, 28, kBytes0To27)},
         1,
         {},
         u"IADsSecurityDescriptor"},
        {"security descriptor with count 0",
         {Octet(ADSTYPE_NT_SECURITY_DESCRIPTOR, 28, kBytes0To27)},
         0,
         {},
         u""},
    };

    // Structured types and anything unknown show nothing, whatever the value holds.
    for (DWORD type = 13; type <= 24; ++type)
        c.push_back({"structured type 13..24", {Hidden(type)}, 1, {}, u""});
    for (DWORD type : {26u, 29u, 99u, 0xFFFFFFFFu})
        c.push_back({"unknown type", {Hidden(type)}, 1, {}, u""});
    ADSVALUE dnBinary{};
    dnBinary.dwType = ADSTYPE_DN_WITH_BINARY;
    dnBinary.pDNWithBinary = &kDnWithBinary;
    c.push_back({"DN with binary", {dnBinary}, 1, {}, u""});
    ADSVALUE dnString{};
    dnString.dwType = ADSTYPE_DN_WITH_STRING;
    dnString.pDNWithString = &kDnWithString;
    c.push_back({"DN with string", {dnString}, 1, {}, u""});
    return c;
}

std::string Utf8(const CString& s) {
    return s.ToUtf8();
}

} // namespace

TEST(FormatAttributeValuesTest, RendersEveryTypeCode) {
    const ScopedTimeZone tz("IST-5:30"); // 5 h 30 ahead of UTC, no daylight saving
    for (const Case& c : Cases()) {
        // Values and bytes both end at an inaccessible page: one read past count or past
        // dwLength crashes the test.
        GuardedMemory valueMemory, byteMemory;
        std::vector<ADSVALUE> values = c.values;
        if (!c.guardedBytes.empty())
            values[0].OctetString.lpValue = byteMemory.Place(c.guardedBytes.data(), c.guardedBytes.size());
        const ADSVALUE* placed = valueMemory.Place(values.data(), c.count);
        EXPECT_EQ(Utf8(FormatAttributeValues(placed, c.count)), Utf8(CString(c.expected)))
            << c.name << " (type " << c.values[0].dwType << ")";
    }
}

TEST(FormatAttributeValuesTest, NullValuesGiveEmptyText) {
    EXPECT_TRUE(FormatAttributeValues(nullptr, 0).IsEmpty());
    EXPECT_TRUE(FormatAttributeValues(nullptr, 3).IsEmpty());
}

// The local time shown is UTC plus the offset in force now, daylight saving included, for every
// value whatever its own season: a January and a July value are shifted by the same amount.
TEST(FormatAttributeValuesTest, TimesUseTheOffsetInForceNowForEverySeason) {
    // One zone of each hemisphere, so that one of them is in daylight saving time today.
    for (const char* zone : {"CET-1CEST,M3.5.0,M10.5.0/3", "AEST-10AEDT,M10.1.0,M4.1.0/3"}) {
        const ScopedTimeZone tz(zone);
        const ADSVALUE values[] = {Time(2021, 1, 15, 12, 0, 0), Time(2021, 7, 15, 12, 0, 0)};
        auto offsetNow = [] {
            const std::time_t now = std::time(nullptr);
            std::tm tm{};
            localtime_r(&now, &tm);
            return tm.tm_gmtoff;
        };
        // Retry if a daylight-saving change happens while the test runs.
        for (int attempt = 0; attempt < 3; ++attempt) {
            const long before = offsetNow();
            const CString text = FormatAttributeValues(values, 2);
            if (offsetNow() != before) continue;
            const long hours = before / 3600;
            CString expected;
            expected.Format(u"15/1/2021  %d:0:0; 15/7/2021  %d:0:0", static_cast<int>(12 + hours),
                            static_cast<int>(12 + hours));
            EXPECT_EQ(Utf8(text), Utf8(expected)) << zone << ", offset now " << before << " s";
            break;
        }
    }
}
