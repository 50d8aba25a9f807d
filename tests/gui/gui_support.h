// Shared by the window tests: the person-facing seam answered by the test, and running the real
// main window modally with a script.
#pragma once

#include <deque>
#include <functional>
#include <optional>
#include <ostream>
#include <set>
#include <vector>

#include "app/VexlorDlg.h"
#include "platform/seams.h"
#include "platform/testing.h"

inline void PrintTo(const CString& s, std::ostream* os) {
    *os << '"' << s.ToUtf8() << '"';
}

struct ShownMessage {
    CString text;
    CString caption;
    UINT type;
};

class RecordingSeam : public CUserSeam {
public:
    RecordingSeam() { m_previous = AfxSetUserSeam(this); }
    ~RecordingSeam() override { AfxSetUserSeam(m_previous); }

    int MessageBox(HWND, const CString& text, const CString& caption, UINT nType) override {
        messages.push_back({text, caption, nType});
        return IDOK;
    }
    int OpenLink(const CString& target) override {
        openedLinks.push_back(target);
        return openLinkResult;
    }
    bool ChooseFile(HWND, const CFileDialogRequest& request, CString& path) override {
        fileRequests.push_back(request);
        if (fileAnswers.empty() || !fileAnswers.front()) {
            if (!fileAnswers.empty()) fileAnswers.pop_front();
            return false;
        }
        path = *fileAnswers.front();
        fileAnswers.pop_front();
        return true;
    }

    std::vector<ShownMessage> messages;
    std::vector<CString> openedLinks;
    int openLinkResult = 42;
    std::vector<CFileDialogRequest> fileRequests;
    // One answer per Save dialog: a path, or nullopt for Cancel.
    std::deque<std::optional<CString>> fileAnswers;

private:
    CUserSeam* m_previous;
};

// Brings up the window system once for the test program.
void InitGui();

// Runs the main window modally; `script` drives it once it is up. If the script leaves it open,
// it is cancelled afterwards. Returns DoModal's result.
INT_PTR RunMainWindow(CVexlorDlg& dlg, const std::function<void(CVexlorDlg&)>& script);

// The texts of the result list's column headings, and its cells row by row.
std::vector<CString> Headings(CVexlorDlg& dlg);
std::vector<std::vector<CString>> Rows(CVexlorDlg& dlg);
CString CountText(CVexlorDlg& dlg);

// The colours painted down three columns of a control (a label's underline crosses each of them).
std::set<COLORREF> PaintedColours(HWND h);
