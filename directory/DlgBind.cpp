// Finding the domain and binding to its directory: the main window's side.
#include "app/VexlorDlg.h"
#include "res/resource.h"

BOOL CVexlorDlg::GetJoinedDomainName(CString& strDomain) {
    strDomain.Empty();
    LPWSTR pszName = nullptr;
    NETSETUP_JOIN_STATUS status = NetSetupUnknownStatus;
    if (NetGetJoinInformation(nullptr, &pszName, &status) != NERR_Success) return FALSE;
    if (status == NetSetupDomainName) {
        strDomain = pszName;
        NetApiBufferFree(pszName);
        return TRUE;
    }
    NetApiBufferFree(pszName);
    return FALSE;
}

IDirectorySearch* CVexlorDlg::OpenDirectorySearch() {
    HCURSOR hWait = LoadCursorW(nullptr, IDC_WAIT);
    HCURSOR hArrow = LoadCursorW(nullptr, IDC_ARROW);
    ::SetCursor(hWait);

    CoInitialize(nullptr);

    CString strDomain;
    m_edtDomain.GetWindowText(strDomain);

    LPWSTR pszController = nullptr;
    if (NetGetDCName(nullptr, strDomain, reinterpret_cast<BYTE**>(&pszController)) != NERR_Success) {
        ::SetCursor(hArrow);
        AfxMessageBox(u"Invalid domain name.", MB_ICONERROR);
        return nullptr;
    }
    // The controller's name begins with two backslashes.
    const CString strController(pszController);
    const CString strHost = strController.Mid(2);
    const CString strControllerPath = CString(u"LDAP://") + strHost;

    CString strUser;
    CString strPassword;
    GetDlgItemText(IDC_EDT_USER, strUser);
    GetDlgItemText(IDC_EDT_PASSWORD, strPassword);

    const CString strDomainPath = CString(u"LDAP://") + strDomain;

    IDirectorySearch* pSearch = nullptr;
    ::SetCursor(hArrow);
    HRESULT hr;
    if (strUser.IsEmpty() && strPassword.IsEmpty()) {
        // The logged-on user's own credentials.
        hr = ADsOpenObject(strDomainPath, nullptr, nullptr, ADS_SECURE_AUTHENTICATION, IID_IDirectorySearch,
                           reinterpret_cast<void**>(&pSearch));
    } else {
        hr = ADsOpenObject(strControllerPath, strUser, strPassword, ADS_SECURE_AUTHENTICATION,
                           IID_IDirectorySearch, reinterpret_cast<void**>(&pSearch));
    }
    // The typed password is not kept beyond the bind.
    WCHAR* pch = strPassword.GetBuffer(strPassword.GetLength());
    std::fill(pch, pch + strPassword.GetLength(), u'\0');
    strPassword.Empty();
    ::SetCursor(hWait);

    if (hr == S_OK) {
        NetApiBufferFree(pszController);
        ::SetCursor(hArrow);
        return pSearch;
    }
    ::SetCursor(hArrow);
    AfxMessageBox(CString(u"Enter valid credentials of ") + u"\"" + strHost + u"\"", MB_ICONERROR);
    NetApiBufferFree(pszController);
    return nullptr;
}
