// CObject, message maps, CWnd and the simple controls.
#include <QApplication>
#include <unordered_set>

#include "platform/seams.h"
#include "platform/src/internal.h"

using namespace afx;

// ---- run-time classes -------------------------------------------------------------------------------

BOOL CRuntimeClass::IsDerivedFrom(const CRuntimeClass* pBaseClass) const {
    for (const CRuntimeClass* c = this; c; c = c->m_pBaseClass)
        if (c == pBaseClass) return TRUE;
    return FALSE;
}

CRuntimeClass* CObject::GetThisClass() {
    static CRuntimeClass rc{"CObject", static_cast<int>(sizeof(CObject)), 0xFFFF, nullptr, nullptr};
    return &rc;
}

CRuntimeClass* CObject::GetRuntimeClass() const {
    return CObject::GetThisClass();
}

IMPLEMENT_DYNAMIC(CCmdTarget, CObject)
IMPLEMENT_DYNAMIC(CWnd, CCmdTarget)
IMPLEMENT_DYNAMIC(CStatic, CWnd)
IMPLEMENT_DYNAMIC(CButton, CWnd)
IMPLEMENT_DYNAMIC(CEdit, CWnd)

// ---- message maps ---------------------------------------------------------------------------------------

const AFX_MSGMAP* CCmdTarget::GetThisMessageMap() {
    static const AFX_MSGMAP_ENTRY entries[] = {{0, 0, 0, 0, AfxSig_msg, nullptr}};
    static const AFX_MSGMAP map = {nullptr, &entries[0]};
    return &map;
}

const AFX_MSGMAP* CCmdTarget::GetMessageMap() const {
    return GetThisMessageMap();
}

const AFX_MSGMAP_ENTRY* CCmdTarget::FindMessageEntry(UINT nMessage, UINT nCode, UINT nID) const {
    for (const AFX_MSGMAP* map = GetMessageMap(); map;
         map = map->pfnGetBaseMap ? map->pfnGetBaseMap() : nullptr) {
        for (const AFX_MSGMAP_ENTRY* e = map->lpEntries; e->pfn; ++e) {
            if (e->nMessage == nMessage && e->nCode == nCode && nID >= e->nID && nID <= e->nLastID) return e;
        }
    }
    return nullptr;
}

BOOL CCmdTarget::OnCmdMsg(UINT nID, int nCode) {
    const AFX_MSGMAP_ENTRY* e = FindMessageEntry(WM_COMMAND, static_cast<UINT>(nCode), nID);
    if (!e) return FALSE;
    e->pfn(this, 0, 0);
    return TRUE;
}

BEGIN_MESSAGE_MAP(CWnd, CCmdTarget)
END_MESSAGE_MAP()

// ---- CWnd ---------------------------------------------------------------------------------------------

namespace {

void DestroyTree(HWND h) {
    if (!IsLive(h)) return;
    SendMessageW(h, WM_DESTROY, 0, 0);
    std::vector<HWND> children;
    if (h->widget)
        for (QWidget* w : h->widget->findChildren<QWidget*>())
            if (HWND c = HandleOf(w); c && c != h && c->parent == h) children.push_back(c);
    for (HWND c : children)
        DestroyTree(c);
    if (!IsLive(h)) return;
    SendMessageW(h, WM_NCDESTROY, 0, 0);
    CWnd* owner = h->pWnd;
    if (owner) {
        owner->m_hWnd = nullptr;
        h->pWnd = nullptr;
    }
    QPointer<QWidget> widget = h->widget;
    for (auto& [id, t] : h->timers)
        t->stop();
    const bool topLevel = widget && widget->isWindow();
    const bool owned =
        widget &&
        (topLevel || (h->parent && IsLive(h->parent) && widget->parentWidget() == h->parent->widget));
    // A wrapper the handle owns outlives the handle until its last notification.
    std::unique_ptr<CWnd> wrapper = std::move(h->tempWrapper);
    DestroyHandle(h);
    if (owned) {
        widget->hide();
        delete widget.data();
    }
    if (owner) owner->PostNcDestroy();
}

} // namespace

