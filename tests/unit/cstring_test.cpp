#include <gtest/gtest.h>

#include "platform/cstring.h"

TEST(CStringTest, Utf8RoundTripKeepsSurrogatePairs) {
    const CString s = CString::FromUtf8("Zo\xC3\xAB \xF0\x9F\x98\x80");
    ASSERT_EQ(s.GetLength(), 6);
    EXPECT_EQ(s.GetAt(2), 0x00EB);
    EXPECT_EQ(s.GetAt(4), 0xD83D);
    EXPECT_EQ(s.GetAt(5), 0xDE00);
    EXPECT_EQ(s.ToUtf8(), "Zo\xC3\xAB \xF0\x9F\x98\x80");
}

TEST(CStringTest, InvalidUtf8BecomesReplacementCharacters) {
    const CString s = CString::FromUtf8(std::string_view("a\xFF\xC3", 3));
    ASSERT_EQ(s.GetLength(), 3);
    EXPECT_EQ(s.GetAt(1), 0xFFFD);
    EXPECT_EQ(s.GetAt(2), 0xFFFD);
}

TEST(CStringTest, FormatHandlesIntegersStringsAndWidths) {
    CString s;
    s.Format(u"%d/%d/%d  %d:%d:%d", 5, 3, 2009, 19, 37, 9);
    EXPECT_EQ(s, u"5/3/2009  19:37:9");
    s.Format(u"%02d.%s.%lld.%I64d.%%", 7, u"x", -1LL, 4294967296LL);
    EXPECT_EQ(s, u"07.x.-1.4294967296.%");
    s.Format(u"%sIADsSecurityDescriptor", u"");
    EXPECT_EQ(s, u"IADsSecurityDescriptor");
    s.Format(u"Unknown Error (%d) occurred.", -5);
    EXPECT_EQ(s, u"Unknown Error (-5) occurred.");
}

TEST(CStringTest, ReplaceFindAndCompareNoCase) {
    CString s(u"a\r\nb,c");
    s.Replace(u"\r\n", u", ");
    s.Replace(u",", u" ");
    EXPECT_EQ(s, u"a  b c");
    EXPECT_EQ(CString(u"telephone number").CompareNoCase(u"TELEPHONE NUMBER"), 0);
    EXPECT_NE(CString(u"NAME").CompareNoCase(u"NAMES"), 0);
    EXPECT_EQ(CString(u"a.csv.old").Find(u".csv"), 1);
    EXPECT_EQ(CString(u"REPORT.CSV").Find(u".csv"), -1);
}

TEST(CStringTest, CompareNoCaseFoldsLettersBeyondAscii) {
    struct Case {
        const char16_t* a;
        const char16_t* b;
        bool same;
    };
    const Case cases[] = {
        {u"\u00e9t\u00e9", u"\u00c9T\u00c9", true}, // Latin-1
        {u"\u00ff", u"\u0178", true},               // ÿ / Ÿ
        {u"\u017e", u"\u017d", true},               // ž / Ž (odd upper case in that block)
        {u"\u0101", u"\u0100", true},               // ā / Ā
        {u"\u017f", u"S", true},                    // long s
        {u"\u017f", u"\u017e", false},              // long s is not ž
        {u"\u03c9", u"\u03a9", true},               // ω / Ω
        {u"\u0436", u"\u0416", true},               // ж / Ж
        {u"\u00f7", u"\u00d7", false},              // ÷ and × are no pair
    };
    for (const Case& c : cases)
        EXPECT_EQ(CString(c.a).CompareNoCase(c.b) == 0, c.same)
            << CString(c.a).ToUtf8() << " / " << CString(c.b).ToUtf8();
}
