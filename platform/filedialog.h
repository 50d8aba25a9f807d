// The Open/Save dialog in the shape of MFC's CFileDialog.
#pragma once

#include "platform/mfc.h"

constexpr DWORD OFN_READONLY = 0x00000001;
constexpr DWORD OFN_OVERWRITEPROMPT = 0x00000002;
constexpr DWORD OFN_HIDEREADONLY = 0x00000004;
constexpr DWORD OFN_NOCHANGEDIR = 0x00000008;
constexpr DWORD OFN_PATHMUSTEXIST = 0x00000800;
constexpr DWORD OFN_FILEMUSTEXIST = 0x00001000;
constexpr DWORD OFN_LONGNAMES = 0x00200000;
constexpr DWORD OFN_ENABLESIZING = 0x00800000;

struct OPENFILENAMEW {
    LPCWSTR lpstrTitle;
    DWORD Flags;
    LPCWSTR lpstrDefExt;
    LPCWSTR lpstrInitialDir;
};

// What a file dialog asks the person: handed to the seam that answers it.
struct CFileDialogRequest {
    bool bSave;
    CString strTitle;
    // Filter entries as (description, pattern) pairs, in order.
    std::vector<std::pair<CString, CString>> filters;
    CString strDefExt;
    CString strInitialName;
    DWORD dwFlags;
};

class CFileDialog {
public:
    // lpszFilter is "description|pattern|description|pattern||".
    CFileDialog(BOOL bOpenFileDialog, LPCWSTR lpszDefExt = nullptr, LPCWSTR lpszFileName = nullptr,
                DWORD dwFlags = OFN_HIDEREADONLY | OFN_OVERWRITEPROMPT, LPCWSTR lpszFilter = nullptr,
                CWnd* pParentWnd = nullptr);
    virtual ~CFileDialog() = default;
    virtual INT_PTR DoModal();

    // The chosen file: its full path, its name without the folder, its extension without the dot.
    CString GetPathName() const { return m_strPath; }
    CString GetFileName() const;
    CString GetFileExt() const;

    OPENFILENAMEW m_ofn{};

private:
    BOOL m_bOpenFileDialog;
    CString m_strDefExt;
    CString m_strFileName;
    CString m_strFilter;
    CWnd* m_pParentWnd;
    CString m_strPath;
};
