#include "platform/toolkit.h"

#include "platform/seams.h"
#include "platform/src/internal.h"

BEGIN_MESSAGE_MAP(CXTHyperLink, CStatic)
ON_WM_CTLCOLOR_REFLECT()
ON_WM_SETCURSOR()
ON_WM_MOUSEMOVE()
ON_MESSAGE(WM_MOUSELEAVE, OnMouseLeave)
ON_CONTROL_REFLECT_EX(STN_CLICKED, OnClicked)
END_MESSAGE_MAP()

CXTHyperLink::CXTHyperLink()
    : m_clrLink(RGB(0, 0, 255)), m_clrVisited(RGB(128, 0, 128)), m_clrHover(RGB(255, 0, 0)),
      m_clrBack(XT_SCHEME_COLOR | GetSysColor(COLOR_3DFACE)) {}

CXTHyperLink::~CXTHyperLink() = default;

void CXTHyperLink::SetColors(COLORREF clrLink, COLORREF clrVisited, COLORREF clrHover) {
    m_clrLink = clrLink;
    m_clrVisited = clrVisited;
    m_clrHover = clrHover;
    if (m_hWnd) Invalidate();
}

void CXTHyperLink::SetBackColor(COLORREF clrBack) {
    m_clrBack = clrBack;
    m_brushBack.DeleteObject();
    if (m_hWnd) Invalidate();
}

void CXTHyperLink::SetUnderline(bool bUnderline) {
    m_bUnderline = bUnderline;
    ApplyFont();
}

COLORREF CXTHyperLink::GetTextColor() const {
    if (m_bHovering) return m_clrHover;
    return m_bVisited ? m_clrVisited : m_clrLink;
}

void CXTHyperLink::PreSubclassWindow() {
    // The parent must hear about clicks.
    ModifyStyle(0, SS_NOTIFY);
    LOGFONTW lf{};
    CFont* font = GetFont();
    HGDIOBJ source = font && font->m_hObject ? font->m_hObject : GetStockObject(DEFAULT_GUI_FONT);
    GetObjectW(source, sizeof lf, &lf);
    lf.lfUnderline = 0;
    m_fontPlain.DeleteObject();
    m_fontPlain.CreateFontIndirect(&lf);
    lf.lfUnderline = 1;
    m_fontUnderline.DeleteObject();
    m_fontUnderline.CreateFontIndirect(&lf);
    ApplyFont();
    CStatic::PreSubclassWindow();
}

void CXTHyperLink::ApplyFont() {
    if (!m_hWnd || !m_fontPlain.m_hObject) return;
    SetFont(m_bUnderline ? &m_fontUnderline : &m_fontPlain, TRUE);
}

HBRUSH CXTHyperLink::CtlColor(CDC* pDC, UINT) {
    pDC->SetTextColor(GetTextColor());
    // A scheme colour is the scheme's colour of this moment; a fixed one stays as it was set.
    const COLORREF back =
        (m_clrBack & XT_SCHEME_COLOR) ? GetSysColor(COLOR_3DFACE) : (m_clrBack & 0x00FFFFFF);
    if (!m_brushBack.m_hObject || afx::ToQColor(m_brushBack.m_hObject->color) != afx::ToQColor(back)) {
        m_brushBack.DeleteObject();
        m_brushBack.CreateSolidBrush(back);
    }
    pDC->SetBkColor(back);
    pDC->SetBkMode(TRANSPARENT);
    return static_cast<HBRUSH>(m_brushBack.m_hObject);
}

BOOL CXTHyperLink::OnSetCursor(CWnd*, UINT, UINT) {
    ::SetCursor(LoadCursorW(nullptr, IDC_HAND));
    return TRUE;
}

void CXTHyperLink::OnMouseMove(UINT nFlags, CPoint point) {
    if (!m_bHovering) {
        m_bHovering = true;
        TRACKMOUSEEVENT tme{sizeof(TRACKMOUSEEVENT), TME_LEAVE, m_hWnd, 0};
        TrackMouseEvent(&tme);
        Invalidate();
    }
    CStatic::OnMouseMove(nFlags, point);
}

LRESULT CXTHyperLink::OnMouseLeave(WPARAM, LPARAM) {
    m_bHovering = false;
    Invalidate();
    return 0;
}

BOOL CXTHyperLink::OnClicked() {
    m_bVisited = true;
    if (m_bShellExecute && !m_strURL.IsEmpty()) AfxGetUserSeam()->OpenLink(m_strURL);
    Invalidate();
    // The parent hears of the click as a command from this control as well.
    return FALSE;
}

DWORD CXTButton::SetXButtonStyle(DWORD dwxStyle, BOOL bRedraw) {
    const DWORD previous = m_dwxStyle;
    m_dwxStyle = dwxStyle;
    if (bRedraw && m_hWnd) Invalidate();
    return previous;
}
