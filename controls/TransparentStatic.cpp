#include "controls/TransparentStatic.h"

IMPLEMENT_DYNAMIC(CTransparentStatic, CStatic)

BEGIN_MESSAGE_MAP(CTransparentStatic, CStatic)
ON_MESSAGE(WM_SETTEXT, OnSetWindowText)
ON_WM_CTLCOLOR_REFLECT()
END_MESSAGE_MAP()

LRESULT CTransparentStatic::OnSetWindowText(WPARAM, LPARAM) {
    const LRESULT lResult = Default();

    // The label paints no background, so the parent must repaint what lies behind it before the
    // new text is drawn, or the old text would show through.
    if (CWnd* pParent = GetParent()) {
        CRect rc;
        GetWindowRect(&rc);
        pParent->ScreenToClient(&rc);
        pParent->InvalidateRect(&rc, TRUE);
        pParent->UpdateWindow();
    }
    return lResult;
}

HBRUSH CTransparentStatic::CtlColor(CDC* pDC, UINT) {
    pDC->SetBkMode(TRANSPARENT);
    return static_cast<HBRUSH>(GetStockObject(NULL_BRUSH));
}
