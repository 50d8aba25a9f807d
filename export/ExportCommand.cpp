// The export link: the Save dialog, then the list as shown into a CSV file.
#include <ctime>

#include "app/VexlorDlg.h"
#include "export/MakeCsvFile.h"
#include "platform/filedialog.h"

namespace {

// Now, in local time, as "dd/mm/yyyy hh:mm:ss"; empty when the time cannot be had.
CString CreationDate() {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    char buffer[128];
    if (!localtime_r(&now, &local) || std::strftime(buffer, sizeof buffer, "%d/%m/%Y %H:%M:%S", &local) == 0)
        return CString();
    return CString::FromUtf8(buffer);
}

} // namespace

void CVexlorDlg::OnGenerateCsv() {
    // The dialog's only filter is for CSV files, so a name typed without an extension is a CSV file.
    CFileDialog dlg(FALSE, u"csv", nullptr,
                    OFN_OVERWRITEPROMPT | OFN_PATHMUSTEXIST | OFN_LONGNAMES | OFN_ENABLESIZING,
                    u"csv Files (*.csv)|*.csv||", nullptr);
    dlg.m_ofn.lpstrTitle = u"Save as";
    if (dlg.DoModal() != IDOK) return;
    if (dlg.GetFileExt() != CString(u"csv")) {
        // Saving nothing without a word would look like a successful export.
        AfxMessageBox(u"The export is saved only to a file whose name ends in \".csv\".", MB_ICONINFORMATION);
        return;
    }
    ExportToCsv(dlg.GetPathName());
}

void CVexlorDlg::ExportToCsv(CString strFileName) {
    CMakeCsvFile csv;
    // After the first failure nothing more is written, but the file is still closed.
    auto report = [&csv](BOOL ok) {
        if (!ok) AfxMessageBox(csv.GetErrorMessage(), MB_OK);
        return ok;
    };

    if (report(csv.CreateCsvFile(strFileName)) && report(csv.WriteFileHeader(u"Talmore", CreationDate()))) {
        CStringArray arrHeadings;
        GetColumnHeadings(arrHeadings);
        CHeaderCtrl* pHeader = m_lstResult.GetHeaderCtrl();
        const int nRows = m_lstResult.GetItemCount();
        const int nColumns = pHeader ? pHeader->GetItemCount() : 0;
        if (report(csv.WriteColumnHeadings(arrHeadings))) {
            // One array for every row: each row's cells take the places of the last row's.
            CStringArray arrCells;
            arrCells.SetSize(nColumns);
            for (int r = 0; r < nRows; ++r) {
                for (int c = 0; c < nColumns; ++c)
                    arrCells[c] = m_lstResult.GetItemText(r, c);
                if (!report(csv.WriteRow(arrCells, nColumns))) break;
            }
        }
    }
    report(csv.CloseCsvFile());
}