CWnd::~CWnd() {
    if (IsLive(m_hWnd) && m_hWnd->pWnd == this) DestroyTree(m_hWnd);
}

CWnd* CWnd::FromHandlePermanent(HWND hWnd) {
    return IsLive(hWnd) ? hWnd->pWnd : nullptr;
}

CWnd* CWnd::FromHandle(HWND hWnd) {
    if (!IsLive(hWnd)) return nullptr;
    if (hWnd->pWnd) return hWnd->pWnd;
    if (!hWnd->tempWrapper) hWnd->tempWrapper = std::make_unique<CWnd>();
    hWnd->tempWrapper->m_hWnd = hWnd;
    return hWnd->tempWrapper.get();
}

BOOL CWnd::Attach(HWND hWnd) {
    if (!IsLive(hWnd) || m_hWnd) return FALSE;
    m_hWnd = hWnd;
    hWnd->pWnd = this;
    return TRUE;
}

HWND CWnd::Detach() {
    HWND h = m_hWnd;
    if (IsLive(h) && h->pWnd == this) h->pWnd = nullptr;
    m_hWnd = nullptr;
    return h;
}

BOOL CWnd::SubclassWindow(HWND hWnd) {
    if (!Attach(hWnd)) return FALSE;
    PreSubclassWindow();
    return TRUE;
}

BOOL CWnd::SubclassDlgItem(UINT nID, CWnd* pParent) {
    return pParent ? SubclassWindow(::GetDlgItem(pParent->m_hWnd, static_cast<int>(nID))) : FALSE;
}

BOOL CWnd::Create(LPCWSTR lpszClassName, LPCWSTR lpszWindowName, DWORD dwStyle, const RECT& rect,
                  CWnd* pParentWnd, UINT nID) {
    HWND parent = pParentWnd ? pParentWnd->m_hWnd : nullptr;
    HWND h = CreateControl(lpszClassName, lpszWindowName, dwStyle, 0, ToQRect(rect), parent,
                           static_cast<int>(nID), 0);
    if (!h) return FALSE;
    // A control made at run time writes in its parent's font, as its siblings from the template do.
    if (IsLive(parent) && parent->font)
        ::SendMessageW(h, WM_SETFONT, reinterpret_cast<WPARAM>(parent->font), 0);
    Attach(h);
    PreSubclassWindow();
    return TRUE;
}

BOOL CWnd::DestroyWindow() {
    if (!IsLive(m_hWnd)) return FALSE;
    DestroyTree(m_hWnd);
    return TRUE;
}

BOOL CWnd::PreTranslateMessage(MSG*) {
    return FALSE;
}

LRESULT CWnd::WindowProc(UINT message, WPARAM wParam, LPARAM lParam) {
    LRESULT result = 0;
    if (!OnWndMsg(message, wParam, lParam, &result)) result = DefWindowProc(message, wParam, lParam);
    return result;
}

BOOL CWnd::OnWndMsg(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* pResult) {
    if (message == WM_COMMAND) {
        if (!OnCommand(wParam, lParam)) return FALSE;
        *pResult = 0;
        return TRUE;
    }
    if (const AFX_MSGMAP_ENTRY* e = FindMessageEntry(message, 0, 0)) {
        *pResult = e->pfn(this, wParam, lParam);
        return TRUE;
    }
    if (message >= WM_CTLCOLORMSGBOX && message <= WM_CTLCOLORSTATIC) {
        // Without a handler of its own the parent lets the control answer for itself.
        CWnd* child = FromHandlePermanent(reinterpret_cast<HWND>(lParam));
        if (child && child != this && child->OnChildNotify(message, wParam, lParam, pResult)) return TRUE;
    }
    return FALSE;
}

BOOL CWnd::OnCommand(WPARAM wParam, LPARAM lParam) {
    const UINT nID = LOWORD(wParam);
    const int nCode = HIWORD(wParam);
    if (auto hCtrl = reinterpret_cast<HWND>(lParam)) {
        LRESULT result = 0;
        CWnd* child = FromHandlePermanent(hCtrl);
        if (child && child != this && child->OnChildNotify(WM_COMMAND, wParam, lParam, &result)) return TRUE;
    }
    if (OnCmdMsg(nID, nCode)) return TRUE;
    // Commands nobody in the window handles go to the application (its Help command).
    CWinApp* app = AfxGetApp();
    return app && nCode == 0 && app->OnCmdMsg(nID, nCode);
}

