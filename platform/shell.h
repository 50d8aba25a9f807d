// The desktop shell, the registry of file classes, program launching and the other system calls a
// hyperlink needs, in the shape of their Windows counterparts.
//
// "Opening" a target goes to the desktop's own opener (xdg-open). The registry is read-only and
// answers from the desktop's associations: under HKEY_CLASSES_ROOT an extension such as ".htm"
// names the desktop entry (a .desktop file) of the default application for its MIME type, and
// "<entry>\shell\open\command" is that entry's Exec line as a command line, with "%1" where the
// entry takes its file or address. Opening and running both go through the person-facing seam
// (platform/seams.h), so tests see them and nothing is launched behind their back.
#pragma once

#include "platform/cstring.h"
#include "platform/win32.h"

// ---- shell ----------------------------------------------------------------------------------------

// Error codes of ShellExecuteW (values of 32 and below); anything above 32 is success.
// 0 is "out of memory or resources", and ERROR_BAD_FORMAT (11) an invalid program.
constexpr int SE_ERR_FNF = 2;
constexpr int SE_ERR_PNF = 3;
constexpr int SE_ERR_ACCESSDENIED = 5;
constexpr int SE_ERR_OOM = 8;
constexpr int SE_ERR_SHARE = 26;
constexpr int SE_ERR_ASSOCINCOMPLETE = 27;
constexpr int SE_ERR_DDETIMEOUT = 28;
constexpr int SE_ERR_DDEFAIL = 29;
constexpr int SE_ERR_DDEBUSY = 30;
constexpr int SE_ERR_NOASSOC = 31;
constexpr int SE_ERR_DLLNOTFOUND = 32;

// Performs the verb ("open", or null for the default verb, which is "open") on a file or address.
// The result is an integer in a handle's clothing: above 32 on success, an SE_ERR_ code otherwise.
HINSTANCE ShellExecuteW(HWND hwnd, LPCWSTR lpOperation, LPCWSTR lpFile, LPCWSTR lpParameters,
                        LPCWSTR lpDirectory, int nShowCmd);

// Runs a command line (a program and its arguments; double quotes group). Above 31 once the program
// has started; 0, ERROR_FILE_NOT_FOUND (2), ERROR_PATH_NOT_FOUND (3) or ERROR_BAD_FORMAT (11) when not.
UINT WinExec(LPCSTR lpCmdLine, UINT uCmdShow);

// ---- registry (read-only, HKEY_CLASSES_ROOT) ---------------------------------------------------------

struct HKEY__;
using HKEY = HKEY__*;
using PHKEY = HKEY*;
using REGSAM = DWORD;
using LSTATUS = LONG;
using PLONG = LONG*;

#define HKEY_CLASSES_ROOT (reinterpret_cast<HKEY>(static_cast<ULONG_PTR>(0x80000000u)))

constexpr REGSAM KEY_QUERY_VALUE = 0x0001;
constexpr REGSAM KEY_READ = 0x20019;

constexpr LONG ERROR_SUCCESS = 0;
constexpr LONG ERROR_FILE_NOT_FOUND = 2;
constexpr LONG ERROR_PATH_NOT_FOUND = 3;
constexpr LONG ERROR_ACCESS_DENIED = 5;
constexpr LONG ERROR_INVALID_HANDLE = 6;
constexpr LONG ERROR_BAD_FORMAT = 11;
constexpr LONG ERROR_INSUFFICIENT_BUFFER = 122;
constexpr LONG ERROR_MOD_NOT_FOUND = 126;
constexpr LONG ERROR_MORE_DATA = 234;

LSTATUS RegOpenKeyExW(HKEY hKey, LPCWSTR lpSubKey, DWORD ulOptions, REGSAM samDesired, PHKEY phkResult);
// The default (unnamed) value of hKey\lpSubKey (of hKey itself when lpSubKey is null or empty).
// *lpcbData is the buffer's size in bytes on entry and the value's size, terminator included, on
// return. A buffer that is too small gets ERROR_MORE_DATA and no text.
LSTATUS RegQueryValueW(HKEY hKey, LPCWSTR lpSubKey, LPWSTR lpData, PLONG lpcbData);
LSTATUS RegCloseKey(HKEY hKey);

// ---- text and modules ---------------------------------------------------------------------------------

constexpr UINT CP_ACP = 0;
constexpr UINT CP_UTF8 = 65001;
using LPBOOL = BOOL*;

// UTF-16 to the multi-byte code page; the ANSI code page (CP_ACP) is UTF-8 here. cchWideChar -1
// converts up to and including the terminator; cbMultiByte 0 asks for the size needed. 0 when the
// buffer is too small.
int WideCharToMultiByte(UINT CodePage, DWORD dwFlags, LPCWSTR lpWideCharStr, int cchWideChar,
                        LPSTR lpMultiByteStr, int cbMultiByte, LPCSTR lpDefaultChar,
                        LPBOOL lpUsedDefaultChar);

constexpr UINT MAX_PATH = 260;

// The directory of the operating system's own files. Returns the length copied, or the size needed
// (terminator included) when uSize is too small.
UINT GetWindowsDirectoryW(LPWSTR lpBuffer, UINT uSize);

// Windows modules (.exe, .dll) do not exist on this system: loading one always fails with
// ERROR_MOD_NOT_FOUND, so a caller takes its fallback.
HMODULE LoadLibraryW(LPCWSTR lpLibFileName);
BOOL FreeLibrary(HMODULE hLibModule);
DWORD GetLastError();
void SetLastError(DWORD dwErrCode);
