// The main window as a person meets it: its state at start, its keyboard rule, its menu, its
// export link and its close commands. The real dialog runs headless and is driven by control ID.
#include <gtest/gtest.h>

#include "app/AttributeCatalogue.h"
#include "gui_support.h"
#include "res/resource.h"

namespace {

HWND Item(CVexlorDlg& dlg, int id) {
    return ::GetDlgItem(dlg.m_hWnd, id);
}

std::vector<CString> ToVector(const CStringArray& arr) {
    return {arr.begin(), arr.end()};
}

const std::vector<CString> kBasic = {u"NAME",      u"FIRST NAME",   u"INITIAL",
                                     u"LAST NAME", u"DISPLAY NAME", u"DESCRIPTION"};
const std::vector<CString> kExtra = {u"OFFICE",   u"TELEPHONE NUMBER", u"E-MAIL ID", u"WEB SITE ADDRESS",
                                     u"ADDRESS",  u"POST BOX NUMBER",  u"CITY",      u"STATE\\PROVINCE",
                                     u"ZIP CODE", u"COUNTRY",          u"LOGON NAME"};

} // namespace

TEST(MainWindow, OpensWithTitleFilterColumnsAndCount) {
    RecordingSeam seam;
    CVexlorDlg dlg;
    RunMainWindow(dlg, [&](CVexlorDlg& d) {
        CString title;
        d.GetWindowText(title);
        EXPECT_EQ(title, u"Brevonix");
        CString filter;
        d.m_edtQuery.GetWindowText(filter);
        EXPECT_EQ(filter, u"(&(objectClass=user)(objectCategory=user))");
        EXPECT_EQ(Headings(d), kBasic);
        for (int i = 0; i < 6; ++i)
            EXPECT_EQ(d.m_lstResult.GetColumnWidth(i), 80) << "column " << i;
        EXPECT_EQ(d.m_lstResult.GetExtendedStyle(), 0x21u);
        EXPECT_EQ(d.m_lstResult.GetItemCount(), 0);
        EXPECT_EQ(CountText(d), u"0");
        EXPECT_EQ(ToVector(d.m_arrBasicColumns), kBasic);
        EXPECT_EQ(ToVector(d.m_arrExtraColumns), kExtra);
        // The domain edit holds the joined domain, or nothing on a computer that is not joined.
        CString joined, domain;
        d.GetJoinedDomainName(joined);
        d.m_edtDomain.GetWindowText(domain);
        EXPECT_EQ(domain, joined);
        // The focus starts in the first tab stop, the domain edit, once the window is active.
        EXPECT_TRUE(afxtest::WaitFor([] { return ::GetFocus() != nullptr; }, 2000));
        EXPECT_EQ(::GetFocus(), Item(d, IDC_EDT_DOMAIN));
    });
    EXPECT_TRUE(seam.messages.empty());
}

TEST(MainWindow, ClientAreaIsTheTemplateSizeInDialogUnits) {
    CVexlorDlg dlg;
    RunMainWindow(dlg, [&](CVexlorDlg& d) {
        // 353 x 339 dialog units with the dialog font's 6 x 13 base units.
        CRect client;
        d.GetClientRect(&client);
        EXPECT_EQ(client.Width(), 530);
        EXPECT_EQ(client.Height(), 551);
        EXPECT_EQ(afxtest::FontFamily(d.m_hWnd), u"DejaVu Sans Condensed");
        // A control lands where its template rectangle says: Generate at 281,105 (50 x 14).
        CRect generate;
        ::GetWindowRect(Item(d, IDC_BTN_GENERATE), &generate);
        d.ScreenToClient(&generate);
        EXPECT_EQ(generate, CRect(422, 171, 497, 194));
        // The banner takes its picture's own size.
        CRect banner;
        d.m_stcBanner.GetClientRect(&banner);
        EXPECT_EQ(banner, CRect(0, 0, 529, 79));
    });
}

