#include "controls/HyperLink.h"

#include <string>

#include "platform/shell.h"

namespace {

constexpr UINT kToolId = 1;
constexpr UINT kHoverPollMs = 100;
// The help program's hand cursor, on systems that have one.
constexpr WORD kHelpHandCursor = 106;

} // namespace

BEGIN_MESSAGE_MAP(CHyperLink, CStatic)
ON_WM_CTLCOLOR_REFLECT()
ON_WM_SETCURSOR()
ON_WM_MOUSEMOVE()
ON_WM_TIMER()
ON_CONTROL_REFLECT(STN_CLICKED, OnLinkClicked)
END_MESSAGE_MAP()

CHyperLink::CHyperLink()
    : m_clrNormal(0x00EE0000), m_clrVisited(0x008B1A55), m_clrHover(0x000000FF), m_bHovering(FALSE),
      m_bLinkVisited(FALSE), m_nUnderlineMode(-1), m_bFitToText(TRUE), m_hHandCursor(nullptr),
      m_nHoverTimerId(100) {}

CHyperLink::~CHyperLink() {
    m_fontUnderlined.DeleteObject();
    m_wndTip.DestroyWindow();
    m_fontPlain.DeleteObject();
    if (m_hHandCursor) DestroyIcon(m_hHandCursor);
}

void CHyperLink::SetTarget(CString strTarget) {
    m_strTarget = strTarget;
    if (m_hWnd) {
        FitToText();
        m_wndTip.UpdateTipText(m_strTarget, this, kToolId);
    }
}

void CHyperLink::SetUnderlineMode(int nMode) {
    if (nMode == m_nUnderlineMode) return;
    if (m_hWnd) {
        SetFont(nMode == 1 ? &m_fontUnderlined : &m_fontPlain, TRUE);
        Invalidate(TRUE);
    }
    m_nUnderlineMode = nMode;
}

BOOL CHyperLink::DestroyWindow() {
    KillTimer(m_nHoverTimerId);
    return CStatic::DestroyWindow();
}

BOOL CHyperLink::PreTranslateMessage(MSG* pMsg) {
    m_wndTip.RelayEvent(pMsg);
    return CStatic::PreTranslateMessage(pMsg);
}

void CHyperLink::PreSubclassWindow() {
    ::SetWindowLongW(m_hWnd, GWL_STYLE, static_cast<LONG>(GetStyle() | SS_NOTIFY));

    if (m_strTarget.IsEmpty()) GetWindowText(m_strTarget);
    CString strText;
    GetWindowText(strText);
    if (strText.IsEmpty()) SetWindowText(m_strTarget);

    HGDIOBJ hFont = reinterpret_cast<HGDIOBJ>(SendMessage(WM_GETFONT));
    if (!hFont) hFont = GetStockObject(DEFAULT_GUI_FONT);
    if (!hFont) hFont = GetStockObject(ANSI_VAR_FONT);
    LOGFONTW lf{};
    GetObjectW(hFont, sizeof(LOGFONTW), &lf);
    m_fontPlain.CreateFontIndirect(&lf);
    lf.lfUnderline = 1;
    m_fontUnderlined.CreateFontIndirect(&lf);

    FitToText();
    LoadHandCursor();
    SetUnderlineMode(-1);

    m_wndTip.Create(this, 0);
    CRect rcTool;
    GetClientRect(&rcTool);
    m_wndTip.AddTool(this, m_strTarget, &rcTool, kToolId);

    CStatic::PreSubclassWindow();
}

