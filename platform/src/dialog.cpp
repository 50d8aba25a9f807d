// Dialogs from templates, the modal loop and the dialog keyboard.
#include <QApplication>
#include <QEventLoop>
#include <QKeyEvent>
#include <QScreen>
#include <deque>

#include "platform/src/internal.h"
#include "platform/src/widgets.h"

using namespace afx;

namespace afx {

namespace {

int MulDiv(int number, int numerator, int denominator) {
    // Rounded like the window system's MulDiv: halves away from zero.
    const long long product = static_cast<long long>(number) * numerator;
    const long long half = denominator / 2;
    return static_cast<int>(product >= 0 ? (product + half) / denominator : (product - half) / denominator);
}

std::deque<std::function<void(HWND)>>& ModalHooks() {
    static std::deque<std::function<void(HWND)>> hooks;
    return hooks;
}

HWND FirstTabStop(HWND dlg) {
    if (!IsWindow(dlg)) return nullptr;
    for (QObject* o : dlg->widget->children()) {
        HWND c = HandleOf(qobject_cast<QWidget*>(o));
        if (c && c != dlg && c->parent == dlg && (c->style & WS_TABSTOP) && (c->style & WS_VISIBLE) &&
            !(c->style & WS_DISABLED))
            return c;
    }
    return nullptr;
}

UINT VirtualKey(int key) {
    if (key >= Qt::Key_A && key <= Qt::Key_Z) return static_cast<UINT>('A' + (key - Qt::Key_A));
    if (key >= Qt::Key_0 && key <= Qt::Key_9) return static_cast<UINT>('0' + (key - Qt::Key_0));
    if (key >= Qt::Key_F1 && key <= Qt::Key_F24) return VK_F1 + static_cast<UINT>(key - Qt::Key_F1);
    switch (key) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
        return VK_RETURN;
    case Qt::Key_Escape:
        return VK_ESCAPE;
    case Qt::Key_Tab:
    case Qt::Key_Backtab:
        return VK_TAB;
    case Qt::Key_Space:
        return VK_SPACE;
    case Qt::Key_Backspace:
        return VK_BACK;
    case Qt::Key_Delete:
        return VK_DELETE;
    case Qt::Key_Left:
        return VK_LEFT;
    case Qt::Key_Right:
        return VK_RIGHT;
    case Qt::Key_Up:
        return VK_UP;
    case Qt::Key_Down:
        return VK_DOWN;
    case Qt::Key_Shift:
        return VK_SHIFT;
    case Qt::Key_Control:
        return VK_CONTROL;
    case Qt::Key_Alt:
        return VK_MENU;
    default:
        return 0;
    }
}

// Offers each key press to the windows from the focused control up to its top-level window, as
// the message loop's pre-translation does, before the control sees it. It acts once per press,
// at the focused widget: Qt hands a key the focused widget ignores to its parent again.
class KeyboardFilter : public QObject {
protected:
    bool eventFilter(QObject* obj, QEvent* e) override {
        if (e->type() == QEvent::MouseMove || e->type() == QEvent::MouseButtonPress ||
            e->type() == QEvent::MouseButtonRelease)
            return PreTranslateMouse(obj, static_cast<QMouseEvent*>(e));
        if (e->type() != QEvent::KeyPress) return false;
        auto* w = qobject_cast<QWidget*>(obj);
        if (!w) return false;
        QWidget* focus = QApplication::focusWidget();
        if (focus ? w != focus : !w->isWindow()) return false;
        HWND h = HandleOf(w);
        if (!h) return false;
        auto* k = static_cast<QKeyEvent*>(e);
        const UINT vk = VirtualKey(k->key());
        const bool alt = k->modifiers() & Qt::AltModifier;
        MSG msg{h, alt ? WM_SYSKEYDOWN : WM_KEYDOWN, vk, 1, 0, POINT{0, 0}};
        const QPoint pos = QCursor::pos();
        msg.pt = POINT{pos.x(), pos.y()};
        for (HWND cur = h; IsLive(cur); cur = cur->parent) {
            if (cur->pWnd && cur->pWnd->PreTranslateMessage(&msg)) return true;
            if (cur->widget && cur->widget->isWindow()) break;
        }
        if (alt && vk == VK_SPACE) {
            HWND top = h;
            while (IsLive(top) && top->parent && !(top->widget && top->widget->isWindow()))
                top = top->parent;
            SendMessageW(top, WM_SYSCOMMAND, SC_KEYMENU, VK_SPACE);
            return true;
        }
        return false;
    }