TEST(MainWindow, EnterAndEscapeDoNothingOutsideTheCommandButtons) {
    for (int id : {IDC_EDT_DOMAIN, IDC_EDT_QUERY, IDC_EDT_USER, IDC_EDT_PASSWORD, IDC_LST_RESULT}) {
        for (UINT key : {VK_RETURN, VK_ESCAPE}) {
            RecordingSeam seam;
            CVexlorDlg dlg;
            bool stillOpen = false;
            const INT_PTR result = RunMainWindow(dlg, [&](CVexlorDlg& d) {
                afxtest::Key(Item(d, id), key);
                afxtest::ProcessEvents(20);
                stillOpen = afxtest::ActiveModal() == d.m_hWnd;
                d.EndDialog(4242);
            });
            EXPECT_TRUE(stillOpen) << "control " << id << " key " << key;
            EXPECT_EQ(result, 4242) << "control " << id << " key " << key;
            // No search was started: it would have said "Enter all credentials." for the empty domain.
            EXPECT_TRUE(seam.messages.empty()) << "control " << id << " key " << key;
        }
    }
}

TEST(MainWindow, EscapeOnACommandButtonCancelsTheWindow) {
    for (int id : {IDC_BTN_GENERATE, IDC_BTN_ADVANCED}) {
        CVexlorDlg dlg;
        const INT_PTR result =
            RunMainWindow(dlg, [&](CVexlorDlg& d) { afxtest::Key(Item(d, id), VK_ESCAPE); });
        EXPECT_EQ(result, IDCANCEL) << "button " << id;
    }
}

TEST(MainWindow, EnterOnGeneratePressesIt) {
    RecordingSeam seam;
    CVexlorDlg dlg;
    RunMainWindow(dlg, [&](CVexlorDlg& d) {
        d.m_edtDomain.SetWindowText(u"");
        afxtest::Key(Item(d, IDC_BTN_GENERATE), VK_RETURN);
    });
    ASSERT_EQ(seam.messages.size(), 1u);
    EXPECT_EQ(seam.messages[0].text, u"Enter all credentials.");
    EXPECT_EQ(seam.messages[0].type, MB_ICONINFORMATION);
    EXPECT_EQ(seam.messages[0].caption, CString(AfxGetAppName()));
}

TEST(MainWindow, EnterOnAdvancedOpensTheChooser) {
    CVexlorDlg dlg;
    CString chooserCaption;
    RunMainWindow(dlg, [&](CVexlorDlg& d) {
        afxtest::OnNextModal([&](HWND chooser) {
            CWnd::FromHandle(chooser)->GetWindowText(chooserCaption);
            CWnd::FromHandle(chooser)->SendMessage(WM_COMMAND, IDCANCEL);
        });
        afxtest::Key(Item(d, IDC_BTN_ADVANCED), VK_RETURN);
    });
    EXPECT_EQ(chooserCaption, u"Attributes");
}

TEST(MainWindow, CloseEndsWithOkAndTheCloseBoxWithCancel) {
    {
        CVexlorDlg dlg;
        EXPECT_EQ(RunMainWindow(dlg, [&](CVexlorDlg& d) { afxtest::Click(Item(d, IDC_BTN_CLOSE)); }), IDOK);
    }
    {
        CVexlorDlg dlg;
        EXPECT_EQ(RunMainWindow(dlg, [&](CVexlorDlg& d) { afxtest::CloseWindow(d.m_hWnd); }), IDCANCEL);
    }
}

TEST(MainWindow, SystemMenuEndsWithTheAboutEntry) {
    CVexlorDlg dlg;
    RunMainWindow(dlg, [&](CVexlorDlg& d) {
        CMenu* menu = d.GetSystemMenu(FALSE);
        ASSERT_NE(menu, nullptr);
        const UINT n = menu->GetMenuItemCount();
        ASSERT_GE(n, 2u);
        EXPECT_EQ(menu->GetMenuState(n - 2, MF_BYPOSITION) & MF_SEPARATOR, MF_SEPARATOR);
        EXPECT_EQ(menu->GetMenuItemID(static_cast<int>(n - 1)), 16u);
        CString text;
        menu->GetMenuString(n - 1, text, MF_BYPOSITION);
        EXPECT_EQ(text, u"&About Brevonix");
    });
}

