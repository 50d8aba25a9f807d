// The main query window.
#pragma once

#include "directory/adsi.h"
#include "platform/mfc.h"
#include "platform/toolkit.h"

class CVexlorDlg : public CDialog {
public:
    CVexlorDlg();

    // Generate: binds, searches and fills the result list (also run by the Advanced command).
    afx_msg void OnGenerate();
    // Advanced: the attribute chooser, then the new columns and a new search.
    afx_msg void OnAdvanced();
    // The export link: the Save dialog, then the CSV file.
    afx_msg void OnGenerateCsv();
    void ExportToCsv(CString strFileName);

    // Whether this computer is joined to a domain, and its name.
    BOOL GetJoinedDomainName(CString& strDomain);
    // Finds the domain's controller and binds; null after the failure has been shown.
    IDirectorySearch* OpenDirectorySearch();
    void GetColumnHeadings(CStringArray& arrHeadings);
    void FillResultList(IDirectorySearch* pSearch, const CStringArray& arrHeadings);

protected:
    void DoDataExchange(CDataExchange* pDX) override;
    BOOL PreTranslateMessage(MSG* pMsg) override;
    BOOL OnInitDialog() override;

    afx_msg int OnCreate(LPCREATESTRUCT lpCreateStruct);
    afx_msg void OnSysCommand(UINT nID, LPARAM lParam);
    afx_msg void OnPaint();
    afx_msg HCURSOR OnQueryDragIcon();

public:
    HICON m_hIcon;
    CEdit m_edtQuery;
    CEdit m_edtDomain;
    CListCtrl m_lstResult;
    CXTHyperLink m_lnkExport;
    CStatic m_stcBanner;
    CStringArray m_arrExtraColumns;
    CStringArray m_arrBasicColumns;

protected:
    static const AFX_MSGMAP* GetThisMessageMap();
    const AFX_MSGMAP* GetMessageMap() const override;
};
