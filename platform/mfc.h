// Windows and dialogs in the shape of MFC: the application object, message maps, dialogs built from
// templates, data exchange and the common controls the tool uses.
//
// Messages are real: every window has a handle, SendMessage reaches the window's CWnd (if one is
// attached) through its message map, and what no handler takes goes to the default procedure of the
// window's class. The window system underneath is the platform layer's business.
#pragma once

#include <memory>
#include <vector>

#include "platform/cstring.h"
#include "platform/gdi.h"
#include "platform/resources.h"
#include "platform/win32.h"

#define afx_msg

// ---- points and rectangles ------------------------------------------------------------------------

class CPoint : public POINT {
public:
    CPoint() : POINT{0, 0} {}
    CPoint(int x_, int y_) : POINT{x_, y_} {}
    explicit CPoint(LPARAM lp) : POINT{GET_X_LPARAM(lp), GET_Y_LPARAM(lp)} {}
};

class CSize : public SIZE {
public:
    CSize() : SIZE{0, 0} {}
    CSize(int cx_, int cy_) : SIZE{cx_, cy_} {}
    CSize(SIZE s) : SIZE(s) {}
};

class CRect : public RECT {
public:
    CRect() : RECT{0, 0, 0, 0} {}
    CRect(int l, int t, int r, int b) : RECT{l, t, r, b} {}
    CRect(const RECT& r) : RECT(r) {}
    int Width() const { return right - left; }
    int Height() const { return bottom - top; }
    operator LPRECT() { return this; }
    operator LPCRECT() const { return this; }
    void NormalizeRect();
    BOOL PtInRect(POINT pt) const { return pt.x >= left && pt.x < right && pt.y >= top && pt.y < bottom; }
    void OffsetRect(int dx, int dy) {
        left += dx;
        right += dx;
        top += dy;
        bottom += dy;
    }
    CPoint TopLeft() const { return CPoint(left, top); }
    bool operator==(const CRect& o) const {
        return left == o.left && top == o.top && right == o.right && bottom == o.bottom;
    }
};

BOOL PtInRect(const RECT* lprc, POINT pt);

// ---- run-time class information ---------------------------------------------------------------------

class CObject;

struct CRuntimeClass {
    const char* m_lpszClassName;
    int m_nObjectSize;
    UINT m_wSchema;
    CObject* (*m_pfnCreateObject)();
    CRuntimeClass* m_pBaseClass;
    BOOL IsDerivedFrom(const CRuntimeClass* pBaseClass) const;
};

#define RUNTIME_CLASS(class_name) (class_name::GetThisClass())
#define DECLARE_DYNAMIC(class_name)                                                                          \
public:                                                                                                      \
    static CRuntimeClass* GetThisClass();                                                                    \
    CRuntimeClass* GetRuntimeClass() const override;

#define IMPLEMENT_DYNAMIC(class_name, base_class_name)                                                       \
    CRuntimeClass* class_name::GetThisClass() {                                                              \
        static CRuntimeClass rc{#class_name, static_cast<int>(sizeof(class_name)), 0xFFFF, nullptr,          \
                                RUNTIME_CLASS(base_class_name)};                                             \
        return &rc;                                                                                          \
    }                                                                                                        \
    CRuntimeClass* class_name::GetRuntimeClass() const {                                                     \
        return class_name::GetThisClass();                                                                   \
    }

class CObject {
public:
    virtual ~CObject() = default;
    static CRuntimeClass* GetThisClass();
    virtual CRuntimeClass* GetRuntimeClass() const;
    BOOL IsKindOf(const CRuntimeClass* pClass) const { return GetRuntimeClass()->IsDerivedFrom(pClass); }
};

// ---- message maps -------------------------------------------------------------------------------------

class CCmdTarget;

// A reflected message arrives at the child as its own code plus this base.
constexpr UINT WM_REFLECT_BASE = 0xBC00;
// The reflected control-colour query, one code for all kinds; wParam is the HDC, lParam the kind.
constexpr UINT WM_CTLCOLOR = 0x0019;