    // Mouse messages are offered the same way (a tooltip sees the pointer through them). Qt hands
    // an event its receiver ignores to the parents again; only the first delivery is the window
    // system's own, so only that one counts.
    static bool PreTranslateMouse(QObject* obj, QMouseEvent* e) {
        if (!e->spontaneous()) return false;
        auto* w = qobject_cast<QWidget*>(obj);
        HWND h = w ? HandleOf(w) : nullptr;
        if (!IsWindow(h)) return false;
        UINT message = WM_MOUSEMOVE;
        if (e->type() != QEvent::MouseMove) {
            const bool down = e->type() == QEvent::MouseButtonPress;
            if (e->button() == Qt::LeftButton)
                message = down ? WM_LBUTTONDOWN : WM_LBUTTONUP;
            else if (e->button() == Qt::RightButton)
                message = down ? WM_RBUTTONDOWN : WM_RBUTTONUP;
            else
                return false;
        }
        WPARAM keys = 0;
        if (e->buttons() & Qt::LeftButton) keys |= 0x0001;        // MK_LBUTTON
        if (e->buttons() & Qt::RightButton) keys |= 0x0002;       // MK_RBUTTON
        if (e->modifiers() & Qt::ShiftModifier) keys |= 0x0004;   // MK_SHIFT
        if (e->modifiers() & Qt::ControlModifier) keys |= 0x0008; // MK_CONTROL
        const QPoint global = e->globalPosition().toPoint();
        const QPoint local = h->widget->mapFromGlobal(global);
        MSG msg{h, message, keys, MAKELPARAM(local.x(), local.y()), 0, POINT{global.x(), global.y()}};
        for (HWND cur = h; IsLive(cur); cur = cur->parent) {
            if (cur->pWnd && cur->pWnd->PreTranslateMessage(&msg)) return true;
            if (cur->widget && cur->widget->isWindow()) break;
        }
        return false;
    }
};

} // namespace

void InstallKeyboardFilter() {
    static KeyboardFilter* filter = nullptr;
    if (!filter) {
        filter = new KeyboardFilter;
        qApp->installEventFilter(filter);
    }
}

void RunModalHooks(HWND dlg) {
    if (ModalHooks().empty()) return;
    auto hook = std::move(ModalHooks().front());
    ModalHooks().pop_front();
    QTimer::singleShot(0, qApp, [dlg, hook = std::move(hook)] {
        if (IsWindow(dlg)) hook(dlg);
    });
}

void QueueModalHook(std::function<void(HWND)> hook) {
    ModalHooks().push_back(std::move(hook));
}

