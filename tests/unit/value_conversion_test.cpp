// Raw directory values (bytes + syntax) to ADSVALUEs.
#include "directory/value_conversion.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "directory/directory_schema.h"

using namespace brevonix::directory;

namespace {

constexpr const char* kDirectoryString = "1.3.6.1.4.1.1466.115.121.1.15";
constexpr const char* kGeneralizedTime = "1.3.6.1.4.1.1466.115.121.1.24";
constexpr const char* kUtcTime = "1.3.6.1.4.1.1466.115.121.1.53";

struct SyntaxCase {
    const char* oid;
    ADSTYPE type;
};

TEST(ValueConversion, SyntaxOidsGiveTheTypesAdsiGives) {
    const SyntaxCase cases[] = {
        {"1.3.6.1.4.1.1466.115.121.1.15", ADSTYPE_CASE_IGNORE_STRING}, // Directory String
        {"1.3.6.1.4.1.1466.115.121.1.15{64}", ADSTYPE_CASE_IGNORE_STRING},
        {"'1.3.6.1.4.1.1466.115.121.1.15'", ADSTYPE_CASE_IGNORE_STRING}, // AD quotes its OIDs
        {"1.3.6.1.4.1.1466.115.121.1.26", ADSTYPE_CASE_IGNORE_STRING},   // IA5
        {"1.3.6.1.4.1.1466.115.121.1.50", ADSTYPE_CASE_IGNORE_STRING},   // Telephone Number
        {"1.3.6.1.4.1.1466.115.121.1.38", ADSTYPE_CASE_IGNORE_STRING},   // OID
        {"1.3.6.1.4.1.1466.115.121.1.41", ADSTYPE_CASE_IGNORE_STRING},   // Postal Address
        {"1.3.6.1.4.1.1466.115.121.1.12", ADSTYPE_DN_STRING},
        {"1.3.6.1.4.1.1466.115.121.1.44", ADSTYPE_PRINTABLE_STRING},
        {"1.3.6.1.4.1.1466.115.121.1.36", ADSTYPE_NUMERIC_STRING},
        {"1.3.6.1.4.1.1466.115.121.1.7", ADSTYPE_BOOLEAN},
        {"1.3.6.1.4.1.1466.115.121.1.27", ADSTYPE_INTEGER},
        {"1.3.6.1.4.1.1466.115.121.1.40", ADSTYPE_OCTET_STRING}, // objectGUID, objectSid
        {"1.3.6.1.4.1.1466.115.121.1.5", ADSTYPE_OCTET_STRING},  // Binary
        {"1.3.6.1.4.1.1466.115.121.1.28", ADSTYPE_OCTET_STRING}, // JPEG
        {"1.3.6.1.4.1.1466.115.121.1.24", ADSTYPE_UTC_TIME},
        {"1.3.6.1.4.1.1466.115.121.1.53", ADSTYPE_UTC_TIME},
        {"1.2.840.113556.1.4.906", ADSTYPE_LARGE_INTEGER},
        {"1.2.840.113556.1.4.907", ADSTYPE_NT_SECURITY_DESCRIPTOR},
        {"1.2.840.113556.1.4.903", ADSTYPE_DN_WITH_BINARY},
        {"1.2.840.113556.1.4.904", ADSTYPE_DN_WITH_STRING},
        {"1.2.840.113556.1.4.1362", ADSTYPE_CASE_EXACT_STRING},
        {"1.3.6.1.4.1.1466.115.121.1.999", ADSTYPE_CASE_IGNORE_STRING}, // unknown: text
        {"2.999.1", ADSTYPE_CASE_IGNORE_STRING},
        {"", ADSTYPE_CASE_IGNORE_STRING},
        {"1.3.6.1.4.1.1466.115.121.1.x", ADSTYPE_CASE_IGNORE_STRING},
    };
    for (const auto& c : cases)
        EXPECT_EQ(SyntaxFromOid(c.oid).type, c.type) << c.oid;
    EXPECT_TRUE(SyntaxFromOid(kUtcTime).utcTime);
    EXPECT_FALSE(SyntaxFromOid(kGeneralizedTime).utcTime);
}

ADSVALUE Convert(const std::string& raw, const char* oid, AdsValueStore& store, bool* ok = nullptr) {
    ADSVALUE v;
    const bool converted = ConvertAdsValue(raw, SyntaxFromOid(oid), store, v);
    if (ok) *ok = converted;
    return v;
}

TEST(ValueConversion, TextIsUtf16ExactlyIncludingSurrogatePairs) {
    AdsValueStore store;
    // "Zoë Łukasz 東京 𝄞" — Latin-1, beyond Latin-1, CJK and a character above U+FFFF.
    const ADSVALUE v = Convert("Zo\xC3\xAB \xC5\x81ukasz \xE6\x9D\xB1\xE4\xBA\xAC \xF0\x9D\x84\x9E",
                               kDirectoryString, store);
    ASSERT_EQ(v.dwType, ADSTYPE_CASE_IGNORE_STRING);
    EXPECT_EQ(std::u16string(v.CaseIgnoreString), u"Zoë Łukasz 東京 \U0001D11E");
    EXPECT_EQ(std::u16string(v.CaseIgnoreString).substr(14), std::u16string({0xD834, 0xDD1E}));

    // Broken UTF-8 does not break the conversion: the bad bytes become U+FFFD.
    const ADSVALUE bad = Convert("a\xFF"
                                 "b",
                                 kDirectoryString, store);
    EXPECT_EQ(std::u16string(bad.CaseIgnoreString), u"a\uFFFDb");

    const ADSVALUE dn = Convert("cn=J\xC3\xBCrgen,dc=example", "1.3.6.1.4.1.1466.115.121.1.12", store);
    ASSERT_EQ(dn.dwType, ADSTYPE_DN_STRING);
    EXPECT_EQ(std::u16string(dn.DNString), u"cn=Jürgen,dc=example");

    const ADSVALUE empty = Convert("", kDirectoryString, store);
    ASSERT_EQ(empty.dwType, ADSTYPE_CASE_IGNORE_STRING);
    EXPECT_EQ(std::u16string(empty.CaseIgnoreString), u"");
}

struct NumberCase {
    const char* raw;
    bool ok;
    DWORD value;
};

TEST(ValueConversion, IntegersAre32BitPatternsAndJunkIsRefused) {
    const NumberCase cases[] = {
        {"512", true, 512},
        {"0", true, 0},
        {"-1", true, 0xFFFFFFFFu},
        {"-2147483648", true, 0x80000000u},
        {"2147483648", true, 0x80000000u}, // AD writes some flag words unsigned
        {"4294967295", true, 0xFFFFFFFFu},
        {"4294967296", false, 0},
        {"-2147483649", false, 0},
        {"99999999999999999999999", false, 0},
        {"", false, 0},
        {"-", false, 0},
        {"+5", false, 0},
        {" 5", false, 0},
        {"5 ", false, 0},
        {"12a", false, 0},
        {"0x10", false, 0},
    };
    AdsValueStore store;
    for (const auto& c : cases) {
        bool ok = false;
        const ADSVALUE v = Convert(c.raw, "1.3.6.1.4.1.1466.115.121.1.27", store, &ok);
        EXPECT_EQ(ok, c.ok) << c.raw;
        if (c.ok) {
            EXPECT_EQ(v.dwType, ADSTYPE_INTEGER) << c.raw;
            EXPECT_EQ(v.Integer, c.value) << c.raw;
        } else {
            EXPECT_EQ(v.dwType, ADSTYPE_INVALID) << c.raw;
        }
    }
}

TEST(ValueConversion, LargeIntegersAreSigned64Bit) {
    struct Case {
        const char* raw;
        bool ok;
        long long value;
    } const cases[] = {
        {"0", true, 0},
        {"128790036290000000", true, 128790036290000000ll},
        {"9223372036854775807", true, 9223372036854775807ll}, // accountExpires "never"
        {"-9223372036854775808", true, -9223372036854775807ll - 1},
        {"-1", true, -1},
        {"9223372036854775808", false, 0},
        {"1e5", false, 0},
        {"", false, 0},
    };
    AdsValueStore store;
    for (const auto& c : cases) {
        bool ok = false;
        const ADSVALUE v = Convert(c.raw, "1.2.840.113556.1.4.906", store, &ok);
        EXPECT_EQ(ok, c.ok) << c.raw;
        if (c.ok) {
            EXPECT_EQ(v.dwType, ADSTYPE_LARGE_INTEGER);
            EXPECT_EQ(v.LargeInteger.QuadPart, c.value) << c.raw;
        }
    }
}

TEST(ValueConversion, Booleans) {
    AdsValueStore store;
    bool ok = false;
    EXPECT_EQ(Convert("TRUE", "1.3.6.1.4.1.1466.115.121.1.7", store, &ok).Boolean, 1u);
    EXPECT_TRUE(ok);
    EXPECT_EQ(Convert("FALSE", "1.3.6.1.4.1.1466.115.121.1.7", store, &ok).Boolean, 0u);
    EXPECT_TRUE(ok);
    EXPECT_EQ(Convert("false", "1.3.6.1.4.1.1466.115.121.1.7", store, &ok).Boolean, 0u);
    EXPECT_TRUE(ok);
    for (const char* junk : {"", "1", "yes", "TRUEX", "T"}) {
        Convert(junk, "1.3.6.1.4.1.1466.115.121.1.7", store, &ok);
        EXPECT_FALSE(ok) << junk;
    }
}

struct TimeCase {
    const char* raw;
    bool utcSyntax;
    bool ok;
    WORD year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0, ms = 0, dayOfWeek = 0;
};

TEST(ValueConversion, TimesBecomeUtcSystemTimes) {
    const TimeCase cases[] = {
        // AD's form, and the same instant in the other forms the syntax allows.
        {"20090305140709.0Z", false, true, 2009, 3, 5, 14, 7, 9, 0, 4},
        {"20090305140709Z", false, true, 2009, 3, 5, 14, 7, 9, 0, 4},
        {"20090305140709.25Z", false, true, 2009, 3, 5, 14, 7, 9, 250, 4},
        {"20090305140709,5Z", false, true, 2009, 3, 5, 14, 7, 9, 500, 4},
        {"200903051407Z", false, true, 2009, 3, 5, 14, 7, 0, 0, 4},
        {"200903051407.5Z", false, true, 2009, 3, 5, 14, 7, 30, 0, 4}, // half a minute
        {"2009030514Z", false, true, 2009, 3, 5, 14, 0, 0, 0, 4},
        {"2009030514.25Z", false, true, 2009, 3, 5, 14, 15, 0, 0, 4}, // a quarter of an hour
        // Zones are applied to give UTC, across day, month and year ends.
        {"20090305193709+0530", false, true, 2009, 3, 5, 14, 7, 9, 0, 4},
        {"20090305060709-0800", false, true, 2009, 3, 5, 14, 7, 9, 0, 4},
        {"20090101003000+01", false, true, 2008, 12, 31, 23, 30, 0, 0, 3},
        {"20081231233000-0100", false, true, 2009, 1, 1, 0, 30, 0, 0, 4},
        {"20240229120000Z", false, true, 2024, 2, 29, 12, 0, 0, 0, 4},
        {"20161231235960Z", false, true, 2016, 12, 31, 23, 59, 59, 0, 6}, // leap second
        {"16010101000000Z", false, true, 1601, 1, 1, 0, 0, 0, 0, 1},
        // Not times.
        {"20230229120000Z", false, false},
        {"20091305140709Z", false, false},
        {"20090005140709Z", false, false},
        {"20090332140709Z", false, false},
        {"20090305240000Z", false, false},
        {"20090305146009Z", false, false},
        {"20090305140709", false, false},   // the zone is required
        {"20090305140709.Z", false, false}, // a fraction needs digits
        {"20090305140709Zjunk", false, false},
        {"20090305140709+2400", false, false},
        {"20090305140709+05", false, true, 2009, 3, 5, 9, 7, 9, 0, 4},
        {"2009-03-05T14:07:09Z", false, false},
        {"", false, false},
        {"00000101000000+0100", false, false}, // before year 0 once the zone is applied
        // UTC Time: two-digit years, 50-99 in the 1900s.
        {"0903051407Z", true, true, 2009, 3, 5, 14, 7, 0, 0, 4},
        {"090305140709Z", true, true, 2009, 3, 5, 14, 7, 9, 0, 4},
        {"9912312359Z", true, true, 1999, 12, 31, 23, 59, 0, 0, 5},
        {"090305193709+0530", true, true, 2009, 3, 5, 14, 7, 9, 0, 4},
        {"0903051407", true, false},
        {"090305140709.5Z", true, false},
    };
    AdsValueStore store;
    for (const auto& c : cases) {
        bool ok = false;
        const ADSVALUE v = Convert(c.raw, c.utcSyntax ? kUtcTime : kGeneralizedTime, store, &ok);
        EXPECT_EQ(ok, c.ok) << c.raw;
        if (!c.ok || !ok) continue;
        ASSERT_EQ(v.dwType, ADSTYPE_UTC_TIME);
        const SYSTEMTIME& t = v.UTCTime;
        EXPECT_EQ(t.wYear, c.year) << c.raw;
        EXPECT_EQ(t.wMonth, c.month) << c.raw;
        EXPECT_EQ(t.wDay, c.day) << c.raw;
        EXPECT_EQ(t.wHour, c.hour) << c.raw;
        EXPECT_EQ(t.wMinute, c.minute) << c.raw;
        EXPECT_EQ(t.wSecond, c.second) << c.raw;
        EXPECT_EQ(t.wMilliseconds, c.ms) << c.raw;
        EXPECT_EQ(t.wDayOfWeek, c.dayOfWeek) << c.raw;
    }
}

TEST(ValueConversion, UtcTimeTextIsNotReadAsGeneralizedTime) {
    // Ten digits and a Z: a UTC Time of 2009, but a Generalized Time of year 0903. The syntax decides.
    AdsValueStore store;
    EXPECT_EQ(Convert("0903051407Z", kUtcTime, store).UTCTime.wYear, 2009);
    EXPECT_EQ(Convert("0903051407Z", kGeneralizedTime, store).UTCTime.wYear, 903);
}

TEST(ValueConversion, OctetStringsKeepEveryByte) {
    AdsValueStore store;
    const std::string guid("\x00\x01\x02\x03\x04\x05\x06\x07\x08\x09\x0A\x0B\x0C\x0D\x0E\x0F", 16);
    const ADSVALUE v = Convert(guid, "1.3.6.1.4.1.1466.115.121.1.40", store);
    ASSERT_EQ(v.dwType, ADSTYPE_OCTET_STRING);
    ASSERT_EQ(v.OctetString.dwLength, 16u);
    EXPECT_EQ(std::memcmp(v.OctetString.lpValue, guid.data(), 16), 0);

    const ADSVALUE empty = Convert("", "1.3.6.1.4.1.1466.115.121.1.40", store);
    ASSERT_EQ(empty.dwType, ADSTYPE_OCTET_STRING);
    EXPECT_EQ(empty.OctetString.dwLength, 0u);
    EXPECT_EQ(empty.OctetString.lpValue, nullptr);

    const std::string sd("\x01\x00\x04\x80\x14\x00", 6);
    const ADSVALUE s = Convert(sd, "1.2.840.113556.1.4.907", store);
    ASSERT_EQ(s.dwType, ADSTYPE_NT_SECURITY_DESCRIPTOR);
    ASSERT_EQ(s.SecurityDescriptor.dwLength, 6u);
    EXPECT_EQ(std::memcmp(s.SecurityDescriptor.lpValue, sd.data(), 6), 0);
}

TEST(ValueConversion, DnWithBinaryAndDnWithString) {
    AdsValueStore store;
    bool ok = false;
    const ADSVALUE b = Convert("B:8:0102abCD:cn=Users,dc=example", "1.2.840.113556.1.4.903", store, &ok);
    ASSERT_TRUE(ok);
    ASSERT_EQ(b.dwType, ADSTYPE_DN_WITH_BINARY);
    ASSERT_EQ(b.pDNWithBinary->dwLength, 4u);
    EXPECT_EQ(std::vector<BYTE>(b.pDNWithBinary->lpBinaryValue, b.pDNWithBinary->lpBinaryValue + 4),
              (std::vector<BYTE>{0x01, 0x02, 0xAB, 0xCD}));
    EXPECT_EQ(std::u16string(b.pDNWithBinary->pszDNString), u"cn=Users,dc=example");

    const ADSVALUE s = Convert("S:11:Front: desk:cn=Staff,dc=example", "1.2.840.113556.1.4.904", store, &ok);
    ASSERT_TRUE(ok);
    ASSERT_EQ(s.dwType, ADSTYPE_DN_WITH_STRING);
    EXPECT_EQ(std::u16string(s.pDNWithString->pszStringValue),
              u"Front: desk"); // the count, not the colon, ends it
    EXPECT_EQ(std::u16string(s.pDNWithString->pszDNString), u"cn=Staff,dc=example");

    const ADSVALUE e = Convert("S:0::cn=x", "1.2.840.113556.1.4.904", store, &ok);
    ASSERT_TRUE(ok);
    EXPECT_EQ(std::u16string(e.pDNWithString->pszStringValue), u"");

    for (const char* junk :
         {"B:3:010:cn=x", "B:4:01zz:cn=x", "B:8:0102:cn=x", "B:4:0102", "S:4:abc:cn=x", "X:2:01:cn=x",
          "B:-2:01:cn=x", "B::01:cn=x", "B:99999999999:01:cn=x", "B:", ""}) {
        Convert(junk, junk[0] == 'S' ? "1.2.840.113556.1.4.904" : "1.2.840.113556.1.4.903", store, &ok);
        EXPECT_FALSE(ok) << junk;
    }
}

TEST(ValueConversion, ColumnWithABrokenValueFallsBackToTextForAllValues) {
    AdsValueStore store;
    std::vector<ADSVALUE> out;
    const std::vector<std::string_view> good = {"1", "-1"};
    EXPECT_EQ(ConvertAdsValues(good, SyntaxFromOid("1.3.6.1.4.1.1466.115.121.1.27"), store, out),
              ADSTYPE_INTEGER);
    ASSERT_EQ(out.size(), 2u);
    EXPECT_EQ(out[1].Integer, 0xFFFFFFFFu);

    // One bad value: every value becomes its text, so the column keeps one type.
    const std::vector<std::string_view> mixed = {"20090305140709Z", "not a time"};
    EXPECT_EQ(ConvertAdsValues(mixed, SyntaxFromOid(kGeneralizedTime), store, out),
              ADSTYPE_CASE_IGNORE_STRING);
    ASSERT_EQ(out.size(), 2u);
    for (const ADSVALUE& v : out)
        EXPECT_EQ(v.dwType, ADSTYPE_CASE_IGNORE_STRING);
    EXPECT_EQ(std::u16string(out[0].CaseIgnoreString), u"20090305140709Z");
    EXPECT_EQ(std::u16string(out[1].CaseIgnoreString), u"not a time");

    // An integer too large for ADSI's 32 bits keeps all its digits as text.
    const std::vector<std::string_view> big = {"132000000000000000"};
    EXPECT_EQ(ConvertAdsValues(big, SyntaxFromOid("1.3.6.1.4.1.1466.115.121.1.27"), store, out),
              ADSTYPE_CASE_IGNORE_STRING);
    EXPECT_EQ(std::u16string(out[0].CaseIgnoreString), u"132000000000000000");

    EXPECT_EQ(ConvertAdsValues({}, SyntaxFromOid(kGeneralizedTime), store, out), ADSTYPE_UTC_TIME);
    EXPECT_TRUE(out.empty());
}

TEST(ValueConversion, RandomBytesNeverBreakAnySyntax) {
    const char* syntaxes[] = {kDirectoryString,
                              kGeneralizedTime,
                              kUtcTime,
                              "1.3.6.1.4.1.1466.115.121.1.27",
                              "1.3.6.1.4.1.1466.115.121.1.7",
                              "1.3.6.1.4.1.1466.115.121.1.40",
                              "1.2.840.113556.1.4.906",
                              "1.2.840.113556.1.4.907",
                              "1.2.840.113556.1.4.903",
                              "1.2.840.113556.1.4.904"};
    // Bytes biased towards what the parsers look at, so that deep paths are reached.
    const std::string alphabet = "0123456789ABCDEFabcdefBSZ:+-.,TRUEFALS \xC3\xA9\xF0\x9D\x84\x9E\xFF";
    std::mt19937 rng(20240229);
    for (int round = 0; round < 20000; ++round) {
        std::string raw(rng() % 40, '\0');
        for (char& c : raw)
            c = rng() % 4 == 0 ? static_cast<char>(rng()) : alphabet[rng() % alphabet.size()];
        if (round % 3 == 0) raw = "B:" + std::to_string(rng() % 12) + ":" + raw;
        if (round % 3 == 1) raw = "S:" + std::to_string(rng() % 12) + ":" + raw;
        for (const char* oid : syntaxes) {
            AdsValueStore store;
            std::vector<ADSVALUE> out;
            const std::string_view one[] = {raw};
            const ADSTYPE type = ConvertAdsValues(one, SyntaxFromOid(oid), store, out);
            ASSERT_EQ(out.size(), 1u);
            EXPECT_EQ(out[0].dwType, type);
            if (type == ADSTYPE_UTC_TIME) {
                const SYSTEMTIME& t = out[0].UTCTime;
                EXPECT_TRUE(t.wMonth >= 1 && t.wMonth <= 12 && t.wDay >= 1 && t.wDay <= 31 && t.wHour < 24 &&
                            t.wMinute < 60 && t.wSecond < 60 && t.wMilliseconds < 1000 && t.wDayOfWeek < 7)
                    << raw;
            }
        }
    }
}

TEST(DirectorySchema, NamesAliasesOidsAndInheritedSyntax) {
    // As OpenLDAP publishes them: givenName has no SYNTAX of its own and inherits name's.
    const DirectorySchema schema = DirectorySchema::FromAttributeTypes({
        "( 2.5.4.41 NAME 'name' EQUALITY caseIgnoreMatch SYNTAX 1.3.6.1.4.1.1466.115.121.1.15{32768} )",
        "( 2.5.4.42 NAME ( 'givenName' 'gn' ) DESC 'RFC2256: first name(s)' SUP name )",
        "( 2.5.4.9 NAME ( 'street' 'streetAddress' ) SYNTAX 1.3.6.1.4.1.1466.115.121.1.15{128} )",
        "( 9.9.1 NAME 'deepChild' SUP middle )",
        "( 9.9.2 NAME 'middle' SUP top2 )",
        "( 9.9.3 NAME 'top2' SYNTAX 1.3.6.1.4.1.1466.115.121.1.27 )",
        "( 9.9.4 NAME 'loopA' SUP loopB )",
        "( 9.9.5 NAME 'loopB' SUP loopA )",
        // AD quotes its syntax OIDs.
        "( 1.2.840.113556.1.4.2 NAME 'objectGUID' SYNTAX '1.3.6.1.4.1.1466.115.121.1.40' SINGLE-VALUE )",
        "this is not an attribute type",
    });
    EXPECT_EQ(schema.Size(), 9u);
    EXPECT_EQ(schema.TypeId("streetAddress"), schema.TypeId("street"));
    EXPECT_EQ(schema.TypeId("STREETADDRESS"), schema.TypeId("street"));
    EXPECT_EQ(schema.TypeId("2.5.4.9"), schema.TypeId("street"));
    EXPECT_EQ(schema.TypeId("street;lang-en"), schema.TypeId("street"));
    EXPECT_EQ(schema.TypeId("gn"), schema.TypeId("givenName"));
    EXPECT_NE(schema.TypeId("givenName"), schema.TypeId("name"));
    EXPECT_EQ(schema.TypeId("nosuch"), -1);
    EXPECT_EQ(schema.Syntax(schema.TypeId("givenName")).type, ADSTYPE_CASE_IGNORE_STRING);
    EXPECT_EQ(schema.Syntax(schema.TypeId("deepChild")).type, ADSTYPE_INTEGER);
    EXPECT_EQ(schema.Syntax(schema.TypeId("loopA")).type, ADSTYPE_CASE_IGNORE_STRING);
    EXPECT_EQ(schema.Syntax(schema.TypeId("objectGUID")).type, ADSTYPE_OCTET_STRING);
    EXPECT_EQ(schema.Syntax(-1).type, ADSTYPE_CASE_IGNORE_STRING);
}

TEST(DirectorySchema, BuiltInFallbackKeepsBinaryAndTimeAttributes) {
    const DirectorySchema schema = DirectorySchema::BuiltIn();
    EXPECT_EQ(schema.Syntax(schema.TypeId("objectGUID")).type, ADSTYPE_OCTET_STRING);
    EXPECT_EQ(schema.Syntax(schema.TypeId("objectsid")).type, ADSTYPE_OCTET_STRING);
    EXPECT_EQ(schema.Syntax(schema.TypeId("whenCreated")).type, ADSTYPE_UTC_TIME);
    EXPECT_EQ(schema.Syntax(schema.TypeId("pwdLastSet")).type, ADSTYPE_LARGE_INTEGER);
    EXPECT_EQ(schema.TypeId("cn"), -1);
}

} // namespace
