// The shell, the file-class registry and program launching on the freedesktop.org desktop.
#include "platform/shell.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMimeDatabase>
#include <QProcess>
#include <QStandardPaths>
#include <QTextStream>

#include "platform/seams.h"
#include "platform/src/internal.h"

using namespace afx;

namespace {

thread_local DWORD t_lastError = 0;

// ERROR_INVALID_PARAMETER (declared with the network functions, which share it).
constexpr LONG kInvalidParameter = 87;

// How long the opener may take to say whether it could open a target. An opener that is still
// running after this has handed the target to an application that stays in the foreground.
constexpr int kOpenerVerdictMs = 1500;
constexpr int kMimeQueryMs = 5000;

// ---- desktop entries ----------------------------------------------------------------------------------

QStringList DataDirs() {
    QString home = qEnvironmentVariable("XDG_DATA_HOME");
    if (home.isEmpty()) home = QDir::homePath() + QStringLiteral("/.local/share");
    QString system = qEnvironmentVariable("XDG_DATA_DIRS");
    if (system.isEmpty()) system = QStringLiteral("/usr/local/share:/usr/share");
    QStringList dirs{home};
    dirs += system.split(QLatin1Char(':'), Qt::SkipEmptyParts);
    return dirs;
}

// The file of a desktop entry ID: "vendor-app.desktop" may also live as "vendor/app.desktop".
QString FindDesktopFile(const QString& id) {
    if (id.isEmpty() || id.contains(QLatin1Char('/')) || id.startsWith(QLatin1Char('.'))) return {};
    for (const QString& dir : DataDirs()) {
        QString relative = id;
        for (;;) {
            const QString path = dir + QStringLiteral("/applications/") + relative;
            if (QFileInfo(path).isFile()) return path;
            const int dash = relative.indexOf(QLatin1Char('-'));
            if (dash < 0) break;
            relative[dash] = QLatin1Char('/');
        }
    }
    return {};
}

// A value's escapes (\s \n \t \r \\) as the desktop entry format defines them.
QString Unescape(const QString& value) {
    QString out;
    for (qsizetype i = 0; i < value.size(); ++i) {
        const QChar c = value[i];
        if (c != QLatin1Char('\\') || i + 1 == value.size()) {
            out += c;
            continue;
        }
        const QChar n = value[++i];
        if (n == QLatin1Char('s'))
            out += QLatin1Char(' ');
        else if (n == QLatin1Char('n'))
            out += QLatin1Char('\n');
        else if (n == QLatin1Char('t'))
            out += QLatin1Char('\t');
        else if (n == QLatin1Char('r'))
            out += QLatin1Char('\r');
        else if (n == QLatin1Char('\\'))
            out += QLatin1Char('\\');
        else
            out += QLatin1Char('\\') + QString(n);
    }
    return out;
}

struct DesktopEntry {
    QString path;
    QString name;
    QString icon;
    QString exec;
};

bool ReadDesktopEntry(const QString& id, DesktopEntry& entry) {
    entry.path = FindDesktopFile(id);
    if (entry.path.isEmpty()) return false;
    QFile file(entry.path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text)) return false;
    QTextStream in(&file);
    bool inMainGroup = false;
    while (!in.atEnd()) {
        const QString line = in.readLine().trimmed();
        if (line.isEmpty() || line.startsWith(QLatin1Char('#'))) continue;
        if (line.startsWith(QLatin1Char('['))) {
            inMainGroup = line == QLatin1String("[Desktop Entry]");
            continue;
        }
        if (!inMainGroup) continue;
        const qsizetype eq = line.indexOf(QLatin1Char('='));
        if (eq <= 0) continue;
        const QString key = line.left(eq).trimmed();
        const QString value = Unescape(line.mid(eq + 1).trimmed());
        if (key == QLatin1String("Exec"))
            entry.exec = value;
        else if (key == QLatin1String("Name"))
            entry.name = value;
        else if (key == QLatin1String("Icon"))
            entry.icon = value;
    }
    return true;
}

QString Quoted(const QString& s) {
    if (!s.contains(QLatin1Char(' ')) && !s.contains(QLatin1Char('\t')) && !s.isEmpty()) return s;
    QString escaped = s;
    escaped.replace(QLatin1Char('\\'), QLatin1String("\\\\"))
        .replace(QLatin1Char('"'), QLatin1String("\\\""));
    return QLatin1Char('"') + escaped + QLatin1Char('"');
}

