// The writer of the CSV export: a two-line header block, a heading row and one line per data row,
// one byte per character (ISO 8859-1), CR LF line ends, fields written as they are (no quoting).
//
// Every operation answers TRUE or FALSE; after a FALSE, GetErrorMessage tells the user what went
// wrong. What was written before a failure stays in the file.
#pragma once

#include "platform/cstring.h"
#include "platform/stdiofile.h"

class CMakeCsvFile {
public:
    CMakeCsvFile();
    virtual ~CMakeCsvFile();

    // Appends ".csv" unless the path already contains it (case-sensitive, anywhere), then creates
    // the file or empties an existing one, held exclusively while open.
    BOOL CreateCsvFile(CString path);
    // "SOFTWARE    :" + software and "Creation Date\Time   :" + creationDate, each as one line.
    BOOL WriteFileHeader(CString software, CString creationDate);
    // The headings joined by "," and a line end; nothing at all for an empty array.
    BOOL WriteColumnHeadings(const CStringArray& headings);
    // The first columnCount cells joined by "," and a line end. Fewer cells than columnCount fails
    // once the cells run out, after writing those there are (each followed by ","). A count of 0 or
    // less writes nothing.
    BOOL WriteRow(const CStringArray& cells, int columnCount);
    BOOL CloseCsvFile();
    CString GetErrorMessage();

private:
    CStdioFile m_fileCsv;
    int m_nColumnCount = 0;
    CString m_strErrorMessage;
};
