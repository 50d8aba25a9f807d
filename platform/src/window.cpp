// Window handles, message delivery and the default procedures of the window classes.
#include <QApplication>
#include <QCheckBox>
#include <QGuiApplication>
#include <QLineEdit>
#include <QMenu>
#include <QPaintEvent>
#include <QPushButton>
#include <QScreen>
#include <QWindow>
#include <unordered_map>
#include <unordered_set>

#include "platform/src/internal.h"
#include "platform/src/listview.h"
#include "platform/stdiofile.h"

namespace afx {

namespace {

std::unordered_map<const QWidget*, HWND>& WidgetMap() {
    static std::unordered_map<const QWidget*, HWND> m;
    return m;
}

std::unordered_set<HWND>& LiveSet() {
    static std::unordered_set<HWND> s;
    return s;
}

std::vector<CurrentMessage>& MessageStack() {
    static std::vector<CurrentMessage> s;
    return s;
}

QPoint g_messagePos;

} // namespace

HWND NewWindowHandle(QWidget* w, Kind kind, const CString& cls, int id, DWORD style, DWORD exStyle,
                     HWND parent) {
    auto* h = new HWND__;
    h->widget = w;
    h->kind = kind;
    h->className = cls;
    h->id = id;
    h->style = style;
    h->exStyle = exStyle;
    h->parent = parent;
    WidgetMap()[w] = h;
    LiveSet().insert(h);
    return h;
}

HWND HandleOf(const QWidget* w) {
    auto& m = WidgetMap();
    for (; w; w = w->parentWidget()) {
        auto it = m.find(w);
        if (it != m.end()) return it->second;
        // A window of its own that is not ours (a message box, the file dialog) is no part of the
        // window that owns it.
        if (w->isWindow()) return nullptr;
    }
    return nullptr;
}

bool IsLive(HWND h) {
    return h && LiveSet().count(h) != 0;
}

void DestroyHandle(HWND h) {
    if (!IsLive(h)) return;
    for (auto& [id, t] : h->timers)
        delete t;
    h->timers.clear();
    if (h->widget) WidgetMap().erase(h->widget.data());
    if (h->ownedFont) DeleteObject(h->ownedFont);
    if (h->ownedBitmap) DeleteObject(h->ownedBitmap);
    LiveSet().erase(h);
    delete h;
}

const CurrentMessage* Current() {
    return MessageStack().empty() ? nullptr : &MessageStack().back();
}

void SetMessagePos(QPoint global) {
    g_messagePos = global;
}

void DispatchPaint(HWND h, QPaintEvent* e) {
    if (!IsLive(h)) return;
    QPaintEvent* previous = h->paintEvent;
    h->paintEvent = e;
    SendMessageW(h, WM_PAINT, 0, 0);
    if (IsLive(h)) h->paintEvent = previous;
}

void DispatchMouseMove(HWND h, QPoint local, QPoint global) {
    SetMessagePos(global);
    if (!IsLive(h)) return;
    const LRESULT handled = SendMessageW(h, WM_SETCURSOR, reinterpret_cast<WPARAM>(h),
                                         MAKELPARAM(1 /* HTCLIENT */, WM_MOUSEMOVE));
    if (!handled && IsLive(h) && h->widget) h->widget->unsetCursor();
    if (IsLive(h)) SendMessageW(h, WM_MOUSEMOVE, 0, MAKELPARAM(local.x(), local.y()));
}

void NotifyParent(HWND h, UINT code) {
    if (!IsLive(h) || !h->parent) return;
    SendMessageW(h->parent, WM_COMMAND, MAKEWPARAM(h->id, static_cast<int>(code)),
                 reinterpret_cast<LPARAM>(h));
}

void ShowSystemMenu(HWND top, QPoint global) {
    if (!IsLive(top) || !(top->style & WS_SYSMENU)) return;
    CWnd::FromHandle(top)->GetSystemMenu(FALSE);
    QMenu menu(top->widget);
    for (const MenuItem& item : top->sysMenu->items) {
        if (item.flags & MF_SEPARATOR) {
            menu.addSeparator();
            continue;
        }
        QString text = ToQ(item.text);
        text.replace(QLatin1Char('\t'), QLatin1String("    "));
        QAction* a = menu.addAction(text);
        a->setEnabled(!(item.flags & (MF_GRAYED | MF_DISABLED)));
        a->setData(item.id);
    }
    QAction* chosen = menu.exec(global);
    if (chosen && IsLive(top)) {
        SendMessageW(top, WM_SYSCOMMAND, chosen->data().toUInt(), MAKELPARAM(global.x(), global.y()));
    }
}

namespace {

LRESULT TextMessages(HWND h, UINT msg, WPARAM wParam, LPARAM lParam, bool& handled) {
    handled = true;
    QWidget* w = h->widget;
    switch (msg) {
    case WM_SETTEXT: {
        h->text = CString(reinterpret_cast<LPCWSTR>(lParam));
        if (auto* e = qobject_cast<QLineEdit*>(w))
            e->setText(ToQ(h->text));
        else if (auto* b = qobject_cast<QAbstractButton*>(w))
            b->setText(ToQ(h->text));
        else if (w && w->isWindow())
            w->setWindowTitle(ToQ(h->text));
        else if (w)
            w->update();
        return TRUE;
    }
    case WM_GETTEXT: {
        CString text = h->text;
        if (auto* e = qobject_cast<QLineEdit*>(w)) text = FromQ(e->text());
        auto* buf = reinterpret_cast<LPWSTR>(lParam);
        const int max = static_cast<int>(wParam);
        if (!buf || max <= 0) return 0;
        const int n = std::min(text.GetLength(), max - 1);
        std::copy(text.GetString(), text.GetString() + n, buf);
        buf[n] = 0;
        return n;
    }
    case WM_GETTEXTLENGTH: {
        if (auto* e = qobject_cast<QLineEdit*>(w)) return e->text().size();
        return h->text.GetLength();
    }
    case WM_SETFONT: {
        h->font = reinterpret_cast<HFONT>(wParam);
        if (w && h->font) w->setFont(h->font->font);
        if (w && LOWORD(static_cast<DWORD_PTR>(lParam))) w->update();
        return 0;
    }
    case WM_GETFONT:
        return reinterpret_cast<LRESULT>(h->font);
    default:
        handled = false;
        return 0;
    }
}

LRESULT TopLevelMessages(HWND h, UINT msg, WPARAM wParam, LPARAM lParam, bool& handled) {
    handled = true;
    QWidget* w = h->widget;
    switch (msg) {
    case WM_SYSCOMMAND:
        switch (wParam & 0xFFF0) {
        case SC_CLOSE:
            SendMessageW(h, WM_CLOSE, 0, 0);
            return 0;
        case SC_MINIMIZE:
            if (w) w->showMinimized();
            return 0;
        case SC_RESTORE:
            if (w) w->showNormal();
            return 0;
        case SC_MOVE:
            if (w && w->windowHandle()) w->windowHandle()->startSystemMove();
            return 0;
        case SC_KEYMENU:
            if (w) ShowSystemMenu(h, w->mapToGlobal(QPoint(0, 0)));
            return 0;
        default:
            return 0;
        }
    case WM_SETICON: {
        HICON previous = wParam == ICON_BIG ? h->bigIcon : h->smallIcon;
        auto icon = reinterpret_cast<HICON>(lParam);
        (wParam == ICON_BIG ? h->bigIcon : h->smallIcon) = icon;
        if (w) {
            QIcon combined;
            for (HICON i : {h->bigIcon, h->smallIcon})
                if (i)
                    for (const QSize& s : i->icon.availableSizes())
                        combined.addPixmap(i->icon.pixmap(s));
            w->setWindowIcon(combined);
        }
        return reinterpret_cast<LRESULT>(previous);
    }
    case WM_QUERYDRAGICON:
        return 0;
    case WM_ICONERASEBKGND:
        return 0;
    default:
        handled = false;
        return 0;
    }
}

LRESULT DialogProc(HWND h, UINT msg, WPARAM wParam, LPARAM lParam) {
    bool handled = false;
    LRESULT r = TopLevelMessages(h, msg, wParam, lParam, handled);
    if (handled) return r;
    switch (msg) {
    case WM_CLOSE:
        // A dialog closes through its cancel command, so the application decides what a close means.
        SendMessageW(h, WM_COMMAND, MAKEWPARAM(IDCANCEL, 0), 0);
        return 0;
    case WM_PAINT: {
        PAINTSTRUCT ps;
        BeginPaint(h, &ps);
        EndPaint(h, &ps);
        return 0;
    }
    case WM_CTLCOLORSTATIC:
    case WM_CTLCOLORBTN:
    case WM_CTLCOLORDLG: {
        auto hdc = reinterpret_cast<HDC>(wParam);
        SetTextColor(hdc, GetSysColor(COLOR_WINDOWTEXT));
        SetBkColor(hdc, GetSysColor(COLOR_3DFACE));
        return reinterpret_cast<LRESULT>(GetSysColorBrush(COLOR_3DFACE));
    }
    default:
        return 0;
    }
}

LRESULT ButtonProc(HWND h, UINT msg, WPARAM wParam, LPARAM) {
    auto* b = qobject_cast<QAbstractButton*>(h->widget.data());
    switch (msg) {
    case BM_CLICK:
        if (b && b->isEnabled()) b->click();
        return 0;
    case BM_GETCHECK:
        return (b && b->isChecked()) ? BST_CHECKED : BST_UNCHECKED;
    case BM_SETCHECK:
        if (b) b->setChecked(wParam == BST_CHECKED);
        return 0;
    case WM_PAINT:
        if (h->kind == Kind::GroupBox) PaintGroupBox(h);
        return 0;
    default:
        return 0;
    }
}

LRESULT StaticProc(HWND h, UINT msg, WPARAM, LPARAM) {
    switch (msg) {
    case WM_PAINT:
        PaintStatic(h);
        return 0;
    default:
        return 0;
    }
}

} // namespace

LRESULT ClassProc(HWND h, UINT msg, WPARAM wParam, LPARAM lParam) {
    bool handled = false;
    LRESULT r = TextMessages(h, msg, wParam, lParam, handled);
    if (handled) return r;
    if (msg == WM_SETCURSOR) return FALSE;
    switch (h->kind) {
    case Kind::Dialog:
        return DialogProc(h, msg, wParam, lParam);
    case Kind::Button:
    case Kind::CheckBox:
    case Kind::GroupBox:
        return ButtonProc(h, msg, wParam, lParam);
    case Kind::Static:
        return StaticProc(h, msg, wParam, lParam);
    case Kind::ListView:
    case Kind::Header:
        return ListViewProc(h, msg, wParam, lParam);
    case Kind::ToolTip:
        return ToolTipProc(h, msg, wParam, lParam);
    default:
        return 0;
    }
}

} // namespace afx

