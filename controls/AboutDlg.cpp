#include "controls/AboutDlg.h"

#include "res/resource.h"

BEGIN_MESSAGE_MAP(CAboutDlg, CDialog)
ON_WM_PAINT()
ON_BN_CLICKED(IDC_BTN_OK, OnOKClicked)
END_MESSAGE_MAP()

CAboutDlg::CAboutDlg() : CDialog(IDD_ABOUTBOX, nullptr) {}

CAboutDlg::~CAboutDlg() {
    // The context goes first; the picture it held is freed after it, with m_bmpPicture.
    m_dcPicture.DeleteDC();
}

void CAboutDlg::DoDataExchange(CDataExchange* pDX) {
    CDialog::DoDataExchange(pDX);
    DDX_Control(pDX, IDC_BTN_OK, m_btnOK);
    DDX_Control(pDX, IDC_STC_PRODUCT, m_stcProduct);
    DDX_Control(pDX, IDC_STC_LEGAL, m_stcLegalNotice);
    DDX_Control(pDX, IDC_LNK_WEBSITE, m_lnkWebSite);
    DDX_Control(pDX, IDC_LNK_SUPPORT, m_lnkSupportMail);
    DDX_Control(pDX, IDC_LNK_SALES, m_lnkSalesMail);
    DDX_Control(pDX, IDC_STC_VERSION, m_stcVersion);
}

BOOL CAboutDlg::OnInitDialog() {
    CDialog::OnInitDialog();

    SetWindowText(u"Brevonix");

    CClientDC dc(this);
    m_nSrcX = 0;
    m_nSrcY = 0;
    m_dcPicture.CreateCompatibleDC(&dc);

    HBITMAP hPicture = LoadBitmapW(AfxGetResourceHandle(), MAKEINTRESOURCE(IDB_ABOUT));
    if (!hPicture) {
        AfxMessageBox(u"Load Image Failed", MB_OK, 0);
    } else {
        m_bmpPicture.Attach(hPicture);
        CRect rcClient;
        GetClientRect(&rcClient);
        rcClient.NormalizeRect();
        m_nDrawWidth = rcClient.Width();
        m_nDrawHeight = rcClient.Height();
        m_nDstX = rcClient.left;
        m_nDstY = rcClient.top;
        m_dcPicture.SelectObject(&m_bmpPicture);
    }

    m_btnOK.SetXButtonStyle(0x1022, TRUE);

    m_lnkWebSite.SetUnderlineMode(1);
    m_lnkSupportMail.SetUnderlineMode(1);
    m_lnkSalesMail.SetUnderlineMode(1);

    m_lnkWebSite.SetTarget(kMakerWebSite);
    m_lnkSupportMail.SetTarget(CString(u"mailto:") + kSupportMail);
    m_lnkSalesMail.SetTarget(CString(u"mailto:") + kSalesMail);

    return TRUE;
}

void CAboutDlg::OnPaint() {
    CPaintDC dc(this);
    dc.BitBlt(m_nDstX, m_nDstY, m_nDrawWidth, m_nDrawHeight, &m_dcPicture, m_nSrcX, m_nSrcY, SRCCOPY);
}

void CAboutDlg::OnOKClicked() {
    OnOK();
}
