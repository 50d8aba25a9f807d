#include "platform/testing.h"

#include <QApplication>
#include <QDialog>
#include <QElapsedTimer>
#include <QListWidget>
#include <QMenu>
#include <QTest>
#include <QToolTip>
#include <QWindow>

#include "platform/src/internal.h"

using namespace afx;

namespace afxtest {

void Init(const AFX_RESOURCE_TABLE* resources) {
    static int argc = 1;
    static char name[] = "brevonix-tests";
    static char* argv[] = {name, nullptr};
    AfxWinInit(argc, argv, resources);
}

void OnNextModal(std::function<void(HWND)> script) {
    QueueModalHook(std::move(script));
}

void ProcessEvents(int milliseconds) {
    QApplication::processEvents();
    if (milliseconds > 0) {
        QElapsedTimer t;
        t.start();
        while (t.elapsed() < milliseconds)
            QApplication::processEvents(QEventLoop::AllEvents, 10);
    }
}

bool WaitFor(const std::function<bool()>& done, int timeoutMs) {
    QElapsedTimer t;
    t.start();
    while (!done()) {
        if (t.elapsed() > timeoutMs) return false;
        QApplication::processEvents(QEventLoop::AllEvents, 10);
    }
    return true;
}

void RunLater(std::function<void()> fn, int milliseconds) {
    QTimer::singleShot(milliseconds, qApp, std::move(fn));
}

void CloseWindow(HWND hWnd) {
    if (QWidget* w = IsWindow(hWnd) ? hWnd->widget.data() : nullptr) w->window()->close();
}

HWND ActiveModal() {
    return HandleOf(QApplication::activeModalWidget());
}

namespace {
QWidget* W(HWND h) {
    return IsWindow(h) ? h->widget.data() : nullptr;
}
} // namespace

void ClickAt(HWND hWnd, int x, int y) {
    QWidget* w = W(hWnd);
    if (!w) return;
    // Through the window, at that point of it, as the pointer does: whatever is on top there gets
    // the click, and the window system knows where the pointer is afterwards.
    QCursor::setPos(w->mapToGlobal(QPoint(x, y)));
    if (QWindow* window = w->window()->windowHandle())
        QTest::mouseClick(window, Qt::LeftButton, Qt::NoModifier, w->mapTo(w->window(), QPoint(x, y)));
    else
        QTest::mouseClick(w, Qt::LeftButton, Qt::NoModifier, QPoint(x, y));
}

void Click(HWND hWnd) {
    if (QWidget* w = W(hWnd)) ClickAt(hWnd, w->width() / 2, w->height() / 2);
}

void RightClickAt(HWND hWnd, int x, int y) {
    QWidget* w = W(hWnd);
    if (!w) return;
    // A context menu is asked for by its own event; the click alone does not open it offscreen.
    QContextMenuEvent e(QContextMenuEvent::Mouse, QPoint(x, y), w->mapToGlobal(QPoint(x, y)));
    QApplication::sendEvent(w, &e);
}

void MoveMouse(HWND hWnd, int x, int y) {
    QWidget* w = W(hWnd);
    if (!w) return;
    QCursor::setPos(w->mapToGlobal(QPoint(x, y)));
    // The window system's own enter and leave for the pointer's new place come first, as they would.
    QApplication::processEvents();
    // Through the window, as the window system delivers it: the widgets under the pointer get their
    // enter and leave events.
    if (QWindow* window = w->window()->windowHandle())
        QTest::mouseMove(window, w->mapTo(w->window(), QPoint(x, y)));
    else
        QTest::mouseMove(w, QPoint(x, y));
    QApplication::processEvents();
}

void Key(HWND hWnd, UINT vk, bool alt) {
    QWidget* w = W(hWnd);
    if (!w) return;
    if (w->window()->windowHandle()) w->window()->activateWindow();
    w->setFocus(Qt::OtherFocusReason);
    QApplication::processEvents();
    Qt::Key key = Qt::Key_unknown;
    switch (vk) {
    case VK_RETURN:
        key = Qt::Key_Return;
        break;
    case VK_ESCAPE:
        key = Qt::Key_Escape;
        break;
    case VK_TAB:
        key = Qt::Key_Tab;
        break;
    case VK_SPACE:
        key = Qt::Key_Space;
        break;
    default:
        if (vk >= 'A' && vk <= 'Z') key = static_cast<Qt::Key>(Qt::Key_A + static_cast<int>(vk - 'A'));
        break;
    }
    QWidget* target = QApplication::focusWidget() ? QApplication::focusWidget() : w;
    QTest::keyClick(target, key, alt ? Qt::AltModifier : Qt::NoModifier);
}

namespace {
Qt::Key QtKey(UINT vk) {
    switch (vk) {
    case VK_RETURN:
        return Qt::Key_Return;
    case VK_ESCAPE:
        return Qt::Key_Escape;
    case VK_TAB:
        return Qt::Key_Tab;
    case VK_SPACE:
        return Qt::Key_Space;
    default:
        return (vk >= 'A' && vk <= 'Z') ? static_cast<Qt::Key>(Qt::Key_A + static_cast<int>(vk - 'A'))
                                        : Qt::Key_unknown;
    }
}
} // namespace

void KeyToFocus(UINT vk) {
    QWidget* target = QApplication::focusWidget();
    if (!target) target = QApplication::activeModalWidget();
    if (target) QTest::keyClick(target, QtKey(vk));
}

bool RejectActiveModal() {
    QWidget* modal = QApplication::activeModalWidget();
    if (!modal) return false;
    if (auto* d = qobject_cast<QDialog*>(modal))
        d->reject();
    else
        modal->close();
    return true;
}

void TypeText(HWND hWnd, const CString& text) {
    QWidget* w = W(hWnd);
    if (!w) return;
    w->setFocus(Qt::OtherFocusReason);
    QTest::keyClicks(w, ToQ(text));
}

void ClickListBoxItem(HWND hWnd, int index) {
    auto* list = qobject_cast<QListWidget*>(W(hWnd));
    if (!list || index < 0 || index >= list->count()) return;
    list->scrollToItem(list->item(index));
    const QPoint at = list->visualItemRect(list->item(index)).center();
    QTest::mouseClick(list->viewport(), Qt::LeftButton, Qt::NoModifier, at);
}

bool IsPopupMenuOpen() {
    return qobject_cast<QMenu*>(QApplication::activePopupWidget()) != nullptr;
}

bool ChoosePopupMenuItem(const CString& text) {
    auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
    if (!menu) return false;
    const QString wanted = ToQ(text);
    for (QAction* a : menu->actions()) {
        if (a->text() == wanted && a->isEnabled()) {
            QTest::mouseClick(menu, Qt::LeftButton, Qt::NoModifier, menu->actionGeometry(a).center());
            return true;
        }
    }
    return false;
}

bool SaveScreenshot(HWND hWnd, const std::string& pngPath) {
    QWidget* w = W(hWnd);
    return w && w->grab().save(QString::fromStdString(pngPath), "PNG");
}

COLORREF PixelAt(HWND hWnd, int x, int y, bool withChildren) {
    QWidget* w = W(hWnd);
    if (!w) return CLR_INVALID;
    QImage image;
    if (withChildren) {
        image = w->grab().toImage();
    } else {
        image = QImage(w->size(), QImage::Format_RGB32);
        w->render(&image, QPoint(), QRegion(), QWidget::DrawWindowBackground);
    }
    const qreal dpr = image.devicePixelRatio();
    const QColor c = image.pixelColor(static_cast<int>(x * dpr), static_cast<int>(y * dpr));
    return RGB(c.red(), c.green(), c.blue());
}

bool IsFontUnderlined(HWND hWnd) {
    return FontOf(hWnd).underline();
}

CString FontFamily(HWND hWnd) {
    return FromQ(QFontInfo(FontOf(hWnd)).family());
}

LPCWSTR CursorOf(HWND hWnd) {
    QWidget* w = W(hWnd);
    if (!w) return nullptr;
    switch (w->cursor().shape()) {
    case Qt::PointingHandCursor:
        return IDC_HAND;
    case Qt::WaitCursor:
        return IDC_WAIT;
    case Qt::IBeamCursor:
        return IDC_IBEAM;
    default:
        return IDC_ARROW;
    }
}

bool HasFocus(HWND hWnd) {
    return W(hWnd) && W(hWnd)->hasFocus();
}

bool IsMinimized(HWND hWnd) {
    return W(hWnd) && W(hWnd)->window()->isMinimized();
}

void Minimize(HWND hWnd) {
    if (QWidget* w = W(hWnd)) w->window()->showMinimized();
}

void HideResource(char kind, WORD id, bool hidden) {
    afx::HideResource(kind, id, hidden);
}

void UseResources(const AFX_RESOURCE_TABLE* resources) {
    SetResources(resources);
}

bool HasTimer(HWND hWnd, UINT_PTR nIDEvent) {
    if (!IsLive(hWnd)) return false;
    auto it = hWnd->timers.find(nIDEvent);
    return it != hWnd->timers.end() && it->second->isActive();
}

CString ShownToolTipText() {
    return QToolTip::isVisible() ? FromQ(QToolTip::text()) : CString();
}

} // namespace afxtest