using namespace afx;

LRESULT SendMessageW(HWND hWnd, UINT Msg, WPARAM wParam, LPARAM lParam) {
    if (!IsLive(hWnd)) return 0;
    auto& stack = MessageStack();
    stack.push_back({hWnd, Msg, wParam, lParam});
    LRESULT r = 0;
    try {
        r = hWnd->pWnd ? hWnd->pWnd->WindowProc(Msg, wParam, lParam) : ClassProc(hWnd, Msg, wParam, lParam);
    } catch (const CException&) {
        // A handler that fails with an exception ends its command with a report, never the tool.
        stack.pop_back();
        AfxMessageBox(u"The command could not be completed: an unexpected file or system error occurred.",
                      MB_ICONERROR);
        return 0;
    } catch (const std::bad_alloc&) {
        stack.pop_back();
        AfxMessageBox(u"The command could not be completed: there is not enough memory.", MB_ICONERROR);
        return 0;
    }
    stack.pop_back();
    return r;
}

BOOL PostMessageW(HWND hWnd, UINT Msg, WPARAM wParam, LPARAM lParam) {
    if (!IsLive(hWnd)) return FALSE;
    QPointer<QWidget> w = hWnd->widget;
    QTimer::singleShot(0, qApp, [hWnd, w, Msg, wParam, lParam] {
        if (w && IsLive(hWnd)) SendMessageW(hWnd, Msg, wParam, lParam);
    });
    return TRUE;
}

