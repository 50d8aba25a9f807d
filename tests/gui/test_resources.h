// The window tests' own dialog template, bound beside the application's resources, and a dialog
// that paints its client area in one colour and remembers what it was asked to paint.
#pragma once

#include <functional>

#include "platform/mfc.h"

constexpr UINT IDD_LABEL_TEST = 900;

// Labels of the test dialog, each a plain static of the template.
constexpr int IDC_TEST_LEFT = 1101;    // "Example link", left-aligned
constexpr int IDC_TEST_EMPTY = 1102;   // no text
constexpr int IDC_TEST_RIGHT = 1103;   // "Right link", right-aligned
constexpr int IDC_TEST_CENTRE = 1104;  // "Centred link", centred
constexpr int IDC_TEST_VCENTRE = 1105; // "Middle link", centred vertically in a tall rectangle
constexpr int IDC_TEST_LABEL = 1106;   // a long text, for the transparent label
constexpr int IDC_TEST_OK = 1003;

// The application's resources plus the test templates.
const AFX_RESOURCE_TABLE* TestResources();

class CPaintProbeDlg : public CDialog {
public:
    CPaintProbeDlg() : CDialog(IDD_LABEL_TEST, nullptr) {}

    // The colour the whole client area is painted in.
    COLORREF m_clrBack = RGB(30, 140, 60);
    int m_nPaints = 0;
    CRect m_rcLastPaint;

protected:
    afx_msg void OnPaint();

    DECLARE_MESSAGE_MAP()
};

// Runs the dialog modally; `script` drives it once it is up and the dialog is cancelled afterwards
// if the script left it open. Returns DoModal's result.
INT_PTR RunDialog(CDialog& dlg, const std::function<void(HWND)>& script);
