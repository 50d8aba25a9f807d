// The places where a person sits in front of the tool: message boxes, the Save dialog and the
// desktop's opening of links. Tests answer them through this one interface; everything behind them
// is the real thing.
#pragma once

#include "platform/cstring.h"
#include "platform/filedialog.h"
#include "platform/win32.h"

class CUserSeam {
public:
    virtual ~CUserSeam() = default;
    // Shows a message box and returns the button pressed (IDOK, ...).
    virtual int MessageBox(HWND hOwner, const CString& text, const CString& caption, UINT nType);
    // Hands a web address or a "mailto:" address to the desktop's opener. Returns a value above 32
    // on success, as the shell does, and the shell's error code otherwise.
    virtual int OpenLink(const CString& target);
    // Runs a command line (a program and its arguments) as WinExec does. Returns a value above 31
    // once the program has started, and WinExec's error code otherwise (2: program not found).
    virtual int RunCommandLine(const CString& commandLine);
    // Runs an Open or Save dialog. Returns false when the person cancels; otherwise the chosen
    // file's full path.
    virtual bool ChooseFile(HWND hOwner, const CFileDialogRequest& request, CString& strPath);
};

// Installs a seam (a test's); null puts the real one back. Returns the previous one.
CUserSeam* AfxSetUserSeam(CUserSeam* pSeam);
CUserSeam* AfxGetUserSeam();
