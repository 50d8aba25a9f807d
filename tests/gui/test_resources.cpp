#include "test_resources.h"

#include <vector>

#include <gtest/gtest.h>

#include "platform/testing.h"
#include "res/resource.h"

namespace {

constexpr DWORD kLabel = 0x50020000; // child, visible, group, left-aligned text

const AFX_DLGITEM kLabelTestItems[] = {
    {IDC_TEST_LEFT, u"STATIC", u"Example link", kLabel, 0, 10, 10, 150, 8, 0},
    {IDC_TEST_EMPTY, u"STATIC", u"", kLabel, 0, 10, 25, 150, 8, 0},
    {IDC_TEST_RIGHT, u"STATIC", u"Right link", kLabel | SS_RIGHT, 0, 10, 40, 150, 8, 0},
    {IDC_TEST_CENTRE, u"STATIC", u"Centred link", kLabel | SS_CENTER, 0, 10, 55, 150, 8, 0},
    {IDC_TEST_VCENTRE, u"STATIC", u"Middle link", kLabel | SS_CENTERIMAGE, 0, 10, 70, 150, 20, 0},
    {IDC_TEST_LABEL, u"STATIC", u"A transparent label with a rather long text", kLabel, 0, 10, 100, 200, 8,
     0},
    {IDC_TEST_OK, u"BUTTON", u"OK", 0x50010000, 0, 120, 140, 50, 14, 0},
};

} // namespace

const AFX_RESOURCE_TABLE* TestResources() {
    static const AFX_RESOURCE_TABLE table = [] {
        const AFX_RESOURCE_TABLE* app = BrevonixResources();
        static std::vector<AFX_DLGTEMPLATE> dialogs(app->pDialogs, app->pDialogs + app->nDialogs);
        dialogs.push_back({IDD_LABEL_TEST, 0x80C800C8, 0, 0, 0, 300, 160, u"Labels", u"MS Shell Dlg", 8,
                           kLabelTestItems, static_cast<int>(std::size(kLabelTestItems))});
        AFX_RESOURCE_TABLE t = *app;
        t.pDialogs = dialogs.data();
        t.nDialogs = static_cast<int>(dialogs.size());
        return t;
    }();
    return &table;
}

BEGIN_MESSAGE_MAP(CPaintProbeDlg, CDialog)
ON_WM_PAINT()
END_MESSAGE_MAP()

void CPaintProbeDlg::OnPaint() {
    CPaintDC dc(this);
    ++m_nPaints;
    m_rcLastPaint = dc.m_ps.rcPaint;
    CRect rc;
    GetClientRect(&rc);
    dc.FillSolidRect(&rc, m_clrBack);
}

INT_PTR RunDialog(CDialog& dlg, const std::function<void(HWND)>& script) {
    bool ran = false;
    afxtest::OnNextModal([&dlg, &script, &ran](HWND h) {
        ran = true;
        script(h);
        if (dlg.m_hWnd && dlg.IsWindowVisible()) dlg.EndDialog(IDCANCEL);
    });
    const INT_PTR result = dlg.DoModal();
    EXPECT_TRUE(ran) << "the dialog never came up";
    return result;
}