TEST(MainWindow, AboutFromTheSystemMenuOpensTheAboutBoxAndReturns) {
    // Through the window's own menu, opened with a right click on its background and with Alt+Space.
    for (bool keyboard : {false, true}) {
        CVexlorDlg dlg;
        CString aboutCaption;
        bool mainStillOpen = false;
        RunMainWindow(dlg, [&](CVexlorDlg& d) {
            afxtest::OnNextModal([&](HWND about) {
                CWnd::FromHandle(about)->GetWindowText(aboutCaption);
                CWnd::FromHandle(about)->SendMessage(WM_COMMAND, IDOK);
            });
            afxtest::RunLater([] { afxtest::ChoosePopupMenuItem(u"&About Brevonix"); }, 50);
            if (keyboard)
                afxtest::Key(Item(d, IDC_EDT_QUERY), VK_SPACE, true);
            else
                afxtest::RightClickAt(d.m_hWnd, 300, 540);
            afxtest::ProcessEvents(20);
            mainStillOpen = afxtest::ActiveModal() == d.m_hWnd;
        });
        EXPECT_EQ(aboutCaption, u"Brevonix") << (keyboard ? "Alt+Space" : "right click");
        EXPECT_TRUE(mainStillOpen);
    }
}

TEST(MainWindow, OtherSystemCommandsKeepTheirDefaultMeaning) {
    CVexlorDlg dlg;
    const INT_PTR result = RunMainWindow(dlg, [&](CVexlorDlg& d) {
        // 0xF020: minimise; the window stays open. 0xF060: close, ending it with cancel.
        d.SendMessage(WM_SYSCOMMAND, SC_MINIMIZE);
        afxtest::ProcessEvents(20);
        EXPECT_TRUE(d.IsIconic());
        d.SendMessage(WM_SYSCOMMAND, SC_RESTORE);
        d.SendMessage(WM_SYSCOMMAND, SC_CLOSE);
    });
    EXPECT_EQ(result, IDCANCEL);
}

TEST(MainWindow, MinimisedWindowPaintsItsIconCentred) {
    CVexlorDlg dlg;
    RunMainWindow(dlg, [&](CVexlorDlg& d) {
        afxtest::Minimize(d.m_hWnd);
        afxtest::ProcessEvents(20);
        ASSERT_TRUE(d.IsIconic());
        // (530 - 32 + 1) / 2 = 249 and (551 - 32 + 1) / 2 = 260: the icon's teal square starts there.
        EXPECT_EQ(afxtest::PixelAt(d.m_hWnd, 249 + 3, 260 + 16, false), RGB(0x1f, 0x7a, 0x8c));
        EXPECT_NE(afxtest::PixelAt(d.m_hWnd, 249 - 3, 260 + 16, false), RGB(0x1f, 0x7a, 0x8c));
        EXPECT_EQ(afxtest::PixelAt(d.m_hWnd, 249 + 28, 260 + 16, false), RGB(0x1f, 0x7a, 0x8c));
        EXPECT_NE(afxtest::PixelAt(d.m_hWnd, 249 + 34, 260 + 16, false), RGB(0x1f, 0x7a, 0x8c));
        EXPECT_EQ(reinterpret_cast<HICON>(d.SendMessage(WM_QUERYDRAGICON)), d.m_hIcon);
    });
}

