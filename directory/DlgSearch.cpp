// The Generate command: one search, one row per object.
#include <vector>

#include "app/AttributeCatalogue.h"
#include "app/VexlorDlg.h"
#include "directory/FormatAttributeValues.h"
#include "directory/cell_text.h"
#include "res/resource.h"

namespace {

// The directory's own reason for the last failure, or the code when it gave none.
CString LastDirectoryError(HRESULT hr) {
    DWORD code = 0;
    WCHAR text[1024] = {};
    WCHAR provider[256] = {};
    ADsGetLastError(&code, text, 1024, provider, 256);
    CString reason(text);
    if (reason.IsEmpty()) reason.Format(u"Error 0x%08X.", static_cast<unsigned>(hr));
    return reason;
}

void ShowSearchFailed(HRESULT hr) {
    AfxMessageBox(CString(u"The search failed.\n\n") + LastDirectoryError(hr), MB_ICONERROR);
}

// What a cell shows when its text would be empty.
constexpr const WCHAR* kEmptyCellMark = u"-";

} // namespace

void CVexlorDlg::OnGenerate() {
    CString strDomain;
    m_edtDomain.GetWindowText(strDomain);
    m_lstResult.DeleteAllItems();
    SetDlgItemText(IDC_STC_COUNT, u"0");
    if (strDomain.IsEmpty()) {
        AfxMessageBox(u"Enter all credentials.", MB_ICONINFORMATION);
        return;
    }
    IDirectorySearch* pSearch = OpenDirectorySearch();
    if (!pSearch) return;
    CStringArray arrHeadings;
    GetColumnHeadings(arrHeadings);
    FillResultList(pSearch, arrHeadings);
    pSearch->Release();
}

void CVexlorDlg::GetColumnHeadings(CStringArray& arrHeadings) {
    CHeaderCtrl* pHeader = m_lstResult.GetHeaderCtrl();
    if (!pHeader) return;
    const int nCount = pHeader->GetItemCount();
    for (int i = 0; i < nCount; ++i) {
        WCHAR szText[256] = {};
        HDITEM item{};
        item.mask = HDI_TEXT;
        item.pszText = szText;
        item.cchTextMax = 256;
        // A heading that cannot be read stays in its place, empty: the cells are matched to the
        // headings by position.
        pHeader->GetItem(i, &item);
        arrHeadings.Add(szText);
    }
}

void CVexlorDlg::FillResultList(IDirectorySearch* pSearch, const CStringArray& arrHeadings) {
    LockWindowUpdate();
    HCURSOR hWait = LoadCursorW(nullptr, IDC_WAIT);
    HCURSOR hArrow = LoadCursorW(nullptr, IDC_ARROW);

    ADS_SEARCHPREF_INFO prefs[5];
    prefs[0].dwSearchPref = ADS_SEARCHPREF_TIMEOUT;
    prefs[0].vValue.dwType = ADSTYPE_INTEGER;
    prefs[0].vValue.Integer = 120;
    prefs[1].dwSearchPref = ADS_SEARCHPREF_SEARCH_SCOPE;
    prefs[1].vValue.dwType = ADSTYPE_INTEGER;
    prefs[1].vValue.Integer = ADS_SCOPE_SUBTREE;
    prefs[2].dwSearchPref = ADS_SEARCHPREF_PAGESIZE;
    prefs[2].vValue.dwType = ADSTYPE_INTEGER;
    prefs[2].vValue.Integer = 100000000;
    prefs[3].dwSearchPref = ADS_SEARCHPREF_CACHE_RESULTS;
    prefs[3].vValue.dwType = ADSTYPE_BOOLEAN;
    prefs[3].vValue.Boolean = TRUE;
    prefs[4].dwSearchPref = ADS_SEARCHPREF_ASYNCHRONOUS;
    prefs[4].vValue.dwType = ADSTYPE_BOOLEAN;
    prefs[4].vValue.Boolean = TRUE;
    HRESULT hr = pSearch->SetSearchPreference(prefs, 5);
    if (hr != S_OK) {
        UnlockWindowUpdate();
        ShowSearchFailed(hr);
        return;
    }

    CString strFilter;
    m_edtQuery.GetWindowText(strFilter);
    ::SetCursor(hWait);

    LPWSTR pszAttributes[] = {const_cast<LPWSTR>(u"*")};
    ADS_SEARCH_HANDLE hSearch = nullptr;
    hr = pSearch->ExecuteSearch(strFilter.GetBuffer(strFilter.GetLength()), pszAttributes, 1, &hSearch);
    if (hr != S_OK) {
        ::SetCursor(hArrow);
        UnlockWindowUpdate();
        ShowSearchFailed(hr);
        return;
    }

    hr = pSearch->GetFirstRow(hSearch);
    if (hr != S_OK) {
        ::SetCursor(hArrow);
        UnlockWindowUpdate();
        pSearch->CloseSearchHandle(hSearch);
        if (hr == S_ADS_NOMORE_ROWS)
            AfxMessageBox(u"No such objects found.", MB_ICONWARNING);
        else
            ShowSearchFailed(hr);
        return;
    }

    const int nColumns = arrHeadings.GetSize();
    // The headings do not change during the search: look each one up once.
    std::vector<LPCWSTR> attributes(static_cast<size_t>(nColumns));
    for (int j = 0; j < nColumns; ++j)
        attributes[static_cast<size_t>(j)] = LookupAttributeName(arrHeadings[j]);

    int nObjects = 0;
    int nRow = 0;
    CString strText;
    for (;;) {
        ++nObjects;
        ::SetCursor(hWait);
        for (int j = 0; j < nColumns; ++j) {
            strText.Empty();
            ADS_SEARCH_COLUMN column;
            const LPCWSTR pszAttribute = attributes[static_cast<size_t>(j)];
            if (pszAttribute &&
                pSearch->GetColumn(hSearch, const_cast<LPWSTR>(pszAttribute), &column) == S_OK) {
                strText = FormatAttributeValues(column.pADsValues, column.dwNumValues);
                RemoveLineBreaksAndCommas(strText);
                pSearch->FreeColumn(&column);
            }
            const LPCWSTR pszCell = strText.IsEmpty() ? kEmptyCellMark : strText.GetString();
            if (j == 0)
                m_lstResult.InsertItem(nRow, pszCell);
            else
                m_lstResult.SetItemText(nRow, j, pszCell);
        }
        ++nRow;
        hr = pSearch->GetNextRow(hSearch);
        if (hr != S_OK) break;
    }

    UnlockWindowUpdate();
    CString strCount;
    strCount.Format(u"%d", nObjects);
    SetDlgItemText(IDC_STC_COUNT, strCount);
    ::SetCursor(hArrow);
    pSearch->CloseSearchHandle(hSearch);

    if (hr != S_ADS_NOMORE_ROWS) {
        // Whatever was listed stays, but a partial list must never pass for the whole result.
        CString strWarning;
        strWarning.Format(u"The list is incomplete: the search stopped after %d objects.\n\n", nObjects);
        AfxMessageBox(strWarning + LastDirectoryError(hr), MB_ICONWARNING);
    }
}
