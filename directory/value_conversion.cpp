#include "directory/value_conversion.h"

#include "platform/wintime.h"

#include <algorithm>
#include <charconv>
#include <cstdint>
#include <cstring>
#include <limits>
#include <new>
#include <optional>

#include "platform/cstring.h"

namespace brevonix::directory {

void* AdsValueStore::Allocate(size_t size, size_t alignment) {
    auto align = [&] {
        const auto address = reinterpret_cast<std::uintptr_t>(m_next);
        const size_t pad = (alignment - address % alignment) % alignment;
        if (pad > m_left) return false;
        m_next += pad;
        m_left -= pad;
        return true;
    };
    if (!align() || m_left < size) {
        const size_t blockSize = std::max<size_t>(size + alignment, 1024);
        m_blocks.push_back(std::make_unique_for_overwrite<std::byte[]>(blockSize));
        m_next = m_blocks.back().get();
        m_left = blockSize;
        align();
    }
    void* p = m_next;
    m_next += size;
    m_left -= size;
    return p;
}

LPWSTR AdsValueStore::AddString(std::u16string_view text) {
    auto* buffer = static_cast<WCHAR*>(Allocate((text.size() + 1) * sizeof(WCHAR), alignof(WCHAR)));
    std::copy(text.begin(), text.end(), buffer);
    buffer[text.size()] = u'\0';
    return buffer;
}

LPWSTR AdsValueStore::AddUtf8String(std::string_view utf8) {
    // Pure ASCII, the common case, needs no decoding.
    if (std::all_of(utf8.begin(), utf8.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; })) {
        auto* buffer = static_cast<WCHAR*>(Allocate((utf8.size() + 1) * sizeof(WCHAR), alignof(WCHAR)));
        std::copy(utf8.begin(), utf8.end(), buffer);
        buffer[utf8.size()] = u'\0';
        return buffer;
    }
    return AddString(CString::FromUtf8(utf8).str());
}

BYTE* AdsValueStore::AddBytes(const BYTE* data, size_t size) {
    if (size == 0) return nullptr;
    auto* buffer = static_cast<BYTE*>(Allocate(size, 1));
    std::memcpy(buffer, data, size);
    return buffer;
}

ADS_DN_WITH_BINARY* AdsValueStore::AddDnWithBinary() {
    return new (Allocate(sizeof(ADS_DN_WITH_BINARY), alignof(ADS_DN_WITH_BINARY))) ADS_DN_WITH_BINARY{};
}

ADS_DN_WITH_STRING* AdsValueStore::AddDnWithString() {
    return new (Allocate(sizeof(ADS_DN_WITH_STRING), alignof(ADS_DN_WITH_STRING))) ADS_DN_WITH_STRING{};
}

ADSVALUE* AdsValueStore::AddValues(size_t count) {
    if (count == 0) return nullptr;
    auto* values = static_cast<ADSVALUE*>(Allocate(count * sizeof(ADSVALUE), alignof(ADSVALUE)));
    for (size_t i = 0; i < count; ++i)
        new (&values[i]) ADSVALUE{};
    return values;
}

