// Fonts, pictures, brushes and device contexts on QPainter.
#include <QFontDatabase>
#include <QFontInfo>
#include <QFontMetrics>
#include <QPaintEvent>
#include <cstring>

#include "platform/mfc.h"
#include "platform/src/internal.h"

namespace afx {

namespace {

// "MS Shell Dlg" and its relatives have no Linux font. DejaVu Sans Condensed at the same pixel
// size has the Windows dialog font's base units (6 x 13 at 8 pt), so templates keep their layout.
QString SubstituteFace(const QString& face) {
    static const QStringList windowsFaces = {"MS Shell Dlg", "MS Shell Dlg 2", "Microsoft Sans Serif",
                                             "Tahoma",       "Segoe UI",       "MS Sans Serif",
                                             "System"};
    for (const QString& f : windowsFaces)
        if (face.compare(f, Qt::CaseInsensitive) == 0) return QStringLiteral("DejaVu Sans Condensed");
    return face.isEmpty() ? QStringLiteral("DejaVu Sans Condensed") : face;
}

QFont FontFromLogFont(const LOGFONTW& lf) {
    QFont f(SubstituteFace(QString::fromUtf16(lf.lfFaceName)));
    const int height = lf.lfHeight == 0 ? 11 : std::abs(lf.lfHeight);
    // A negative height is the character height (the em size); a positive one the cell height,
    // which for these fonts is about 1.2 times the em size.
    f.setPixelSize(lf.lfHeight < 0 ? height : std::max(1, height * 10 / 12));
    f.setWeight(lf.lfWeight >= FW_BOLD ? QFont::Bold : QFont::Normal);
    f.setItalic(lf.lfItalic);
    f.setUnderline(lf.lfUnderline);
    f.setStrikeOut(lf.lfStrikeOut);
    f.setHintingPreference(QFont::PreferFullHinting);
    return f;
}

HGDIOBJ__* NewObject(GdiObject::Type type) {
    auto* o = new HGDIOBJ__;
    o->type = type;
    return o;
}

HGDIOBJ__* StockFont(const WCHAR* face, int height) {
    auto* o = NewObject(GdiObject::Font);
    o->stock = true;
    o->logfont.lfHeight = height;
    o->logfont.lfWeight = FW_NORMAL;
    std::u16string_view f(face);
    std::copy(f.begin(), f.end(), o->logfont.lfFaceName);
    o->font = FontFromLogFont(o->logfont);
    return o;
}

QPainter* PainterOf(HDC hdc) {
    return hdc ? hdc->painter : nullptr;
}

} // namespace

QColor FaceColor() {
    return ToQColor(GetSysColor(COLOR_3DFACE));
}

HFONT DialogFont(const WCHAR* face, int pointSize) {
    LOGFONTW lf{};
    // Points at 96 dots per inch, as the dialog manager computes it.
    lf.lfHeight = -((pointSize * 96 + 36) / 72);
    lf.lfWeight = FW_NORMAL;
    std::u16string_view f(face ? face : u"MS Shell Dlg");
    std::copy(f.begin(), f.begin() + std::min<size_t>(f.size(), LF_FACESIZE - 1), lf.lfFaceName);
    return CreateFontIndirectW(&lf);
}

QFont FontOf(HWND h) {
    if (IsLive(h) && h->font) return h->font->font;
    if (IsWindow(h)) return h->widget->font();
    return QFont();
}

QSize BaseUnits(HFONT font) {
    const QFontMetrics fm(font ? font->font : QFont());
    // The average width of the alphabet, rounded as the dialog manager rounds it.
    const int width =
        fm.horizontalAdvance(QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"));
    return QSize((width / 26 + 1) / 2, fm.height());
}

HBITMAP LoadBitmapResource(WORD id) {
    const AFX_RESOURCE_TABLE* r = Resources();
    if (!r || IsResourceHidden('B', id)) return nullptr;
    for (int i = 0; i < r->nBitmaps; ++i) {
        if (r->pBitmaps[i].nID != id) continue;
        QImage image;
        if (!image.loadFromData(r->pBitmaps[i].pData, static_cast<int>(r->pBitmaps[i].nSize))) return nullptr;
        auto* o = NewObject(GdiObject::Bitmap);
        o->image = image.convertToFormat(QImage::Format_RGB32);
        return o;
    }
    return nullptr;
}

HICON LoadIconResource(WORD id) {
    const AFX_RESOURCE_TABLE* r = Resources();
    if (!r || IsResourceHidden('I', id)) return nullptr;
    HICON icon = nullptr;
    for (int i = 0; i < r->nIcons; ++i) {
        if (r->pIcons[i].nID != id) continue;
        QImage image;
        if (!image.loadFromData(r->pIcons[i].pData, static_cast<int>(r->pIcons[i].nSize))) continue;
        if (!icon) icon = new HICON__;
        icon->icon.addPixmap(QPixmap::fromImage(image));
        if (image.width() >= 32)
            icon->big = image;
        else
            icon->small = image;
    }
    if (icon && icon->big.isNull()) icon->big = icon->small.scaled(32, 32);
    return icon;
}

void PaintStatic(HWND h) {
    PAINTSTRUCT ps;
    HDC dc = BeginPaint(h, &ps);
    QPainter* p = PainterOf(dc);
    if (p) {
        QWidget* w = h->widget;
        const QRect r = w->rect();
        const DWORD type = h->style & SS_TYPEMASK;
        if (type == SS_BITMAP) {
            if (h->bitmap) p->drawImage(QPoint(0, 0), h->bitmap->image);
        } else {
            // The parent chooses the colours (and may reflect the question to the control itself).
            HBRUSH brush = nullptr;
            if (h->parent)
                brush = reinterpret_cast<HBRUSH>(SendMessageW(
                    h->parent, WM_CTLCOLORSTATIC, reinterpret_cast<WPARAM>(dc), reinterpret_cast<LPARAM>(h)));
            if (IsLive(h)) {
                if (brush && !brush->nullBrush) p->fillRect(r, ToQColor(brush->color));
                QFont font = dc->font ? dc->font->font : FontOf(h);
                p->setFont(font);
                QString text = ToQ(h->text);
                text.replace(QLatin1String("&&"), QString(QChar(0xE000)));
                text.remove(QLatin1Char('&'));
                text.replace(QChar(0xE000), QLatin1Char('&'));
                int flags = Qt::AlignTop | Qt::TextExpandTabs;
                flags |= (h->style & SS_TYPEMASK) == SS_CENTER  ? Qt::AlignHCenter
                         : (h->style & SS_TYPEMASK) == SS_RIGHT ? Qt::AlignRight
                                                                : (Qt::AlignLeft | Qt::TextWordWrap);
                if (h->style & SS_CENTERIMAGE) flags = (flags & ~Qt::AlignTop) | Qt::AlignVCenter;
                if (dc->bkMode == OPAQUE) {
                    const QRect textRect = p->boundingRect(r, flags, text);
                    p->fillRect(textRect, ToQColor(dc->bkColor));
                }
                p->setPen(ToQColor(dc->textColor));
                p->drawText(r, flags, text);
            }
        }
    }
    EndPaint(h, &ps);
}

} // namespace afx

using namespace afx;

HGDIOBJ GetStockObject(int i) {
    static HGDIOBJ__* nullBrush = [] {
        auto* o = NewObject(GdiObject::Brush);
        o->stock = true;
        o->nullBrush = true;
        return o;
    }();
    static HGDIOBJ__* whiteBrush = [] {
        auto* o = NewObject(GdiObject::Brush);
        o->stock = true;
        o->color = RGB(255, 255, 255);
        return o;
    }();
    static HGDIOBJ__* guiFont = StockFont(u"MS Shell Dlg", -11);
    static HGDIOBJ__* varFont = StockFont(u"Microsoft Sans Serif", -11);
    switch (i) {
    case NULL_BRUSH:
        return nullBrush;
    case WHITE_BRUSH:
        return whiteBrush;
    case DEFAULT_GUI_FONT:
        return guiFont;
    case ANSI_VAR_FONT:
        return varFont;
    default:
        return nullptr;
    }
}

HFONT CreateFontIndirectW(const LOGFONTW* lplf) {
    if (!lplf) return nullptr;
    auto* o = NewObject(GdiObject::Font);
    o->logfont = *lplf;
    o->font = FontFromLogFont(*lplf);
    return o;
}

int GetObjectW(HGDIOBJ h, int c, LPVOID pv) {
    if (!h) return 0;
    if (h->type == GdiObject::Font) {
        if (!pv) return sizeof(LOGFONTW);
        const int n = std::min<int>(c, sizeof(LOGFONTW));
        std::memcpy(pv, &h->logfont, static_cast<size_t>(n));
        return n;
    }
    if (h->type == GdiObject::Bitmap) {
        if (!pv) return sizeof(BITMAP);
        BITMAP bm{0, h->image.width(), h->image.height(), h->image.width() * 4, 1, 32, nullptr};
        const int n = std::min<int>(c, sizeof(BITMAP));
        std::memcpy(pv, &bm, static_cast<size_t>(n));
        return n;
    }
    return 0;
}

BOOL DeleteObject(HGDIOBJ ho) {
    if (!ho || ho->stock) return FALSE;
    delete ho;
    return TRUE;
}

HGDIOBJ SelectObject(HDC hdc, HGDIOBJ h) {
    if (!hdc || !h) return nullptr;
    HGDIOBJ previous = nullptr;
    switch (h->type) {
    case GdiObject::Font:
        previous = hdc->font;
        hdc->font = h;
        if (hdc->painter) hdc->painter->setFont(h->font);
        break;
    case GdiObject::Bitmap:
        previous = hdc->bitmap;
        hdc->bitmap = h;
        if (hdc->memory) hdc->target = &h->image;
        break;
    case GdiObject::Brush:
        previous = hdc->brush;
        hdc->brush = h;
        break;
    }
    return previous;
}

COLORREF SetTextColor(HDC hdc, COLORREF color) {
    if (!hdc) return CLR_INVALID;
    const COLORREF previous = hdc->textColor;
    hdc->textColor = color;
    return previous;
}

COLORREF GetTextColor(HDC hdc) {
    return hdc ? hdc->textColor : CLR_INVALID;
}

COLORREF SetBkColor(HDC hdc, COLORREF color) {
    if (!hdc) return CLR_INVALID;
    const COLORREF previous = hdc->bkColor;
    hdc->bkColor = color;
    return previous;
}

int SetBkMode(HDC hdc, int mode) {
    if (!hdc || (mode != TRANSPARENT && mode != OPAQUE)) return 0;
    const int previous = hdc->bkMode;
    hdc->bkMode = mode;
    return previous;
}

int GetBkMode(HDC hdc) {
    return hdc ? hdc->bkMode : 0;
}

BOOL GetTextExtentPoint32W(HDC hdc, LPCWSTR lpString, int c, SIZE* psizl) {
    if (!hdc || !psizl || c < 0) return FALSE;
    QFont font = hdc->font ? hdc->font->font : (hdc->hwnd ? FontOf(hdc->hwnd) : QFont());
    const QFontMetrics fm(font);
    const QString s = QString::fromUtf16(lpString, c);
    psizl->cx = fm.horizontalAdvance(s);
    psizl->cy = fm.height();
    return TRUE;
}

HDC CreateCompatibleDC(HDC) {
    auto* dc = new HDC__;
    dc->memory = true;
    return dc;
}

BOOL DeleteDC(HDC hdc) {
    if (!hdc) return FALSE;
    if (hdc->ownsPainter) {
        hdc->painter->end();
        delete hdc->painter;
    }
    delete hdc;
    return TRUE;
}

BOOL BitBlt(HDC hdc, int x, int y, int cx, int cy, HDC hdcSrc, int x1, int y1, DWORD rop) {
    if (!hdc || !hdcSrc || rop != SRCCOPY || !hdcSrc->target) return FALSE;
    const QRect source(x1, y1, cx, cy);
    if (hdc->painter) {
        hdc->painter->drawImage(QRect(x, y, cx, cy), *hdcSrc->target, source);
        return TRUE;
    }
    if (hdc->memory && hdc->target) {
        QPainter p(hdc->target);
        p.drawImage(QRect(x, y, cx, cy), *hdcSrc->target, source);
        return TRUE;
    }
    return FALSE;
}

BOOL DrawIcon(HDC hDC, int X, int Y, HICON hIcon) {
    if (!hDC || !hIcon || !hDC->painter) return FALSE;
    hDC->painter->drawImage(QRect(X, Y, 32, 32), hIcon->big);
    return TRUE;
}

HBITMAP LoadBitmapW(HINSTANCE, LPCWSTR lpBitmapName) {
    if (!IS_INTRESOURCE(lpBitmapName)) return nullptr;
    return LoadBitmapResource(static_cast<WORD>(reinterpret_cast<ULONG_PTR>(lpBitmapName)));
}

HBRUSH CreateSolidBrush(COLORREF color) {
    auto* o = NewObject(GdiObject::Brush);
    o->color = color;
    return o;
}

DWORD GetSysColor(int nIndex) {
    switch (nIndex) {
    case COLOR_WINDOW:
    case COLOR_BTNHIGHLIGHT:
        return RGB(255, 255, 255);
    case COLOR_BTNFACE:
        return RGB(240, 240, 240);
    case COLOR_BTNSHADOW:
        return RGB(160, 160, 160);
    case COLOR_GRAYTEXT:
        return RGB(109, 109, 109);
    case COLOR_WINDOWTEXT:
    case COLOR_BTNTEXT:
    default:
        return RGB(0, 0, 0);
    }
}

HBRUSH GetSysColorBrush(int nIndex) {
    // Stock brushes: shared, never deleted, alive as long as the process.
    static auto* brushes = new std::map<int, HGDIOBJ__*>;
    auto& b = (*brushes)[nIndex];
    if (!b) {
        b = NewObject(GdiObject::Brush);
        b->stock = true;
        b->color = GetSysColor(nIndex);
    }
    return b;
}

int FillRect(HDC hDC, const RECT* lprc, HBRUSH hbr) {
    if (!hDC || !lprc || !hbr || !hDC->painter) return 0;
    if (!hbr->nullBrush) hDC->painter->fillRect(ToQRect(*lprc), ToQColor(hbr->color));
    return 1;
}

HDC GetDC(HWND hWnd) {
    auto* dc = new HDC__;
    dc->hwnd = hWnd;
    dc->widget = IsWindow(hWnd) ? hWnd->widget.data() : nullptr;
    return dc;
}

int ReleaseDC(HWND, HDC hDC) {
    return DeleteDC(hDC);
}

HDC BeginPaint(HWND hWnd, PAINTSTRUCT* lpPaint) {
    if (!IsWindow(hWnd) || !lpPaint) return nullptr;
    auto* dc = new HDC__;
    dc->hwnd = hWnd;
    dc->widget = hWnd->widget;
    if (hWnd->paintEvent) {
        // Painting is only possible while the window system asks for it.
        dc->painter = new QPainter(hWnd->widget.data());
        dc->ownsPainter = true;
        dc->painter->setFont(FontOf(hWnd));
        lpPaint->rcPaint = FromQRect(hWnd->paintEvent->rect());
    } else {
        lpPaint->rcPaint = RECT{0, 0, 0, 0};
    }
    lpPaint->hdc = dc;
    lpPaint->fErase = FALSE;
    return dc;
}

BOOL EndPaint(HWND, const PAINTSTRUCT* lpPaint) {
    if (!lpPaint) return FALSE;
    DeleteDC(lpPaint->hdc);
    return TRUE;
}

// ---- MFC wrappers ---------------------------------------------------------------------------------------

namespace {
template <class T> struct Temporary : T {
    ~Temporary() override { this->m_hObject = nullptr; }
};
template <class T, class H> T* TemporaryFor(H h) {
    // Wrappers that do not own their handle, kept for the life of the process (handles are few).
    static std::map<H, std::unique_ptr<T>> map;
    if (!h) return nullptr;
    auto& p = map[h];
    if (!p) p = std::make_unique<Temporary<T>>();
    p->m_hObject = h;
    return p.get();
}
} // namespace

CFont* CFont::FromHandle(HFONT h) {
    return TemporaryFor<CFont>(h);
}
CBitmap* CBitmap::FromHandle(HBITMAP h) {
    return TemporaryFor<CBitmap>(h);
}
CBrush* CBrush::FromHandle(HBRUSH h) {
    return TemporaryFor<CBrush>(h);
}

BOOL CBitmap::LoadBitmap(UINT nIDResource) {
    return Attach(::LoadBitmapW(nullptr, MAKEINTRESOURCE(nIDResource)));
}

CDC::~CDC() {
    DeleteDC();
}

BOOL CDC::DeleteDC() {
    if (!m_hDC) return FALSE;
    return ::DeleteDC(Detach());
}

CDC* CDC::FromHandle(HDC h) {
    // A temporary never deletes the context it wraps.
    struct TemporaryDC : CDC {
        ~TemporaryDC() override { m_hDC = nullptr; }
    };
    static std::map<HDC, std::unique_ptr<CDC>> map;
    if (!h) return nullptr;
    auto& p = map[h];
    if (!p) p = std::make_unique<TemporaryDC>();
    p->m_hDC = h;
    return p.get();
}

CFont* CDC::SelectObject(CFont* pFont) {
    return CFont::FromHandle(::SelectObject(m_hDC, pFont ? pFont->m_hObject : nullptr));
}

CBitmap* CDC::SelectObject(CBitmap* pBitmap) {
    return CBitmap::FromHandle(::SelectObject(m_hDC, pBitmap ? pBitmap->m_hObject : nullptr));
}

CGdiObject* CDC::SelectStockObject(int nIndex) {
    HGDIOBJ previous = ::SelectObject(m_hDC, GetStockObject(nIndex));
    return previous && previous->type == GdiObject::Font
               ? static_cast<CGdiObject*>(CFont::FromHandle(previous))
               : static_cast<CGdiObject*>(CBrush::FromHandle(previous));
}

SIZE CDC::GetTextExtent(const CString& s) const {
    SIZE size{0, 0};
    GetTextExtentPoint32W(m_hDC, s.GetString(), s.GetLength(), &size);
    return size;
}

void CDC::FillSolidRect(const RECT* r, COLORREF c) {
    if (m_hDC && m_hDC->painter && r) m_hDC->painter->fillRect(ToQRect(*r), ToQColor(c));
}

CPaintDC::CPaintDC(CWnd* pWnd) : m_hWnd(pWnd ? pWnd->m_hWnd : nullptr) {
    Attach(BeginPaint(m_hWnd, &m_ps));
}

CPaintDC::~CPaintDC() {
    EndPaint(m_hWnd, &m_ps);
    Detach();
}

CClientDC::CClientDC(CWnd* pWnd) : m_hWnd(pWnd ? pWnd->m_hWnd : nullptr) {
    Attach(::GetDC(m_hWnd));
}

CClientDC::~CClientDC() {
    ::ReleaseDC(m_hWnd, Detach());
}
