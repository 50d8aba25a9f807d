// The application object, start-up, resources and message boxes.
#include <QApplication>
#include <QDesktopServices>
#include <QMessageBox>
#include <QStyleFactory>
#include <QUrl>
#include <set>

#include "platform/seams.h"
#include "platform/src/internal.h"

using namespace afx;

namespace afx {

namespace {
const AFX_RESOURCE_TABLE* g_resources = nullptr;
CWinApp* g_app = nullptr;
CString g_appName;
std::set<std::pair<char, WORD>> g_hidden;
} // namespace

const AFX_RESOURCE_TABLE* Resources() {
    return g_resources;
}
void SetResources(const AFX_RESOURCE_TABLE* table) {
    g_resources = table;
}

const AFX_DLGTEMPLATE* FindDialogTemplate(UINT id) {
    if (!g_resources || IsResourceHidden('D', static_cast<WORD>(id))) return nullptr;
    for (int i = 0; i < g_resources->nDialogs; ++i)
        if (g_resources->pDialogs[i].nID == id) return &g_resources->pDialogs[i];
    return nullptr;
}

bool IsResourceHidden(char kind, WORD id) {
    return g_hidden.count({kind, id}) != 0;
}

void HideResource(char kind, WORD id, bool hidden) {
    if (hidden)
        g_hidden.insert({kind, id});
    else
        g_hidden.erase({kind, id});
}

void PrepareApplication(int argc, char** argv) {
    static int s_argc = 1;
    static char s_name[] = "brevonix";
    static char* s_argv[] = {s_name, nullptr};
    if (!qApp) {
        if (argc > 0 && argv) {
            s_argc = argc;
            // QApplication keeps references to argc and argv for its whole life.
            static std::vector<char*> kept(argv, argv + argc);
            kept.push_back(nullptr);
            new QApplication(s_argc, kept.data());
        } else {
            new QApplication(s_argc, s_argv);
        }
        // One look on every desktop, close to the classic dialog look the templates were laid out for.
        QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
        QPalette pal = QApplication::palette();
        pal.setColor(QPalette::Window, FaceColor());
        pal.setColor(QPalette::Button, FaceColor());
        QApplication::setPalette(pal);
    }
    // The application's name is the executable's file name without its extension.
    QString exe = QCoreApplication::applicationFilePath();
    if (exe.isEmpty() && argc > 0 && argv) exe = QString::fromLocal8Bit(argv[0]);
    QString base = exe.section(QLatin1Char('/'), -1);
    if (const int dot = base.lastIndexOf(QLatin1Char('.')); dot > 0) base.truncate(dot);
    g_appName = FromQ(base.isEmpty() ? QStringLiteral("brevonix") : base);
    InstallKeyboardFilter();
}

} // namespace afx

// ---- seams ------------------------------------------------------------------------------------------

int CUserSeam::MessageBox(HWND hOwner, const CString& text, const CString& caption, UINT nType) {
    QMessageBox box(IsWindow(hOwner) ? hOwner->widget->window() : QApplication::activeWindow());
    box.setWindowTitle(ToQ(caption));
    box.setText(ToQ(text));
    switch (nType & MB_ICONMASK) {
    case MB_ICONERROR:
        box.setIcon(QMessageBox::Critical);
        break;
    case MB_ICONQUESTION:
        box.setIcon(QMessageBox::Question);
        break;
    case MB_ICONEXCLAMATION:
        box.setIcon(QMessageBox::Warning);
        break;
    case MB_ICONINFORMATION:
        box.setIcon(QMessageBox::Information);
        break;
    default:
        box.setIcon(QMessageBox::NoIcon);
        break;
    }
    switch (nType & MB_TYPEMASK) {
    case MB_OKCANCEL:
        box.setStandardButtons(QMessageBox::Ok | QMessageBox::Cancel);
        break;
    case MB_YESNO:
        box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
        break;
    default:
        box.setStandardButtons(QMessageBox::Ok);
        break;
    }
    switch (box.exec()) {
    case QMessageBox::Cancel:
        return IDCANCEL;
    case QMessageBox::Yes:
        return IDYES;
    case QMessageBox::No:
        return IDNO;
    default:
        return IDOK;
    }
}

// OpenLink and RunCommandLine live with the shell (shell.cpp).

namespace {
CUserSeam& RealSeam() {
    static CUserSeam seam;
    return seam;
}
CUserSeam* g_seam = nullptr;
} // namespace

CUserSeam* AfxSetUserSeam(CUserSeam* pSeam) {
    CUserSeam* previous = AfxGetUserSeam();
    g_seam = pSeam;
    return previous;
}

CUserSeam* AfxGetUserSeam() {
    return g_seam ? g_seam : &RealSeam();
}

