#include "attributes/DlgAttributes.h"

#include "app/VexlorDlg.h"
#include "res/resource.h"

namespace {

// Removes the first entry equal to the label (letter case ignored).
void RemoveLabel(CStringArray& arr, const CString& label) {
    for (int i = 0; i < arr.GetSize(); ++i) {
        if (arr[i].CompareNoCase(label) == 0) {
            arr.RemoveAt(i);
            return;
        }
    }
}

} // namespace

IMPLEMENT_DYNAMIC(CDlgAttributes, CDialog)

CDlgAttributes::CDlgAttributes() : CDialog(IDD_ATTRIBUTES, nullptr) {
    m_arrSelectedLabels.SetSize(0);
}

CDlgAttributes::~CDlgAttributes() = default;

void CDlgAttributes::DoDataExchange(CDataExchange* pDX) {
    CDialog::DoDataExchange(pDX);
    DDX_Control(pDX, IDC_LST_AVAILABLE, m_lstAvailable);
    DDX_Control(pDX, IDC_LST_SELECTED, m_lstSelected);
    DDX_Control(pDX, IDC_CHK_REPLACE, m_chkReplace);
    DDX_Control(pDX, IDC_BTN_OK, m_btnOK);
}

BEGIN_MESSAGE_MAP(CDlgAttributes, CDialog)
ON_BN_CLICKED(IDC_BTN_OK, OnBnClickedOk)
ON_BN_CLICKED(IDC_BTN_CANCEL, OnBnClickedCancel)
// Escape and the caption's close box arrive as the dialog's cancel command: they cancel the same way.
ON_COMMAND(IDCANCEL, OnBnClickedCancel)
ON_BN_CLICKED(IDC_CHK_REPLACE, OnBnClickedReplace)
ON_BN_CLICKED(IDC_BTN_MOVE_ONE, OnBnClickedMoveOne)
ON_BN_CLICKED(IDC_BTN_MOVE_ALL, OnBnClickedMoveAll)
ON_BN_CLICKED(IDC_BTN_REMOVE_ONE, OnBnClickedRemoveOne)
ON_BN_CLICKED(IDC_BTN_REMOVE_ALL, OnBnClickedRemoveAll)
ON_LBN_SELCHANGE(IDC_LST_SELECTED, OnLbnSelchangeSelected)
ON_LBN_SETFOCUS(IDC_LST_SELECTED, OnLbnSetfocusSelected)
END_MESSAGE_MAP()

BOOL CDlgAttributes::OnInitDialog() {
    CDialog::OnInitDialog();
    m_arrSavedBasic.Copy(m_pOwner->m_arrBasicColumns);
    m_arrSavedExtra.Copy(m_pOwner->m_arrExtraColumns);
    for (const CString& label : m_pOwner->m_arrExtraColumns)
        m_lstAvailable.AddString(label);
    for (const CString& label : m_pOwner->m_arrBasicColumns)
        m_lstSelected.AddString(label);
    m_chkReplace.ShowWindow(SW_HIDE);
    return TRUE;
}

void CDlgAttributes::OnBnClickedMoveOne() {
    const int nIndex = m_lstAvailable.GetCurSel();
    if (nIndex == LB_ERR) return;
    CString label;
    m_lstAvailable.GetText(nIndex, label);
    m_lstSelected.AddString(label);
    m_lstAvailable.DeleteString(static_cast<UINT>(nIndex));
    m_lstAvailable.SetCurSel(nIndex);
    m_pOwner->m_arrBasicColumns.Add(label);
    RemoveLabel(m_pOwner->m_arrExtraColumns, label);
}

void CDlgAttributes::OnBnClickedMoveAll() {
    const int nCount = m_lstAvailable.GetCount();
    for (int i = 0; i < nCount; ++i) {
        CString label;
        m_lstAvailable.GetText(i, label);
        m_lstSelected.AddString(label);
        m_pOwner->m_arrBasicColumns.Add(label);
    }
    m_lstAvailable.ResetContent();
    m_pOwner->m_arrExtraColumns.RemoveAll();
}

void CDlgAttributes::OnBnClickedRemoveOne() {
    // At least one attribute always stays selected.
    if (m_lstSelected.GetCount() == 1) return;
    const int nIndex = m_lstSelected.GetCurSel();
    if (nIndex == LB_ERR) return;
    CString label;
    m_lstSelected.GetText(nIndex, label);
    m_lstAvailable.AddString(label);
    m_lstSelected.DeleteString(static_cast<UINT>(nIndex));
    m_lstSelected.SetCurSel(nIndex);
    m_pOwner->m_arrExtraColumns.Add(label);
    RemoveLabel(m_pOwner->m_arrBasicColumns, label);
}

void CDlgAttributes::OnBnClickedRemoveAll() {
    const int nCount = m_lstSelected.GetCount();
    for (int i = 0; i < nCount - 1; ++i) {
        CString label;
        m_lstSelected.GetText(i, label);
        m_lstAvailable.AddString(label);
        m_pOwner->m_arrExtraColumns.Add(label);
    }
    for (int i = 0; i < nCount - 1; ++i)
        m_lstSelected.DeleteString(0);
    // The alphabetically last label stays.
    m_pOwner->m_arrBasicColumns.RemoveAll();
    if (m_lstSelected.GetCount() > 0) {
        CString last;
        m_lstSelected.GetText(0, last);
        m_pOwner->m_arrBasicColumns.Add(last);
    }
}

void CDlgAttributes::OnBnClickedOk() {
    const int nCount = m_lstSelected.GetCount();
    for (int i = 0; i < nCount; ++i) {
        CString label;
        m_lstSelected.GetText(i, label);
        m_arrSelectedLabels.Add(label);
    }
    CDialog::OnOK();
}

void CDlgAttributes::OnBnClickedCancel() {
    m_pOwner->m_arrBasicColumns.Copy(m_arrSavedBasic);
    m_pOwner->m_arrExtraColumns.Copy(m_arrSavedExtra);
    CDialog::OnCancel();
}

void CDlgAttributes::OnBnClickedReplace() {}
void CDlgAttributes::OnLbnSelchangeSelected() {}
void CDlgAttributes::OnLbnSetfocusSelected() {}

BOOL CDlgAttributes::PreTranslateMessage(MSG* pMsg) {
    if (pMsg->message == WM_KEYDOWN && (pMsg->wParam == VK_RETURN || pMsg->wParam == VK_ESCAPE)) {
        const int nFocus = ::GetDlgCtrlID(::GetFocus());
        if (nFocus != IDC_BTN_OK && nFocus != IDC_BTN_CANCEL) return TRUE;
    }
    return CDialog::PreTranslateMessage(pMsg);
}