BOOL CWnd::OnChildNotify(UINT message, WPARAM wParam, LPARAM, LRESULT* pResult) {
    if (message >= WM_CTLCOLORMSGBOX && message <= WM_CTLCOLORSTATIC) {
        const AFX_MSGMAP_ENTRY* e = FindMessageEntry(WM_CTLCOLOR + WM_REFLECT_BASE, 0, 0);
        if (!e) return FALSE;
        *pResult = e->pfn(this, wParam, static_cast<LPARAM>(message - WM_CTLCOLORMSGBOX));
        return *pResult != 0;
    }
    if (message == WM_COMMAND) {
        const AFX_MSGMAP_ENTRY* e = FindMessageEntry(WM_COMMAND + WM_REFLECT_BASE, HIWORD(wParam), 0);
        if (!e) return FALSE;
        const LRESULT r = e->pfn(this, wParam, 0);
        *pResult = 0;
        return e->nSig == AfxSig_cmd_ex ? r != 0 : TRUE;
    }
    return FALSE;
}

LRESULT CWnd::DefWindowProc(UINT message, WPARAM wParam, LPARAM lParam) {
    return ::DefWindowProcW(m_hWnd, message, wParam, lParam);
}

void CWnd::DoDataExchange(CDataExchange*) {}

LRESULT CWnd::Default() {
    const CurrentMessage* m = Current();
    if (!m || m->hwnd != m_hWnd) return 0;
    return DefWindowProc(m->message, m->wParam, m->lParam);
}

int CWnd::OnCreate(LPCREATESTRUCT) {
    return static_cast<int>(Default());
}
void CWnd::OnDestroy() {
    Default();
}
void CWnd::OnPaint() {
    Default();
}
void CWnd::OnSysCommand(UINT, LPARAM) {
    Default();
}
HCURSOR CWnd::OnQueryDragIcon() {
    return reinterpret_cast<HCURSOR>(Default());
}
BOOL CWnd::OnSetCursor(CWnd*, UINT, UINT) {
    return static_cast<BOOL>(Default());
}
void CWnd::OnMouseMove(UINT, CPoint) {
    Default();
}
void CWnd::OnTimer(UINT_PTR) {
    Default();
}

LRESULT CWnd::SendMessage(UINT message, WPARAM wParam, LPARAM lParam) const {
    return ::SendMessageW(m_hWnd, message, wParam, lParam);
}

BOOL CWnd::PostMessage(UINT message, WPARAM wParam, LPARAM lParam) const {
    return ::PostMessageW(m_hWnd, message, wParam, lParam);
}

void CWnd::SetWindowText(LPCWSTR lpszString) {
    ::SetWindowTextW(m_hWnd, lpszString);
}

void CWnd::GetWindowText(CString& rString) const {
    const int n = GetWindowTextLength();
    WCHAR* buf = rString.GetBuffer(n + 1);
    ::GetWindowTextW(m_hWnd, buf, n + 1);
    rString.ReleaseBuffer();
}

int CWnd::GetWindowTextLength() const {
    return static_cast<int>(SendMessage(WM_GETTEXTLENGTH));
}

CWnd* CWnd::GetDlgItem(int nID) const {
    return FromHandle(::GetDlgItem(m_hWnd, nID));
}

int CWnd::GetDlgCtrlID() const {
    return ::GetDlgCtrlID(m_hWnd);
}

void CWnd::GetDlgItemText(int nID, CString& rString) const {
    rString.Empty();
    if (CWnd* item = GetDlgItem(nID)) item->GetWindowText(rString);
}

void CWnd::SetDlgItemText(int nID, LPCWSTR lpszString) {
    if (CWnd* item = GetDlgItem(nID)) item->SetWindowText(lpszString);
}

CWnd* CWnd::GetParent() const {
    return FromHandle(::GetParent(m_hWnd));
}

