// The tooltip control on Qt's own tooltip: the window keeps the tools and watches the relayed
// mouse messages; when the pointer has rested over a tool for a moment, QToolTip shows its text
// and hides it again as soon as the pointer leaves the tool.
#include "platform/tooltip.h"

#include <QToolTip>

#include "platform/src/internal.h"

using namespace afx;

namespace afx {

namespace {

// How long the pointer rests over a tool before its tip shows (the double-click time on Windows).
constexpr int kInitialDelayMs = 500;

struct Tool {
    UINT flags;
    HWND hwnd;
    UINT_PTR id;
    RECT rect;
    CString text;
};

// The tooltip's window: never on screen itself (QToolTip shows the tip), a child of its owner so
// that it goes when the owner goes.
class ToolTipWindow : public QWidget {
public:
    explicit ToolTipWindow(QWidget* owner) : QWidget(owner) {
        hide();
        wait.setSingleShot(true);
        QObject::connect(&wait, &QTimer::timeout, this, [this] { Show(); });
    }

    std::vector<Tool> tools;
    QTimer wait;
    int current = -1; // the tool the pointer is over, if any
    bool active = true;
    bool showing = false;

    int Find(HWND hwnd, UINT_PTR id) const {
        for (size_t i = 0; i < tools.size(); ++i)
            if (tools[i].hwnd == hwnd && tools[i].id == id) return static_cast<int>(i);
        return -1;
    }

    static HWND WindowOf(const Tool& tool) {
        return (tool.flags & TTF_IDISHWND) ? reinterpret_cast<HWND>(tool.id) : tool.hwnd;
    }

    static RECT RectOf(const Tool& tool) {
        RECT r = tool.rect;
        if (tool.flags & TTF_IDISHWND) ::GetClientRect(WindowOf(tool), &r);
        return r;
    }

    void Show() {
        if (!active || current < 0 || current >= static_cast<int>(tools.size())) return;
        const Tool& tool = tools[static_cast<size_t>(current)];
        HWND window = WindowOf(tool);
        if (!IsWindow(window) || tool.text.IsEmpty()) return;
        QWidget* w = window->widget;
        const QRect area = ToQRect(RectOf(tool));
        const QPoint pointer = QCursor::pos();
        // Only where the pointer still rests over the tool.
        if (!area.contains(w->mapFromGlobal(pointer))) return;
        QToolTip::showText(pointer, ToQ(tool.text), w, area);
        showing = true;
    }

    void Hide() {
        wait.stop();
        if (showing && QToolTip::isVisible()) QToolTip::hideText();
        showing = false;
    }

    void Relay(const MSG& msg) {
        switch (msg.message) {
        case WM_MOUSEMOVE: {
            const POINT pt{GET_X_LPARAM(msg.lParam), GET_Y_LPARAM(msg.lParam)};
            int hit = -1;
            for (size_t i = 0; i < tools.size(); ++i) {
                const RECT r = RectOf(tools[i]);
                if (WindowOf(tools[i]) == msg.hwnd && PtInRect(&r, pt)) {
                    hit = static_cast<int>(i);
                    break;
                }
            }
            if (hit == current) return;
            Hide();
            current = hit;
            if (hit >= 0 && active) wait.start(kInitialDelayMs);
            return;
        }
        case WM_LBUTTONDOWN:
        case WM_LBUTTONUP:
        case WM_RBUTTONDOWN:
        case WM_RBUTTONUP:
            // A click puts the tip away; it comes back when the pointer next rests over a tool.
            Hide();
            current = -1;
            return;
        default:
            return;
        }
    }
};

ToolTipWindow* TipOf(HWND h) {
    return IsWindow(h) ? dynamic_cast<ToolTipWindow*>(h->widget.data()) : nullptr;
}

} // namespace

LRESULT ToolTipProc(HWND h, UINT msg, WPARAM wParam, LPARAM lParam) {
    ToolTipWindow* tip = TipOf(h);
    if (!tip) return 0;
    auto* info = reinterpret_cast<TOOLINFOW*>(lParam);
    switch (msg) {
    case TTM_ADDTOOLW: {
        if (!info || info->cbSize < offsetof(TOOLINFOW, lParam)) return FALSE;
        // A text callback (LPSTR_TEXTCALLBACK, -1) is not offered: such a tool has no text.
        const bool callback = reinterpret_cast<INT_PTR>(info->lpszText) == -1;
        tip->tools.push_back(
            {info->uFlags, info->hwnd, info->uId, info->rect, CString(callback ? nullptr : info->lpszText)});
        return TRUE;
    }
    case TTM_DELTOOLW: {
        if (!info) return 0;
        const int i = tip->Find(info->hwnd, info->uId);
        if (i < 0) return 0;
        if (i == tip->current) tip->Hide();
        tip->tools.erase(tip->tools.begin() + i);
        tip->current = -1;
        return 0;
    }
    case TTM_UPDATETIPTEXTW: {
        if (!info) return 0;
        const int i = tip->Find(info->hwnd, info->uId);
        if (i < 0) return 0;
        tip->tools[static_cast<size_t>(i)].text = CString(info->lpszText);
        if (tip->showing && i == tip->current) tip->Show();
        return 0;
    }
    case TTM_GETTEXTW: {
        if (!info || !info->lpszText || wParam == 0) return 0;
        const int i = tip->Find(info->hwnd, info->uId);
        const CString text = i < 0 ? CString() : tip->tools[static_cast<size_t>(i)].text;
        const int n = std::min(text.GetLength(), static_cast<int>(wParam) - 1);
        std::copy(text.GetString(), text.GetString() + n, info->lpszText);
        info->lpszText[n] = 0;
        return n;
    }
    case TTM_GETTOOLCOUNT:
        return static_cast<LRESULT>(tip->tools.size());
    case TTM_ACTIVATE:
        tip->active = wParam != 0;
        if (!tip->active) tip->Hide();
        return 0;
    case TTM_POP:
        tip->Hide();
        return 0;
    case TTM_RELAYEVENT:
        if (auto* m = reinterpret_cast<const MSG*>(lParam)) tip->Relay(*m);
        return 0;
    case WM_DESTROY:
        tip->Hide();
        return 0;
    default:
        return 0;
    }
}

} // namespace afx