// Makes the window of a dialog from its template: the window, WM_CREATE, the controls in template
// order, the dialog font on each, then WM_INITDIALOG and the first focus.
bool CreateDialogFromTemplate(CDialog* dlg, UINT id, HWND owner, bool modal) {
    const AFX_DLGTEMPLATE* t = FindDialogTemplate(id);
    if (!t) return false;
    HFONT font = (t->dwStyle & DS_SETFONT) ? DialogFont(t->lpszFontFace, t->wPointSize)
                                           : static_cast<HFONT>(GetStockObject(DEFAULT_GUI_FONT));
    const QSize units = BaseUnits(font);
    auto toPixels = [&](int x, int y, int cx, int cy) {
        return QRect(MulDiv(x, units.width(), 4), MulDiv(y, units.height(), 8), MulDiv(cx, units.width(), 4),
                     MulDiv(cy, units.height(), 8));
    };

    QWidget* ownerWidget = IsWindow(owner) ? owner->widget->window() : nullptr;
    auto* w = new DialogWidget(ownerWidget);
    Qt::WindowFlags flags = (ownerWidget ? Qt::Dialog : Qt::Window) | Qt::CustomizeWindowHint;
    if (t->dwStyle & WS_CAPTION) flags |= Qt::WindowTitleHint;
    if (t->dwStyle & WS_SYSMENU) flags |= Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint;
    if (t->dwStyle & WS_MINIMIZEBOX) flags |= Qt::WindowMinimizeButtonHint;
    if (t->dwStyle & WS_MAXIMIZEBOX) flags |= Qt::WindowMaximizeButtonHint;
    w->setWindowFlags(flags);
    if (modal) w->setWindowModality(Qt::ApplicationModal);
    w->setFont(font->font);
    const QRect client = toPixels(t->x, t->y, t->cx, t->cy);
    w->setFixedSize(client.size());

    HWND h = NewWindowHandle(w, Kind::Dialog, CString(u"#32770"), 0, t->dwStyle, t->dwExStyle, owner);
    h->font = font;
    if (t->dwStyle & DS_SETFONT) h->ownedFont = font;
    h->text = CString(t->lpszCaption);
    w->setWindowTitle(ToQ(h->text));
    dlg->Attach(h);

    CREATESTRUCTW cs{nullptr,        nullptr,         nullptr,
                     owner,          client.height(), client.width(),
                     client.y(),     client.x(),      static_cast<LONG>(t->dwStyle),
                     t->lpszCaption, u"#32770",       t->dwExStyle};
    if (SendMessageW(h, WM_CREATE, 0, reinterpret_cast<LPARAM>(&cs)) == -1) {
        dlg->DestroyWindow();
        return false;
    }
    for (int i = 0; i < t->nItems; ++i) {
        const AFX_DLGITEM& item = t->pItems[i];
        HWND c = CreateControl(item.lpszClass, item.lpszText, item.dwStyle, item.dwExStyle,
                               toPixels(item.x, item.y, item.cx, item.cy), h, item.nID, item.nImage);
        SendMessageW(c, WM_SETFONT, reinterpret_cast<WPARAM>(font), 0);
    }

    // Centred over the owner, or on the screen.
    const QRect area = ownerWidget ? ownerWidget->frameGeometry()
                                   : (QGuiApplication::primaryScreen()
                                          ? QGuiApplication::primaryScreen()->availableGeometry()
                                          : QRect(0, 0, 1024, 768));
    w->move(area.center() - QPoint(client.width() / 2, client.height() / 2));

    HWND focus = FirstTabStop(h);
    const LRESULT setFocus = SendMessageW(h, WM_INITDIALOG, reinterpret_cast<WPARAM>(focus), 0);
    if (!IsWindow(h)) return false;
    if ((t->dwStyle & WS_VISIBLE) || modal) {
        w->show();
        w->raise();
        w->activateWindow();
    }
    // Looked for again: WM_INITDIALOG may have hidden or disabled the control first in line.
    if (setFocus)
        if (HWND first = FirstTabStop(h)) SetFocus(first);
    return true;
}

} // namespace afx

// ---- CDialog ------------------------------------------------------------------------------------------

IMPLEMENT_DYNAMIC(CDialog, CWnd)

BEGIN_MESSAGE_MAP(CDialog, CWnd)
ON_COMMAND(IDOK, OnOK)
ON_COMMAND(IDCANCEL, OnCancel)
ON_MESSAGE(WM_INITDIALOG, HandleInitDialog)
END_MESSAGE_MAP()

CDialog::CDialog(UINT nIDTemplate, CWnd* pParentWnd) : m_nIDTemplate(nIDTemplate), m_pParentWnd(pParentWnd) {}

CDialog::~CDialog() {
    if (IsLive(m_hWnd)) DestroyWindow();
}