CWnd* CWnd::GetTopLevelParent() const {
    HWND h = m_hWnd;
    while (IsLive(h) && h->parent && !(h->widget && h->widget->isWindow()))
        h = h->parent;
    return FromHandle(h);
}

void CWnd::GetClientRect(LPRECT lpRect) const {
    ::GetClientRect(m_hWnd, lpRect);
}
void CWnd::GetWindowRect(LPRECT lpRect) const {
    ::GetWindowRect(m_hWnd, lpRect);
}
void CWnd::ScreenToClient(LPPOINT lpPoint) const {
    ::MapWindowPoints(nullptr, m_hWnd, lpPoint, 1);
}
void CWnd::ScreenToClient(LPRECT lpRect) const {
    ::MapWindowPoints(nullptr, m_hWnd, reinterpret_cast<LPPOINT>(lpRect), 2);
}
void CWnd::ClientToScreen(LPPOINT lpPoint) const {
    ::MapWindowPoints(m_hWnd, nullptr, lpPoint, 1);
}
void CWnd::ClientToScreen(LPRECT lpRect) const {
    ::MapWindowPoints(m_hWnd, nullptr, reinterpret_cast<LPPOINT>(lpRect), 2);
}

BOOL CWnd::SetWindowPos(const CWnd* pWndInsertAfter, int x, int y, int cx, int cy, UINT nFlags) {
    return ::SetWindowPos(m_hWnd, pWndInsertAfter ? pWndInsertAfter->m_hWnd : nullptr, x, y, cx, cy, nFlags);
}

void CWnd::MoveWindow(int x, int y, int nWidth, int nHeight, BOOL) {
    ::SetWindowPos(m_hWnd, nullptr, x, y, nWidth, nHeight, SWP_NOZORDER);
}

void CWnd::MoveWindow(LPCRECT lpRect, BOOL bRepaint) {
    MoveWindow(lpRect->left, lpRect->top, lpRect->right - lpRect->left, lpRect->bottom - lpRect->top,
               bRepaint);
}

DWORD CWnd::GetStyle() const {
    return static_cast<DWORD>(::GetWindowLongW(m_hWnd, GWL_STYLE));
}
DWORD CWnd::GetExStyle() const {
    return static_cast<DWORD>(::GetWindowLongW(m_hWnd, GWL_EXSTYLE));
}

BOOL CWnd::ModifyStyle(DWORD dwRemove, DWORD dwAdd, UINT) {
    const DWORD style = GetStyle();
    const DWORD updated = (style & ~dwRemove) | dwAdd;
    if (updated == style) return FALSE;
    ::SetWindowLongW(m_hWnd, GWL_STYLE, static_cast<LONG>(updated));
    return TRUE;
}

BOOL CWnd::ShowWindow(int nCmdShow) {
    if (!IsWindow(m_hWnd)) return FALSE;
    QWidget* w = m_hWnd->widget;
    const BOOL wasVisible = w->isVisible();
    switch (nCmdShow) {
    case SW_HIDE:
        m_hWnd->style &= ~WS_VISIBLE;
        w->hide();
        break;
    case SW_MINIMIZE:
    case SW_SHOWMINIMIZED:
        m_hWnd->style |= WS_VISIBLE;
        w->showMinimized();
        break;
    case SW_RESTORE:
        m_hWnd->style |= WS_VISIBLE;
        w->showNormal();
        break;
    default:
        m_hWnd->style |= WS_VISIBLE;
        w->show();
        break;
    }
    return wasVisible;
}

BOOL CWnd::IsWindowVisible() const {
    return IsWindow(m_hWnd) && m_hWnd->widget->isVisible();
}

BOOL CWnd::EnableWindow(BOOL bEnable) {
    if (!IsWindow(m_hWnd)) return FALSE;
    const BOOL wasDisabled = !m_hWnd->widget->isEnabled();
    m_hWnd->widget->setEnabled(bEnable);
    if (bEnable)
        m_hWnd->style &= ~WS_DISABLED;
    else
        m_hWnd->style |= WS_DISABLED;
    return wasDisabled;
}

