// Inside the platform layer: the structures behind window, device-context and GDI handles, and the
// glue between Qt's widgets and the message-based window model the application sees.
#pragma once

#include <QColor>
#include <QCursor>
#include <QFont>
#include <QIcon>
#include <QImage>
#include <QPainter>
#include <QPointer>
#include <QString>
#include <QTimer>
#include <QWidget>
#include <functional>
#include <map>
#include <memory>
#include <vector>

#include "platform/mfc.h"

class QEventLoop;
class QPaintEvent;

namespace afx {

inline QString ToQ(const WCHAR* s) {
    return s ? QString::fromUtf16(s) : QString();
}
inline QString ToQ(const CString& s) {
    return QString::fromUtf16(s.GetString(), static_cast<qsizetype>(s.GetLength()));
}
inline CString FromQ(const QString& s) {
    return CString(reinterpret_cast<const WCHAR*>(s.utf16()), static_cast<int>(s.size()));
}
inline QColor ToQColor(COLORREF c) {
    return QColor(GetRValue(c), GetGValue(c), GetBValue(c));
}
inline QRect ToQRect(const RECT& r) {
    return QRect(r.left, r.top, r.right - r.left, r.bottom - r.top);
}
inline RECT FromQRect(const QRect& r) {
    return RECT{r.left(), r.top(), r.left() + r.width(), r.top() + r.height()};
}

enum class Kind { Dialog, Static, Button, GroupBox, CheckBox, Edit, ListView, Header, ListBox, ToolTip };

struct MenuItem {
    UINT flags;
    UINT id;
    CString text;
};

struct MenuData {
    std::vector<MenuItem> items;
};

// A painted picture or a font.
struct GdiObject {
    enum Type { Font, Bitmap, Brush } type;
    bool stock = false;
    LOGFONTW logfont{};
    QFont font;
    QImage image;
    COLORREF color = 0;
    bool nullBrush = false;
};

struct IconData {
    QIcon icon;
    QImage big;
    QImage small;
    bool isCursor = false;
    QCursor cursor;
    bool standardArrow = false;
    bool standardWait = false;
};

} // namespace afx

struct HGDIOBJ__ : afx::GdiObject {};
struct HICON__ : afx::IconData {};
struct HMENU__ : afx::MenuData {};

struct HWND__ {
    QPointer<QWidget> widget;
    afx::Kind kind;
    CString className;
    int id = 0;
    DWORD style = 0;
    DWORD exStyle = 0;
    HWND parent = nullptr;
    CWnd* pWnd = nullptr;
    HFONT font = nullptr;
    HBITMAP bitmap = nullptr;
    // Made by the window system for this window (the template's font, a picture's bitmap) and
    // deleted with it.
    HFONT ownedFont = nullptr;
    HBITMAP ownedBitmap = nullptr;
    HICON bigIcon = nullptr;
    HICON smallIcon = nullptr;
    CString text;
    std::map<UINT_PTR, QTimer*> timers;
    std::unique_ptr<HMENU__> sysMenu;
    std::unique_ptr<CMenu> sysMenuWrapper;
    QPaintEvent* paintEvent = nullptr;
    // Dialogs
    QEventLoop* modalLoop = nullptr;
    bool trackLeave = false;
    std::unique_ptr<CWnd> tempWrapper;
    // List views: the header's handle; headers: the owning list view.
    HWND header = nullptr;
    HWND listView = nullptr;
};

struct HDC__ {
    QPainter* painter = nullptr;
    bool ownsPainter = false;
    QWidget* widget = nullptr;
    HWND hwnd = nullptr;
    QImage* target = nullptr; // a memory DC's selected bitmap
    HGDIOBJ bitmap = nullptr;
    HGDIOBJ font = nullptr;
    HGDIOBJ brush = nullptr;
    COLORREF textColor = 0x000000;
    COLORREF bkColor = 0xFFFFFF;
    int bkMode = OPAQUE;
    bool memory = false;
};

namespace afx {

// ---- handle registry ------------------------------------------------------------------------------

HWND NewWindowHandle(QWidget* w, Kind kind, const CString& cls, int id, DWORD style, DWORD exStyle,
                     HWND parent);
// The handle of a widget, or of the nearest ancestor that has one (Qt's own inner widgets have none).
HWND HandleOf(const QWidget* w);
void DestroyHandle(HWND h);
bool IsLive(HWND h);

// ---- messages -------------------------------------------------------------------------------------

// The message being handled on this thread, for CWnd::Default().
struct CurrentMessage {
    HWND hwnd;
    UINT message;
    WPARAM wParam;
    LPARAM lParam;
};
const CurrentMessage* Current();
void SetMessagePos(QPoint global);

// The default procedure of the window's class.
LRESULT ClassProc(HWND h, UINT msg, WPARAM wParam, LPARAM lParam);
LRESULT ListViewProc(HWND h, UINT msg, WPARAM wParam, LPARAM lParam);
LRESULT ListBoxProc(HWND h, UINT msg, WPARAM wParam, LPARAM lParam);
LRESULT ToolTipProc(HWND h, UINT msg, WPARAM wParam, LPARAM lParam);

void DispatchPaint(HWND h, QPaintEvent* e);
void DispatchMouseMove(HWND h, QPoint local, QPoint global);
void NotifyParent(HWND h, UINT code);
void ShowSystemMenu(HWND top, QPoint global);

// ---- fonts, colours, pictures ----------------------------------------------------------------------

QFont FontOf(HWND h);
HFONT DialogFont(const WCHAR* face, int pointSize);
QColor FaceColor();
HBITMAP LoadBitmapResource(WORD id);
HICON LoadIconResource(WORD id);
// Dialog units of a template font: the average character width and the character height.
QSize BaseUnits(HFONT font);

// Draws a static control as the window system does: background from the parent's colour query,
// then text, picture or icon.
void PaintStatic(HWND h);
void PaintGroupBox(HWND h);

// The list view's model; the lock defers change notifications until drawing is unlocked.
class ListModel;
ListModel* ModelOf(HWND listView);
void ApplyDrawingLock(HWND locked);

// Created by the list view on demand.
HWND CreateControl(const WCHAR* cls, const WCHAR* text, DWORD style, DWORD exStyle, const QRect& px,
                   HWND parent, int id, WORD image);

const AFX_RESOURCE_TABLE* Resources();
void SetResources(const AFX_RESOURCE_TABLE* table);
const AFX_DLGTEMPLATE* FindDialogTemplate(UINT id);
bool IsResourceHidden(char kind, WORD id);

void PrepareApplication(int argc, char** argv);

// Test hook: callbacks to run once the next modal dialog is up.
void RunModalHooks(HWND dlg);
void QueueModalHook(std::function<void(HWND)> hook);
void InstallKeyboardFilter();
bool CreateDialogFromTemplate(CDialog* dlg, UINT id, HWND owner, bool modal);
void HideResource(char kind, WORD id, bool hidden);

} // namespace afx