enum AfxSig : int {
    AfxSig_msg,    // ordinary window message; the thunk's result is the message result
    AfxSig_cmd,    // command or control notification; handled when found
    AfxSig_cmd_ex, // reflected notification that returns BOOL: FALSE lets the parent see it too
};

using AFX_PMSG_THUNK = LRESULT (*)(CCmdTarget* self, WPARAM wParam, LPARAM lParam);

struct AFX_MSGMAP_ENTRY {
    UINT nMessage;
    UINT nCode;
    UINT nID;
    UINT nLastID;
    int nSig;
    AFX_PMSG_THUNK pfn;
};

struct AFX_MSGMAP {
    const AFX_MSGMAP* (*pfnGetBaseMap)();
    const AFX_MSGMAP_ENTRY* lpEntries;
};

#define DECLARE_MESSAGE_MAP()                                                                                \
protected:                                                                                                   \
    static const AFX_MSGMAP* GetThisMessageMap();                                                            \
    const AFX_MSGMAP* GetMessageMap() const override;                                                        \
                                                                                                             \
private:

#define BEGIN_MESSAGE_MAP(theClass, baseClass)                                                               \
    const AFX_MSGMAP* theClass::GetMessageMap() const {                                                      \
        return GetThisMessageMap();                                                                          \
    }                                                                                                        \
    const AFX_MSGMAP* theClass::GetThisMessageMap() {                                                        \
        using ThisClass [[maybe_unused]] = theClass;                                                         \
        using TheBaseClass = baseClass;                                                                      \
        static const AFX_MSGMAP_ENTRY _messageEntries[] = {

#define END_MESSAGE_MAP()                                                                                    \
    { 0, 0, 0, 0, AfxSig_msg, nullptr }                                                                      \
    }                                                                                                        \
    ;                                                                                                        \
    static const AFX_MSGMAP messageMap = {&TheBaseClass::GetThisMessageMap, &_messageEntries[0]};            \
    return &messageMap;                                                                                      \
    }

#define AFX_THUNK(body)                                                                                      \
    [](CCmdTarget * _t, [[maybe_unused]] WPARAM _w, [[maybe_unused]] LPARAM _l) -> LRESULT body
#define AFX_SELF static_cast<ThisClass*>(_t)

#define ON_COMMAND(id, memberFxn)                                                                            \
    {WM_COMMAND, 0, static_cast<UINT>(id), static_cast<UINT>(id), AfxSig_cmd, AFX_THUNK({                    \
         AFX_SELF->memberFxn();                                                                              \
         return 0;                                                                                           \
     })},
#define ON_CONTROL(code, id, memberFxn)                                                                      \
    {WM_COMMAND,                                                                                             \
     static_cast<UINT>(code),                                                                                \
     static_cast<UINT>(id),                                                                                  \
     static_cast<UINT>(id),                                                                                  \
     AfxSig_cmd,                                                                                             \
     AFX_THUNK({                                                                                             \
         AFX_SELF->memberFxn();                                                                              \
         return 0;                                                                                           \
     })},
#define ON_BN_CLICKED(id, memberFxn) ON_CONTROL(BN_CLICKED, id, memberFxn)
#define ON_STN_CLICKED(id, memberFxn) ON_CONTROL(STN_CLICKED, id, memberFxn)
#define ON_LBN_SELCHANGE(id, memberFxn) ON_CONTROL(LBN_SELCHANGE, id, memberFxn)
#define ON_LBN_SETFOCUS(id, memberFxn) ON_CONTROL(LBN_SETFOCUS, id, memberFxn)
#define ON_CONTROL_REFLECT(code, memberFxn)                                                                  \
    {WM_COMMAND + WM_REFLECT_BASE, static_cast<UINT>(code), 0, 0, AfxSig_cmd, AFX_THUNK({                    \
         AFX_SELF->memberFxn();                                                                              \
         return 0;                                                                                           \
     })},
