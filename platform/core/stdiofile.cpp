#include "platform/stdiofile.h"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>

// ---- CFileException -------------------------------------------------------------------------------

CFileException::CFileException(int cause, LONG lOsError, const CString& strFileName)
    : m_cause(cause), m_lOsError(lOsError), m_strFileName(strFileName) {
    m_strWhat = "file error " + std::to_string(cause);
    if (lOsError > 0) m_strWhat += " (" + std::generic_category().message(lOsError) + ")";
    if (!strFileName.IsEmpty()) m_strWhat += ": " + strFileName.ToUtf8();
}

int CFileException::OsErrorToException(LONG lOsError) {
    switch (lOsError) {
    case 0:
        return none;
    case ENOENT:
        return fileNotFound;
    case ENOTDIR:
    case ENAMETOOLONG:
    case ELOOP:
    case EINVAL:
        return badPath;
    case EACCES:
    case EPERM:
    case EROFS:
    case EISDIR:
    case ETXTBSY:
        return accessDenied;
    case EMFILE:
    case ENFILE:
        return tooManyOpenFiles;
    case EBADF:
        return invalidFile;
    case EWOULDBLOCK:
        return sharingViolation;
    case ENOSPC:
    case EDQUOT:
    case EFBIG:
        return diskFull;
    case EIO:
        return hardIO;
    case ESPIPE:
        return badSeek;
    default:
        return genericException;
    }
}

// ---- CFile ----------------------------------------------------------------------------------------

CFile::~CFile() {
    if (m_hFile != hFileNull) ::close(m_hFile);
}

BOOL CFile::Open(LPCWSTR lpszFileName, UINT nOpenFlags, CFileException* pError) {
    const CString name(lpszFileName);
    auto fail = [&](int err) {
        if (pError) *pError = CFileException(CFileException::OsErrorToException(err), err, name);
        return FALSE;
    };
    if (m_hFile != hFileNull) return fail(EBUSY);
    if (name.IsEmpty()) return fail(ENOENT);

    int access;
    switch (nOpenFlags & 0x3) {
    case modeRead:
        access = O_RDONLY;
        break;
    case modeWrite:
        access = O_WRONLY;
        break;
    case modeReadWrite:
        access = O_RDWR;
        break;
    default:
        return fail(EINVAL);
    }

    // No O_TRUNC here: the file is emptied only once the lock shows that nobody else holds it.
    const std::string path = name.ToUtf8();
    int flags = access | O_CLOEXEC;
    if (nOpenFlags & modeCreate) flags |= O_CREAT;
    int fd;
    do {
        fd = ::open(path.c_str(), flags, 0666);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) return fail(errno);

    auto failClosing = [&](int err) {
        ::close(fd);
        return fail(err);
    };
    struct stat st {};
    if (::fstat(fd, &st) != 0) return failClosing(errno);
    if (S_ISDIR(st.st_mode)) return failClosing(EISDIR);

    // Only regular files are locked and emptied: devices such as /dev/null are shared by nature
    // and can't be truncated.
    bool exclusive = false;
    if (S_ISREG(st.st_mode)) {
        const UINT share = nOpenFlags & 0x70;
        if (share != shareDenyNone) {
            const int op = (share == shareDenyWrite && access == O_RDONLY) ? LOCK_SH : LOCK_EX;
            int rc;
            do {
                rc = ::flock(fd, op | LOCK_NB);
            } while (rc != 0 && errno == EINTR);
            if (rc != 0) return failClosing(errno);
            exclusive = op == LOCK_EX;
            // Many programs lock with fcntl instead of flock: an open file description lock of the
            // same strength sees their locks, and they see ours. A file system without such locks
            // is left to flock alone.
            struct flock whole {};
            whole.l_type = (op == LOCK_EX && access != O_RDONLY) ? F_WRLCK : F_RDLCK;
            whole.l_whence = SEEK_SET;
            do {
                rc = ::fcntl(fd, F_OFD_SETLK, &whole);
            } while (rc != 0 && errno == EINTR);
            if (rc != 0 && (errno == EAGAIN || errno == EACCES)) return failClosing(EWOULDBLOCK);
        }
        if ((nOpenFlags & modeCreate) && !(nOpenFlags & modeNoTruncate) && st.st_size != 0 &&
            ::ftruncate(fd, 0) != 0)
            return failClosing(errno);
    }

    m_hFile = fd;
    m_strFileName = name;
    m_bExclusive = exclusive;
    return TRUE;
}