TEST(MainWindow, ExportLinkIsAPlainBlueLabelThatCommandsTheExport) {
    RecordingSeam seam;
    seam.fileAnswers.push_back(std::nullopt); // the person cancels the Save dialog
    CVexlorDlg dlg;
    RunMainWindow(dlg, [&](CVexlorDlg& d) {
        CXTHyperLink& link = d.m_lnkExport;
        CString text;
        link.GetWindowText(text);
        EXPECT_EQ(text, u"G e n e r a t e  CSV");
        CRect rect;
        link.GetWindowRect(&rect);
        d.ScreenToClient(&rect);
        EXPECT_EQ(rect, CRect(345, 499, 498, 515));
        EXPECT_EQ(link.GetDlgCtrlID(), IDC_LNK_EXPORT);
        EXPECT_EQ(link.GetStyle() & 0x50000001u, 0x50000001u);
        EXPECT_EQ(link.GetStyle() & WS_TABSTOP, 0u);
        EXPECT_FALSE(afxtest::IsFontUnderlined(link.m_hWnd));
        EXPECT_FALSE(link.IsShellExecuteEnabled());
        // The background is fixed to the face colour of the moment the window was made.
        EXPECT_EQ(link.GetBackColor(), GetSysColor(COLOR_3DFACE));
        EXPECT_EQ(link.GetTextColor(), RGB(0, 0, 255));

        afxtest::MoveMouse(link.m_hWnd, 20, 8);
        EXPECT_EQ(link.GetTextColor(), RGB(255, 0, 0));
        EXPECT_EQ(afxtest::CursorOf(link.m_hWnd), IDC_HAND);

        afxtest::Click(link.m_hWnd);
        afxtest::ProcessEvents(10);
        afxtest::MoveMouse(d.m_hWnd, 5, 540);
        afxtest::ProcessEvents(10);
        EXPECT_EQ(link.GetTextColor(), RGB(128, 0, 128));
    });
    // The click reached the window as the export command, and opened no address.
    ASSERT_EQ(seam.fileRequests.size(), 1u);
    EXPECT_EQ(seam.fileRequests[0].strTitle, u"Save as");
    EXPECT_TRUE(seam.openedLinks.empty());
    EXPECT_TRUE(seam.messages.empty());
}

TEST(AttributeCatalogue, LooksUpWholeLabelsWithoutRegardToCase) {
    struct Case {
        const WCHAR* label;
        const WCHAR* attribute; // null: no catalogue label
    };
    const Case cases[] = {
        {u"NAME", u"cn"},
        {u"name", u"cn"},
        {u"DISPLAY NAME", u"displayName"},
        {u"FIRST NAME", u"givenName"},
        {u"LAST NAME", u"sn"},
        {u"last name", u"sn"},
        {u"telephone number", u"telephoneNumber"},
        {u"Telephone Number", u"telephoneNumber"},
        {u"STATE\\PROVINCE", u"st"},
        {u"STATE/PROVINCE", nullptr},
        {u"NAM", nullptr},
        {u"NAME ", nullptr},
        {u"", nullptr},
        {u"E-MAIL ID", u"mail"},
        {u"WEB SITE ADDRESS", u"url"},
        {u"ADDRESS", u"streetAddress"},
        {u"LOGON NAME", u"userPrincipalName"},
    };
    for (const Case& c : cases) {
        const LPCWSTR found = LookupAttributeName(CString(c.label));
        if (!c.attribute)
            EXPECT_EQ(found, nullptr) << CString(c.label).ToUtf8();
        else
            EXPECT_EQ(CString(found), CString(c.attribute)) << CString(c.label).ToUtf8();
    }
}

TEST(MainWindow, KeysInARealMessageBoxReachTheMessageBox) {
    // No seam: the window system's own message box, owned by the main window. Enter must press its
    // button rather than be taken by the main window's keyboard rule.
    CVexlorDlg dlg;
    bool watchdogFired = false;
    RunMainWindow(dlg, [&](CVexlorDlg& d) {
        d.m_edtDomain.SetWindowText(u"");
        afxtest::RunLater([] { afxtest::KeyToFocus(VK_RETURN); }, 100);
        afxtest::RunLater([&] { watchdogFired = afxtest::RejectActiveModal(); }, 3000);
        afxtest::Click(::GetDlgItem(d.m_hWnd, IDC_BTN_GENERATE));
    });
    EXPECT_FALSE(watchdogFired) << "Enter did not close the message box";
}