LRESULT DefWindowProcW(HWND hWnd, UINT Msg, WPARAM wParam, LPARAM lParam) {
    if (!IsLive(hWnd)) return 0;
    return ClassProc(hWnd, Msg, wParam, lParam);
}

BOOL IsWindow(HWND hWnd) {
    return IsLive(hWnd) && hWnd->widget;
}

HWND GetFocus() {
    return HandleOf(QApplication::focusWidget());
}

HWND SetFocus(HWND hWnd) {
    HWND previous = GetFocus();
    if (IsWindow(hWnd)) {
        QWidget* w = hWnd->widget;
        if (w->window()->windowHandle() && !w->window()->isActiveWindow()) w->window()->activateWindow();
        w->setFocus(Qt::OtherFocusReason);
    }
    return previous;
}

HWND GetParent(HWND hWnd) {
    return IsLive(hWnd) ? hWnd->parent : nullptr;
}

HWND GetDlgItem(HWND hDlg, int nIDDlgItem) {
    if (!IsWindow(hDlg)) return nullptr;
    for (QObject* o : hDlg->widget->children()) {
        auto* w = qobject_cast<QWidget*>(o);
        if (!w) continue;
        auto it = WidgetMap().find(w);
        if (it != WidgetMap().end() && it->second->id == nIDDlgItem && it->second->parent == hDlg)
            return it->second;
    }
    return nullptr;
}

