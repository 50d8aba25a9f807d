#include "export/MakeCsvFile.h"

namespace {
const WCHAR kCreateFailed[] = u"Unable to create .csv file";
const WCHAR kWriteFailed[] = u"Unable to write to .csv file";
const WCHAR kCloseFailed[] = u"Unable to close .csv file";
} // namespace

CMakeCsvFile::CMakeCsvFile() = default;

CMakeCsvFile::~CMakeCsvFile() = default;

BOOL CMakeCsvFile::CreateCsvFile(CString path) {
    if (path.Find(u".csv") == -1) path += u".csv";
    if (!m_fileCsv.Open(path, CFile::modeCreate | CFile::modeReadWrite)) {
        m_strErrorMessage = kCreateFailed;
        return FALSE;
    }
    return TRUE;
}

BOOL CMakeCsvFile::WriteFileHeader(CString software, CString creationDate) {
    const CString header =
        u"SOFTWARE    :" + software + u"\n" + u"Creation Date\\Time   :" + creationDate + u"\n";
    try {
        m_fileCsv.WriteString(header);
    } catch (...) {
        m_strErrorMessage = kWriteFailed;
        return FALSE;
    }
    return TRUE;
}

namespace {

// A field and what follows it, in a buffer that keeps its room from one field to the next.
void SetField(CString& field, const CString& text, bool last) {
    std::u16string& s = field.str();
    s.assign(text.str());
    s += last ? u'\n' : u',';
}

} // namespace

BOOL CMakeCsvFile::WriteColumnHeadings(const CStringArray& headings) {
    // Deliberately outside the guard: a failing seek is not a write error and reaches the caller.
    m_fileCsv.SeekToEnd();
    try {
        const int n = headings.GetSize();
        CString field;
        for (int i = 0; i < n; ++i) {
            SetField(field, headings[i], i == n - 1);
            m_fileCsv.WriteString(field);
        }
    } catch (...) {
        m_strErrorMessage = kWriteFailed;
        return FALSE;
    }
    return TRUE;
}

BOOL CMakeCsvFile::WriteRow(const CStringArray& cells, int columnCount) {
    m_nColumnCount = columnCount;
    m_fileCsv.SeekToEnd();
    try {
        CString field;
        for (int i = 0; i < m_nColumnCount; ++i) {
            if (i >= cells.GetSize()) {
                m_strErrorMessage = kWriteFailed;
                return FALSE;
            }
            SetField(field, cells[i], i == m_nColumnCount - 1);
            m_fileCsv.WriteString(field);
        }
    } catch (...) {
        m_strErrorMessage = kWriteFailed;
        return FALSE;
    }
    return TRUE;
}

BOOL CMakeCsvFile::CloseCsvFile() {
    try {
        m_fileCsv.Close();
    } catch (...) {
        m_strErrorMessage = kCloseFailed;
        return FALSE;
    }
    return TRUE;
}

CString CMakeCsvFile::GetErrorMessage() {
    return m_strErrorMessage;
}