INT_PTR CDialog::DoModal() {
    HWND owner = m_pParentWnd ? m_pParentWnd->GetSafeHwnd() : nullptr;
    if (!owner) {
        // The application's main window owns the dialogs that name no parent, or whatever dialog is
        // modal now.
        CWnd* main = AfxGetMainWnd();
        if (main && main != this && IsWindow(main->m_hWnd)) owner = main->m_hWnd;
        if (QWidget* active = QApplication::activeModalWidget()) owner = HandleOf(active);
        if (owner == m_hWnd) owner = nullptr;
    }
    m_nModalResult = -1;
    m_bEnded = false;
    if (!CreateDialogFromTemplate(this, m_nIDTemplate, owner, true)) return -1;
    HWND h = m_hWnd;
    if (!m_bEnded && IsWindow(h)) {
        QEventLoop loop;
        h->modalLoop = &loop;
        RunModalHooks(h);
        loop.exec(QEventLoop::DialogExec);
        if (IsLive(h)) h->modalLoop = nullptr;
    }
    if (IsLive(h) && h->widget) h->widget->hide();
    DestroyWindow();
    if (IsWindow(owner)) owner->widget->window()->activateWindow();
    return m_nModalResult;
}

BOOL CDialog::Create(UINT nIDTemplate, CWnd* pParentWnd) {
    m_nIDTemplate = nIDTemplate;
    m_pParentWnd = pParentWnd;
    m_bEnded = false;
    return CreateDialogFromTemplate(this, nIDTemplate, pParentWnd ? pParentWnd->GetSafeHwnd() : nullptr,
                                    false);
}

void CDialog::EndDialog(int nResult) {
    m_nModalResult = nResult;
    m_bEnded = true;
    if (IsLive(m_hWnd)) {
        // The dialog disappears at once; a modal one is destroyed when its loop has returned.
        if (m_hWnd->widget) m_hWnd->widget->hide();
        if (m_hWnd->modalLoop) m_hWnd->modalLoop->exit(0);
    }
}

LRESULT CDialog::HandleInitDialog(WPARAM, LPARAM) {
    return OnInitDialog();
}

BOOL CDialog::OnInitDialog() {
    UpdateData(FALSE);
    return TRUE;
}

BOOL CDialog::UpdateData(BOOL bSaveAndValidate) {
    CDataExchange dx(this, bSaveAndValidate);
    DoDataExchange(&dx);
    return TRUE;
}

void CDialog::OnOK() {
    if (!UpdateData(TRUE)) return;
    EndDialog(IDOK);
}

void CDialog::OnCancel() {
    EndDialog(IDCANCEL);
}

BOOL CDialog::PreTranslateMessage(MSG* pMsg) {
    if ((pMsg->message == WM_KEYDOWN || pMsg->message == WM_SYSKEYDOWN) && IsDialogMessageW(m_hWnd, pMsg))
        return TRUE;
    return CWnd::PreTranslateMessage(pMsg);
}

BOOL IsDialogMessageW(HWND hDlg, LPMSG lpMsg) {
    if (!IsWindow(hDlg) || !lpMsg || lpMsg->message != WM_KEYDOWN) return FALSE;
    HWND focus = lpMsg->hwnd;
    switch (lpMsg->wParam) {
    case VK_RETURN: {
        if (IsLive(focus) && focus->kind == Kind::Button && focus->parent == hDlg) {
            // Enter on a push button presses it.
            SendMessageW(focus, BM_CLICK, 0, 0);
            return TRUE;
        }
        // Otherwise the default push button; with none, the dialog's OK command.
        for (QObject* o : hDlg->widget->children()) {
            HWND c = HandleOf(qobject_cast<QWidget*>(o));
            if (c && c->parent == hDlg && c->kind == Kind::Button &&
                (c->style & BS_TYPEMASK) == BS_DEFPUSHBUTTON) {
                SendMessageW(c, BM_CLICK, 0, 0);
                return TRUE;
            }
        }
        SendMessageW(hDlg, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED),
                     reinterpret_cast<LPARAM>(GetDlgItem(hDlg, IDOK)));
        return TRUE;
    }
    case VK_ESCAPE:
        SendMessageW(hDlg, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED),
                     reinterpret_cast<LPARAM>(GetDlgItem(hDlg, IDCANCEL)));
        return TRUE;
    default:
        // Tab, arrows, typing and the rest belong to the controls.
        return FALSE;
    }
}