#define ON_CONTROL_REFLECT_EX(code, memberFxn)                                                               \
    {WM_COMMAND + WM_REFLECT_BASE, static_cast<UINT>(code), 0, 0, AfxSig_cmd_ex, AFX_THUNK({                 \
         return AFX_SELF->memberFxn() ? 1 : 0;                                                               \
     })},
#define ON_MESSAGE(message, memberFxn)                                                                       \
    {static_cast<UINT>(message), 0, 0, 0, AfxSig_msg, AFX_THUNK({ return AFX_SELF->memberFxn(_w, _l); })},
#define ON_WM_CREATE()                                                                                       \
    {WM_CREATE, 0,          0,                                                                               \
     0,         AfxSig_msg, AFX_THUNK({ return AFX_SELF->OnCreate(reinterpret_cast<LPCREATESTRUCT>(_l)); })},
#define ON_WM_DESTROY()                                                                                      \
    {WM_DESTROY, 0, 0, 0, AfxSig_msg, AFX_THUNK({                                                            \
         AFX_SELF->OnDestroy();                                                                              \
         return 0;                                                                                           \
     })},
#define ON_WM_PAINT()                                                                                        \
    {WM_PAINT, 0, 0, 0, AfxSig_msg, AFX_THUNK({                                                              \
         AFX_SELF->OnPaint();                                                                                \
         return 0;                                                                                           \
     })},
#define ON_WM_SYSCOMMAND()                                                                                   \
    {WM_SYSCOMMAND, 0, 0, 0, AfxSig_msg, AFX_THUNK({                                                         \
         AFX_SELF->OnSysCommand(static_cast<UINT>(_w), _l);                                                  \
         return 0;                                                                                           \
     })},
#define ON_WM_QUERYDRAGICON()                                                                                \
    {WM_QUERYDRAGICON, 0, 0, 0, AfxSig_msg, AFX_THUNK({                                                      \
         return reinterpret_cast<LRESULT>(AFX_SELF->OnQueryDragIcon());                                      \
     })},
#define ON_WM_SETCURSOR()                                                                                    \
    {WM_SETCURSOR, 0, 0, 0, AfxSig_msg, AFX_THUNK({                                                          \
         return AFX_SELF->OnSetCursor(CWnd::FromHandle(reinterpret_cast<HWND>(_w)), LOWORD(_l), HIWORD(_l)); \
     })},
#define ON_WM_MOUSEMOVE()                                                                                    \
    {WM_MOUSEMOVE, 0, 0, 0, AfxSig_msg, AFX_THUNK({                                                          \
         AFX_SELF->OnMouseMove(static_cast<UINT>(_w), CPoint(_l));                                           \
         return 0;                                                                                           \
     })},
#define ON_WM_TIMER()                                                                                        \
    {WM_TIMER, 0, 0, 0, AfxSig_msg, AFX_THUNK({                                                              \
         AFX_SELF->OnTimer(static_cast<UINT_PTR>(_w));                                                       \
         return 0;                                                                                           \
     })},
#define ON_WM_CTLCOLOR_REFLECT()                                                                             \
    {WM_CTLCOLOR + WM_REFLECT_BASE, 0, 0, 0, AfxSig_msg, AFX_THUNK({                                         \
         return reinterpret_cast<LRESULT>(                                                                   \
             AFX_SELF->CtlColor(CDC::FromHandle(reinterpret_cast<HDC>(_w)), static_cast<UINT>(_l)));         \
     })},

class CCmdTarget : public CObject {
    DECLARE_DYNAMIC(CCmdTarget)
public:
    // Finds the handler for a command (WM_COMMAND with code and ID) along this object's maps.
    virtual BOOL OnCmdMsg(UINT nID, int nCode);

protected:
    static const AFX_MSGMAP* GetThisMessageMap();
    virtual const AFX_MSGMAP* GetMessageMap() const;
    // The first entry for the message (and, for commands, code and ID) along the map chain.
    const AFX_MSGMAP_ENTRY* FindMessageEntry(UINT nMessage, UINT nCode, UINT nID) const;
};

// ---- windows ------------------------------------------------------------------------------------------

