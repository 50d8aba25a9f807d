// The Qt widgets behind the window classes, and the creation of controls.
#include <QCheckBox>
#include <QContextMenuEvent>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPushButton>
#include <QStyleOptionButton>

#include "platform/src/internal.h"
#include "platform/src/listview.h"
#include "platform/src/widgets.h"

namespace afx {

// ---- dialog -----------------------------------------------------------------------------------------

DialogWidget::DialogWidget(QWidget* parent) : QWidget(parent) {
    setAutoFillBackground(true);
    QPalette pal = palette();
    pal.setColor(QPalette::Window, FaceColor());
    setPalette(pal);
    setMouseTracking(true);
}

void DialogWidget::paintEvent(QPaintEvent* e) {
    DispatchPaint(HandleOf(this), e);
}

void DialogWidget::mouseMoveEvent(QMouseEvent* e) {
    DispatchMouseMove(HandleOf(this), e->position().toPoint(), e->globalPosition().toPoint());
}

void DialogWidget::contextMenuEvent(QContextMenuEvent* e) {
    // The title bar belongs to the window manager here, so the window's own menu opens from its
    // background.
    ShowSystemMenu(HandleOf(this), e->globalPos());
}

void DialogWidget::closeEvent(QCloseEvent* e) {
    e->ignore();
    if (HWND h = HandleOf(this)) SendMessageW(h, WM_SYSCOMMAND, SC_CLOSE, 0);
}

// ---- static -----------------------------------------------------------------------------------------

StaticWidget::StaticWidget(QWidget* parent) : QWidget(parent) {
    setMouseTracking(true);
}

void StaticWidget::paintEvent(QPaintEvent* e) {
    DispatchPaint(HandleOf(this), e);
}

void StaticWidget::mouseMoveEvent(QMouseEvent* e) {
    DispatchMouseMove(HandleOf(this), e->position().toPoint(), e->globalPosition().toPoint());
}

void StaticWidget::enterEvent(QEnterEvent* e) {
    DispatchMouseMove(HandleOf(this), e->position().toPoint(), e->globalPosition().toPoint());
}

void StaticWidget::leaveEvent(QEvent*) {
    HWND h = HandleOf(this);
    if (IsLive(h) && h->trackLeave) {
        h->trackLeave = false;
        SendMessageW(h, 0x02A3 /* WM_MOUSELEAVE */, 0, 0);
    }
}

void StaticWidget::mousePressEvent(QMouseEvent* e) {
    m_pressed = e->button() == Qt::LeftButton;
    SetMessagePos(e->globalPosition().toPoint());
}

void StaticWidget::mouseReleaseEvent(QMouseEvent* e) {
    const bool click = m_pressed && e->button() == Qt::LeftButton && rect().contains(e->position().toPoint());
    m_pressed = false;
    HWND h = HandleOf(this);
    SetMessagePos(e->globalPosition().toPoint());
    if (click && IsLive(h) && (h->style & SS_NOTIFY)) NotifyParent(h, STN_CLICKED);
}

// ---- group box ------------------------------------------------------------------------------------------

GroupBoxWidget::GroupBoxWidget(QWidget* parent) : QWidget(parent) {
    // A frame only: clicks go to whatever lies inside it, in any stacking order.
    setAttribute(Qt::WA_TransparentForMouseEvents);
}

void GroupBoxWidget::paintEvent(QPaintEvent* e) {
    DispatchPaint(HandleOf(this), e);
}

void PaintGroupBox(HWND h) {
    PAINTSTRUCT ps;
    HDC dc = BeginPaint(h, &ps);
    if (dc && dc->painter) {
        QPainter& p = *dc->painter;
        const QFont font = FontOf(h);
        p.setFont(font);
        const QFontMetrics fm(font);
        QWidget* w = h->widget;
        const int top = fm.height() / 2;
        QRect frame(0, top, w->width() - 1, w->height() - top - 1);
        QString caption = ToQ(h->text);
        caption.remove(QLatin1Char('&'));
        const int gapLeft = 6;
        const int textWidth = caption.isEmpty() ? 0 : fm.horizontalAdvance(caption) + 4;
        // Etched frame: a shadow line with a highlight line one pixel inside.
        const QColor shadow(160, 160, 160), light(255, 255, 255);
        auto drawFrame = [&](const QRect& r, const QColor& c) {
            p.setPen(c);
            p.drawLine(r.left(), r.top(), r.left() + gapLeft, r.top());
            p.drawLine(r.left() + gapLeft + textWidth, r.top(), r.right(), r.top());
            p.drawLine(r.right(), r.top(), r.right(), r.bottom());
            p.drawLine(r.left(), r.bottom(), r.right(), r.bottom());
            p.drawLine(r.left(), r.top(), r.left(), r.bottom());
        };
        drawFrame(frame.adjusted(1, 1, 0, 0), light);
        drawFrame(frame.adjusted(0, 0, -1, -1), shadow);
        if (!caption.isEmpty()) {
            p.setPen(ToQColor(GetSysColor(COLOR_WINDOWTEXT)));
            p.drawText(QRect(gapLeft + 2, 0, textWidth, fm.height()), Qt::AlignLeft | Qt::AlignVCenter,
                       caption);
        }
    }
    EndPaint(h, &ps);
}

// ---- creation ---------------------------------------------------------------------------------------------

namespace {

class PushButton : public QPushButton {
public:
    using QPushButton::QPushButton;
};

Qt::FocusPolicy FocusFor(DWORD style) {
    return (style & WS_TABSTOP) ? Qt::StrongFocus : Qt::ClickFocus;
}

} // namespace

HWND CreateControl(const WCHAR* cls, const WCHAR* text, DWORD style, DWORD exStyle, const QRect& px,
                   HWND parent, int id, WORD image) {
    QWidget* parentWidget = parent ? parent->widget.data() : nullptr;
    const CString className(cls);
    QWidget* w = nullptr;
    Kind kind = Kind::Static;
    if (className.CompareNoCase(u"BUTTON") == 0) {
        const DWORD type = style & BS_TYPEMASK;
        if (type == BS_GROUPBOX) {
            w = new GroupBoxWidget(parentWidget);
            kind = Kind::GroupBox;
            w->setFocusPolicy(Qt::NoFocus);
        } else if (type == BS_AUTOCHECKBOX || type == BS_CHECKBOX) {
            auto* b = new QCheckBox(parentWidget);
            w = b;
            kind = Kind::CheckBox;
            w->setFocusPolicy(FocusFor(style));
        } else {
            auto* b = new PushButton(parentWidget);
            b->setAutoDefault(false);
            b->setDefault(false);
            w = b;
            kind = Kind::Button;
            w->setFocusPolicy(FocusFor(style));
        }
    } else if (className.CompareNoCase(u"EDIT") == 0) {
        auto* e = new QLineEdit(parentWidget);
        if (style & ES_PASSWORD) e->setEchoMode(QLineEdit::Password);
        if (style & ES_READONLY) e->setReadOnly(true);
        e->setFrame((style & WS_BORDER) || (exStyle & WS_EX_CLIENTEDGE));
        e->setTextMargins(0, 0, 0, 0);
        w = e;
        kind = Kind::Edit;
        w->setFocusPolicy(FocusFor(style));
    } else if (className.CompareNoCase(u"SysListView32") == 0) {
        w = CreateListViewWidget(parentWidget, style);
        kind = Kind::ListView;
        w->setFocusPolicy(FocusFor(style));
    } else if (className.CompareNoCase(u"LISTBOX") == 0) {
        w = CreateListBoxWidget(parentWidget, style);
        kind = Kind::ListBox;
        w->setFocusPolicy(FocusFor(style));
    } else {
        w = new StaticWidget(parentWidget);
        kind = Kind::Static;
        w->setFocusPolicy(Qt::NoFocus);
    }

    HWND h = NewWindowHandle(w, kind, className, id, style, exStyle, parent);
    h->text = CString(text);
    if (auto* b = qobject_cast<QAbstractButton*>(w)) {
        b->setText(ToQ(h->text));
        QObject::connect(b, &QAbstractButton::clicked, [h] {
            if (IsLive(h)) NotifyParent(h, BN_CLICKED);
        });
    } else if (auto* e = qobject_cast<QLineEdit*>(w)) {
        e->setText(ToQ(h->text));
    }
    if (kind == Kind::ListView) AttachListView(h);
    if (kind == Kind::ListBox) AttachListBox(h);

    QRect geometry = px;
    if (kind == Kind::Static && (style & SS_TYPEMASK) == SS_BITMAP && image) {
        h->bitmap = h->ownedBitmap = LoadBitmapResource(image);
        // A picture control takes its bitmap's own size.
        if (h->bitmap) geometry.setSize(h->bitmap->image.size());
    }
    w->setGeometry(geometry);
    w->setEnabled(!(style & WS_DISABLED));
    w->setVisible(style & WS_VISIBLE);
    return h;
}

} // namespace afx