BOOL CWnd::IsWindowEnabled() const {
    return IsWindow(m_hWnd) && m_hWnd->widget->isEnabled();
}
BOOL CWnd::IsIconic() const {
    return ::IsIconic(m_hWnd);
}
CWnd* CWnd::SetFocus() {
    return FromHandle(::SetFocus(m_hWnd));
}
CWnd* CWnd::GetFocus() {
    return FromHandle(::GetFocus());
}
void CWnd::Invalidate(BOOL bErase) {
    ::InvalidateRect(m_hWnd, nullptr, bErase);
}
void CWnd::InvalidateRect(LPCRECT lpRect, BOOL bErase) {
    ::InvalidateRect(m_hWnd, lpRect, bErase);
}
void CWnd::UpdateWindow() {
    ::UpdateWindow(m_hWnd);
}
BOOL CWnd::LockWindowUpdate() {
    return ::LockWindowUpdate(m_hWnd);
}
void CWnd::UnlockWindowUpdate() {
    ::LockWindowUpdate(nullptr);
}

CMenu* CWnd::GetSystemMenu(BOOL bRevert) const {
    if (!IsLive(m_hWnd) || !(m_hWnd->style & WS_SYSMENU)) return nullptr;
    if (bRevert || !m_hWnd->sysMenu) {
        auto menu = std::make_unique<HMENU__>();
        const DWORD style = m_hWnd->style;
        auto add = [&](UINT id, const WCHAR* text, bool enabled) {
            menu->items.push_back(
                {enabled ? MF_STRING : static_cast<UINT>(MF_STRING | MF_GRAYED), id, CString(text)});
        };
        add(SC_RESTORE, u"&Restore", false);
        add(SC_MOVE, u"&Move", true);
        add(SC_SIZE, u"&Size", (style & WS_THICKFRAME) != 0);
        add(SC_MINIMIZE, u"Mi&nimize", (style & WS_MINIMIZEBOX) != 0);
        add(SC_MAXIMIZE, u"Ma&ximize", (style & WS_MAXIMIZEBOX) != 0);
        menu->items.push_back({MF_SEPARATOR, 0, CString()});
        add(SC_CLOSE, u"&Close\tAlt+F4", true);
        m_hWnd->sysMenu = std::move(menu);
        if (!m_hWnd->sysMenuWrapper) m_hWnd->sysMenuWrapper = std::make_unique<CMenu>();
        m_hWnd->sysMenuWrapper->m_hMenu = m_hWnd->sysMenu.get();
        if (bRevert) return nullptr;
    }
    return m_hWnd->sysMenuWrapper.get();
}

HICON CWnd::SetIcon(HICON hIcon, BOOL bBigIcon) {
    return reinterpret_cast<HICON>(
        SendMessage(WM_SETICON, bBigIcon ? ICON_BIG : ICON_SMALL, reinterpret_cast<LPARAM>(hIcon)));
}

void CWnd::SetFont(CFont* pFont, BOOL bRedraw) {
    SendMessage(WM_SETFONT, reinterpret_cast<WPARAM>(pFont ? pFont->m_hObject : nullptr), bRedraw);
}

CFont* CWnd::GetFont() const {
    return CFont::FromHandle(reinterpret_cast<HFONT>(SendMessage(WM_GETFONT)));
}

UINT_PTR CWnd::SetTimer(UINT_PTR nIDEvent, UINT nElapse, void* lpfnTimer) {
    return ::SetTimer(m_hWnd, nIDEvent, nElapse, lpfnTimer);
}

BOOL CWnd::KillTimer(UINT_PTR nIDEvent) {
    return ::KillTimer(m_hWnd, nIDEvent);
}

CDC* CWnd::GetDC() {
    auto* dc = new CDC;
    dc->Attach(::GetDC(m_hWnd));
    return dc;
}

int CWnd::ReleaseDC(CDC* pDC) {
    if (!pDC) return 0;
    delete pDC;
    return 1;
}

int CWnd::MessageBox(LPCWSTR lpszText, LPCWSTR lpszCaption, UINT nType) {
    return AfxGetUserSeam()->MessageBox(m_hWnd, CString(lpszText),
                                        CString(lpszCaption ? lpszCaption : AfxGetAppName()), nType);
}

