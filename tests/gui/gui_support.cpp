#include "gui_support.h"

#include "res/resource.h"

void InitGui() {
    static bool done = false;
    if (!done) {
        afxtest::Init(BrevonixResources());
        done = true;
    }
}

INT_PTR RunMainWindow(CVexlorDlg& dlg, const std::function<void(CVexlorDlg&)>& script) {
    InitGui();
    afxtest::OnNextModal([&dlg, &script](HWND) {
        script(dlg);
        if (dlg.m_hWnd && dlg.IsWindowVisible()) dlg.EndDialog(IDCANCEL);
    });
    return dlg.DoModal();
}

std::vector<CString> Headings(CVexlorDlg& dlg) {
    CStringArray arr;
    dlg.GetColumnHeadings(arr);
    return {arr.begin(), arr.end()};
}

std::vector<std::vector<CString>> Rows(CVexlorDlg& dlg) {
    std::vector<std::vector<CString>> rows;
    const int columns = static_cast<int>(Headings(dlg).size());
    for (int r = 0; r < dlg.m_lstResult.GetItemCount(); ++r) {
        std::vector<CString> row;
        for (int c = 0; c < columns; ++c)
            row.push_back(dlg.m_lstResult.GetItemText(r, c));
        rows.push_back(row);
    }
    return rows;
}

CString CountText(CVexlorDlg& dlg) {
    CString text;
    dlg.GetDlgItemText(1014, text);
    return text;
}

std::set<COLORREF> PaintedColours(HWND h) {
    CRect rc;
    ::GetClientRect(h, &rc);
    std::set<COLORREF> colours;
    for (int x : {rc.Width() / 4, rc.Width() / 2, rc.Width() * 3 / 4})
        for (int y = 0; y < rc.Height(); ++y)
            colours.insert(afxtest::PixelAt(h, x, y));
    return colours;
}
