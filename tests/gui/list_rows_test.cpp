// The result list's rows as the window keeps them: whatever is put into a cell comes back as it was
// put, in whatever order rows and cells are written, with columns added and removed while rows are
// there, and while the window is locked against drawing as the search fills it.
#include <gtest/gtest.h>

#include "gui_support.h"

namespace {

// Texts that matter to how a row is stored: empty, one byte per character, Latin-1 accents,
// characters beyond Latin-1 (one such cell changes how its whole row is kept), a character beyond
// U+FFFF, and a long text.
std::vector<CString> Texts() {
    return {u"",
            u"Ann Lee",
            u"Zo\u00EB \u00C5ngstr\u00F6m",
            u"\u0141ukasz \u6771\u4EAC",
            u"\U0001D11E clef",
            CString(u'x', 70000) + u"end"};
}

using Grid = std::vector<std::vector<CString>>;

void Fill(CListCtrl& list, const Grid& grid) {
    for (size_t r = 0; r < grid.size(); ++r)
        list.InsertItem(static_cast<int>(r), grid[r][0]);
    // Cells are written from the last row back to the first: no row is written in one go.
    for (size_t r = grid.size(); r-- > 0;)
        for (size_t c = 1; c < grid[r].size(); ++c)
            list.SetItemText(static_cast<int>(r), static_cast<int>(c), grid[r][c]);
}

Grid SampleGrid(size_t rows, size_t columns) {
    const std::vector<CString> texts = Texts();
    Grid grid(rows, std::vector<CString>(columns));
    for (size_t r = 0; r < rows; ++r)
        for (size_t c = 0; c < columns; ++c)
            grid[r][c] = texts[(r * 7 + c) % texts.size()];
    return grid;
}

} // namespace

TEST(ResultListRows, CellsComeBackAsWrittenInAnyOrder) {
    CVexlorDlg dlg;
    Grid expected = SampleGrid(9, 6); // the window starts with six columns
    Grid seen, afterInsert;
    CString openCell;
    RunMainWindow(dlg, [&](CVexlorDlg& d) {
        CListCtrl& list = d.m_lstResult;
        Fill(list, expected);
        // Earlier rows written again after later ones, shorter and longer than before.
        list.SetItemText(2, 3, u"short");
        list.SetItemText(6, 5, Texts()[5]);
        list.SetItemText(0, 1, Texts()[3]);
        list.SetItemText(8, 4, u"");
        // The row just written reads back before another row is touched.
        list.SetItemText(4, 2, u"still open");
        openCell = list.GetItemText(4, 2);
        seen = Rows(d);
        // A row put between others moves the later ones down.
        list.InsertItem(3, u"inserted");
        afterInsert = Rows(d);
    });
    expected[2][3] = u"short";
    expected[6][5] = Texts()[5];
    expected[0][1] = Texts()[3];
    expected[8][4] = u"";
    expected[4][2] = u"still open";
    EXPECT_EQ(openCell, u"still open");
    EXPECT_EQ(seen, expected);
    expected.insert(expected.begin() + 3, {u"inserted", u"", u"", u"", u"", u""});
    EXPECT_EQ(afterInsert, expected);
}

TEST(ResultListRows, ColumnsAddedAndRemovedWhileRowsAreListed) {
    for (bool locked : {false, true}) {
        SCOPED_TRACE(locked ? "locked" : "not locked");
        CVexlorDlg dlg;
        Grid expected = SampleGrid(5, 6);
        Grid seen;
        int count = -1;
        RunMainWindow(dlg, [&](CVexlorDlg& d) {
            CListCtrl& list = d.m_lstResult;
            Fill(list, expected);
            if (locked) d.LockWindowUpdate();
            list.InsertColumn(2, u"CITY", LVCFMT_LEFT, 90);
            list.InsertColumn(7, u"COUNTRY", LVCFMT_LEFT, 90); // after the last one
            list.SetItemText(1, 7, u"Canada");
            list.DeleteColumn(0);
            if (locked) d.UnlockWindowUpdate();
            seen = Rows(d);
            count = list.GetItemCount();
        });
        for (auto& row : expected) {
            row.insert(row.begin() + 2, CString());
            row.push_back(CString());
            row.erase(row.begin());
        }
        expected[1][6] = u"Canada";
        EXPECT_EQ(count, 5);
        EXPECT_EQ(seen, expected);
    }
}

TEST(ResultListRows, AListFilledWhileLockedHoldsEveryCell) {
    CVexlorDlg dlg;
    const Grid first = SampleGrid(3, 6);
    const Grid expected = SampleGrid(2000, 6);
    Grid seen;
    RunMainWindow(dlg, [&](CVexlorDlg& d) {
        Fill(d.m_lstResult, first);
        // As Generate does: emptied, then locked and filled row by row, cell by cell.
        d.m_lstResult.DeleteAllItems();
        d.LockWindowUpdate();
        for (size_t r = 0; r < expected.size(); ++r) {
            d.m_lstResult.InsertItem(static_cast<int>(r), expected[r][0]);
            for (size_t c = 1; c < expected[r].size(); ++c)
                d.m_lstResult.SetItemText(static_cast<int>(r), static_cast<int>(c), expected[r][c]);
        }
        d.UnlockWindowUpdate();
        afxtest::ProcessEvents();
        seen = Rows(d);
    });
    EXPECT_EQ(seen, expected);
}