void CHyperLink::FitToText() {
    if (!m_hWnd || !m_bFitToText) return;
    CWnd* pParent = GetParent();
    if (!pParent) return;

    CRect rcWnd, rcClient;
    GetWindowRect(&rcWnd);
    pParent->ScreenToClient(&rcWnd);
    GetClientRect(&rcClient);
    ClientToScreen(&rcClient);
    pParent->ScreenToClient(&rcClient);

    CString strText;
    GetWindowText(strText);
    CDC* pDC = GetDC();
    CFont* pOldFont = pDC->SelectObject(&m_fontUnderlined);
    SIZE extent{0, 0};
    ::GetTextExtentPoint32W(pDC->GetSafeHdc(), strText, strText.GetLength(), &extent);
    pDC->SelectObject(pOldFont);
    ReleaseDC(pDC);

    const int nNeededWidth = extent.cx + (rcWnd.Width() - rcClient.Width());
    const int nNeededHeight = extent.cy + (rcWnd.Height() - rcClient.Height());

    const DWORD dwStyle = GetStyle();
    if (dwStyle & SS_CENTERIMAGE) {
        const int nInset = (rcWnd.Height() - nNeededHeight) / 2;
        rcWnd.top += nInset;
        rcWnd.bottom -= nInset;
    } else {
        rcWnd.bottom = rcWnd.top + nNeededHeight;
    }
    if (dwStyle & SS_CENTER) {
        const int nInset = (rcWnd.Width() - nNeededWidth) / 2;
        rcWnd.left += nInset;
        rcWnd.right -= nInset;
    } else if (dwStyle & SS_RIGHT) {
        rcWnd.left = rcWnd.right - nNeededWidth;
    } else {
        rcWnd.right = rcWnd.left + nNeededWidth;
    }

    SetWindowPos(nullptr, rcWnd.left, rcWnd.top, rcWnd.Width(), rcWnd.Height(), SWP_NOZORDER);
}

void CHyperLink::LoadHandCursor() {
    if (m_hHandCursor) return;

    WCHAR szPath[MAX_PATH] = {};
    GetWindowsDirectoryW(szPath, MAX_PATH);
    CString strHelp(szPath);
    strHelp += u"\\winhlp32.exe";
    HMODULE hModule = LoadLibraryW(strHelp);
    if (hModule) {
        if (HCURSOR hCursor = LoadCursorW(hModule, MAKEINTRESOURCE(kHelpHandCursor)))
            m_hHandCursor = CopyIcon(hCursor);
    }
    FreeLibrary(hModule);

    // Without the help program the window system's own pointing hand serves.
    if (!m_hHandCursor) {
        if (HCURSOR hCursor = LoadCursorW(nullptr, IDC_HAND)) m_hHandCursor = CopyIcon(hCursor);
    }
}

HBRUSH CHyperLink::CtlColor(CDC* pDC, UINT nCtlColor) {
    if (nCtlColor == CTLCOLOR_STATIC) {
        if (m_bHovering)
            pDC->SetTextColor(m_clrHover);
        else if (m_bLinkVisited)
            pDC->SetTextColor(m_clrVisited);
        else
            pDC->SetTextColor(m_clrNormal);
    }
    pDC->SetBkMode(TRANSPARENT);
    return static_cast<HBRUSH>(GetStockObject(NULL_BRUSH));
}

BOOL CHyperLink::OnSetCursor(CWnd*, UINT, UINT) {
    if (!m_hHandCursor) return FALSE;
    ::SetCursor(m_hHandCursor);
    return TRUE;
}

void CHyperLink::OnMouseMove(UINT nFlags, CPoint point) {
    if (!m_bHovering) {
        m_bHovering = TRUE;
        if (m_nUnderlineMode == -1) SetFont(&m_fontUnderlined, TRUE);
        Invalidate(TRUE);
        SetTimer(m_nHoverTimerId, kHoverPollMs, nullptr);
    }
    CStatic::OnMouseMove(nFlags, point);
}

void CHyperLink::OnTimer(UINT_PTR nIDEvent) {
    const DWORD dwPos = GetMessagePos();
    CPoint pt(GET_X_LPARAM(static_cast<LPARAM>(dwPos)), GET_Y_LPARAM(static_cast<LPARAM>(dwPos)));
    ScreenToClient(&pt);
    CRect rcClient;
    GetClientRect(&rcClient);
    if (!::PtInRect(&rcClient, pt)) {
        m_bHovering = FALSE;
        KillTimer(m_nHoverTimerId);
        if (m_nUnderlineMode != 1) SetFont(&m_fontPlain, TRUE);
        Invalidate(TRUE);
    }
    CStatic::OnTimer(nIDEvent);
}