namespace {

struct SyntaxType {
    std::string_view oid;
    ADSTYPE type;
};

constexpr std::string_view kLdapSyntaxArc = "1.3.6.1.4.1.1466.115.121.1.";

// RFC 4517 syntaxes under 1.3.6.1.4.1.1466.115.121.1, by their last arc. Anything not listed here
// is text and comes out as a case-ignore string.
ADSTYPE TypeForStandardSyntax(int arc) {
    switch (arc) {
    case 4:  // Audio
    case 5:  // Binary
    case 8:  // Certificate
    case 9:  // Certificate List
    case 10: // Certificate Pair
    case 23: // Fax
    case 28: // JPEG
    case 40: // Octet String
    case 49: // Supported Algorithm
        return ADSTYPE_OCTET_STRING;
    case 7:
        return ADSTYPE_BOOLEAN;
    case 11: // Country String: two printable characters
    case 44: // Printable String
        return ADSTYPE_PRINTABLE_STRING;
    case 12:
        return ADSTYPE_DN_STRING;
    case 24: // Generalized Time
    case 53: // UTC Time
        return ADSTYPE_UTC_TIME;
    case 27:
        return ADSTYPE_INTEGER;
    case 36:
        return ADSTYPE_NUMERIC_STRING;
    default:
        return ADSTYPE_CASE_IGNORE_STRING;
    }
}

// Syntaxes Active Directory adds under Microsoft's arc.
constexpr SyntaxType kAdSyntaxes[] = {
    {"1.2.840.113556.1.4.903", ADSTYPE_DN_WITH_BINARY},
    {"1.2.840.113556.1.4.904", ADSTYPE_DN_WITH_STRING},
    {"1.2.840.113556.1.4.905", ADSTYPE_CASE_IGNORE_STRING}, // Teletex string
    {"1.2.840.113556.1.4.906", ADSTYPE_LARGE_INTEGER},
    {"1.2.840.113556.1.4.907", ADSTYPE_NT_SECURITY_DESCRIPTOR},
    {"1.2.840.113556.1.4.1221", ADSTYPE_CASE_IGNORE_STRING}, // OR name
    {"1.2.840.113556.1.4.1362", ADSTYPE_CASE_EXACT_STRING},
};

bool AllDigits(std::string_view s) {
    if (s.empty()) return false;
    for (char c : s)
        if (c < '0' || c > '9') return false;
    return true;
}

int Digits(std::string_view s, size_t pos, size_t count) {
    int v = 0;
    for (size_t i = pos; i < pos + count; ++i)
        v = v * 10 + (s[i] - '0');
    return v;
}

using calendar::CivilFromDays;
using calendar::DaysFromCivil;
using calendar::DaysInMonth;

// Fields read from either time syntax, before the zone is applied.
struct TimeFields {
    std::int64_t year = 0;
    int month = 0, day = 0, hour = 0, minute = 0, second = 0;
    std::int64_t fractionMs = 0; // milliseconds added for a fraction of the last unit given
    int offsetMinutes = 0;       // east of UTC
};

// Reads "Z" or "+hhmm"/"-hhmm" (Generalized Time also allows "+hh") and nothing after it.
bool ParseZone(std::string_view rest, bool allowHourOnly, int& offsetMinutes) {
    if (rest == "Z") {
        offsetMinutes = 0;
        return true;
    }
    if (rest.size() != 5 && !(allowHourOnly && rest.size() == 3)) return false;
    if (rest[0] != '+' && rest[0] != '-') return false;
    if (!AllDigits(rest.substr(1))) return false;
    const int hh = Digits(rest, 1, 2);
    const int mm = rest.size() == 5 ? Digits(rest, 3, 2) : 0;
    if (hh > 23 || mm > 59) return false;
    offsetMinutes = (hh * 60 + mm) * (rest[0] == '-' ? -1 : 1);
    return true;
}

bool ToSystemTime(const TimeFields& f, SYSTEMTIME& out) {
    if (f.month < 1 || f.month > 12 || f.day < 1 || f.day > DaysInMonth(f.year, f.month) || f.hour > 23 ||
        f.minute > 59 || f.second > 60)
        return false;
    const int second = f.second == 60 ? 59 : f.second;
    std::int64_t ms = DaysFromCivil(f.year, static_cast<unsigned>(f.month), static_cast<unsigned>(f.day));
    ms = ((ms * 24 + f.hour) * 60 + f.minute) * 60 + second;
    ms = ms * 1000 + f.fractionMs;
    ms -= static_cast<std::int64_t>(f.offsetMinutes) * 60 * 1000;

    std::int64_t days = ms / 86400000;
    std::int64_t msOfDay = ms % 86400000;
    if (msOfDay < 0) {
        msOfDay += 86400000;
        --days;
    }
    std::int64_t y;
    unsigned m, d;
    CivilFromDays(days, y, m, d);
    if (y < 0 || y > 9999) return false;
    out.wYear = static_cast<WORD>(y);
    out.wMonth = static_cast<WORD>(m);
    out.wDay = static_cast<WORD>(d);
    out.wDayOfWeek = static_cast<WORD>(((days % 7) + 11) % 7); // 1970-01-01 was a Thursday (4)
    out.wHour = static_cast<WORD>(msOfDay / 3600000);
    out.wMinute = static_cast<WORD>(msOfDay / 60000 % 60);
    out.wSecond = static_cast<WORD>(msOfDay / 1000 % 60);
    out.wMilliseconds = static_cast<WORD>(msOfDay % 1000);
    return true;
}

template <typename T> std::optional<T> ParseDecimal(std::string_view s) {
    if (s.empty()) return std::nullopt;
    const bool negative = s[0] == '-';
    if (!AllDigits(negative ? s.substr(1) : s)) return std::nullopt;
    T value{};
    const auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), value);
    if (ec != std::errc() || end != s.data() + s.size()) return std::nullopt;
    return value;
}