void CFile::ThrowOsError(int err) const {
    throw CFileException(CFileException::OsErrorToException(err), err, m_strFileName);
}

ULONGLONG CFile::RawSeek(LONGLONG lOff, int whence) {
    if (m_hFile == hFileNull) ThrowOsError(EBADF);
    const off_t pos = ::lseek(m_hFile, static_cast<off_t>(lOff), whence);
    if (pos < 0) ThrowOsError(errno);
    return static_cast<ULONGLONG>(pos);
}

void CFile::RawWrite(const BYTE* p, size_t n) {
    if (m_hFile == hFileNull) ThrowOsError(EBADF);
    while (n > 0) {
        const ssize_t written = ::write(m_hFile, p, n);
        if (written < 0) {
            if (errno == EINTR) continue;
            ThrowOsError(errno);
        }
        if (written == 0) ThrowOsError(EIO);
        p += written;
        n -= static_cast<size_t>(written);
    }
}

ULONGLONG CFile::Seek(LONGLONG lOff, UINT nFrom) {
    switch (nFrom) {
    case begin:
        return RawSeek(lOff, SEEK_SET);
    case current:
        return RawSeek(lOff, SEEK_CUR);
    case end:
        return RawSeek(lOff, SEEK_END);
    default:
        ThrowOsError(EINVAL);
    }
}

ULONGLONG CFile::GetPosition() const {
    if (m_hFile == hFileNull) ThrowOsError(EBADF);
    const off_t pos = ::lseek(m_hFile, 0, SEEK_CUR);
    if (pos < 0) ThrowOsError(errno);
    return static_cast<ULONGLONG>(pos);
}

ULONGLONG CFile::GetLength() const {
    if (m_hFile == hFileNull) ThrowOsError(EBADF);
    struct stat st {};
    if (::fstat(m_hFile, &st) != 0) ThrowOsError(errno);
    return static_cast<ULONGLONG>(st.st_size);
}

void CFile::Write(const void* lpBuf, UINT nCount) {
    RawWrite(static_cast<const BYTE*>(lpBuf), nCount);
}

void CFile::Flush() {
    if (m_hFile == hFileNull) ThrowOsError(EBADF);
}

void CFile::Close() {
    if (m_hFile == hFileNull) return;
    const int fd = m_hFile;
    m_hFile = hFileNull;
    m_bExclusive = false;
    // A file whose last name went while it was written (its folder was deleted, say) is gone with
    // everything written to it: that is no finished file, whatever the writes said.
    struct stat st {};
    const bool unlinked = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_nlink == 0;
    // Some file systems (network ones above all) report a failed write-back only here; even an
    // interrupted close may have lost data, so every failure counts.
    if (::close(fd) != 0) ThrowOsError(errno);
    if (unlinked) ThrowOsError(ENOENT);
}

void CFile::Abort() {
    if (m_hFile == hFileNull) return;
    ::close(m_hFile);
    m_hFile = hFileNull;
    m_bExclusive = false;
}

// ---- CStdioFile -----------------------------------------------------------------------------------

CStdioFile::~CStdioFile() {
    Abort();
}

BOOL CStdioFile::Open(LPCWSTR lpszFileName, UINT nOpenFlags, CFileException* pError) {
    if (!CFile::Open(lpszFileName, nOpenFlags & ~static_cast<UINT>(typeText | typeBinary), pError))
        return FALSE;
    m_bText = !(nOpenFlags & typeBinary);
    m_position = 0;
    m_buffer.clear();
    m_buffer.reserve(kBufferSize);
    m_knownLength = m_bExclusive ? CFile::GetLength() : 0;
    return TRUE;
}

