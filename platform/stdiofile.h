// CFile and CStdioFile: the file classes the tool writes its CSV export through.
//
// They keep the MFC shape (open flags, seek origins, exceptions on I/O errors) on top of POSIX
// descriptors. Errors of writes, of the flush of buffered bytes and of closing are all reported, so
// that a full disk is never taken for a finished file. Exceptions are thrown by value; catch them
// by reference.
#pragma once

#include <exception>
#include <string>
#include <vector>

#include "platform/cstring.h"
#include "platform/win32.h"

class CException : public std::exception {
public:
    CException() = default;
    ~CException() override = default;
    const char* what() const noexcept override { return "CException"; }
};

class CFileException : public CException {
public:
    enum {
        none = 0,
        genericException,
        fileNotFound,
        badPath,
        tooManyOpenFiles,
        accessDenied,
        invalidFile,
        removeCurrentDir,
        directoryFull,
        badSeek,
        hardIO,
        sharingViolation,
        lockViolation,
        diskFull,
        endOfFile,
    };

    CFileException(int cause = none, LONG lOsError = -1, const CString& strFileName = CString());
    const char* what() const noexcept override { return m_strWhat.c_str(); }

    // Maps an errno value to one of the causes above.
    static int OsErrorToException(LONG lOsError);

    int m_cause;
    LONG m_lOsError; // errno, or -1 when the failure did not come from the system
    CString m_strFileName;

private:
    std::string m_strWhat;
};

class CFile {
public:
    enum OpenFlags : UINT {
        modeRead = 0x0000,
        modeWrite = 0x0001,
        modeReadWrite = 0x0002,
        shareCompat = 0x0000,
        shareExclusive = 0x0010,
        shareDenyWrite = 0x0020,
        shareDenyRead = 0x0030,
        shareDenyNone = 0x0040,
        modeNoInherit = 0x0080,
        modeCreate = 0x1000,
        modeNoTruncate = 0x2000,
        typeText = 0x4000,
        typeBinary = 0x8000,
    };
    enum SeekPosition : UINT { begin = 0x0, current = 0x1, end = 0x2 };
    static constexpr int hFileNull = -1;

    CFile() = default;
    CFile(const CFile&) = delete;
    CFile& operator=(const CFile&) = delete;
    // Closes the file if it is still open; errors at that point are lost (use Close to see them).
    virtual ~CFile();

    // Opens or creates the file. modeCreate creates it with permissions 0666 less the umask, or
    // empties an existing file unless modeNoTruncate is given. Unless shareDenyNone is given, the
    // file is locked against every other cooperating opener (flock) before it is emptied, so a
    // file that someone else holds is left untouched and the open fails. Returns FALSE on failure,
    // filling *pError when given; never throws.
    virtual BOOL Open(LPCWSTR lpszFileName, UINT nOpenFlags, CFileException* pError = nullptr);
    // Moves the position; throws CFileException on failure. Returns the new position.
    virtual ULONGLONG Seek(LONGLONG lOff, UINT nFrom);
    void SeekToBegin() { Seek(0, begin); }
    ULONGLONG SeekToEnd() { return Seek(0, end); }
    virtual ULONGLONG GetPosition() const;
    virtual ULONGLONG GetLength() const;
    // Writes the bytes; throws CFileException on failure.
    virtual void Write(const void* lpBuf, UINT nCount);
    // Writes out anything still buffered; throws CFileException on failure.
    virtual void Flush();
    // Writes out anything still buffered and closes. Throws CFileException when either reports an
    // error; the descriptor is released in any case. Does nothing on a file that isn't open.
    virtual void Close();
    // Closes without reporting errors.
    virtual void Abort();

    CString GetFilePath() const { return m_strFileName; }
    BOOL IsOpen() const { return m_hFile != hFileNull; }

    int m_hFile = hFileNull;

protected:
    [[noreturn]] void ThrowOsError(int err) const;
    // Seeks the descriptor itself, no buffering involved.
    ULONGLONG RawSeek(LONGLONG lOff, int whence);
    void RawWrite(const BYTE* p, size_t n);

    CString m_strFileName;
    // Held with an exclusive lock: no cooperating process changes the file while it is open.
    bool m_bExclusive = false;
};

// A buffered stream file. In text mode (the default) each UTF-16 code unit up to U+00FF is written
// as the byte of the same value, a line feed as CR LF and a lone CR as one byte; a code unit above
// U+00FF throws after the bytes before it, which stay buffered and reach the file with the next
// flush or the close. typeBinary drops the line-feed translation.
class CStdioFile : public CFile {
public:
    CStdioFile() = default;
    ~CStdioFile() override;

    BOOL Open(LPCWSTR lpszFileName, UINT nOpenFlags, CFileException* pError = nullptr) override;
    ULONGLONG Seek(LONGLONG lOff, UINT nFrom) override;
    ULONGLONG GetPosition() const override;
    ULONGLONG GetLength() const override;
    void Write(const void* lpBuf, UINT nCount) override;
    void Flush() override;
    void Close() override;
    void Abort() override;

    void WriteString(LPCWSTR lpsz);

private:
    static constexpr size_t kBufferSize = 64 * 1024;

    void PutByte(BYTE b) {
        if (m_buffer.size() == kBufferSize) FlushBuffer();
        m_buffer.push_back(b);
    }
    void FlushBuffer();

    std::vector<BYTE> m_buffer;  // bytes not yet written, to go at m_position
    ULONGLONG m_position = 0;    // the descriptor's offset, where m_buffer starts
    ULONGLONG m_knownLength = 0; // the file's length on disk as of the last flush, when exclusive
    bool m_bText = true;
};