// ---- application ------------------------------------------------------------------------------------

IMPLEMENT_DYNAMIC(CWinApp, CCmdTarget)

BEGIN_MESSAGE_MAP(CWinApp, CCmdTarget)
END_MESSAGE_MAP()

CWinApp::CWinApp(LPCWSTR lpszAppName) {
    if (lpszAppName) {
        m_strAppName = lpszAppName;
        m_pszAppName = m_strAppName.GetString();
    }
    g_app = this;
}

CWinApp::~CWinApp() {
    if (g_app == this) g_app = nullptr;
}

BOOL CWinApp::InitInstance() {
    return TRUE;
}

void CWinApp::SetRegistryKey(LPCWSTR lpszRegistryKey) {
    // Remembered as the application asked; nothing is ever stored under it.
    m_strRegistryKey = lpszRegistryKey;
    m_pszRegistryKey = m_strRegistryKey.GetString();
}

HICON CWinApp::LoadIcon(UINT nIDResource) const {
    return LoadIconW(m_hInstance, MAKEINTRESOURCE(nIDResource));
}

HCURSOR CWinApp::LoadStandardCursor(LPCWSTR lpszCursorName) const {
    return LoadCursorW(nullptr, lpszCursorName);
}

void CWinApp::OnHelp() {
    // The tool has no help file; the command is accepted and does nothing.
}

CWinApp* AfxGetApp() {
    return g_app;
}

const WCHAR* AfxGetAppName() {
    if (g_app && g_app->m_pszAppName) return g_app->m_pszAppName;
    return g_appName.GetString();
}

HINSTANCE AfxGetResourceHandle() {
    return nullptr;
}
HINSTANCE AfxGetInstanceHandle() {
    return nullptr;
}
CWnd* AfxGetMainWnd() {
    return g_app ? g_app->m_pMainWnd : nullptr;
}
void AfxEnableControlContainer() {}

int AfxMessageBox(LPCWSTR lpszText, UINT nType, UINT) {
    CWnd* main = AfxGetMainWnd();
    HWND owner = main ? main->GetSafeHwnd() : nullptr;
    if (QWidget* modal = QApplication::activeModalWidget()) owner = HandleOf(modal);
    return AfxGetUserSeam()->MessageBox(owner, CString(lpszText), CString(AfxGetAppName()), nType);
}

int AfxMessageBox(UINT nIDPrompt, UINT nType, UINT nIDHelp) {
    WCHAR buf[1024];
    const int n = LoadStringW(nullptr, nIDPrompt, buf, 1024);
    return AfxMessageBox(n > 0 ? buf : u"", nType, nIDHelp);
}

void AfxWinInit(int argc, char** argv, const AFX_RESOURCE_TABLE* resources) {
    PrepareApplication(argc, argv);
    SetResources(resources);
    if (g_app && !g_app->m_pszAppName) g_app->m_pszAppName = g_appName.GetString();
}

int AfxWinMain(int argc, char** argv, const AFX_RESOURCE_TABLE* resources) {
    AfxWinInit(argc, argv, resources);
    if (!g_app) return 1;
    if (!g_app->InitInstance()) {
        // The application ran its window inside InitInstance and is done.
        return g_app->ExitInstance();
    }
    const int code = QApplication::exec();
    g_app->ExitInstance();
    return code;
}

int LoadStringW(HINSTANCE, UINT uID, LPWSTR lpBuffer, int cchBufferMax) {
    const AFX_RESOURCE_TABLE* r = Resources();
    if (!r || !lpBuffer || cchBufferMax <= 0 || IsResourceHidden('S', static_cast<WORD>(uID))) return 0;
    for (int i = 0; i < r->nStrings; ++i) {
        if (r->pStrings[i].nID != uID) continue;
        std::u16string_view text(r->pStrings[i].lpszText);
        const int n = std::min<int>(static_cast<int>(text.size()), cchBufferMax - 1);
        std::copy(text.begin(), text.begin() + n, lpBuffer);
        lpBuffer[n] = 0;
        return n;
    }
    lpBuffer[0] = 0;
    return 0;
}

HICON LoadIconW(HINSTANCE, LPCWSTR lpIconName) {
    if (!IS_INTRESOURCE(lpIconName)) return nullptr;
    const auto id = static_cast<WORD>(reinterpret_cast<ULONG_PTR>(lpIconName));
    // Icons from resources are shared and live as long as the process.
    static auto* cache = new std::map<WORD, HICON>;
    if (IsResourceHidden('I', id)) return nullptr;
    auto it = cache->find(id);
    if (it != cache->end()) return it->second;
    HICON icon = LoadIconResource(id);
    if (icon) (*cache)[id] = icon;
    return icon;
}