bool ParseHex(std::string_view hex, std::vector<BYTE>& out) {
    if (hex.size() % 2 != 0) return false;
    auto nibble = [](char c) -> int {
        if (c >= '0' && c <= '9') return c - '0';
        if (c >= 'a' && c <= 'f') return c - 'a' + 10;
        if (c >= 'A' && c <= 'F') return c - 'A' + 10;
        return -1;
    };
    out.clear();
    out.reserve(hex.size() / 2);
    for (size_t i = 0; i < hex.size(); i += 2) {
        const int hi = nibble(hex[i]), lo = nibble(hex[i + 1]);
        if (hi < 0 || lo < 0) return false;
        out.push_back(static_cast<BYTE>(hi << 4 | lo));
    }
    return true;
}

// "B:<count>:<count hex digits>:<dn>" and "S:<count>:<count bytes of text>:<dn>": the count is
// decimal and the DN takes the rest.
bool SplitDnWith(std::string_view raw, char tag, std::string_view& payload, std::string_view& dn) {
    if (raw.size() < 4 || raw[0] != tag || raw[1] != ':') return false;
    const size_t colon = raw.find(':', 2);
    if (colon == std::string_view::npos) return false;
    const auto count = ParseDecimal<std::uint32_t>(raw.substr(2, colon - 2));
    if (!count || raw[2] == '-') return false;
    const size_t start = colon + 1;
    if (*count > raw.size() - start || start + *count >= raw.size() || raw[start + *count] != ':')
        return false;
    payload = raw.substr(start, *count);
    dn = raw.substr(start + *count + 1);
    return true;
}

bool ParseBoolean(std::string_view s, DWORD& out) {
    auto equalsNoCase = [&](std::string_view word) {
        if (s.size() != word.size()) return false;
        for (size_t i = 0; i < s.size(); ++i) {
            char c = s[i];
            if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
            if (c != word[i]) return false;
        }
        return true;
    };
    if (equalsNoCase("TRUE")) {
        out = 1;
        return true;
    }
    if (equalsNoCase("FALSE")) {
        out = 0;
        return true;
    }
    return false;
}

} // namespace

ValueSyntax SyntaxFromOid(std::string_view oid) {
    if (const size_t brace = oid.find('{'); brace != std::string_view::npos) oid = oid.substr(0, brace);
    while (!oid.empty() && (oid.back() == ' ' || oid.back() == '\''))
        oid.remove_suffix(1);
    while (!oid.empty() && (oid.front() == ' ' || oid.front() == '\''))
        oid.remove_prefix(1);
    if (oid.starts_with(kLdapSyntaxArc)) {
        const auto arc = ParseDecimal<int>(oid.substr(kLdapSyntaxArc.size()));
        if (arc && *arc >= 0) return {TypeForStandardSyntax(*arc), *arc == 53};
        return {};
    }
    for (const auto& s : kAdSyntaxes)
        if (s.oid == oid) return {s.type, false};
    return {};
}