struct CREATESTRUCTW {
    LPVOID lpCreateParams;
    HINSTANCE hInstance;
    HMENU hMenu;
    HWND hwndParent;
    int cy;
    int cx;
    int y;
    int x;
    LONG style;
    LPCWSTR lpszName;
    LPCWSTR lpszClass;
    DWORD dwExStyle;
};
using LPCREATESTRUCT = CREATESTRUCTW*;

class CDataExchange {
public:
    CDataExchange(class CWnd* pDlgWnd, BOOL bSaveAndValidate)
        : m_bSaveAndValidate(bSaveAndValidate), m_pDlgWnd(pDlgWnd) {}
    BOOL m_bSaveAndValidate;
    class CWnd* m_pDlgWnd;
};

class CMenu;
class CFont;

class CWnd : public CCmdTarget {
    DECLARE_DYNAMIC(CWnd)
public:
    HWND m_hWnd = nullptr;

    CWnd() = default;
    CWnd(const CWnd&) = delete;
    CWnd& operator=(const CWnd&) = delete;
    ~CWnd() override;

    operator HWND() const { return m_hWnd; }
    HWND GetSafeHwnd() const { return m_hWnd; }
    // The CWnd attached to a window, or a temporary wrapper when none is (valid until the next idle
    // moment; never store it).
    static CWnd* FromHandle(HWND hWnd);
    static CWnd* FromHandlePermanent(HWND hWnd);

    BOOL Attach(HWND hWnd);
    HWND Detach();
    // Attaches this object to an existing window so that its messages reach this object's map.
    BOOL SubclassWindow(HWND hWnd);
    BOOL SubclassDlgItem(UINT nID, CWnd* pParent);

    // A child window of a class of the window system ("STATIC", "BUTTON", "EDIT", "LISTBOX",
    // "SysListView32"); rect in the parent's client pixels.
    BOOL Create(LPCWSTR lpszClassName, LPCWSTR lpszWindowName, DWORD dwStyle, const RECT& rect,
                CWnd* pParentWnd, UINT nID);
    virtual BOOL DestroyWindow();

    virtual void PreSubclassWindow() {}
    virtual BOOL PreTranslateMessage(MSG* pMsg);
    virtual LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam);
    virtual BOOL OnWndMsg(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* pResult);
    virtual BOOL OnCommand(WPARAM wParam, LPARAM lParam);
    virtual BOOL OnChildNotify(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* pResult);
    virtual LRESULT DefWindowProc(UINT message, WPARAM wParam, LPARAM lParam);
    virtual void DoDataExchange(CDataExchange* pDX);
    virtual void PostNcDestroy() {}

    // Default processing of the message being handled now.
    LRESULT Default();

    LRESULT SendMessage(UINT message, WPARAM wParam = 0, LPARAM lParam = 0) const;
    BOOL PostMessage(UINT message, WPARAM wParam = 0, LPARAM lParam = 0) const;

    void SetWindowText(LPCWSTR lpszString);
    void GetWindowText(CString& rString) const;
    int GetWindowTextLength() const;
    CWnd* GetDlgItem(int nID) const;
    int GetDlgCtrlID() const;
    void GetDlgItemText(int nID, CString& rString) const;
    void SetDlgItemText(int nID, LPCWSTR lpszString);
    CWnd* GetParent() const;
    CWnd* GetTopLevelParent() const;

    void GetClientRect(LPRECT lpRect) const;
    void GetWindowRect(LPRECT lpRect) const;
    void ScreenToClient(LPPOINT lpPoint) const;
    void ScreenToClient(LPRECT lpRect) const;
    void ClientToScreen(LPPOINT lpPoint) const;
    void ClientToScreen(LPRECT lpRect) const;
    BOOL SetWindowPos(const CWnd* pWndInsertAfter, int x, int y, int cx, int cy, UINT nFlags);
    void MoveWindow(int x, int y, int nWidth, int nHeight, BOOL bRepaint = TRUE);
    void MoveWindow(LPCRECT lpRect, BOOL bRepaint = TRUE);
    DWORD GetStyle() const;
    DWORD GetExStyle() const;
    BOOL ModifyStyle(DWORD dwRemove, DWORD dwAdd, UINT nFlags = 0);
    BOOL ShowWindow(int nCmdShow);
    BOOL IsWindowVisible() const;
    BOOL EnableWindow(BOOL bEnable = TRUE);
    BOOL IsWindowEnabled() const;
    BOOL IsIconic() const;
    CWnd* SetFocus();
    static CWnd* GetFocus();
    void Invalidate(BOOL bErase = TRUE);
    void InvalidateRect(LPCRECT lpRect, BOOL bErase = TRUE);
    void UpdateWindow();
    BOOL LockWindowUpdate();
    void UnlockWindowUpdate();
    CMenu* GetSystemMenu(BOOL bRevert) const;
    HICON SetIcon(HICON hIcon, BOOL bBigIcon);
    void SetFont(CFont* pFont, BOOL bRedraw = TRUE);
    CFont* GetFont() const;
    UINT_PTR SetTimer(UINT_PTR nIDEvent, UINT nElapse, void* lpfnTimer);
    BOOL KillTimer(UINT_PTR nIDEvent);
    CDC* GetDC();
    int ReleaseDC(CDC* pDC);
    int MessageBox(LPCWSTR lpszText, LPCWSTR lpszCaption = nullptr, UINT nType = MB_OK);