// ---- CToolTipCtrl -------------------------------------------------------------------------------------

IMPLEMENT_DYNAMIC(CToolTipCtrl, CWnd)

BOOL CToolTipCtrl::Create(CWnd* pParentWnd, DWORD dwStyle) {
    if (m_hWnd) return FALSE;
    HWND owner = pParentWnd ? pParentWnd->m_hWnd : nullptr;
    auto* w = new ToolTipWindow(IsWindow(owner) ? owner->widget.data() : nullptr);
    HWND h = NewWindowHandle(w, Kind::ToolTip, CString(u"tooltips_class32"), 0, WS_POPUP | dwStyle, 0, owner);
    return Attach(h);
}

BOOL CToolTipCtrl::AddTool(CWnd* pWnd, LPCWSTR lpszText, LPCRECT lpRectTool, UINT_PTR nIDTool) {
    if (!pWnd || !pWnd->m_hWnd) return FALSE;
    TOOLINFOW ti{};
    ti.cbSize = sizeof ti;
    if (nIDTool == 0) {
        ti.uFlags = TTF_IDISHWND;
        ti.hwnd = ::GetParent(pWnd->m_hWnd);
        ti.uId = reinterpret_cast<UINT_PTR>(pWnd->m_hWnd);
    } else {
        ti.hwnd = pWnd->m_hWnd;
        ti.uId = nIDTool;
        if (lpRectTool)
            ti.rect = *lpRectTool;
        else
            pWnd->GetClientRect(&ti.rect);
    }
    ti.lpszText = const_cast<LPWSTR>(lpszText);
    return static_cast<BOOL>(SendMessage(TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&ti)));
}

namespace {
TOOLINFOW ToolFor(CWnd* pWnd, UINT_PTR nIDTool) {
    TOOLINFOW ti{};
    ti.cbSize = sizeof ti;
    HWND h = pWnd ? pWnd->m_hWnd : nullptr;
    if (nIDTool == 0) {
        ti.hwnd = ::GetParent(h);
        ti.uId = reinterpret_cast<UINT_PTR>(h);
    } else {
        ti.hwnd = h;
        ti.uId = nIDTool;
    }
    return ti;
}
} // namespace

void CToolTipCtrl::DelTool(CWnd* pWnd, UINT_PTR nIDTool) {
    TOOLINFOW ti = ToolFor(pWnd, nIDTool);
    SendMessage(TTM_DELTOOLW, 0, reinterpret_cast<LPARAM>(&ti));
}

void CToolTipCtrl::UpdateTipText(LPCWSTR lpszText, CWnd* pWnd, UINT_PTR nIDTool) {
    TOOLINFOW ti = ToolFor(pWnd, nIDTool);
    ti.lpszText = const_cast<LPWSTR>(lpszText);
    SendMessage(TTM_UPDATETIPTEXTW, 0, reinterpret_cast<LPARAM>(&ti));
}

void CToolTipCtrl::GetText(CString& str, CWnd* pWnd, UINT_PTR nIDTool) const {
    TOOLINFOW ti = ToolFor(pWnd, nIDTool);
    std::vector<WCHAR> buffer(1024, 0);
    ti.lpszText = buffer.data();
    SendMessage(TTM_GETTEXTW, buffer.size(), reinterpret_cast<LPARAM>(&ti));
    str = CString(buffer.data());
}

int CToolTipCtrl::GetToolCount() const {
    return static_cast<int>(SendMessage(TTM_GETTOOLCOUNT));
}

void CToolTipCtrl::Activate(BOOL bActivate) {
    SendMessage(TTM_ACTIVATE, static_cast<WPARAM>(bActivate));
}

void CToolTipCtrl::Pop() {
    SendMessage(TTM_POP);
}

void CToolTipCtrl::RelayEvent(LPMSG lpMsg) {
    SendMessage(TTM_RELAYEVENT, 0, reinterpret_cast<LPARAM>(lpMsg));
}
