// The text of a result-list cell: what the export later writes as one field of one line.
#include <gtest/gtest.h>

#include "directory/cell_text.h"

TEST(CellText, LineBreaksAndCommasBecomeBlanks) {
    struct Case {
        const char16_t* value;
        const char16_t* cell;
    };
    const Case cases[] = {
        {u"", u""},
        {u"plain", u"plain"},
        {u"Sales, North", u"Sales  North"},
        {u"12 Harbour Road\r\nFlat 4", u"12 Harbour Road  Flat 4"},
        {u"a\r\n\r\nb", u"a    b"},
        {u",\r\n,", u"    "},
        // Line breaks on their own are joined like a pair: the exported row must stay one line.
        {u"Front desk\nGround floor", u"Front desk  Ground floor"},
        {u"one\rtwo", u"one  two"},
        {u"a\n\rb", u"a    b"}, // LF CR is two breaks, not a pair
        {u"end\r", u"end  "},
        {u"\nstart, and\r\nmore\n", u"  start  and  more  "},
    };
    for (const Case& c : cases) {
        CString text(c.value);
        RemoveLineBreaksAndCommas(text);
        EXPECT_EQ(text, c.cell) << CString(c.value).ToUtf8();
    }
}