protected:
    // Handlers whose base behaviour is the default processing of the message.
    afx_msg int OnCreate(LPCREATESTRUCT);
    afx_msg void OnDestroy();
    afx_msg void OnPaint();
    afx_msg void OnSysCommand(UINT nID, LPARAM lParam);
    afx_msg HCURSOR OnQueryDragIcon();
    afx_msg BOOL OnSetCursor(CWnd* pWnd, UINT nHitTest, UINT message);
    afx_msg void OnMouseMove(UINT nFlags, CPoint point);
    afx_msg void OnTimer(UINT_PTR nIDEvent);

    static const AFX_MSGMAP* GetThisMessageMap();
    const AFX_MSGMAP* GetMessageMap() const override;

    friend struct AfxWindowAccess;
};

void DDX_Control(CDataExchange* pDX, int nIDC, CWnd& rControl);

// Free window functions
LRESULT SendMessageW(HWND hWnd, UINT Msg, WPARAM wParam, LPARAM lParam);
BOOL PostMessageW(HWND hWnd, UINT Msg, WPARAM wParam, LPARAM lParam);
LRESULT DefWindowProcW(HWND hWnd, UINT Msg, WPARAM wParam, LPARAM lParam);
BOOL IsWindow(HWND hWnd);
HWND GetFocus();
HWND SetFocus(HWND hWnd);
HWND GetParent(HWND hWnd);
HWND GetDlgItem(HWND hDlg, int nIDDlgItem);
int GetDlgCtrlID(HWND hWnd);
BOOL GetClientRect(HWND hWnd, LPRECT lpRect);
BOOL GetWindowRect(HWND hWnd, LPRECT lpRect);
int MapWindowPoints(HWND hWndFrom, HWND hWndTo, LPPOINT lpPoints, UINT cPoints);
BOOL ScreenToClient(HWND hWnd, LPPOINT lpPoint);
BOOL SetWindowPos(HWND hWnd, HWND hWndInsertAfter, int X, int Y, int cx, int cy, UINT uFlags);
LONG GetWindowLongW(HWND hWnd, int nIndex);
LONG SetWindowLongW(HWND hWnd, int nIndex, LONG dwNewLong);
BOOL InvalidateRect(HWND hWnd, const RECT* lpRect, BOOL bErase);
BOOL UpdateWindow(HWND hWnd);
BOOL LockWindowUpdate(HWND hWndLock);
BOOL IsIconic(HWND hWnd);
UINT_PTR SetTimer(HWND hWnd, UINT_PTR nIDEvent, UINT uElapse, void* lpTimerFunc);
BOOL KillTimer(HWND hWnd, UINT_PTR uIDEvent);
DWORD GetMessagePos();
BOOL GetCursorPos(LPPOINT lpPoint);
int GetSystemMetrics(int nIndex);
HCURSOR SetCursor(HCURSOR hCursor);
HCURSOR LoadCursorW(HINSTANCE hInstance, LPCWSTR lpCursorName);
HICON LoadIconW(HINSTANCE hInstance, LPCWSTR lpIconName);
HICON CopyIcon(HICON hIcon);
BOOL DestroyIcon(HICON hIcon);
BOOL MessageBeep(UINT uType);
int LoadStringW(HINSTANCE hInstance, UINT uID, LPWSTR lpBuffer, int cchBufferMax);
BOOL IsDialogMessageW(HWND hDlg, LPMSG lpMsg);
int GetWindowTextW(HWND hWnd, LPWSTR lpString, int nMaxCount);
BOOL SetWindowTextW(HWND hWnd, LPCWSTR lpString);