// The Exec line as an open command: the file and address codes (%f %F %u %U) become "%1", the
// other field codes take their values or go, as the desktop entry format says.
QString OpenCommand(const DesktopEntry& entry) {
    QString out;
    const QString& exec = entry.exec;
    for (qsizetype i = 0; i < exec.size(); ++i) {
        if (exec[i] != QLatin1Char('%') || i + 1 == exec.size()) {
            out += exec[i];
            continue;
        }
        const char code = exec[++i].toLatin1();
        switch (code) {
        case '%':
            out += QLatin1Char('%');
            break;
        case 'f':
        case 'F':
        case 'u':
        case 'U':
            out += QLatin1String("%1");
            break;
        case 'i':
            if (!entry.icon.isEmpty()) out += QLatin1String("--icon ") + Quoted(entry.icon);
            break;
        case 'c':
            out += Quoted(entry.name);
            break;
        case 'k':
            out += Quoted(entry.path);
            break;
        default:
            break; // deprecated and unknown codes are dropped
        }
    }
    return out;
}

// The desktop entry ID of the default application for a MIME type, as the desktop itself says.
QString DefaultApplication(const QString& mimeType) {
    const QString xdgMime = QStandardPaths::findExecutable(QStringLiteral("xdg-mime"));
    if (xdgMime.isEmpty()) return {};
    QProcess query;
    query.setStandardInputFile(QProcess::nullDevice());
    query.start(xdgMime, {QStringLiteral("query"), QStringLiteral("default"), mimeType});
    if (!query.waitForFinished(kMimeQueryMs) || query.exitStatus() != QProcess::NormalExit ||
        query.exitCode() != 0) {
        query.kill();
        query.waitForFinished(1000);
        return {};
    }
    const QString out = QString::fromUtf8(query.readAllStandardOutput());
    return out.section(QLatin1Char('\n'), 0, 0).section(QLatin1Char(';'), 0, 0).trimmed();
}

// ---- command lines ------------------------------------------------------------------------------------

// Splits a command line into its program and arguments: blanks separate outside double quotes; in
// quotes a backslash makes the next quote, backslash, ` or $ literal.
QStringList SplitCommandLine(const QString& line) {
    QStringList args;
    QString current;
    bool started = false;
    bool quoted = false;
    for (qsizetype i = 0; i < line.size(); ++i) {
        const QChar c = line[i];
        if (quoted && c == QLatin1Char('\\') && i + 1 < line.size() &&
            QStringLiteral("\"\\`$").contains(line[i + 1])) {
            current += line[++i];
        } else if (c == QLatin1Char('"')) {
            quoted = !quoted;
            started = true;
        } else if (!quoted && (c == QLatin1Char(' ') || c == QLatin1Char('\t'))) {
            if (started) args << current;
            current.clear();
            started = false;
        } else {
            current += c;
            started = true;
        }
    }
    if (started) args << current;
    return args;
}

} // namespace

// ---- registry --------------------------------------------------------------------------------------------

struct HKEY__ {
    CString path;
    CString value;
};