BOOL PtInRect(const RECT* lprc, POINT pt) {
    return lprc && CRect(*lprc).PtInRect(pt);
}

void CRect::NormalizeRect() {
    if (left > right) std::swap(left, right);
    if (top > bottom) std::swap(top, bottom);
}

void DDX_Control(CDataExchange* pDX, int nIDC, CWnd& rControl) {
    if (rControl.m_hWnd) return; // made and attached already
    HWND h = ::GetDlgItem(pDX->m_pDlgWnd->m_hWnd, nIDC);
    rControl.SubclassWindow(h);
}

// ---- menus ----------------------------------------------------------------------------------------------

BOOL CMenu::AppendMenu(UINT nFlags, UINT_PTR nIDNewItem, LPCWSTR lpszNewItem) {
    if (!m_hMenu) return FALSE;
    m_hMenu->items.push_back({nFlags, static_cast<UINT>(nIDNewItem), CString(lpszNewItem)});
    return TRUE;
}

UINT CMenu::GetMenuItemCount() const {
    return m_hMenu ? static_cast<UINT>(m_hMenu->items.size()) : static_cast<UINT>(-1);
}

UINT CMenu::GetMenuItemID(int nPos) const {
    if (!m_hMenu || nPos < 0 || nPos >= static_cast<int>(m_hMenu->items.size())) return static_cast<UINT>(-1);
    const MenuItem& item = m_hMenu->items[static_cast<size_t>(nPos)];
    return (item.flags & MF_SEPARATOR) ? 0 : item.id;
}

namespace {
const MenuItem* FindItem(HMENU m, UINT nID, UINT nFlags) {
    if (!m) return nullptr;
    if (nFlags & MF_BYPOSITION) return nID < m->items.size() ? &m->items[nID] : nullptr;
    for (const MenuItem& item : m->items)
        if (!(item.flags & MF_SEPARATOR) && item.id == nID) return &item;
    return nullptr;
}
} // namespace

int CMenu::GetMenuString(UINT nIDItem, CString& rString, UINT nFlags) const {
    const MenuItem* item = FindItem(m_hMenu, nIDItem, nFlags);
    rString = item ? item->text : CString();
    return rString.GetLength();
}

UINT CMenu::GetMenuState(UINT nID, UINT nFlags) const {
    const MenuItem* item = FindItem(m_hMenu, nID, nFlags);
    return item ? (item->flags & (MF_GRAYED | MF_DISABLED | MF_SEPARATOR)) : static_cast<UINT>(-1);
}

CMenu* CMenu::FromHandle(HMENU hMenu) {
    static std::map<HMENU, std::unique_ptr<CMenu>> map;
    auto& p = map[hMenu];
    if (!p) p = std::make_unique<CMenu>();
    p->m_hMenu = hMenu;
    return p.get();
}

// ---- simple controls ------------------------------------------------------------------------------------

BOOL CStatic::Create(LPCWSTR lpszText, DWORD dwStyle, const RECT& rect, CWnd* pParentWnd, UINT nID) {
    return CWnd::Create(u"STATIC", lpszText, dwStyle, rect, pParentWnd, nID);
}

HBITMAP CStatic::SetBitmap(HBITMAP hBitmap) {
    if (!IsLive(m_hWnd)) return nullptr;
    HBITMAP previous = m_hWnd->bitmap;
    m_hWnd->bitmap = hBitmap;
    Invalidate();
    return previous;
}

HBITMAP CStatic::GetBitmap() const {
    return IsLive(m_hWnd) ? m_hWnd->bitmap : nullptr;
}

BOOL CButton::Create(LPCWSTR lpszCaption, DWORD dwStyle, const RECT& rect, CWnd* pParentWnd, UINT nID) {
    return CWnd::Create(u"BUTTON", lpszCaption, dwStyle, rect, pParentWnd, nID);
}

int CButton::GetCheck() const {
    return static_cast<int>(SendMessage(BM_GETCHECK));
}
void CButton::SetCheck(int nCheck) {
    SendMessage(BM_SETCHECK, static_cast<WPARAM>(nCheck));
}