struct TRACKMOUSEEVENT {
    DWORD cbSize;
    DWORD dwFlags;
    HWND hwndTrack;
    DWORD dwHoverTime;
};
constexpr DWORD TME_LEAVE = 0x00000002;
// Asks for one WM_MOUSELEAVE when the pointer leaves the window.
BOOL TrackMouseEvent(TRACKMOUSEEVENT* lpEventTrack);

// ---- menus ----------------------------------------------------------------------------------------------

class CMenu {
public:
    HMENU m_hMenu = nullptr;
    operator HMENU() const { return m_hMenu; }
    BOOL AppendMenu(UINT nFlags, UINT_PTR nIDNewItem = 0, LPCWSTR lpszNewItem = nullptr);
    UINT GetMenuItemCount() const;
    UINT GetMenuItemID(int nPos) const;
    int GetMenuString(UINT nIDItem, CString& rString, UINT nFlags) const;
    UINT GetMenuState(UINT nID, UINT nFlags) const;
    static CMenu* FromHandle(HMENU hMenu);
};

// ---- dialogs --------------------------------------------------------------------------------------------

class CDialog : public CWnd {
    DECLARE_DYNAMIC(CDialog)
public:
    explicit CDialog(UINT nIDTemplate, CWnd* pParentWnd = nullptr);
    ~CDialog() override;

    virtual INT_PTR DoModal();
    // A modeless dialog from the template; shown when the template says WS_VISIBLE.
    BOOL Create(UINT nIDTemplate, CWnd* pParentWnd = nullptr);
    void EndDialog(int nResult);
    virtual BOOL OnInitDialog();
    virtual void OnOK();
    virtual void OnCancel();
    BOOL UpdateData(BOOL bSaveAndValidate = TRUE);
    BOOL PreTranslateMessage(MSG* pMsg) override;

    UINT m_nIDHelp = 0;

protected:
    afx_msg LRESULT HandleInitDialog(WPARAM, LPARAM);
    UINT m_nIDTemplate;
    CWnd* m_pParentWnd;
    int m_nModalResult = -1;
    bool m_bEnded = false;

    static const AFX_MSGMAP* GetThisMessageMap();
    const AFX_MSGMAP* GetMessageMap() const override;
    friend struct AfxWindowAccess;
};

// ---- controls -------------------------------------------------------------------------------------------

class CStatic : public CWnd {
    DECLARE_DYNAMIC(CStatic)
public:
    BOOL Create(LPCWSTR lpszText, DWORD dwStyle, const RECT& rect, CWnd* pParentWnd, UINT nID = 0xffff);
    HBITMAP SetBitmap(HBITMAP hBitmap);
    HBITMAP GetBitmap() const;
};

class CButton : public CWnd {
    DECLARE_DYNAMIC(CButton)
public:
    BOOL Create(LPCWSTR lpszCaption, DWORD dwStyle, const RECT& rect, CWnd* pParentWnd, UINT nID);
    int GetCheck() const;
    void SetCheck(int nCheck);
};

class CEdit : public CWnd {
    DECLARE_DYNAMIC(CEdit)
};

