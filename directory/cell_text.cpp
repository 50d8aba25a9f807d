#include "directory/cell_text.h"

#include <string>

// Every CR LF pair becomes ", " and then every comma a blank, so a pair ends up as two blanks: done
// in place, in one pass, since nearly every cell holds neither. A line break on its own (LF, as
// values written on Unix hold them, or CR) is joined the same way: left in the cell, it would split
// the row in the exported file.
void RemoveLineBreaksAndCommas(CString& strText) {
    std::u16string& text = strText.str();
    const size_t n = text.size();
    size_t loneBreaks = 0;
    for (size_t i = 0; i < n; ++i) {
        if (text[i] == u',') {
            text[i] = u' ';
        } else if (text[i] == u'\r' && i + 1 < n && text[i + 1] == u'\n') {
            text[i] = u' ';
            text[++i] = u' ';
        } else if (text[i] == u'\r' || text[i] == u'\n') {
            ++loneBreaks;
        }
    }
    if (loneBreaks == 0) return;
    std::u16string joined;
    joined.reserve(n + loneBreaks);
    for (char16_t c : text) {
        if (c == u'\r' || c == u'\n')
            joined += u"  ";
        else
            joined += c;
    }
    text = std::move(joined);
}