int GetDlgCtrlID(HWND hWnd) {
    return IsLive(hWnd) ? hWnd->id : 0;
}

BOOL GetClientRect(HWND hWnd, LPRECT lpRect) {
    if (!IsWindow(hWnd) || !lpRect) return FALSE;
    QWidget* w = hWnd->widget;
    QRect r = w->rect();
    if (auto* frame = qobject_cast<QFrame*>(w))
        r = frame->contentsRect().translated(-frame->contentsRect().topLeft());
    *lpRect = RECT{0, 0, r.width(), r.height()};
    return TRUE;
}

BOOL GetWindowRect(HWND hWnd, LPRECT lpRect) {
    if (!IsWindow(hWnd) || !lpRect) return FALSE;
    QWidget* w = hWnd->widget;
    const QPoint tl = w->isWindow() ? w->geometry().topLeft() : w->mapToGlobal(QPoint(0, 0));
    *lpRect = RECT{tl.x(), tl.y(), tl.x() + w->width(), tl.y() + w->height()};
    return TRUE;
}

int MapWindowPoints(HWND hWndFrom, HWND hWndTo, LPPOINT lpPoints, UINT cPoints) {
    auto origin = [](HWND h) {
        if (!IsWindow(h)) return QPoint(0, 0);
        QWidget* w = h->widget;
        return w->isWindow() ? w->geometry().topLeft() : w->mapToGlobal(QPoint(0, 0));
    };
    const QPoint d = origin(hWndFrom) - origin(hWndTo);
    for (UINT i = 0; i < cPoints; ++i) {
        lpPoints[i].x += d.x();
        lpPoints[i].y += d.y();
    }
    return MAKELPARAM(d.x(), d.y());
}

BOOL ScreenToClient(HWND hWnd, LPPOINT lpPoint) {
    MapWindowPoints(nullptr, hWnd, lpPoint, 1);
    return TRUE;
}

