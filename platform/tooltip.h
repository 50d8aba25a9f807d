// The tooltip control: a window that shows a short text when the pointer rests over one of its
// tools (a rectangle of some window). It sees the pointer only through the mouse messages its
// owner relays to it (TTM_RELAYEVENT), usually from PreTranslateMessage.
#pragma once

#include "platform/mfc.h"

constexpr UINT TTM_ACTIVATE = WM_USER + 1;        // 0x0401
constexpr UINT TTM_RELAYEVENT = WM_USER + 7;      // 0x0407
constexpr UINT TTM_GETTOOLCOUNT = WM_USER + 13;   // 0x040D
constexpr UINT TTM_POP = WM_USER + 28;            // 0x041C
constexpr UINT TTM_ADDTOOLW = WM_USER + 50;       // 0x0432
constexpr UINT TTM_DELTOOLW = WM_USER + 51;       // 0x0433
constexpr UINT TTM_GETTEXTW = WM_USER + 56;       // 0x0438
constexpr UINT TTM_UPDATETIPTEXTW = WM_USER + 57; // 0x0439

// Tool flags: uId is the tool's window handle (its client area is the tool).
constexpr UINT TTF_IDISHWND = 0x0001;

struct TOOLINFOW {
    UINT cbSize;
    UINT uFlags;
    HWND hwnd;    // the window that holds the tool
    UINT_PTR uId; // the tool's ID within that window, or its handle with TTF_IDISHWND
    RECT rect;    // in hwnd's client coordinates
    HINSTANCE hinst;
    LPWSTR lpszText;
    LPARAM lParam;
    void* lpReserved;
};
using TOOLINFO = TOOLINFOW;

class CToolTipCtrl : public CWnd {
    DECLARE_DYNAMIC(CToolTipCtrl)
public:
    // Makes the tooltip window, owned by pParentWnd and destroyed with it.
    BOOL Create(CWnd* pParentWnd, DWORD dwStyle = 0);
    // A tool for a rectangle of pWnd's client area (its whole client area when lpRectTool is null).
    BOOL AddTool(CWnd* pWnd, LPCWSTR lpszText, LPCRECT lpRectTool = nullptr, UINT_PTR nIDTool = 0);
    void DelTool(CWnd* pWnd, UINT_PTR nIDTool = 0);
    void UpdateTipText(LPCWSTR lpszText, CWnd* pWnd, UINT_PTR nIDTool = 0);
    void GetText(CString& str, CWnd* pWnd, UINT_PTR nIDTool = 0) const;
    int GetToolCount() const;
    void Activate(BOOL bActivate);
    void Pop();
    void RelayEvent(LPMSG lpMsg);
};
