// The attribute chooser: moves display labels between "Available" and "Selected".
#pragma once

#include "platform/mfc.h"

class CVexlorDlg;

class CDlgAttributes : public CDialog {
    DECLARE_DYNAMIC(CDlgAttributes)
public:
    CDlgAttributes();
    ~CDlgAttributes() override;

    CListBox m_lstAvailable;
    CListBox m_lstSelected;
    CButton m_chkReplace;
    // Filled by OK with the Selected list's labels, in list order.
    CStringArray m_arrSelectedLabels;
    // The main window whose two column sets the moves change in place; set before the dialog runs.
    CVexlorDlg* m_pOwner = nullptr;
    CButton m_btnOK;
    CStringArray m_arrSavedBasic;
    CStringArray m_arrSavedExtra;

protected:
    void DoDataExchange(CDataExchange* pDX) override;
    BOOL PreTranslateMessage(MSG* pMsg) override;
    BOOL OnInitDialog() override;

    afx_msg void OnBnClickedOk();
    afx_msg void OnBnClickedCancel();
    afx_msg void OnBnClickedReplace();
    afx_msg void OnBnClickedMoveOne();
    afx_msg void OnBnClickedMoveAll();
    afx_msg void OnBnClickedRemoveOne();
    afx_msg void OnBnClickedRemoveAll();
    afx_msg void OnLbnSelchangeSelected();
    afx_msg void OnLbnSetfocusSelected();

    DECLARE_MESSAGE_MAP()
};
