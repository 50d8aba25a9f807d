// Turning one raw directory value (the bytes the server sent, plus the attribute's syntax) into an
// ADSVALUE, the way the tool's callers expect to read it.
//
// Kept free of any LDAP library type so that it can be tested and fuzzed on its own.
//
// Values that break their syntax (a time that is no time, an integer with junk in it, a number too
// large for its ADSI type) never fail the caller: when any value of an attribute cannot be read as
// its syntax says, every value of that attribute is handed out as ADSTYPE_CASE_IGNORE_STRING holding
// the value's text, so that one column always has one type and the user still sees what the
// directory holds.
#pragma once

#include <cstddef>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "directory/adsi.h"

namespace brevonix::directory {

// Owns everything the ADSVALUEs of one column point at (strings, bytes, DN-with records, the value
// array itself). The pointers handed out stay valid until the store is destroyed. Memory comes from a
// small arena, so that a typical column costs no heap allocation beyond the store itself: the search
// loop asks for one column per cell, hundreds of thousands of times.
class AdsValueStore {
public:
    AdsValueStore() = default;
    AdsValueStore(const AdsValueStore&) = delete;
    AdsValueStore& operator=(const AdsValueStore&) = delete;

    LPWSTR AddString(std::u16string_view text);
    LPWSTR AddUtf8String(std::string_view utf8);
    // Null for an empty byte string.
    BYTE* AddBytes(const BYTE* data, size_t size);
    ADS_DN_WITH_BINARY* AddDnWithBinary();
    ADS_DN_WITH_STRING* AddDnWithString();
    // `count` zeroed values (null for none).
    ADSVALUE* AddValues(size_t count);

private:
    void* Allocate(size_t size, size_t alignment);

    alignas(std::max_align_t) std::byte m_inline[320];
    std::byte* m_next = m_inline;
    size_t m_left = sizeof m_inline;
    std::vector<std::unique_ptr<std::byte[]>> m_blocks;
};

// What a value of one LDAP syntax becomes: its ADSI type, and for times which of the two LDAP time
// syntaxes it is written in (their texts can look alike, so the syntax decides).
struct ValueSyntax {
    ADSTYPE type = ADSTYPE_CASE_IGNORE_STRING;
    bool utcTime = false; // UTC Time (two-digit year) rather than Generalized Time
};

// The syntax of an attribute type's SYNTAX OID. The OID may carry a length bound
// ("1.3.6.1.4.1.1466.115.121.1.15{64}"). An unknown or empty syntax is a case-ignore string: LDAP
// values are text unless the schema says otherwise.
ValueSyntax SyntaxFromOid(std::string_view syntaxOid);
inline ADSTYPE AdsTypeForSyntax(std::string_view syntaxOid) {
    return SyntaxFromOid(syntaxOid).type;
}

// Converts one value. Returns false, leaving `out` as ADSTYPE_INVALID, when the bytes break the
// syntax. Strings are converted from UTF-8 to UTF-16 (invalid sequences become U+FFFD).
bool ConvertAdsValue(std::string_view raw, const ValueSyntax& syntax, AdsValueStore& store, ADSVALUE& out);

// Converts all values of one attribute into `out` (as many entries as `raw`) and returns the type
// they were given: the syntax's type, or ADSTYPE_CASE_IGNORE_STRING when any value broke the syntax
// (see the top of this file).
ADSTYPE ConvertAdsValues(std::span<const std::string_view> raw, const ValueSyntax& syntax,
                         AdsValueStore& store, std::span<ADSVALUE> out);
ADSTYPE ConvertAdsValues(std::span<const std::string_view> raw, const ValueSyntax& syntax,
                         AdsValueStore& store, std::vector<ADSVALUE>& out);

// LDAP time syntaxes to a UTC SYSTEMTIME (day of week filled in). False for anything that is not a
// valid time: Generalized Time "YYYYMMDDHH[MM[SS]][.fraction](Z|+hhmm|-hhmm)", UTC Time
// "YYMMDDHHMM[SS](Z|+hhmm|-hhmm)" (years 50-99 are 19xx, 00-49 are 20xx). A leap second reads as
// second 59.
bool ParseGeneralizedTime(std::string_view text, SYSTEMTIME& utc);
bool ParseUtcTime(std::string_view text, SYSTEMTIME& utc);

} // namespace brevonix::directory