namespace {

bool IsRoot(HKEY h) {
    return h == HKEY_CLASSES_ROOT;
}

// Resolves a key under HKEY_CLASSES_ROOT: false when the desktop has nothing for it.
bool ResolveClassesKey(const QString& path, QString& value) {
    if (path.startsWith(QLatin1Char('.')) && !path.contains(QLatin1Char('\\'))) {
        const QMimeType mime =
            QMimeDatabase().mimeTypeForFile(QStringLiteral("file") + path, QMimeDatabase::MatchExtension);
        if (!mime.isValid() || mime.isDefault()) return false;
        value = DefaultApplication(mime.name());
        return !value.isEmpty();
    }
    const QString entryId = path.section(QLatin1Char('\\'), 0, 0);
    const QString rest = path.section(QLatin1Char('\\'), 1);
    if (!entryId.endsWith(QLatin1String(".desktop"), Qt::CaseInsensitive)) return false;
    DesktopEntry entry;
    if (!ReadDesktopEntry(entryId, entry)) return false;
    if (rest.isEmpty()) {
        value = entry.name;
        return true;
    }
    if (rest.compare(QLatin1String("shell"), Qt::CaseInsensitive) == 0 ||
        rest.compare(QLatin1String("shell\\open"), Qt::CaseInsensitive) == 0) {
        value.clear();
        return true;
    }
    if (rest.compare(QLatin1String("shell\\open\\command"), Qt::CaseInsensitive) == 0 &&
        !entry.exec.isEmpty()) {
        value = OpenCommand(entry);
        return true;
    }
    return false;
}

LSTATUS OpenKey(HKEY hKey, LPCWSTR lpSubKey, HKEY& result) {
    if (!hKey) return ERROR_INVALID_HANDLE;
    CString path = IsRoot(hKey) ? CString() : hKey->path;
    const CString sub(lpSubKey ? lpSubKey : u"");
    if (!sub.IsEmpty()) path = path.IsEmpty() ? sub : path + u"\\" + sub;
    if (path.IsEmpty()) {
        if (!IsRoot(hKey)) {
            result = new HKEY__{hKey->path, hKey->value};
            return ERROR_SUCCESS;
        }
        return ERROR_FILE_NOT_FOUND;
    }
    QString value;
    if (!ResolveClassesKey(ToQ(path), value)) return ERROR_FILE_NOT_FOUND;
    result = new HKEY__{path, FromQ(value)};
    return ERROR_SUCCESS;
}

} // namespace

LSTATUS RegOpenKeyExW(HKEY hKey, LPCWSTR lpSubKey, DWORD, REGSAM, PHKEY phkResult) {
    if (!phkResult) return kInvalidParameter;
    *phkResult = nullptr;
    return OpenKey(hKey, lpSubKey, *phkResult);
}

LSTATUS RegQueryValueW(HKEY hKey, LPCWSTR lpSubKey, LPWSTR lpData, PLONG lpcbData) {
    HKEY key = nullptr;
    const LSTATUS status = OpenKey(hKey, lpSubKey, key);
    if (status != ERROR_SUCCESS) return status;
    const CString value = key->value;
    delete key;
    const LONG needed = static_cast<LONG>((value.GetLength() + 1) * sizeof(WCHAR));
    if (!lpData) {
        if (lpcbData) *lpcbData = needed;
        return ERROR_SUCCESS;
    }
    if (!lpcbData) return kInvalidParameter;
    const LONG room = *lpcbData;
    *lpcbData = needed;
    if (room < needed) return ERROR_MORE_DATA;
    std::copy(value.GetString(), value.GetString() + value.GetLength(), lpData);
    lpData[value.GetLength()] = 0;
    return ERROR_SUCCESS;
}

LSTATUS RegCloseKey(HKEY hKey) {
    if (!hKey || IsRoot(hKey)) return ERROR_INVALID_HANDLE;
    delete hKey;
    return ERROR_SUCCESS;
}

// ---- shell and launching --------------------------------------------------------------------------------

HINSTANCE ShellExecuteW(HWND, LPCWSTR lpOperation, LPCWSTR lpFile, LPCWSTR, LPCWSTR, int) {
    auto result = [](int code) { return reinterpret_cast<HINSTANCE>(static_cast<INT_PTR>(code)); };
    const CString verb(lpOperation ? lpOperation : u"open");
    // The desktop's opener knows one verb; parameters and a working directory have no meaning to it.
    if (!verb.IsEmpty() && verb.CompareNoCase(u"open") != 0) return result(SE_ERR_NOASSOC);
    const CString target(lpFile ? lpFile : u"");
    if (target.IsEmpty()) return result(SE_ERR_FNF);
    return result(AfxGetUserSeam()->OpenLink(target));
}

UINT WinExec(LPCSTR lpCmdLine, UINT) {
    if (!lpCmdLine) return ERROR_FILE_NOT_FOUND;
    return static_cast<UINT>(AfxGetUserSeam()->RunCommandLine(CString::FromUtf8(lpCmdLine)));
}

