// The About box: the product's picture, name, legal notice and version, and three links.
#pragma once

#include "controls/HyperLink.h"
#include "controls/TransparentStatic.h"
#include "platform/mfc.h"
#include "platform/toolkit.h"

class CAboutDlg : public CDialog {
public:
    CAboutDlg();
    ~CAboutDlg() override;

protected:
    void DoDataExchange(CDataExchange* pDX) override;
    BOOL OnInitDialog() override;

    afx_msg void OnPaint();
    afx_msg void OnOKClicked();

public:
    // The numbers start at zero so that a box without its picture draws nothing.
    int m_nSrcX = 0;
    int m_nSrcY = 0;
    int m_nDstX = 0;
    int m_nDstY = 0;
    CDC m_dcPicture;
    int m_nDrawWidth = 0;
    int m_nDrawHeight = 0;
    CXTButton m_btnOK;
    CTransparentStatic m_stcProduct;
    CTransparentStatic m_stcLegalNotice;
    CHyperLink m_lnkWebSite;
    CHyperLink m_lnkSupportMail;
    CHyperLink m_lnkSalesMail;
    CTransparentStatic m_stcVersion;

private:
    // The picture selected into m_dcPicture; freed once that context is gone.
    CBitmap m_bmpPicture;

    DECLARE_MESSAGE_MAP()
};
