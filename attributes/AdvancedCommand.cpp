// The Advanced command: the chooser, then the columns it asks for, then a new search.
#include "app/VexlorDlg.h"
#include "attributes/DlgAttributes.h"

namespace {

int FindHeading(const CStringArray& headings, const CString& label) {
    for (int i = 0; i < headings.GetSize(); ++i)
        if (headings[i].CompareNoCase(label) == 0) return i;
    return -1;
}

} // namespace

void CVexlorDlg::OnAdvanced() {
    CDlgAttributes dlg;
    dlg.m_pOwner = this;
    if (dlg.DoModal() != IDOK) return;

    int nColumns = m_lstResult.GetHeaderCtrl()->GetItemCount();
    for (const CString& label : dlg.m_arrSelectedLabels) {
        CStringArray headings;
        GetColumnHeadings(headings);
        if (FindHeading(headings, label) < 0) {
            m_lstResult.InsertColumn(nColumns, label, LVCFMT_LEFT, 90);
            ++nColumns;
        }
    }
    for (const CString& label : m_arrExtraColumns) {
        CStringArray headings;
        GetColumnHeadings(headings);
        const int nColumn = FindHeading(headings, label);
        if (nColumn >= 0) m_lstResult.DeleteColumn(nColumn);
    }
    OnGenerate();
}