int CUserSeam::OpenLink(const CString& target) {
    const QString opener = QStandardPaths::findExecutable(QStringLiteral("xdg-open"));
    if (opener.isEmpty()) return SE_ERR_FNF;
    auto* process = new QProcess;
    process->setStandardInputFile(QProcess::nullDevice());
    process->setStandardOutputFile(QProcess::nullDevice());
    process->start(opener, {ToQ(target)});
    if (!process->waitForStarted(kMimeQueryMs)) {
        delete process;
        return SE_ERR_FNF;
    }
    if (!process->waitForFinished(kOpenerVerdictMs)) {
        // Still running: it has started the application, which keeps it waiting. Let it be.
        QObject::connect(process, &QProcess::finished, process, &QObject::deleteLater);
        return 42;
    }
    const int code = process->exitStatus() == QProcess::NormalExit ? process->exitCode() : -1;
    delete process;
    switch (code) {
    case 0:
        return 42;
    case 1: // the target was not understood
    case 2: // the file does not exist
        return SE_ERR_FNF;
    case 3: // no application or method for it
        return SE_ERR_NOASSOC;
    case 4: // the application it chose failed
        return SE_ERR_ASSOCINCOMPLETE;
    case 5: // no permission to read the file
        return SE_ERR_ACCESSDENIED;
    default:
        return SE_ERR_NOASSOC;
    }
}

int CUserSeam::RunCommandLine(const CString& commandLine) {
    QStringList args = SplitCommandLine(ToQ(commandLine));
    if (args.isEmpty() || args.front().isEmpty()) return ERROR_FILE_NOT_FOUND;
    QString program = args.takeFirst();
    if (program.contains(QLatin1Char('/'))) {
        const QFileInfo info(program);
        if (!info.exists()) return info.dir().exists() ? ERROR_FILE_NOT_FOUND : ERROR_PATH_NOT_FOUND;
        if (!info.isFile() || !info.isExecutable()) return ERROR_BAD_FORMAT;
    } else {
        program = QStandardPaths::findExecutable(program);
        if (program.isEmpty()) return ERROR_FILE_NOT_FOUND;
    }
    QProcess process;
    process.setProgram(program);
    process.setArguments(args);
    process.setStandardInputFile(QProcess::nullDevice());
    if (!process.startDetached()) return ERROR_BAD_FORMAT;
    return 33;
}

// ---- text and modules -----------------------------------------------------------------------------------

int WideCharToMultiByte(UINT CodePage, DWORD, LPCWSTR lpWideCharStr, int cchWideChar, LPSTR lpMultiByteStr,
                        int cbMultiByte, LPCSTR lpDefaultChar, LPBOOL lpUsedDefaultChar) {
    if (!lpWideCharStr || cchWideChar == 0 || cchWideChar < -1 || cbMultiByte < 0 ||
        (CodePage != CP_ACP && CodePage != CP_UTF8) ||
        (CodePage == CP_UTF8 && (lpDefaultChar || lpUsedDefaultChar))) {
        SetLastError(kInvalidParameter);
        return 0;
    }
    if (lpUsedDefaultChar) *lpUsedDefaultChar = FALSE;
    size_t count = 0;
    if (cchWideChar == -1) {
        while (lpWideCharStr[count])
            ++count;
        ++count; // the terminator is converted too
    } else {
        count = static_cast<size_t>(cchWideChar);
    }
    // The terminator, when it is part of the count, is converted like any other character.
    const std::string out = CString(lpWideCharStr, static_cast<int>(count)).ToUtf8();
    const int needed = static_cast<int>(out.size());
    if (cbMultiByte == 0) return needed;
    if (!lpMultiByteStr || cbMultiByte < needed) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    std::copy(out.begin(), out.end(), lpMultiByteStr);
    return needed;
}

UINT GetWindowsDirectoryW(LPWSTR lpBuffer, UINT uSize) {
    static const std::u16string_view dir = u"/usr";
    const UINT length = static_cast<UINT>(dir.size());
    if (!lpBuffer || uSize <= length) return length + 1;
    std::copy(dir.begin(), dir.end(), lpBuffer);
    lpBuffer[length] = 0;
    return length;
}

HMODULE LoadLibraryW(LPCWSTR) {
    SetLastError(ERROR_MOD_NOT_FOUND);
    return nullptr;
}

BOOL FreeLibrary(HMODULE) {
    // No module was ever loaded, so there is none to free.
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
}

DWORD GetLastError() {
    return t_lastError;
}

void SetLastError(DWORD dwErrCode) {
    t_lastError = dwErrCode;
}
