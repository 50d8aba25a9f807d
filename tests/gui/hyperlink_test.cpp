// The hyperlink label and the transparent label on a real dialog of their own, driven headless as a
// person would: pointer moves, clicks, and what ends up on screen. The shell's openings and launches
// are answered by the person-facing seam; the desktop's associations come from a private desktop
// set up per test (its own XDG folders), read by the real xdg-mime.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <set>
#include <string>

#include "controls/HyperLink.h"
#include "controls/TransparentStatic.h"
#include "gui_support.h"
#include "platform/shell.h"
#include "platform/tooltip.h"
#include "res/resource.h"
#include "test_resources.h"

namespace fs = std::filesystem;

namespace {

constexpr COLORREF kNormal = RGB(0, 0, 238);
constexpr COLORREF kVisited = RGB(85, 26, 139);
constexpr COLORREF kHover = RGB(255, 0, 0);

// Also answers the launches of command lines, recording them.
class LinkSeam : public RecordingSeam {
public:
    int RunCommandLine(const CString& commandLine) override {
        commandLines.push_back(commandLine);
        return runResult;
    }
    std::vector<CString> commandLines;
    int runResult = 33;
};

class ScopedEnv {
public:
    ScopedEnv(const char* name, const std::string& value) : m_name(name) {
        if (const char* old = std::getenv(name)) m_old = old;
        ::setenv(name, value.c_str(), 1);
    }
    ~ScopedEnv() {
        if (m_old)
            ::setenv(m_name.c_str(), m_old->c_str(), 1);
        else
            ::unsetenv(m_name.c_str());
    }
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

private:
    std::string m_name;
    std::optional<std::string> m_old;
};

fs::path MakeTempDir(const char* stem) {
    std::string pattern = (fs::temp_directory_path() / (std::string(stem) + "-XXXXXX")).string();
    const char* made = ::mkdtemp(pattern.data());
    if (!made) throw std::runtime_error("mkdtemp failed");
    return made;
}

void WriteFile(const fs::path& path, const std::string& text) {
    fs::create_directories(path.parent_path());
    std::ofstream(path) << text;
}

// A desktop of the test's own: configuration and data folders with nothing in them but what the test
// puts there. The system's MIME database stays visible, its applications do not.
class ScopedDesktop {
public:
    ScopedDesktop()
        : m_root(MakeTempDir("brevonix-desktop")), m_config("XDG_CONFIG_HOME", (m_root / "config").string()),
          m_configDirs("XDG_CONFIG_DIRS", (m_root / "etc").string()),
          m_data("XDG_DATA_HOME", (m_root / "data").string()),
          m_dataDirs("XDG_DATA_DIRS", (m_root / "share").string()),
          m_desktop("XDG_CURRENT_DESKTOP", "X-Generic") {
        fs::create_directories(m_root / "config");
        fs::create_directories(m_root / "data" / "applications");
        fs::create_directories(m_root / "share");
        if (fs::exists("/usr/share/mime"))
            fs::create_directory_symlink("/usr/share/mime", m_root / "share" / "mime");
    }
    ~ScopedDesktop() {
        std::error_code ec;
        fs::remove_all(m_root, ec);
    }

    // Makes an application with this Exec line the default for HTML files.
    void SetHtmlDefault(const std::string& exec) {
        WriteFile(m_root / "data" / "applications" / "brevonix-test-browser.desktop",
                  "[Desktop Entry]\nType=Application\nName=Test Browser\nExec=" + exec + "\n");
        WriteFile(m_root / "config" / "mimeapps.list",
                  "[Default Applications]\ntext/html=brevonix-test-browser.desktop\n");
    }

private:
    fs::path m_root;
    ScopedEnv m_config, m_configDirs, m_data, m_dataDirs, m_desktop;
};

HWND Item(HWND dlg, int id) {
    return ::GetDlgItem(dlg, id);
}

// The label's rectangle in its parent's client coordinates.
CRect RectInParent(HWND h) {
    CRect rc;
    ::GetWindowRect(h, &rc);
    ::MapWindowPoints(nullptr, ::GetParent(h), reinterpret_cast<LPPOINT>(&rc), 2);
    return rc;
}

// What the colour query of the label's parent sets up in a device context.
struct ColourAnswer {
    COLORREF text;
    int bkMode;
    HBRUSH brush;
};

ColourAnswer AskColours(HWND label, UINT message = WM_CTLCOLORSTATIC) {
    HDC dc = ::GetDC(label);
    SetTextColor(dc, RGB(1, 2, 3));
    SetBkMode(dc, OPAQUE);
    auto brush = reinterpret_cast<HBRUSH>(::SendMessageW(
        ::GetParent(label), message, reinterpret_cast<WPARAM>(dc), reinterpret_cast<LPARAM>(label)));
    ColourAnswer answer{GetTextColor(dc), GetBkMode(dc), brush};
    ::ReleaseDC(label, dc);
    return answer;
}

CString ToolText(CHyperLink& link) {
    CString text;
    link.m_wndTip.GetText(text, &link, 1);
    return text;
}

CSize TextExtent(HWND label, HFONT font, const CString& text) {
    HDC dc = ::GetDC(label);
    SelectObject(dc, font);
    SIZE size{0, 0};
    GetTextExtentPoint32W(dc, text, text.GetLength(), &size);
    ::ReleaseDC(label, dc);
    return size;
}

class LabelTest : public ::testing::Test {
protected:
    void SetUp() override {
        InitGui();
        afxtest::UseResources(TestResources());
    }
    void TearDown() override { afxtest::UseResources(BrevonixResources()); }

