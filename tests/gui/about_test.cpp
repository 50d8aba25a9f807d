// The About box as a person meets it: its caption, its picture copied 1:1 at the corner, its
// transparent labels, its three links with their targets and tooltips, and what happens without
// the picture. Run on its own and from the main window's system menu.
#include <gtest/gtest.h>

#include <cstdint>
#include <fstream>
#include <iterator>
#include <set>
#include <string>
#include <vector>

#include "controls/AboutDlg.h"
#include "gui_support.h"
#include "res/resource.h"

namespace {

constexpr COLORREF kNormal = RGB(0, 0, 238);
constexpr COLORREF kVisited = RGB(85, 26, 139);
constexpr COLORREF kHover = RGB(255, 0, 0);

// The About picture as the file in res/ has it: 24-bit, uncompressed, rows bottom-up.
class AboutPicture {
public:
    AboutPicture() {
        std::ifstream in(std::string(BREVONIX_SOURCE_DIR) + "/res/about.bmp", std::ios::binary);
        m_data.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    bool Loaded() const { return m_data.size() > 54 && m_data[0] == 'B' && m_data[1] == 'M'; }
    int Width() const { return Int32(18); }
    int Height() const { return Int32(22); }
    COLORREF Pixel(int x, int y) const {
        const int row = (Width() * 3 + 3) & ~3;
        const size_t at = static_cast<size_t>(Int32(10) + (Height() - 1 - y) * row + x * 3);
        return RGB(Byte(at + 2), Byte(at + 1), Byte(at));
    }

private:
    int Byte(size_t i) const { return static_cast<unsigned char>(m_data[i]); }
    int Int32(size_t i) const {
        return static_cast<int>(static_cast<uint32_t>(Byte(i)) | static_cast<uint32_t>(Byte(i + 1)) << 8 |
                                static_cast<uint32_t>(Byte(i + 2)) << 16 |
                                static_cast<uint32_t>(Byte(i + 3)) << 24);
    }
    std::vector<char> m_data;
};

// The one state colour painted on the link, or CLR_INVALID if none or several are.
COLORREF StateColour(const CHyperLink& link) {
    const std::set<COLORREF> painted = PaintedColours(link.m_hWnd);
    COLORREF found = CLR_INVALID;
    for (COLORREF c : {kNormal, kVisited, kHover}) {
        if (!painted.count(c)) continue;
        if (found != CLR_INVALID) return CLR_INVALID;
        found = c;
    }
    return found;
}

CRect RectInParent(HWND h) {
    CRect rc;
    ::GetWindowRect(h, &rc);
    ::MapWindowPoints(nullptr, ::GetParent(h), reinterpret_cast<LPPOINT>(&rc), 2);
    return rc;
}

CString ToolText(CHyperLink& link) {
    CString text;
    link.m_wndTip.GetText(text, &link, 1);
    return text;
}

INT_PTR RunAbout(CAboutDlg& dlg, const std::function<void(CAboutDlg&)>& script) {
    InitGui();
    bool ran = false;
    afxtest::OnNextModal([&dlg, &script, &ran](HWND) {
        ran = true;
        // The pointer starts away from the links, on the box's lower left corner.
        CRect rc;
        dlg.GetClientRect(&rc);
        afxtest::MoveMouse(dlg.m_hWnd, 3, rc.bottom - 3);
        afxtest::WaitFor(
            [&] {
                return !dlg.m_lnkWebSite.m_bHovering && !dlg.m_lnkSupportMail.m_bHovering &&
                       !dlg.m_lnkSalesMail.m_bHovering;
            },
            2000);
        script(dlg);
        if (dlg.m_hWnd && dlg.IsWindowVisible()) dlg.EndDialog(IDCANCEL);
    });
    const INT_PTR result = dlg.DoModal();
    EXPECT_TRUE(ran) << "the About box never came up";
    return result;
}

} // namespace

TEST(AboutBox, OpensWithItsCaptionLinksAndButton) {
    RecordingSeam seam;
    CAboutDlg dlg;
    const INT_PTR result = RunAbout(dlg, [&](CAboutDlg& d) {
        CString caption;
        d.GetWindowText(caption);
        EXPECT_EQ(caption, u"Brevonix");

        struct Link {
            CHyperLink* link;
            CString target;
        };
        const Link links[] = {
            {&d.m_lnkWebSite, CString(kMakerWebSite)},
            {&d.m_lnkSupportMail, CString(u"mailto:") + kSupportMail},
            {&d.m_lnkSalesMail, CString(u"mailto:") + kSalesMail},
        };
        for (const Link& l : links) {
            SCOPED_TRACE(l.target.ToUtf8());
            EXPECT_EQ(l.link->m_strTarget, l.target);
            EXPECT_EQ(ToolText(*l.link), l.target);
            EXPECT_EQ(l.link->m_nUnderlineMode, 1);
            EXPECT_TRUE(afxtest::IsFontUnderlined(l.link->m_hWnd));
            EXPECT_EQ(StateColour(*l.link), kNormal);
        }
        // The labels keep their texts; the web site's is its target.
        CString text;
        d.m_lnkWebSite.GetWindowText(text);
        EXPECT_EQ(text, kMakerWebSite);
        d.m_lnkSupportMail.GetWindowText(text);
        EXPECT_EQ(text, kSupportMail);
        d.m_stcProduct.GetWindowText(text);
        EXPECT_EQ(text, u"Brevonix");
        d.m_stcVersion.GetWindowText(text);
        EXPECT_EQ(text, u"ver 9.09.01");

        EXPECT_EQ(d.m_btnOK.GetXButtonStyle(), 0x1022u);
        EXPECT_TRUE(afxtest::WaitFor([&] { return afxtest::HasFocus(d.m_btnOK.m_hWnd); }, 2000));
        afxtest::Click(d.m_btnOK.m_hWnd);
    });
    EXPECT_EQ(result, IDOK);
    EXPECT_TRUE(seam.messages.empty());
}

TEST(AboutBox, PictureSitsAtTheClientCornerOneToOneBehindTheLabels) {
    const AboutPicture picture;
    ASSERT_TRUE(picture.Loaded());
    ASSERT_EQ(picture.Width(), 418);
    ASSERT_EQ(picture.Height(), 214);
    CAboutDlg dlg;
    RunAbout(dlg, [&](CAboutDlg& d) {
        CRect client;
        d.GetClientRect(&client);
        EXPECT_EQ(d.m_nDrawWidth, client.Width());
        EXPECT_EQ(d.m_nDrawHeight, client.Height());
        EXPECT_EQ(d.m_nDstX, 0);
        EXPECT_EQ(d.m_nDstY, 0);
        for (const POINT p :
             {POINT{0, 0}, POINT{20, 20}, POINT{client.right - 1, 5}, POINT{8, 200}, POINT{300, 150}})
            EXPECT_EQ(afxtest::PixelAt(d.m_hWnd, p.x, p.y), picture.Pixel(p.x, p.y)) << p.x << "," << p.y;
        // The labels paint no background: at a blank corner of each the picture shows.
        for (CWnd* label : {static_cast<CWnd*>(&d.m_stcProduct), static_cast<CWnd*>(&d.m_stcLegalNotice),
                            static_cast<CWnd*>(&d.m_stcVersion), static_cast<CWnd*>(&d.m_lnkWebSite)}) {
            const CRect rc = RectInParent(label->m_hWnd);
            EXPECT_EQ(afxtest::PixelAt(d.m_hWnd, rc.left, rc.top), picture.Pixel(rc.left, rc.top))
                << label->GetDlgCtrlID();
        }
    });
}

TEST(AboutBox, LinksTurnRedUnderThePointerShowTheirTipAndPurpleOnceOpened) {
    RecordingSeam seam;
    seam.openLinkResult = 42;
    {
        CAboutDlg dlg;
        RunAbout(dlg, [&](CAboutDlg& d) {
            CHyperLink& link = d.m_lnkSupportMail;
            afxtest::MoveMouse(link.m_hWnd, 4, 5);
            EXPECT_EQ(StateColour(link), kHover);
            EXPECT_EQ(afxtest::CursorOf(link.m_hWnd), IDC_HAND);
            EXPECT_TRUE(afxtest::WaitFor(
                [] { return afxtest::ShownToolTipText() == CString(u"mailto:") + kSupportMail; }, 3000));
            afxtest::Click(link.m_hWnd);
            afxtest::MoveMouse(d.m_hWnd, 3, 3);
            EXPECT_TRUE(afxtest::WaitFor([&] { return !link.m_bHovering; }, 2000));
            EXPECT_EQ(StateColour(link), kVisited);
            EXPECT_EQ(StateColour(d.m_lnkWebSite), kNormal);
        });
        EXPECT_EQ(seam.openedLinks, std::vector<CString>{CString(u"mailto:") + kSupportMail});
    }
    // Every opening starts afresh.
    CAboutDlg again;
    RunAbout(again, [&](CAboutDlg& d) {
        for (CHyperLink* link : {&d.m_lnkWebSite, &d.m_lnkSupportMail, &d.m_lnkSalesMail})
            EXPECT_EQ(StateColour(*link), kNormal);
    });
    EXPECT_TRUE(seam.messages.empty());
}

TEST(AboutBox, MissingPictureIsReportedBeforeTheBoxOpensWithoutIt) {
    RecordingSeam seam;
    afxtest::HideResource('B', IDB_ABOUT, true);
    CAboutDlg dlg;
    size_t messagesWhenUp = 0;
    CString caption;
    RunAbout(dlg, [&](CAboutDlg& d) {
        messagesWhenUp = seam.messages.size();
        d.GetWindowText(caption);
        EXPECT_EQ(d.m_nDrawWidth, 0);
        // Nothing of the picture: the face colour shows at the corner.
        EXPECT_EQ(afxtest::PixelAt(d.m_hWnd, 0, 0), GetSysColor(COLOR_3DFACE));
        EXPECT_TRUE(afxtest::IsFontUnderlined(d.m_lnkWebSite.m_hWnd));
        EXPECT_EQ(ToolText(d.m_lnkSalesMail), CString(u"mailto:") + kSalesMail);
    });
    afxtest::HideResource('B', IDB_ABOUT, false);
    EXPECT_EQ(messagesWhenUp, 1u);
    EXPECT_EQ(caption, u"Brevonix");
    ASSERT_EQ(seam.messages.size(), 1u);
    EXPECT_EQ(seam.messages[0].text, u"Load Image Failed");
    EXPECT_EQ(seam.messages[0].type, MB_OK);
    EXPECT_EQ(seam.messages[0].caption, CString(AfxGetAppName()));
}

TEST(AboutBox, OpensCentredOverTheMainWindowFromItsSystemMenu) {
    RecordingSeam seam;
    CVexlorDlg main;
    CRect mainRect, aboutRect;
    bool underlined = false;
    RunMainWindow(main, [&](CVexlorDlg& d) {
        d.GetWindowRect(&mainRect);
        afxtest::OnNextModal([&](HWND about) {
            ::GetWindowRect(about, &aboutRect);
            underlined = afxtest::IsFontUnderlined(::GetDlgItem(about, IDC_LNK_WEBSITE));
            afxtest::Key(::GetDlgItem(about, IDC_BTN_OK), VK_ESCAPE);
        });
        d.SendMessage(WM_SYSCOMMAND, 16);
    });
    EXPECT_TRUE(underlined);
    EXPECT_NEAR((aboutRect.left + aboutRect.right) / 2, (mainRect.left + mainRect.right) / 2, 2);
    EXPECT_NEAR((aboutRect.top + aboutRect.bottom) / 2, (mainRect.top + mainRect.bottom) / 2, 16);
    EXPECT_TRUE(seam.messages.empty());
}