BOOL SetWindowPos(HWND hWnd, HWND, int X, int Y, int cx, int cy, UINT uFlags) {
    if (!IsWindow(hWnd)) return FALSE;
    QWidget* w = hWnd->widget;
    if (!(uFlags & SWP_NOMOVE)) w->move(X, Y);
    if (!(uFlags & SWP_NOSIZE)) {
        if (w->isWindow())
            w->setFixedSize(cx, cy);
        else
            w->resize(cx, cy);
    }
    return TRUE;
}

LONG GetWindowLongW(HWND hWnd, int nIndex) {
    if (!IsLive(hWnd)) return 0;
    switch (nIndex) {
    case GWL_STYLE:
        return static_cast<LONG>(hWnd->style);
    case GWL_EXSTYLE:
        return static_cast<LONG>(hWnd->exStyle);
    case GWL_ID:
        return hWnd->id;
    default:
        return 0;
    }
}

LONG SetWindowLongW(HWND hWnd, int nIndex, LONG dwNewLong) {
    if (!IsLive(hWnd)) return 0;
    const LONG previous = GetWindowLongW(hWnd, nIndex);
    switch (nIndex) {
    case GWL_STYLE: {
        hWnd->style = static_cast<DWORD>(dwNewLong);
        if (hWnd->widget) {
            hWnd->widget->setVisible(hWnd->style & WS_VISIBLE);
            hWnd->widget->setEnabled(!(hWnd->style & WS_DISABLED));
            hWnd->widget->update();
        }
        break;
    }
    case GWL_EXSTYLE:
        hWnd->exStyle = static_cast<DWORD>(dwNewLong);
        break;
    case GWL_ID:
        hWnd->id = dwNewLong;
        break;
    default:
        break;
    }
    return previous;
}

BOOL InvalidateRect(HWND hWnd, const RECT* lpRect, BOOL) {
    if (!IsWindow(hWnd)) return FALSE;
    if (lpRect)
        hWnd->widget->update(ToQRect(*lpRect));
    else
        hWnd->widget->update();
    return TRUE;
}

BOOL UpdateWindow(HWND hWnd) {
    if (!IsWindow(hWnd)) return FALSE;
    // Paint what is invalid now, before returning, as the window system's synchronous paint does.
    if (hWnd->widget->isVisible() && hWnd->widget->updatesEnabled()) hWnd->widget->repaint();
    return TRUE;
}

BOOL LockWindowUpdate(HWND hWndLock) {
    static HWND locked = nullptr;
    if (hWndLock && locked && IsLive(locked)) return FALSE; // one lock at a time
    if (locked && IsWindow(locked)) locked->widget->setUpdatesEnabled(true);
    ApplyDrawingLock(hWndLock);
    locked = hWndLock;
    if (hWndLock && IsWindow(hWndLock)) hWndLock->widget->setUpdatesEnabled(false);
    return TRUE;
}

BOOL IsIconic(HWND hWnd) {
    if (!IsWindow(hWnd)) return FALSE;
    return hWnd->widget->window()->isMinimized();
}

UINT_PTR SetTimer(HWND hWnd, UINT_PTR nIDEvent, UINT uElapse, void*) {
    if (!IsWindow(hWnd)) return 0;
    QTimer*& t = hWnd->timers[nIDEvent];
    if (!t) {
        t = new QTimer;
        QObject::connect(t, &QTimer::timeout, [hWnd, nIDEvent] {
            if (!IsLive(hWnd)) return;
            SetMessagePos(QCursor::pos());
            SendMessageW(hWnd, WM_TIMER, nIDEvent, 0);
        });
    }
    t->start(static_cast<int>(std::max(uElapse, 10u)));
    return nIDEvent;
}

BOOL KillTimer(HWND hWnd, UINT_PTR uIDEvent) {
    if (!IsLive(hWnd)) return FALSE;
    auto it = hWnd->timers.find(uIDEvent);
    if (it == hWnd->timers.end()) return FALSE;
    it->second->stop();
    it->second->deleteLater();
    hWnd->timers.erase(it);
    return TRUE;
}