void CStdioFile::FlushBuffer() {
    if (m_hFile == hFileNull) ThrowOsError(EBADF);
    size_t done = 0;
    while (done < m_buffer.size()) {
        const ssize_t written = ::write(m_hFile, m_buffer.data() + done, m_buffer.size() - done);
        if (written > 0) {
            done += static_cast<size_t>(written);
            continue;
        }
        if (written < 0 && errno == EINTR) continue;
        const int err = written < 0 ? errno : EIO;
        // What did go out is gone from the buffer; the rest stays pending so that the close
        // reports it too rather than pretending the file is whole.
        m_buffer.erase(m_buffer.begin(), m_buffer.begin() + static_cast<std::ptrdiff_t>(done));
        m_position += done;
        if (m_position > m_knownLength) m_knownLength = m_position;
        ThrowOsError(err);
    }
    m_position += done;
    m_buffer.clear();
    if (m_position > m_knownLength) m_knownLength = m_position;
}

ULONGLONG CStdioFile::GetPosition() const {
    if (m_hFile == hFileNull) ThrowOsError(EBADF);
    return m_position + m_buffer.size();
}

ULONGLONG CStdioFile::GetLength() const {
    const ULONGLONG onDisk = CFile::GetLength();
    const ULONGLONG logical = m_position + m_buffer.size();
    return onDisk > logical ? onDisk : logical;
}

ULONGLONG CStdioFile::Seek(LONGLONG lOff, UINT nFrom) {
    if (m_hFile == hFileNull) ThrowOsError(EBADF);
    const ULONGLONG logical = m_position + m_buffer.size();
    LONGLONG target;
    switch (nFrom) {
    case begin:
        target = lOff;
        break;
    case current:
        target = static_cast<LONGLONG>(logical) + lOff;
        break;
    case end: {
        // Under an exclusive lock the length is known without asking the system: the export seeks
        // to the end before every row.
        const ULONGLONG length =
            m_bExclusive ? (m_knownLength > logical ? m_knownLength : logical) : GetLength();
        target = static_cast<LONGLONG>(length) + lOff;
        break;
    }
    default:
        ThrowOsError(EINVAL);
    }
    if (target < 0) ThrowOsError(EINVAL);
    // A writer that keeps appending seeks to the end before every line: when that is where the
    // stream already stands, the buffered bytes stay buffered and no system call is made for it.
    if (static_cast<ULONGLONG>(target) == logical) return logical;
    FlushBuffer();
    m_position = RawSeek(target, SEEK_SET);
    return m_position;
}

void CStdioFile::Write(const void* lpBuf, UINT nCount) {
    if (m_hFile == hFileNull) ThrowOsError(EBADF);
    const BYTE* p = static_cast<const BYTE*>(lpBuf);
    for (UINT i = 0; i < nCount; ++i)
        PutByte(p[i]);
}

void CStdioFile::WriteString(LPCWSTR lpsz) {
    if (m_hFile == hFileNull) ThrowOsError(EBADF);
    if (!lpsz) return;
    // The bytes are made in a small local buffer and added to the stream buffer a run at a time:
    // an export writes every cell of every row through here.
    BYTE run[512];
    size_t n = 0;
    auto addRun = [&] {
        for (size_t done = 0; done < n;) {
            if (m_buffer.size() == kBufferSize) FlushBuffer();
            const size_t take = std::min(n - done, kBufferSize - m_buffer.size());
            m_buffer.insert(m_buffer.end(), run + done, run + done + take);
            done += take;
        }
        n = 0;
    };
    for (const WCHAR* p = lpsz; *p; ++p) {
        const WCHAR ch = *p;
        if (ch > 0xFF) {
            // No byte stands for this character. The bytes before it stay in the buffer and reach
            // the file with the next flush or the close.
            addRun();
            ThrowOsError(EILSEQ);
        }
        if (n + 2 > sizeof run) addRun();
        if (ch == u'\n' && m_bText) run[n++] = '\r';
        run[n++] = static_cast<BYTE>(ch);
    }
    addRun();
}

void CStdioFile::Flush() {
    FlushBuffer();
}

void CStdioFile::Close() {
    if (m_hFile == hFileNull) {
        m_buffer.clear();
        return;
    }
    // The descriptor is released whatever happens; the first error is the one reported.
    try {
        FlushBuffer();
    } catch (const CFileException&) {
        m_buffer.clear();
        CFile::Abort();
        throw;
    }
    CFile::Close();
}

void CStdioFile::Abort() {
    if (m_hFile != hFileNull) {
        try {
            FlushBuffer();
        } catch (...) {
            // Abort reports nothing; Close is the way to learn about a lost write.
        }
    }
    m_buffer.clear();
    CFile::Abort();
}
