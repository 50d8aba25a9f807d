#include "app/VexlorDlg.h"

#include "app/AttributeCatalogue.h"
#include "controls/AboutDlg.h"
#include "res/resource.h"

namespace {
constexpr UINT IDM_ABOUTBOX = 0x0010;
constexpr const WCHAR* kDefaultFilter = u"(&(objectClass=user)(objectCategory=user))";
} // namespace

CVexlorDlg::CVexlorDlg() : CDialog(IDD_VEXLOR_DIALOG, nullptr) {
    m_hIcon = LoadIconW(AfxGetResourceHandle(), MAKEINTRESOURCE(IDR_MAINFRAME));
}

void CVexlorDlg::DoDataExchange(CDataExchange* pDX) {
    CDialog::DoDataExchange(pDX);
    DDX_Control(pDX, IDC_EDT_QUERY, m_edtQuery);
    DDX_Control(pDX, IDC_EDT_DOMAIN, m_edtDomain);
    DDX_Control(pDX, IDC_LST_RESULT, m_lstResult);
    DDX_Control(pDX, IDC_LNK_EXPORT, m_lnkExport);
    DDX_Control(pDX, IDC_STC_BANNER, m_stcBanner);
}

BEGIN_MESSAGE_MAP(CVexlorDlg, CDialog)
ON_WM_SYSCOMMAND()
ON_WM_PAINT()
ON_WM_QUERYDRAGICON()
ON_BN_CLICKED(IDC_BTN_GENERATE, OnGenerate)
ON_BN_CLICKED(IDC_BTN_ADVANCED, OnAdvanced)
ON_STN_CLICKED(IDC_LNK_EXPORT, OnGenerateCsv)
ON_WM_CREATE()
ON_BN_CLICKED(IDC_BTN_CLOSE, OnOK)
END_MESSAGE_MAP()

int CVexlorDlg::OnCreate(LPCREATESTRUCT lpCreateStruct) {
    if (CDialog::OnCreate(lpCreateStruct) == -1) return -1;

    m_lnkExport.Create(u"G e n e r a t e  CSV", WS_CHILD | WS_VISIBLE | SS_CENTER, CRect(345, 499, 498, 515),
                       this, IDC_LNK_EXPORT);
    // Paint on the face colour of this moment, whatever the colour scheme does later.
    m_lnkExport.SetBackColor(m_lnkExport.GetBackColor() & 0x00FFFFFF);
    m_lnkExport.SetUnderline(false);
    // A click is a command to this window, never an address to open.
    m_lnkExport.EnableShellExecute(false);
    return 0;
}

BOOL CVexlorDlg::OnInitDialog() {
    CDialog::OnInitDialog();

    if (CMenu* pSysMenu = GetSystemMenu(FALSE)) {
        // Empty when the string cannot be loaded: the call leaves the buffer as it was then.
        WCHAR about[256] = {};
        LoadStringW(AfxGetResourceHandle(), IDS_ABOUTBOX, about, 256);
        const CString strAboutMenu(about);
        if (!strAboutMenu.IsEmpty()) {
            pSysMenu->AppendMenu(MF_SEPARATOR);
            pSysMenu->AppendMenu(MF_STRING, IDM_ABOUTBOX, strAboutMenu);
        }
    }

    SendMessage(WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(m_hIcon));
    SendMessage(WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(m_hIcon));

    SetWindowText(u"Brevonix");
    m_edtQuery.SetWindowText(kDefaultFilter);

    int nColumn = 0;
    for (const CatalogueEntry& e : kAttributeCatalogue)
        if (e.basic) m_lstResult.InsertColumn(nColumn++, e.label, LVCFMT_LEFT, 80);
    m_lstResult.SendMessage(LVM_SETEXTENDEDLISTVIEWSTYLE, 0, LVS_EX_GRIDLINES | LVS_EX_FULLROWSELECT);

    for (const CatalogueEntry& e : kAttributeCatalogue)
        if (e.basic) m_arrBasicColumns.Add(e.label);

    CString strDomain;
    GetJoinedDomainName(strDomain);
    if (!strDomain.IsEmpty()) m_edtDomain.SetWindowText(strDomain);

    for (const CatalogueEntry& e : kAttributeCatalogue)
        if (!e.basic) m_arrExtraColumns.Add(e.label);

    return TRUE;
}

void CVexlorDlg::OnSysCommand(UINT nID, LPARAM lParam) {
    if ((nID & 0xFFF0) == IDM_ABOUTBOX) {
        CAboutDlg dlgAbout;
        dlgAbout.DoModal();
    } else {
        CDialog::OnSysCommand(nID, lParam);
    }
}

void CVexlorDlg::OnPaint() {
    if (IsIconic()) {
        CPaintDC dc(this);
        SendMessage(WM_ICONERASEBKGND, reinterpret_cast<WPARAM>(dc.GetSafeHdc()), 0);

        const int cxIcon = GetSystemMetrics(SM_CXICON);
        const int cyIcon = GetSystemMetrics(SM_CYICON);
        CRect rect;
        GetClientRect(&rect);
        const int x = (rect.Width() - cxIcon + 1) / 2;
        const int y = (rect.Height() - cyIcon + 1) / 2;
        dc.DrawIcon(x, y, m_hIcon);
    } else {
        CDialog::OnPaint();
    }
}

HCURSOR CVexlorDlg::OnQueryDragIcon() {
    return static_cast<HCURSOR>(m_hIcon);
}

BOOL CVexlorDlg::PreTranslateMessage(MSG* pMsg) {
    if (pMsg->message == WM_KEYDOWN && (pMsg->wParam == VK_RETURN || pMsg->wParam == VK_ESCAPE)) {
        const int nFocus = ::GetDlgCtrlID(::GetFocus());
        // Enter and Escape only act on the two command buttons; anywhere else they would close the
        // window or start a search by accident.
        if (nFocus != IDC_BTN_GENERATE && nFocus != IDC_BTN_ADVANCED) return TRUE;
    }
    return CDialog::PreTranslateMessage(pMsg);
}
