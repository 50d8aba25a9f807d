// Stand-ins for the two controls the tool takes from its commercial toolkit: a hyperlink label and
// a themed push button.
#pragma once

#include "platform/mfc.h"

// A colour whose top byte is this flag follows the colour scheme (it is the scheme's colour of the
// moment); a colour with the top byte cleared is fixed.
constexpr COLORREF XT_SCHEME_COLOR = 0xFF000000;

class CXTHyperLink : public CStatic {
public:
    CXTHyperLink();
    ~CXTHyperLink() override;

    void SetURL(LPCWSTR lpszURL) { m_strURL = lpszURL; }
    const CString& GetURL() const { return m_strURL; }
    void SetColors(COLORREF clrLink, COLORREF clrVisited, COLORREF clrHover);
    COLORREF GetLinkColor() const { return m_clrLink; }
    COLORREF GetVisitedColor() const { return m_clrVisited; }
    COLORREF GetHoverColor() const { return m_clrHover; }
    // The background: by default the scheme's 3-D face colour (flagged with XT_SCHEME_COLOR).
    COLORREF GetBackColor() const { return m_clrBack; }
    void SetBackColor(COLORREF clrBack);
    void SetUnderline(bool bUnderline);
    bool GetUnderline() const { return m_bUnderline; }
    // Whether a click opens the URL through the desktop; when off, a click is only a command to the
    // parent.
    void EnableShellExecute(bool bEnable) { m_bShellExecute = bEnable; }
    bool IsShellExecuteEnabled() const { return m_bShellExecute; }
    bool IsVisited() const { return m_bVisited; }
    bool IsHovering() const { return m_bHovering; }
    // The colour the text is drawn in now.
    COLORREF GetTextColor() const;

protected:
    void PreSubclassWindow() override;
    afx_msg HBRUSH CtlColor(CDC* pDC, UINT nCtlColor);
    afx_msg BOOL OnSetCursor(CWnd* pWnd, UINT nHitTest, UINT message);
    afx_msg void OnMouseMove(UINT nFlags, CPoint point);
    afx_msg LRESULT OnMouseLeave(WPARAM, LPARAM);
    afx_msg BOOL OnClicked();
    void ApplyFont();

    CString m_strURL;
    COLORREF m_clrLink;
    COLORREF m_clrVisited;
    COLORREF m_clrHover;
    COLORREF m_clrBack;
    bool m_bUnderline = true;
    bool m_bShellExecute = true;
    bool m_bVisited = false;
    bool m_bHovering = false;
    CFont m_fontPlain;
    CFont m_fontUnderline;
    CBrush m_brushBack;

    DECLARE_MESSAGE_MAP()
};

class CXTButton : public CButton {
public:
    // The toolkit's extended button style bits (theme, flat look...). Kept and the button redrawn;
    // the button keeps the platform's own look whatever the bits say.
    DWORD SetXButtonStyle(DWORD dwxStyle, BOOL bRedraw = TRUE);
    DWORD GetXButtonStyle() const { return m_dwxStyle; }

private:
    DWORD m_dwxStyle = 0;
};