DWORD GetMessagePos() {
    return static_cast<DWORD>(MAKELPARAM(g_messagePos.x(), g_messagePos.y()));
}

BOOL GetCursorPos(LPPOINT lpPoint) {
    const QPoint p = QCursor::pos();
    *lpPoint = POINT{p.x(), p.y()};
    return TRUE;
}

int GetSystemMetrics(int nIndex) {
    switch (nIndex) {
    case SM_CXICON:
    case SM_CYICON:
        return 32;
    case SM_CXSMICON:
    case SM_CYSMICON:
        return 16;
    default:
        return 0;
    }
}

namespace {
HWND CursorTarget() {
    const CurrentMessage* m = Current();
    return (m && m->message == WM_SETCURSOR) ? m->hwnd : nullptr;
}
HCURSOR g_currentCursor = nullptr;
} // namespace

HCURSOR SetCursor(HCURSOR hCursor) {
    HCURSOR previous = g_currentCursor;
    g_currentCursor = hCursor;
    if (HWND target = CursorTarget(); target && IsWindow(target)) {
        // Answering WM_SETCURSOR: the cursor of this window while the pointer is over it.
        if (hCursor)
            target->widget->setCursor(hCursor->cursor);
        else
            target->widget->setCursor(Qt::BlankCursor);
        return previous;
    }
    // Anywhere else: the cursor for the whole application until it is set back to the arrow.
    while (QGuiApplication::overrideCursor())
        QGuiApplication::restoreOverrideCursor();
    if (hCursor && !hCursor->standardArrow) QGuiApplication::setOverrideCursor(hCursor->cursor);
    return previous;
}

HCURSOR LoadCursorW(HINSTANCE, LPCWSTR lpCursorName) {
    // The standard cursors are shared and live as long as the process.
    static auto* cache = new std::map<ULONG_PTR, HICON__*>;
    const auto key = reinterpret_cast<ULONG_PTR>(lpCursorName);
    auto& c = (*cache)[key];
    if (!c) {
        c = new HICON__;
        c->isCursor = true;
        switch (key) {
        case 32514:
            c->cursor = QCursor(Qt::WaitCursor);
            c->standardWait = true;
            break;
        case 32513:
            c->cursor = QCursor(Qt::IBeamCursor);
            break;
        case 32649:
            c->cursor = QCursor(Qt::PointingHandCursor);
            break;
        default:
            c->cursor = QCursor(Qt::ArrowCursor);
            c->standardArrow = true;
            break;
        }
    }
    return c;
}

HICON CopyIcon(HICON hIcon) {
    if (!hIcon) return nullptr;
    auto* copy = new HICON__;
    static_cast<IconData&>(*copy) = *hIcon;
    return copy;
}

BOOL DestroyIcon(HICON hIcon) {
    delete hIcon;
    return TRUE;
}

BOOL MessageBeep(UINT) {
    QApplication::beep();
    return TRUE;
}

int GetWindowTextW(HWND hWnd, LPWSTR lpString, int nMaxCount) {
    return static_cast<int>(
        SendMessageW(hWnd, WM_GETTEXT, static_cast<WPARAM>(nMaxCount), reinterpret_cast<LPARAM>(lpString)));
}

BOOL SetWindowTextW(HWND hWnd, LPCWSTR lpString) {
    return static_cast<BOOL>(SendMessageW(hWnd, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(lpString)));
}

BOOL InitCommonControlsEx(const INITCOMMONCONTROLSEX* picce) {
    // The controls are always available; the structure is still checked as the caller expects.
    return picce && picce->dwSize == sizeof(INITCOMMONCONTROLSEX);
}

BOOL TrackMouseEvent(TRACKMOUSEEVENT* lpEventTrack) {
    if (!lpEventTrack || !IsWindow(lpEventTrack->hwndTrack)) return FALSE;
    lpEventTrack->hwndTrack->trackLeave = (lpEventTrack->dwFlags & TME_LEAVE) != 0;
    return TRUE;
}
