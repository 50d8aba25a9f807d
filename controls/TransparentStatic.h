// A static text control that paints no background of its own: its text stands on whatever its
// parent painted behind it.
#pragma once

#include "platform/mfc.h"

class CTransparentStatic : public CStatic {
    DECLARE_DYNAMIC(CTransparentStatic)
public:
    CTransparentStatic() = default;
    ~CTransparentStatic() override = default;

protected:
    afx_msg LRESULT OnSetWindowText(WPARAM wParam, LPARAM lParam);
    afx_msg HBRUSH CtlColor(CDC* pDC, UINT nCtlColor);

    DECLARE_MESSAGE_MAP()
};