void CHyperLink::OnLinkClicked() {
    m_bHovering = FALSE;
    const int nResult = LaunchTarget(m_strTarget);
    m_bLinkVisited = nResult > 32;
    if (m_bLinkVisited) {
        if (m_hWnd) Invalidate(TRUE);
    } else {
        MessageBeep(MB_ICONEXCLAMATION);
        ShowLaunchError(nResult);
    }
}

BOOL CHyperLink::ReadKeyDefault(LPCWSTR lpszKey, CString& strValue) {
    HKEY hKey = nullptr;
    if (RegOpenKeyExW(HKEY_CLASSES_ROOT, lpszKey, 0, KEY_QUERY_VALUE, &hKey) != ERROR_SUCCESS) return FALSE;
    WCHAR szData[MAX_PATH] = {};
    LONG cbData = sizeof szData;
    // A value that can't be read (none, or too long for the buffer) counts as empty.
    if (RegQueryValueW(hKey, nullptr, szData, &cbData) != ERROR_SUCCESS) szData[0] = 0;
    szData[MAX_PATH - 1] = 0;
    strValue = szData;
    RegCloseKey(hKey);
    return TRUE;
}

int CHyperLink::LaunchTarget(CString strTarget) {
    const int nShellResult = static_cast<int>(
        reinterpret_cast<INT_PTR>(ShellExecuteW(nullptr, u"open", strTarget, nullptr, nullptr, SW_SHOW)));
    if (nShellResult > 32) return nShellResult;

    CString strClass;
    if (!ReadKeyDefault(u".htm", strClass)) return nShellResult;
    strClass += u"\\shell\\open\\command";
    CString strCommand;
    if (!ReadKeyDefault(strClass, strCommand)) return nShellResult;

    int nPos = strCommand.Find(u"\"%1\"");
    if (nPos == -1) nPos = strCommand.Find(u"%1");
    if (nPos != -1) strCommand = strCommand.Left(nPos);
    strCommand += u" ";
    strCommand += strTarget;

    const int cbAnsi = WideCharToMultiByte(CP_ACP, 0, strCommand, -1, nullptr, 0, nullptr, nullptr);
    if (cbAnsi <= 0) return nShellResult;
    std::string strAnsi(static_cast<size_t>(cbAnsi), '\0');
    WideCharToMultiByte(CP_ACP, 0, strCommand, -1, strAnsi.data(), cbAnsi, nullptr, nullptr);
    return static_cast<int>(WinExec(strAnsi.c_str(), SW_SHOW));
}

void CHyperLink::ShowLaunchError(int nError) {
    CString strError;
    switch (nError) {
    case 0:
        strError = u"The operating system is out\nof memory or resources.";
        break;
    case SE_ERR_FNF:
        strError = u"The specified file was not found.";
        break;
    case SE_ERR_PNF:
        strError = u"The specified path was not found.";
        break;
    case SE_ERR_ACCESSDENIED:
        strError = u"The operating system denied\naccess to the specified file.";
        break;
    case SE_ERR_OOM:
        strError = u"There was not enough memory to complete the operation.";
        break;
    case ERROR_BAD_FORMAT:
        strError = u"The .EXE file is invalid\n(non-Win32 .EXE or error in .EXE image).";
        break;
    case SE_ERR_SHARE:
        strError = u"A sharing violation occurred. ";
        break;
    case SE_ERR_ASSOCINCOMPLETE:
        strError = u"The filename association is\nincomplete or invalid.";
        break;
    case SE_ERR_DDETIMEOUT:
        strError = u"The DDE transaction could not\nbe completed because the request timed out.";
        break;
    case SE_ERR_DDEFAIL:
        strError = u"The DDE transaction failed.";
        break;
    case SE_ERR_DDEBUSY:
        strError = u"The DDE transaction could not\nbe completed because other DDE transactions\nwere being "
                   u"processed.";
        break;
    case SE_ERR_NOASSOC:
        strError = u"There is no application associated\nwith the given filename extension.";
        break;
    case SE_ERR_DLLNOTFOUND:
        strError = u"The specified dynamic-link library was not found.";
        break;
    default:
        strError.Format(u"Unknown Error (%d) occurred.", nError);
        break;
    }
    strError = CString(u"Unable to open hyperlink:\n\n") + strError;
    AfxMessageBox(strError, MB_ICONEXCLAMATION | MB_OK, 0);
}
