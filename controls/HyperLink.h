// A static text control of a dialog template turned into a clickable link: coloured by state,
// underlined always or while the pointer is over it, a hand cursor, a tooltip with the target, and
// on a click the target handed to the shell.
#pragma once

#include "platform/mfc.h"
#include "platform/tooltip.h"

class CHyperLink : public CStatic {
public:
    CHyperLink();
    ~CHyperLink() override;

    // The address to open. The label's text stays as it is.
    void SetTarget(CString strTarget);
    // -1: underlined while the pointer is over the label; 1: always; anything else: never.
    void SetUnderlineMode(int nMode);

    BOOL DestroyWindow() override;
    BOOL PreTranslateMessage(MSG* pMsg) override;

    // Opens a target through the shell, falling back to the command that opens ".htm" files.
    // Returns the shell's (or the command's) result: above 32 is success.
    int LaunchTarget(CString strTarget);

protected:
    void PreSubclassWindow() override;

    afx_msg HBRUSH CtlColor(CDC* pDC, UINT nCtlColor);
    afx_msg BOOL OnSetCursor(CWnd* pWnd, UINT nHitTest, UINT message);
    afx_msg void OnMouseMove(UINT nFlags, CPoint point);
    afx_msg void OnTimer(UINT_PTR nIDEvent);
    afx_msg void OnLinkClicked();

    void FitToText();
    void LoadHandCursor();
    void ShowLaunchError(int nError);
    // The default value of a key under HKEY_CLASSES_ROOT; false when the key can't be opened.
    static BOOL ReadKeyDefault(LPCWSTR lpszKey, CString& strValue);

public:
    COLORREF m_clrNormal;
    COLORREF m_clrVisited;
    COLORREF m_clrHover;
    BOOL m_bHovering;
    BOOL m_bLinkVisited;
    int m_nUnderlineMode;
    BOOL m_bFitToText;
    CString m_strTarget;
    CFont m_fontUnderlined;
    CFont m_fontPlain;
    HCURSOR m_hHandCursor;
    CToolTipCtrl m_wndTip;
    UINT m_nHoverTimerId;

    DECLARE_MESSAGE_MAP()
};
