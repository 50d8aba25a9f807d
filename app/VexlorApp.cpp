#include "app/VexlorApp.h"

#include "app/VexlorDlg.h"

BEGIN_MESSAGE_MAP(CVexlorApp, CWinApp)
ON_COMMAND(ID_HELP, CWinApp::OnHelp)
END_MESSAGE_MAP()

// No name of its own: the executable's name is the application's name and every message box's caption.
CVexlorApp::CVexlorApp() = default;

BOOL CVexlorApp::InitInstance() {
    INITCOMMONCONTROLSEX controls;
    controls.dwSize = sizeof(controls);
    controls.dwICC = ICC_WIN95_CLASSES;
    InitCommonControlsEx(&controls);

    CWinApp::InitInstance();
    AfxEnableControlContainer();
    SetRegistryKey(u"Local AppWizard-Generated Applications");

    CVexlorDlg dlg;
    m_pMainWnd = &dlg;
    dlg.DoModal();
    m_pMainWnd = nullptr;

    // The dialog has ended: so has the tool.
    return FALSE;
}