    // Puts the pointer on the dialog's lower left corner, away from every label, and waits until the
    // link has noticed.
    static void ParkPointer(HWND dlg, const CHyperLink* link = nullptr) {
        CRect rc;
        ::GetClientRect(dlg, &rc);
        afxtest::MoveMouse(dlg, 4, rc.bottom - 4);
        if (link) {
            EXPECT_TRUE(afxtest::WaitFor([link] { return !link->m_bHovering; }, 2000));
        }
    }

    static void Hover(const CHyperLink& link, int x = 3) {
        CRect rc;
        link.GetClientRect(&rc);
        afxtest::MoveMouse(link.m_hWnd, x, rc.Height() / 2);
    }

    LinkSeam seam;
    CPaintProbeDlg dlg;
};

} // namespace

// ---- set-up ---------------------------------------------------------------------------------------------

TEST_F(LabelTest, SetUpExchangesTargetAndTextAndAddsTheTool) {
    struct Case {
        int id;
        const WCHAR* targetBefore; // set before attachment; null for none
        const WCHAR* target;
        const WCHAR* text;
    };
    const Case cases[] = {
        {IDC_TEST_LEFT, nullptr, u"Example link", u"Example link"},
        {IDC_TEST_EMPTY, u"http://www.talmore.example/empty", u"http://www.talmore.example/empty",
         u"http://www.talmore.example/empty"},
        {IDC_TEST_LEFT, u"mailto:someone@talmore.example", u"mailto:someone@talmore.example",
         u"Example link"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(CString(c.target).ToUtf8());
        CPaintProbeDlg probe;
        RunDialog(probe, [&](HWND h) {
            HWND label = Item(h, c.id);
            const HFONT templateFont = reinterpret_cast<HFONT>(::SendMessageW(label, WM_GETFONT, 0, 0));
            CHyperLink link;
            if (c.targetBefore) link.SetTarget(c.targetBefore);
            ASSERT_TRUE(link.SubclassWindow(label));

            EXPECT_EQ(link.m_strTarget, c.target);
            CString text;
            link.GetWindowText(text);
            EXPECT_EQ(text, c.text);
            EXPECT_EQ(ToolText(link), c.target);
            EXPECT_EQ(link.m_wndTip.GetToolCount(), 1);
            EXPECT_EQ(link.GetStyle() & SS_NOTIFY, SS_NOTIFY);
            // The window keeps its own font; the two made from it differ in the underline only.
            EXPECT_EQ(reinterpret_cast<HFONT>(link.SendMessage(WM_GETFONT)), templateFont);
            LOGFONTW plain{}, underlined{}, original{};
            GetObjectW(templateFont, sizeof original, &original);
            link.m_fontPlain.GetLogFont(&plain);
            link.m_fontUnderlined.GetLogFont(&underlined);
            EXPECT_EQ(plain.lfUnderline, 0);
            EXPECT_EQ(underlined.lfUnderline, 1);
            EXPECT_EQ(plain.lfHeight, original.lfHeight);
            EXPECT_EQ(std::u16string(underlined.lfFaceName), std::u16string(original.lfFaceName));
            EXPECT_EQ(link.m_nUnderlineMode, -1);
            EXPECT_FALSE(afxtest::IsFontUnderlined(label));
            EXPECT_NE(link.m_hHandCursor, nullptr);
        });
    }
}

TEST_F(LabelTest, HasNoRunTimeClassOfItsOwn) {
    CHyperLink link;
    EXPECT_EQ(link.GetRuntimeClass(), RUNTIME_CLASS(CStatic));
    CTransparentStatic label;
    EXPECT_STREQ(label.GetRuntimeClass()->m_lpszClassName, "CTransparentStatic");
    EXPECT_EQ(label.GetRuntimeClass()->m_pBaseClass, RUNTIME_CLASS(CStatic));
    EXPECT_TRUE(label.IsKindOf(RUNTIME_CLASS(CStatic)));
}

TEST_F(LabelTest, SetTargetBeforeAttachmentOnlyStoresAndAfterwardsRefitsAndRetitlesTheTip) {
    CHyperLink detached;
    detached.SetTarget(u"http://www.talmore.example/a");
    EXPECT_EQ(detached.m_strTarget, u"http://www.talmore.example/a");
    EXPECT_EQ(detached.m_hWnd, nullptr);

    RunDialog(dlg, [&](HWND h) {
        CHyperLink link;
        ASSERT_TRUE(link.SubclassWindow(Item(h, IDC_TEST_LEFT)));
        const CRect fitted = RectInParent(link.m_hWnd);
        link.SetWindowPos(nullptr, fitted.left, fitted.top, 300, 40, SWP_NOZORDER);
        ASSERT_EQ(RectInParent(link.m_hWnd).Width(), 300);

        link.SetTarget(u"http://www.talmore.example/b");
        EXPECT_EQ(RectInParent(link.m_hWnd), fitted);
        EXPECT_EQ(ToolText(link), u"http://www.talmore.example/b");
        CString text;
        link.GetWindowText(text);
        EXPECT_EQ(text, u"Example link");
    });
}

TEST_F(LabelTest, FitToTextFollowsTheAlignment) {
    RunDialog(dlg, [&](HWND h) {
        // A text that needs exactly 120 pixels in the underlined font, for the centred label.
        HWND centre = Item(h, IDC_TEST_CENTRE);
        LOGFONTW lf{};
        GetObjectW(reinterpret_cast<HFONT>(::SendMessageW(centre, WM_GETFONT, 0, 0)), sizeof lf, &lf);
        lf.lfUnderline = 1;
        CFont underlined;
        underlined.CreateFontIndirect(&lf);
        CString text120;
        for (int wide = 0; wide < 30 && text120.IsEmpty(); ++wide) {
            for (int narrow = 0; narrow < 40; ++narrow) {
                CString candidate;
                for (int i = 0; i < wide; ++i)
                    candidate += u'x';
                for (int i = 0; i < narrow; ++i)
                    candidate += u'i';
                if (TextExtent(centre, underlined, candidate).cx == 120) {
                    text120 = candidate;
                    break;
                }
            }
        }
        ASSERT_FALSE(text120.IsEmpty());
        ::SetWindowTextW(centre, text120);
        const CRect before = RectInParent(centre);
        ::SetWindowPos(centre, nullptr, before.left, before.top, 151, before.Height(), SWP_NOZORDER);

        struct Case {
            int id;
            const char* name;
        };
        for (const Case c :
             {Case{IDC_TEST_LEFT, "left"}, Case{IDC_TEST_RIGHT, "right"}, Case{IDC_TEST_CENTRE, "centred"},
              Case{IDC_TEST_VCENTRE, "vertically centred"}}) {
            SCOPED_TRACE(c.name);
            HWND label = Item(h, c.id);
            const CRect old = RectInParent(label);
            CString text;
            CWnd::FromHandle(label)->GetWindowText(text);
            const CSize need = TextExtent(label, underlined, text);

            CHyperLink link;
            ASSERT_TRUE(link.SubclassWindow(label));
            const CRect now = RectInParent(label);
            switch (c.id) {
            case IDC_TEST_LEFT:
                EXPECT_EQ(now, CRect(old.left, old.top, old.left + need.cx, old.top + need.cy));
                break;
            case IDC_TEST_RIGHT:
                EXPECT_EQ(now, CRect(old.right - need.cx, old.top, old.right, old.top + need.cy));
                break;
            case IDC_TEST_CENTRE:
                // 151 wide, 120 needed: each side moves in by 15 and the label ends 121 wide.
                EXPECT_EQ(need.cx, 120);
                EXPECT_EQ(now.left, old.left + 15);
                EXPECT_EQ(now.right, old.right - 15);
                EXPECT_EQ(now.Width(), 121);
                break;
            case IDC_TEST_VCENTRE: {
                const int inset = (old.Height() - need.cy) / 2;
                ASSERT_GT(inset, 0);
                EXPECT_EQ(now, CRect(old.left, old.top + inset, old.left + need.cx, old.bottom - inset));
                break;
            }
            }
            link.DestroyWindow();
        }
    });
}

// ---- colours, underline, hover -------------------------------------------------------------------------

TEST_F(LabelTest, ColoursFollowTheStateAsQueriedAndAsPainted) {
    seam.openLinkResult = 42;
    RunDialog(dlg, [&](HWND h) {
        CHyperLink link;
        ASSERT_TRUE(link.SubclassWindow(Item(h, IDC_TEST_LEFT)));
        link.SetUnderlineMode(1); // an underline row shows the text colour unblended
        ParkPointer(h, &link);

        auto expectColour = [&](COLORREF wanted, const char* state) {
            SCOPED_TRACE(state);
            const ColourAnswer answer = AskColours(link.m_hWnd);
            EXPECT_EQ(answer.text, wanted);
            EXPECT_EQ(answer.bkMode, TRANSPARENT);
            EXPECT_EQ(answer.brush, GetStockObject(NULL_BRUSH));
            const std::set<COLORREF> painted = PaintedColours(link.m_hWnd);
            for (COLORREF c : {kNormal, kVisited, kHover})
                EXPECT_EQ(painted.count(c), c == wanted ? 1u : 0u) << std::hex << c;
        };

        expectColour(kNormal, "normal");
        Hover(link);
        ASSERT_TRUE(link.m_bHovering);
        expectColour(kHover, "hover");
        afxtest::Click(link.m_hWnd);
        afxtest::ProcessEvents(10);
        ASSERT_TRUE(link.m_bLinkVisited);
        // The click ends the hover state although the pointer is still there.
        expectColour(kVisited, "visited, just clicked");
        Hover(link, 5);
        expectColour(kHover, "hover over visited");
        ParkPointer(h, &link);
        expectColour(kVisited, "visited");
    });
    EXPECT_EQ(seam.openedLinks, std::vector<CString>{u"Example link"});
    EXPECT_TRUE(seam.messages.empty());
}

TEST_F(LabelTest, ColourQueryOfAnyKindIsTransparentWithoutBrush) {
    RunDialog(dlg, [&](HWND h) {
        CHyperLink link;
        ASSERT_TRUE(link.SubclassWindow(Item(h, IDC_TEST_LEFT)));
        CTransparentStatic label;
        ASSERT_TRUE(label.SubclassWindow(Item(h, IDC_TEST_LABEL)));
        for (UINT message : {WM_CTLCOLORBTN, WM_CTLCOLORDLG, WM_CTLCOLORSTATIC}) {
            for (HWND control : {link.m_hWnd, label.m_hWnd}) {
                const ColourAnswer answer = AskColours(control, message);
                EXPECT_EQ(answer.bkMode, TRANSPARENT) << message;
                EXPECT_EQ(answer.brush, GetStockObject(NULL_BRUSH)) << message;
                // Only the link answers a static's query with a text colour of its own.
                const bool linkStatic = control == link.m_hWnd && message == WM_CTLCOLORSTATIC;
                EXPECT_EQ(answer.text, linkStatic ? kNormal : RGB(1, 2, 3)) << message;
            }
        }
        // Nothing is painted behind the text: the parent's colour shows in a blank corner.
        EXPECT_EQ(afxtest::PixelAt(h, RectInParent(link.m_hWnd).right - 1, RectInParent(link.m_hWnd).top),
                  dlg.m_clrBack);
    });
}

TEST_F(LabelTest, UnderlineFollowsTheModeOnEntryAndExit) {
    struct Case {
        int mode;
        bool atStart, hovering, afterLeaving;
    };
    for (const Case c :
         {Case{-1, false, true, false}, Case{1, true, true, true}, Case{0, false, false, false}}) {
        SCOPED_TRACE(c.mode);
        CPaintProbeDlg probe;
        RunDialog(probe, [&](HWND h) {
            CHyperLink link;
            ASSERT_TRUE(link.SubclassWindow(Item(h, IDC_TEST_LEFT)));
            link.SetUnderlineMode(c.mode);
            ParkPointer(h, &link);
            EXPECT_EQ(afxtest::IsFontUnderlined(link.m_hWnd), c.atStart);
            EXPECT_FALSE(afxtest::HasTimer(link.m_hWnd, 100));

            Hover(link);
            EXPECT_TRUE(link.m_bHovering);
            EXPECT_EQ(afxtest::IsFontUnderlined(link.m_hWnd), c.hovering);
            EXPECT_EQ(afxtest::CursorOf(link.m_hWnd), IDC_HAND);
            // The hover timer watches for the pointer leaving, and only while hovering.
            EXPECT_TRUE(afxtest::HasTimer(link.m_hWnd, 100));
            afxtest::ProcessEvents(250);
            EXPECT_TRUE(link.m_bHovering) << "the pointer is still there";

            ParkPointer(h, &link);
            EXPECT_EQ(afxtest::IsFontUnderlined(link.m_hWnd), c.afterLeaving);
            EXPECT_FALSE(afxtest::HasTimer(link.m_hWnd, 100));
        });
    }
}

namespace {

// Notes, as its window goes, whether the hover timer was still running.
class ProbeLink : public CHyperLink {
public:
    std::optional<bool> timerAtDestroy;

protected:
    afx_msg void OnDestroy() {
        timerAtDestroy = afxtest::HasTimer(m_hWnd, 100);
        CHyperLink::OnDestroy();
    }
    DECLARE_MESSAGE_MAP()
};

BEGIN_MESSAGE_MAP(ProbeLink, CHyperLink)
ON_WM_DESTROY()
END_MESSAGE_MAP()

} // namespace

TEST_F(LabelTest, DestroyWindowWhileHoveringStopsTheTimerFirst) {
    RunDialog(dlg, [&](HWND h) {
        ProbeLink link;
        ASSERT_TRUE(link.SubclassWindow(Item(h, IDC_TEST_LEFT)));
        HWND tip = link.m_wndTip.m_hWnd;
        Hover(link);
        ASSERT_TRUE(afxtest::HasTimer(link.m_hWnd, 100));
        EXPECT_TRUE(link.DestroyWindow());
        ASSERT_TRUE(link.timerAtDestroy.has_value());
        EXPECT_FALSE(*link.timerAtDestroy);
        EXPECT_EQ(link.m_hWnd, nullptr);
        // The tooltip window went with the label.
        EXPECT_FALSE(::IsWindow(tip));
        EXPECT_EQ(link.m_wndTip.m_hWnd, nullptr);
        afxtest::ProcessEvents(150);
    });
}

TEST_F(LabelTest, TooltipShowsTheTargetWhenThePointerRests) {
    RunDialog(dlg, [&](HWND h) {
        CHyperLink link;
        link.SetTarget(u"http://www.talmore.example/tip");
        ASSERT_TRUE(link.SubclassWindow(Item(h, IDC_TEST_LEFT)));
        ParkPointer(h, &link);
        EXPECT_EQ(afxtest::ShownToolTipText(), u"");
        Hover(link);
        EXPECT_TRUE(afxtest::WaitFor(
            [] { return afxtest::ShownToolTipText() == u"http://www.talmore.example/tip"; }, 3000));
        // A new target shows at once in the tip on screen.
        link.SetTarget(u"http://www.talmore.example/new");
        EXPECT_EQ(afxtest::ShownToolTipText(), u"http://www.talmore.example/new");
        // Leaving the label puts it away.
        ParkPointer(h, &link);
        EXPECT_TRUE(afxtest::WaitFor([] { return afxtest::ShownToolTipText().IsEmpty(); }, 3000));
    });
}

// ---- opening ---------------------------------------------------------------------------------------------

TEST_F(LabelTest, FailedOpenClearsTheVisitedStateAndExplainsTheCode) {
    ScopedDesktop desktop; // no application for HTML files: the fallback has nothing to run
    struct Case {
        int code;
        const WCHAR* text;
    };
    const Case cases[] = {
        {2, u"The specified file was not found."},
        {26, u"A sharing violation occurred. "},
        {1, u"Unknown Error (1) occurred."},
        {31, u"There is no application associated\nwith the given filename extension."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.code);
        LinkSeam local;
        CPaintProbeDlg probe;
        RunDialog(probe, [&](HWND h) {
            CHyperLink link;
            ASSERT_TRUE(link.SubclassWindow(Item(h, IDC_TEST_LEFT)));
            link.SetUnderlineMode(1);
            local.openLinkResult = 42;
            afxtest::Click(link.m_hWnd);
            ASSERT_TRUE(link.m_bLinkVisited);

            local.openLinkResult = c.code;
            afxtest::Click(link.m_hWnd);
            EXPECT_FALSE(link.m_bLinkVisited);
            EXPECT_FALSE(link.m_bHovering);
            ParkPointer(h, &link);
            const std::set<COLORREF> painted = PaintedColours(link.m_hWnd);
            EXPECT_EQ(painted.count(kNormal), 1u);
            EXPECT_EQ(painted.count(kVisited), 0u);
        });
        ASSERT_EQ(local.messages.size(), 1u);
        EXPECT_EQ(local.messages[0].text, CString(u"Unable to open hyperlink:\n\n") + c.text);
        EXPECT_EQ(local.messages[0].type, MB_ICONEXCLAMATION | MB_OK);
        EXPECT_EQ(local.messages[0].caption, CString(AfxGetAppName()));
        EXPECT_TRUE(local.commandLines.empty());
    }
}

TEST_F(LabelTest, FallbackRunsTheHtmlCommandCutAtItsPlaceholder) {
    struct Case {
        const char* exec;         // the default HTML application's Exec line
        const WCHAR* commandLine; // what runs
    };
    const Case cases[] = {
        // A quoted placeholder: cut before the quote; the blank before it stays, so two blanks.
        {"/bin/echo --url \"%u\"", u"/bin/echo --url  http://t.example/x"},
        // A bare one loses what follows it.
        {"/bin/echo %u --new-window", u"/bin/echo  http://t.example/x"},
        // None at all: one blank and the target at the end.
        {"/bin/echo --open", u"/bin/echo --open http://t.example/x"},
        // The quoted form wins over an earlier bare one.
        {"/bin/echo %U --then \"%F\"", u"/bin/echo %1 --then  http://t.example/x"},
        // Other field codes take their values or go.
        {"/bin/echo %c %%%i %u", u"/bin/echo \"Test Browser\" %  http://t.example/x"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.exec);
        ScopedDesktop desktop;
        desktop.SetHtmlDefault(c.exec);
        LinkSeam local;
        local.openLinkResult = 31; // the shell's own opening fails
        CPaintProbeDlg probe;
        RunDialog(probe, [&](HWND h) {
            CHyperLink link;
            link.SetTarget(u"http://t.example/x");
            ASSERT_TRUE(link.SubclassWindow(Item(h, IDC_TEST_LEFT)));
            afxtest::Click(link.m_hWnd);
            EXPECT_TRUE(link.m_bLinkVisited);
        });
        EXPECT_EQ(local.openedLinks, std::vector<CString>{u"http://t.example/x"});
        EXPECT_EQ(local.commandLines, std::vector<CString>{c.commandLine});
        EXPECT_TRUE(local.messages.empty());
    }
}

TEST_F(LabelTest, FallbackThatFailsToRunReportsItsOwnCode) {
    ScopedDesktop desktop;
    desktop.SetHtmlDefault("/bin/echo %u");
    seam.openLinkResult = 31;
    seam.runResult = 2;
    RunDialog(dlg, [&](HWND h) {
        CHyperLink link;
        ASSERT_TRUE(link.SubclassWindow(Item(h, IDC_TEST_LEFT)));
        afxtest::Click(link.m_hWnd);
        EXPECT_FALSE(link.m_bLinkVisited);
    });
    ASSERT_EQ(seam.commandLines.size(), 1u);
    ASSERT_EQ(seam.messages.size(), 1u);
    EXPECT_EQ(seam.messages[0].text, u"Unable to open hyperlink:\n\nThe specified file was not found.");
}

// ---- transparent label ---------------------------------------------------------------------------------

TEST_F(LabelTest, TransparentLabelRepaintsItsParentWithinTheTextChange) {
    RunDialog(dlg, [&](HWND h) {
        CTransparentStatic label;
        ASSERT_TRUE(label.SubclassWindow(Item(h, IDC_TEST_LABEL)));
        const CRect rc = RectInParent(label.m_hWnd);
        afxtest::ProcessEvents(20);
        const int paintsBefore = dlg.m_nPaints;

        label.SetWindowText(u"Short");
        // No event was processed in between: the parent painted within the call.
        EXPECT_GT(dlg.m_nPaints, paintsBefore);
        EXPECT_LE(dlg.m_rcLastPaint.left, rc.left);
        EXPECT_LE(dlg.m_rcLastPaint.top, rc.top);
        EXPECT_GE(dlg.m_rcLastPaint.right, rc.right);
        EXPECT_GE(dlg.m_rcLastPaint.bottom, rc.bottom);
        CString text;
        label.GetWindowText(text);
        EXPECT_EQ(text, u"Short");
        // Where the long text was, the parent's colour shows.
        EXPECT_EQ(afxtest::PixelAt(h, rc.right - 3, rc.top + rc.Height() / 2), dlg.m_clrBack);
    });
}

TEST_F(LabelTest, PlainLabelLeavesTheParentAlone) {
    // The contrast for the test above: an ordinary static repaints only itself, later.
    RunDialog(dlg, [&](HWND h) {
        afxtest::ProcessEvents(20);
        const int paintsBefore = dlg.m_nPaints;
        ::SetWindowTextW(Item(h, IDC_TEST_LABEL), u"Short");
        EXPECT_EQ(dlg.m_nPaints, paintsBefore);
    });
}

// ---- the shell, the registry and launching as the desktop does them -------------------------------------

namespace {

class ShellTest : public ::testing::Test {
protected:
    void SetUp() override { InitGui(); }
};

// A folder on PATH, first, holding a stand-in xdg-open written by the test.
class ScopedOpener {
public:
    explicit ScopedOpener(const std::string& script)
        : m_dir(MakeTempDir("brevonix-opener")),
          m_path("PATH", m_dir.string() + ":" + (std::getenv("PATH") ? std::getenv("PATH") : "")) {
        if (!script.empty()) {
            WriteFile(m_dir / "xdg-open", "#!/bin/sh\n" + script + "\n");
            ::chmod((m_dir / "xdg-open").c_str(), 0755);
        }
    }
    ~ScopedOpener() {
        std::error_code ec;
        fs::remove_all(m_dir, ec);
    }
    fs::path dir() const { return m_dir; }

private:
    fs::path m_dir;
    ScopedEnv m_path;
};

} // namespace

TEST_F(ShellTest, OpenLinkMapsTheOpenersVerdict) {
    struct Case {
        const char* script;
        int result;
    };
    for (const Case c : {Case{"exit 0", 42}, Case{"exit 2", SE_ERR_FNF}, Case{"exit 3", SE_ERR_NOASSOC},
                         Case{"exit 4", SE_ERR_ASSOCINCOMPLETE}}) {
        SCOPED_TRACE(c.script);
        ScopedOpener opener(c.script);
        CUserSeam real;
        EXPECT_EQ(real.OpenLink(u"http://t.example/"), c.result);
    }
}

TEST_F(ShellTest, OpenLinkHandsTheTargetOverAndFailsWithoutAnOpener) {
    {
        const fs::path out = MakeTempDir("brevonix-opened");
        ScopedOpener opener("printf '%s' \"$1\" > '" + (out / "target").string() + "'");
        CUserSeam real;
        EXPECT_GT(real.OpenLink(u"mailto:support@talmore.example"), 32);
        std::ifstream in(out / "target");
        std::string target((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        EXPECT_EQ(target, "mailto:support@talmore.example");
        fs::remove_all(out);
    }
    {
        // An opener that stays with the application it started is a success too.
        ScopedOpener opener("sleep 2");
        CUserSeam real;
        EXPECT_GT(real.OpenLink(u"http://t.example/"), 32);
        afxtest::ProcessEvents(900);
    }
    {
        ScopedOpener opener("");
        ScopedEnv path("PATH", opener.dir().string());
        CUserSeam real;
        EXPECT_EQ(real.OpenLink(u"http://t.example/"), SE_ERR_FNF);
    }
}

TEST_F(ShellTest, ShellExecuteOpensThroughTheSeamAndKnowsOneVerb) {
    LinkSeam seam;
    seam.openLinkResult = 42;
    EXPECT_EQ(reinterpret_cast<INT_PTR>(
                  ShellExecuteW(nullptr, u"open", u"http://t.example/", nullptr, nullptr, SW_SHOW)),
              42);
    EXPECT_EQ(reinterpret_cast<INT_PTR>(
                  ShellExecuteW(nullptr, u"print", u"http://t.example/", nullptr, nullptr, SW_SHOW)),
              SE_ERR_NOASSOC);
    EXPECT_EQ(reinterpret_cast<INT_PTR>(ShellExecuteW(nullptr, nullptr, u"", nullptr, nullptr, SW_SHOW)),
              SE_ERR_FNF);
    EXPECT_EQ(seam.openedLinks, std::vector<CString>{u"http://t.example/"});
}

TEST_F(ShellTest, RunCommandLineStartsTheProgramWithItsArguments) {
    const fs::path dir = MakeTempDir("brevonix-run");
    const fs::path marker = dir / "ran";
    CUserSeam real;
    const CString command = CString::FromUtf8("/bin/sh -c \"printf '%s|%s' \\\"$0\\\" \\\"$1\\\" > '" +
                                              marker.string() + "'\" \"one two\" three");
    EXPECT_GT(real.RunCommandLine(command), 31);
    EXPECT_TRUE(afxtest::WaitFor([&] { return fs::exists(marker) && fs::file_size(marker) > 0; }, 5000));
    std::ifstream in(marker);
    std::string got((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_EQ(got, "one two|three");
    fs::remove_all(dir);

    EXPECT_EQ(real.RunCommandLine(u"brevonix-no-such-program --x"), 2);
    EXPECT_EQ(real.RunCommandLine(u"/brevonix/no/such/dir/program"), 3);
    EXPECT_EQ(real.RunCommandLine(u""), 2);
}

TEST_F(ShellTest, ClassesRootAnswersFromTheDesktopsAssociations) {
    ScopedDesktop desktop;
    HKEY key = nullptr;
    EXPECT_EQ(RegOpenKeyExW(HKEY_CLASSES_ROOT, u".htm", 0, KEY_QUERY_VALUE, &key), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(key, nullptr);

    desktop.SetHtmlDefault("/bin/echo --url %u");
    ASSERT_EQ(RegOpenKeyExW(HKEY_CLASSES_ROOT, u".htm", 0, KEY_QUERY_VALUE, &key), ERROR_SUCCESS);
    WCHAR buf[MAX_PATH] = {};
    LONG cb = sizeof buf;
    EXPECT_EQ(RegQueryValueW(key, nullptr, buf, &cb), ERROR_SUCCESS);
    EXPECT_EQ(CString(buf), u"brevonix-test-browser.desktop");
    EXPECT_EQ(cb, static_cast<LONG>((CString(buf).GetLength() + 1) * sizeof(WCHAR)));
    // Too small a buffer gets the size it needs and no text.
    LONG small = 4;
    EXPECT_EQ(RegQueryValueW(key, nullptr, buf, &small), ERROR_MORE_DATA);
    EXPECT_EQ(small, cb);
    EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);

    ASSERT_EQ(RegOpenKeyExW(HKEY_CLASSES_ROOT, u"brevonix-test-browser.desktop\\Shell\\Open\\Command", 0,
                            KEY_QUERY_VALUE, &key),
              ERROR_SUCCESS);
    cb = sizeof buf;
    EXPECT_EQ(RegQueryValueW(key, nullptr, buf, &cb), ERROR_SUCCESS);
    EXPECT_EQ(CString(buf), u"/bin/echo --url %1");
    RegCloseKey(key);

    EXPECT_EQ(RegOpenKeyExW(HKEY_CLASSES_ROOT, u".brevonix-no-such-extension", 0, KEY_QUERY_VALUE, &key),
              ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(RegOpenKeyExW(HKEY_CLASSES_ROOT, u"no-such-app.desktop\\shell\\open\\command", 0,
                            KEY_QUERY_VALUE, &key),
              ERROR_FILE_NOT_FOUND);
}

TEST_F(ShellTest, WideCharToMultiByteWritesUtf8) {
    const WCHAR text[] = u"Caf\u00E9 \u20AC \U0001F600";
    const int needed = WideCharToMultiByte(CP_ACP, 0, text, -1, nullptr, 0, nullptr, nullptr);
    const std::string expected = "Caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x98\x80";
    ASSERT_EQ(needed, static_cast<int>(expected.size()) + 1);
    std::string out(static_cast<size_t>(needed), 'x');
    EXPECT_EQ(WideCharToMultiByte(CP_ACP, 0, text, -1, out.data(), needed, nullptr, nullptr), needed);
    EXPECT_EQ(out, expected + '\0');
    EXPECT_EQ(WideCharToMultiByte(CP_ACP, 0, text, -1, out.data(), needed - 1, nullptr, nullptr), 0);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
    // A lone surrogate has no UTF-8 form and becomes the replacement character.
    const WCHAR lone[] = {u'a', 0xD800, u'b'};
    char buf[8] = {};
    EXPECT_EQ(WideCharToMultiByte(CP_UTF8, 0, lone, 3, buf, sizeof buf, nullptr, nullptr), 5);
    EXPECT_EQ(std::string(buf, 5), "a\xEF\xBF\xBD"
                                   "b");
}

TEST_F(ShellTest, NoWindowsModuleLoads) {
    WCHAR dir[MAX_PATH] = {};
    const UINT n = GetWindowsDirectoryW(dir, MAX_PATH);
    EXPECT_GT(n, 0u);
    EXPECT_TRUE(fs::is_directory(CString(dir).ToUtf8()));
    EXPECT_EQ(GetWindowsDirectoryW(dir, 1), n + 1);
    const CString help = CString(dir) + u"\\winhlp32.exe";
    EXPECT_EQ(LoadLibraryW(help), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_MOD_NOT_FOUND));
    EXPECT_FALSE(FreeLibrary(nullptr));
}