struct HDITEMW {
    UINT mask;
    int cxy;
    LPWSTR pszText;
    HBITMAP hbm;
    int cchTextMax;
    int fmt;
    LPARAM lParam;
    int iImage;
    int iOrder;
};
using HDITEM = HDITEMW;

class CHeaderCtrl : public CWnd {
    DECLARE_DYNAMIC(CHeaderCtrl)
public:
    int GetItemCount() const;
    BOOL GetItem(int nPos, HDITEMW* pHeaderItem) const;
};

class CListCtrl : public CWnd {
    DECLARE_DYNAMIC(CListCtrl)
public:
    int InsertColumn(int nCol, LPCWSTR lpszColumnHeading, int nFormat = LVCFMT_LEFT, int nWidth = -1,
                     int nSubItem = -1);
    BOOL DeleteColumn(int nCol);
    int GetColumnWidth(int nCol) const;
    BOOL SetColumnWidth(int nCol, int cx);
    CHeaderCtrl* GetHeaderCtrl() const;
    int InsertItem(int nItem, LPCWSTR lpszItem);
    BOOL SetItemText(int nItem, int nSubItem, LPCWSTR lpszText);
    CString GetItemText(int nItem, int nSubItem) const;
    BOOL DeleteAllItems();
    int GetItemCount() const;
    DWORD SetExtendedStyle(DWORD dwNewStyle);
    DWORD GetExtendedStyle() const;
};

class CListBox : public CWnd {
    DECLARE_DYNAMIC(CListBox)
public:
    int AddString(LPCWSTR lpszItem);
    int DeleteString(UINT nIndex);
    int GetCurSel() const;
    int SetCurSel(int nSelect);
    int GetText(int nIndex, CString& rString) const;
    int GetCount() const;
    void ResetContent();
    int FindStringExact(int nIndexStart, LPCWSTR lpszFind) const;
};

// ---- application ------------------------------------------------------------------------------------

constexpr UINT ID_HELP = 0xE146; // 57670

class CWinApp : public CCmdTarget {
    DECLARE_DYNAMIC(CWinApp)
public:
    explicit CWinApp(LPCWSTR lpszAppName = nullptr);
    ~CWinApp() override;
    virtual BOOL InitInstance();
    virtual int ExitInstance() { return 0; }
    void SetRegistryKey(LPCWSTR lpszRegistryKey);
    HICON LoadIcon(UINT nIDResource) const;
    HCURSOR LoadStandardCursor(LPCWSTR lpszCursorName) const;

    // The application's name: the executable's file name without extension unless given.
    const WCHAR* m_pszAppName = nullptr;
    const WCHAR* m_pszRegistryKey = nullptr;
    CWnd* m_pMainWnd = nullptr;
    HINSTANCE m_hInstance = nullptr;

    afx_msg void OnHelp();

protected:
    CString m_strAppName;
    CString m_strRegistryKey;
    static const AFX_MSGMAP* GetThisMessageMap();
    const AFX_MSGMAP* GetMessageMap() const override;
    friend int AfxWinMain(int argc, char** argv, const AFX_RESOURCE_TABLE* resources);
};

CWinApp* AfxGetApp();
const WCHAR* AfxGetAppName();
HINSTANCE AfxGetResourceHandle();
HINSTANCE AfxGetInstanceHandle();
CWnd* AfxGetMainWnd();
void AfxEnableControlContainer();
int AfxMessageBox(LPCWSTR lpszText, UINT nType = MB_OK, UINT nIDHelp = 0);
int AfxMessageBox(UINT nIDPrompt, UINT nType = MB_OK, UINT nIDHelp = UINT(-1));

// Brings up the window system, binds the application's resources, runs the application object's
// InitInstance and returns the process's exit code. The executable's main() calls it.
int AfxWinMain(int argc, char** argv, const AFX_RESOURCE_TABLE* resources);
// The same start-up without running the application: the window system and resources only.
// Used by programs that drive the windows themselves (tests, the benchmark).
void AfxWinInit(int argc, char** argv, const AFX_RESOURCE_TABLE* resources);