bool ParseGeneralizedTime(std::string_view s, SYSTEMTIME& utc) {
    // YYYYMMDDHH, then optional MM and SS, then an optional fraction of the last unit, then the zone.
    size_t pos = 0;
    auto takeDigits = [&](size_t n) -> std::optional<int> {
        if (pos + n > s.size() || !AllDigits(s.substr(pos, n))) return std::nullopt;
        const int v = Digits(s, pos, n);
        pos += n;
        return v;
    };
    TimeFields f;
    const auto year = takeDigits(4), month = takeDigits(2), day = takeDigits(2), hour = takeDigits(2);
    if (!year || !month || !day || !hour) return false;
    f.year = *year;
    f.month = *month;
    f.day = *day;
    f.hour = *hour;
    std::int64_t unitMs = 3600000;
    if (auto minute = takeDigits(2)) {
        f.minute = *minute;
        unitMs = 60000;
        if (auto second = takeDigits(2)) {
            f.second = *second;
            unitMs = 1000;
        }
    }
    if (pos < s.size() && (s[pos] == '.' || s[pos] == ',')) {
        ++pos;
        const size_t start = pos;
        while (pos < s.size() && s[pos] >= '0' && s[pos] <= '9')
            ++pos;
        if (pos == start) return false;
        // Enough digits for a millisecond of an hour; the rest cannot change the result.
        std::int64_t numerator = 0, denominator = 1;
        for (size_t i = start; i < pos && i < start + 9; ++i) {
            numerator = numerator * 10 + (s[i] - '0');
            denominator *= 10;
        }
        f.fractionMs = numerator * unitMs / denominator;
    }
    if (!ParseZone(s.substr(pos), true, f.offsetMinutes)) return false;
    return ToSystemTime(f, utc);
}

bool ParseUtcTime(std::string_view s, SYSTEMTIME& utc) {
    if (s.size() < 11 || !AllDigits(s.substr(0, 10))) return false;
    TimeFields f;
    const int yy = Digits(s, 0, 2);
    f.year = yy < 50 ? 2000 + yy : 1900 + yy;
    f.month = Digits(s, 2, 2);
    f.day = Digits(s, 4, 2);
    f.hour = Digits(s, 6, 2);
    f.minute = Digits(s, 8, 2);
    size_t pos = 10;
    if (s.size() >= 12 && AllDigits(s.substr(10, 2))) {
        f.second = Digits(s, 10, 2);
        pos = 12;
    }
    if (!ParseZone(s.substr(pos), false, f.offsetMinutes)) return false;
    return ToSystemTime(f, utc);
}

