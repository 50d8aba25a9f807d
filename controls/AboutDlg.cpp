#include "controls/AboutDlg.h"

#include "res/resource.h"

CAboutDlg::CAboutDlg() : CDialog(IDD_ABOUTBOX, nullptr) {}

BOOL CAboutDlg::OnInitDialog() {
    CDialog::OnInitDialog();
    SetWindowText(u"Brevonix");
    return TRUE;
}
