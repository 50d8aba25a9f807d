#include "platform/filedialog.h"

#include <QApplication>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>

#include "platform/seams.h"
#include "platform/src/internal.h"

using namespace afx;

CFileDialog::CFileDialog(BOOL bOpenFileDialog, LPCWSTR lpszDefExt, LPCWSTR lpszFileName, DWORD dwFlags,
                         LPCWSTR lpszFilter, CWnd* pParentWnd)
    : m_bOpenFileDialog(bOpenFileDialog), m_strDefExt(lpszDefExt), m_strFileName(lpszFileName),
      m_strFilter(lpszFilter), m_pParentWnd(pParentWnd) {
    m_ofn.Flags = dwFlags;
    m_ofn.lpstrDefExt = m_strDefExt.IsEmpty() ? nullptr : m_strDefExt.GetString();
}

INT_PTR CFileDialog::DoModal() {
    CFileDialogRequest request;
    request.bSave = !m_bOpenFileDialog;
    request.strTitle = CString(m_ofn.lpstrTitle);
    request.strDefExt = CString(m_ofn.lpstrDefExt);
    request.strInitialName = m_strFileName;
    request.dwFlags = m_ofn.Flags;
    // "description|pattern|...||"
    std::vector<CString> parts;
    CString part;
    for (int i = 0; i < m_strFilter.GetLength(); ++i) {
        if (m_strFilter[i] == u'|') {
            parts.push_back(part);
            part.Empty();
        } else {
            part += m_strFilter[i];
        }
    }
    for (size_t i = 0; i + 1 < parts.size(); i += 2)
        if (!parts[i].IsEmpty()) request.filters.emplace_back(parts[i], parts[i + 1]);

    HWND owner = m_pParentWnd ? m_pParentWnd->GetSafeHwnd() : nullptr;
    if (!owner && AfxGetMainWnd()) owner = AfxGetMainWnd()->GetSafeHwnd();
    CString path;
    if (!AfxGetUserSeam()->ChooseFile(owner, request, path) || path.IsEmpty()) return IDCANCEL;
    // A name typed without an extension takes the default one.
    const int slash = path.ReverseFind(u'/');
    const CString name = path.Mid(slash + 1);
    if (name.Find(u'.') < 0 && !request.strDefExt.IsEmpty()) path += CString(u".") + request.strDefExt;
    m_strPath = path;
    return IDOK;
}

CString CFileDialog::GetFileName() const {
    return m_strPath.Mid(m_strPath.ReverseFind(u'/') + 1);
}

CString CFileDialog::GetFileExt() const {
    const CString name = GetFileName();
    const int dot = name.ReverseFind(u'.');
    return dot < 0 ? CString() : name.Mid(dot + 1);
}

bool CUserSeam::ChooseFile(HWND hOwner, const CFileDialogRequest& request, CString& strPath) {
    QWidget* parent = IsWindow(hOwner) ? hOwner->widget->window() : QApplication::activeWindow();
    QFileDialog dialog(parent, ToQ(request.strTitle));
    dialog.setAcceptMode(request.bSave ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
    dialog.setFileMode(request.bSave ? QFileDialog::AnyFile : QFileDialog::ExistingFile);
    QStringList filters;
    for (const auto& [description, pattern] : request.filters) {
        QString d = ToQ(description);
        if (!d.contains(QLatin1Char('(')))
            d += QStringLiteral(" (%1)").arg(ToQ(pattern).replace(QLatin1Char(';'), QLatin1Char(' ')));
        filters << d;
    }
    if (!filters.isEmpty()) dialog.setNameFilters(filters);
    // The default extension goes on before the overwrite question, so the question is about the
    // file that will really be written. Only Qt's own dialog does it in that order: a desktop's
    // native dialog would ask about the name as typed and let "report" replace report.csv unasked.
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    if (!request.strDefExt.IsEmpty()) dialog.setDefaultSuffix(ToQ(request.strDefExt));
    if (!(request.dwFlags & OFN_OVERWRITEPROMPT)) dialog.setOption(QFileDialog::DontConfirmOverwrite);
    if (!request.strInitialName.IsEmpty()) dialog.selectFile(ToQ(request.strInitialName));
    for (;;) {
        if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return false;
        const QString chosen = dialog.selectedFiles().first();
        if ((request.dwFlags & OFN_PATHMUSTEXIST) && !QFileInfo(chosen).absoluteDir().exists()) {
            QMessageBox::warning(&dialog, ToQ(request.strTitle),
                                 QStringLiteral("The folder of %1 does not exist.").arg(chosen));
            continue;
        }
        strPath = FromQ(chosen);
        return true;
    }
}