bool ConvertAdsValue(std::string_view raw, const ValueSyntax& syntax, AdsValueStore& store, ADSVALUE& out) {
    const ADSTYPE type = syntax.type;
    std::memset(&out, 0, sizeof out);
    out.dwType = ADSTYPE_INVALID;
    const auto* bytes = reinterpret_cast<const BYTE*>(raw.data());
    switch (type) {
    case ADSTYPE_DN_STRING:
    case ADSTYPE_CASE_EXACT_STRING:
    case ADSTYPE_CASE_IGNORE_STRING:
    case ADSTYPE_PRINTABLE_STRING:
    case ADSTYPE_NUMERIC_STRING:
    case ADSTYPE_OBJECT_CLASS:
        // All six share the one string pointer of the union.
        out.CaseIgnoreString = store.AddUtf8String(raw);
        break;
    case ADSTYPE_BOOLEAN:
        if (!ParseBoolean(raw, out.Boolean)) return false;
        break;
    case ADSTYPE_INTEGER: {
        // ADSI integers are 32 bits; the directory stores flag words such as 0x80000000 either
        // signed or unsigned, so both ranges are taken as the same bit pattern.
        const auto v = ParseDecimal<std::int64_t>(raw);
        if (!v || *v < std::numeric_limits<std::int32_t>::min() ||
            *v > std::numeric_limits<std::uint32_t>::max())
            return false;
        out.Integer = static_cast<DWORD>(static_cast<std::uint64_t>(*v));
        break;
    }
    case ADSTYPE_LARGE_INTEGER: {
        const auto v = ParseDecimal<std::int64_t>(raw);
        if (!v) return false;
        out.LargeInteger.QuadPart = *v;
        break;
    }
    case ADSTYPE_UTC_TIME:
        if (!(syntax.utcTime ? ParseUtcTime(raw, out.UTCTime) : ParseGeneralizedTime(raw, out.UTCTime)))
            return false;
        break;
    case ADSTYPE_OCTET_STRING:
        if (raw.size() > std::numeric_limits<DWORD>::max()) return false;
        out.OctetString.dwLength = static_cast<DWORD>(raw.size());
        out.OctetString.lpValue = store.AddBytes(bytes, raw.size());
        break;
    case ADSTYPE_NT_SECURITY_DESCRIPTOR:
        if (raw.size() > std::numeric_limits<DWORD>::max()) return false;
        out.SecurityDescriptor.dwLength = static_cast<DWORD>(raw.size());
        out.SecurityDescriptor.lpValue = store.AddBytes(bytes, raw.size());
        break;
    case ADSTYPE_PROV_SPECIFIC:
        if (raw.size() > std::numeric_limits<DWORD>::max()) return false;
        out.ProviderSpecific.dwLength = static_cast<DWORD>(raw.size());
        out.ProviderSpecific.lpValue = store.AddBytes(bytes, raw.size());
        break;
    case ADSTYPE_DN_WITH_BINARY: {
        std::string_view hex, dn;
        std::vector<BYTE> binary;
        if (!SplitDnWith(raw, 'B', hex, dn) || !ParseHex(hex, binary)) return false;
        ADS_DN_WITH_BINARY* rec = store.AddDnWithBinary();
        rec->dwLength = static_cast<DWORD>(binary.size());
        rec->lpBinaryValue = store.AddBytes(binary.data(), binary.size());
        rec->pszDNString = store.AddUtf8String(dn);
        out.pDNWithBinary = rec;
        break;
    }
    case ADSTYPE_DN_WITH_STRING: {
        std::string_view text, dn;
        if (!SplitDnWith(raw, 'S', text, dn)) return false;
        ADS_DN_WITH_STRING* rec = store.AddDnWithString();
        rec->pszStringValue = store.AddUtf8String(text);
        rec->pszDNString = store.AddUtf8String(dn);
        out.pDNWithString = rec;
        break;
    }
    default:
        // Types this stand-in never derives from a syntax.
        return false;
    }
    out.dwType = type;
    return true;
}

ADSTYPE ConvertAdsValues(std::span<const std::string_view> raw, const ValueSyntax& syntax,
                         AdsValueStore& store, std::span<ADSVALUE> out) {
    for (size_t i = 0; i < raw.size(); ++i) {
        if (!ConvertAdsValue(raw[i], syntax, store, out[i])) {
            for (size_t j = 0; j < raw.size(); ++j)
                ConvertAdsValue(raw[j], ValueSyntax{}, store, out[j]);
            return ADSTYPE_CASE_IGNORE_STRING;
        }
    }
    return syntax.type;
}

ADSTYPE ConvertAdsValues(std::span<const std::string_view> raw, const ValueSyntax& syntax,
                         AdsValueStore& store, std::vector<ADSVALUE>& out) {
    out.assign(raw.size(), ADSVALUE{});
    return ConvertAdsValues(raw, syntax, store, std::span<ADSVALUE>(out));
}

} // namespace brevonix::directory
