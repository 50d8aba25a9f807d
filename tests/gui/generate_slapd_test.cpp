// Generate from end to end against a real OpenLDAP directory: the window binds with typed
// credentials over StartTLS, searches, and lists every user with the cells as the directory holds
// them. The directory caps an unpaged search at 1000 entries, as AD's MaxPageSize does.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <thread>

#include "gui_support.h"
#include "res/resource.h"
#include "support/slapd_fixture.h"
#include "support/test_env.h"

using brevonix::test::MakeSeedUser;
using brevonix::test::SlapdServer;

namespace {

class GenerateAgainstSlapd : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        std::string error;
        s_server = SlapdServer::Start({.userCount = 2500}, error).release();
        if (!s_server) s_error = error;
    }
    static void TearDownTestSuite() {
        delete s_server;
        s_server = nullptr;
    }
    void SetUp() override {
        if (!s_server) {
            if (RunningInCi()) FAIL() << "slapd did not start: " << s_error;
            GTEST_SKIP() << "slapd did not start: " << s_error;
        }
    }

    static CString Domain() { return CString::FromUtf8(s_server->HostPort()); }

    // Types into the window as a person would and presses Generate.
    static void Generate(CVexlorDlg& d, const CString& domain, const CString& user, const CString& password,
                         const CString& filter = u"(&(objectClass=user)(objectCategory=user))") {
        d.m_edtDomain.SetWindowText(domain);
        d.SetDlgItemText(IDC_EDT_USER, user);
        d.SetDlgItemText(IDC_EDT_PASSWORD, password);
        d.m_edtQuery.SetWindowText(filter);
        afxtest::Click(::GetDlgItem(d.m_hWnd, IDC_BTN_GENERATE));
    }
    static void GenerateAsTestUser(CVexlorDlg& d,
                                   const CString& filter = u"(&(objectClass=user)(objectCategory=user))") {
        Generate(d, Domain(), CString(SlapdServer::BindDn16()), CString(SlapdServer::BindPassword16()),
                 filter);
    }

    static const std::vector<CString>* RowOf(const std::vector<std::vector<CString>>& rows,
                                             const std::string& cn) {
        const CString name = CString::FromUtf8(cn);
        for (const auto& row : rows)
            if (!row.empty() && row[0] == name) return &row;
        return nullptr;
    }

    static SlapdServer* s_server;
    static std::string s_error;
};

SlapdServer* GenerateAgainstSlapd::s_server = nullptr;
std::string GenerateAgainstSlapd::s_error;

} // namespace

TEST_F(GenerateAgainstSlapd, ListsEveryUserPastThePageCapWithCellsAsStored) {
    RecordingSeam seam;
    CVexlorDlg dlg;
    std::vector<std::vector<CString>> rows;
    CString count;
    RunMainWindow(dlg, [&](CVexlorDlg& d) {
        // The telephone and address columns, as the chooser would add them.
        d.m_lstResult.InsertColumn(6, u"TELEPHONE NUMBER", LVCFMT_LEFT, 90);
        d.m_lstResult.InsertColumn(7, u"ADDRESS", LVCFMT_LEFT, 90);
        GenerateAsTestUser(d);
        rows = Rows(d);
        count = CountText(d);
    });
    EXPECT_TRUE(seam.messages.empty()) << (seam.messages.empty() ? "" : seam.messages[0].text.ToUtf8());
    ASSERT_EQ(static_cast<int>(rows.size()), s_server->UserObjectCount());
    EXPECT_EQ(count, CString::FromUtf8(std::to_string(rows.size())));

    // No cell is empty, and none holds a comma or a line break.
    for (const auto& row : rows)
        for (const CString& cell : row) {
            EXPECT_FALSE(cell.IsEmpty());
            EXPECT_LT(cell.Find(u','), 0) << cell.ToUtf8();
            EXPECT_LT(cell.Find(u'\r'), 0) << cell.ToUtf8();
            EXPECT_LT(cell.Find(u'\n'), 0) << cell.ToUtf8();
        }

    const auto* twoLines = RowOf(rows, MakeSeedUser(brevonix::test::kUserTwoLineStreet).cn);
    ASSERT_NE(twoLines, nullptr);
    EXPECT_EQ((*twoLines)[7], u"12 Harbour Road  Flat 4");
    EXPECT_EQ((*twoLines)[5], u"Front desk  Ground floor  West wing");

    const auto* commas = RowOf(rows, MakeSeedUser(brevonix::test::kUserCommasInDescription).cn);
    ASSERT_NE(commas, nullptr);
    EXPECT_EQ((*commas)[5], u"Sales  North and East  Team 2");

    const auto noPhoneUser = MakeSeedUser(brevonix::test::kUserNoTelephone);
    const auto* noPhone = RowOf(rows, noPhoneUser.cn);
    ASSERT_NE(noPhone, nullptr);
    EXPECT_EQ((*noPhone)[6], u"-");

    const auto accentedUser = MakeSeedUser(brevonix::test::kUserAccentedNames);
    const auto* accented = RowOf(rows, accentedUser.cn);
    ASSERT_NE(accented, nullptr);
    EXPECT_EQ((*accented)[1], CString::FromUtf8(accentedUser.givenName));
    EXPECT_EQ((*accented)[3], CString::FromUtf8(accentedUser.sn));

    // An ordinary user, cell by cell.
    const auto user = MakeSeedUser(brevonix::test::kFirstOrdinaryUser + 17);
    const auto* row = RowOf(rows, user.cn);
    ASSERT_NE(row, nullptr);
    auto shown = [](const std::string& v) {
        CString s = CString::FromUtf8(v);
        s.Replace(u"\r\n", u", ");
        s.Replace(u",", u" ");
        return s.IsEmpty() ? CString(u"-") : s;
    };
    EXPECT_EQ((*row)[1], shown(user.givenName));
    EXPECT_EQ((*row)[2], shown(user.initials));
    EXPECT_EQ((*row)[3], shown(user.sn));
    EXPECT_EQ((*row)[4], shown(user.displayName));
    EXPECT_EQ((*row)[5], shown(user.description));
    EXPECT_EQ((*row)[6], shown(user.telephoneNumber));
    EXPECT_EQ((*row)[7], shown(user.streetAddress));
}

TEST_F(GenerateAgainstSlapd, AFilterMatchingNothingSaysSoAndCountsZero) {
    RecordingSeam seam;
    CVexlorDlg dlg;
    CString count;
    int rows = -1;
    RunMainWindow(dlg, [&](CVexlorDlg& d) {
        GenerateAsTestUser(d, u"(&(objectClass=user)(cn=nobody-is-called-this))");
        count = CountText(d);
        rows = d.m_lstResult.GetItemCount();
    });
    ASSERT_EQ(seam.messages.size(), 1u);
    EXPECT_EQ(seam.messages[0].text, u"No such objects found.");
    EXPECT_EQ(seam.messages[0].type, MB_ICONWARNING);
    EXPECT_EQ(count, u"0");
    EXPECT_EQ(rows, 0);
}

TEST_F(GenerateAgainstSlapd, AMalformedFilterIsReportedAsAFailedSearch) {
    RecordingSeam seam;
    CVexlorDlg dlg;
    CString count;
    RunMainWindow(dlg, [&](CVexlorDlg& d) {
        GenerateAsTestUser(d, u"(&(objectClass=user)(cn=unbalanced");
        count = CountText(d);
    });
    ASSERT_EQ(seam.messages.size(), 1u);
    EXPECT_EQ(seam.messages[0].text.Find(u"The search failed."), 0) << seam.messages[0].text.ToUtf8();
    EXPECT_GT(seam.messages[0].text.GetLength(), CString(u"The search failed.\n\n").GetLength());
    EXPECT_EQ(seam.messages[0].type, MB_ICONERROR);
    EXPECT_EQ(count, u"0");
}

TEST_F(GenerateAgainstSlapd, AWrongPasswordNamesTheControllerAndEmptiesThePreviousList) {
    RecordingSeam seam;
    CVexlorDlg dlg;
    int rowsBefore = 0, rowsAfter = -1;
    CString countAfter;
    const std::string log = s_server->ReadLog();
    RunMainWindow(dlg, [&](CVexlorDlg& d) {
        GenerateAsTestUser(d);
        rowsBefore = d.m_lstResult.GetItemCount();
        Generate(d, Domain(), CString(SlapdServer::BindDn16()), u"not-the-password");
        rowsAfter = d.m_lstResult.GetItemCount();
        countAfter = CountText(d);
    });
    EXPECT_EQ(rowsBefore, s_server->UserObjectCount());
    EXPECT_EQ(rowsAfter, 0);
    EXPECT_EQ(countAfter, u"0");
    ASSERT_EQ(seam.messages.size(), 1u);
    EXPECT_EQ(seam.messages[0].text, CString(u"Enter valid credentials of \"") + Domain() + u"\"");
    EXPECT_EQ(seam.messages[0].type, MB_ICONERROR);
    // The password never appears in what the tool says.
    EXPECT_LT(seam.messages[0].text.Find(u"not-the-password"), 0);
}

TEST_F(GenerateAgainstSlapd, ADomainWithoutAControllerIsInvalidAndNothingIsBound) {
    RecordingSeam seam;
    CVexlorDlg dlg;
    // Connections, not log size: the last test's connection may still be logging its close.
    auto connections = [] {
        const std::string log = s_server->ReadLog();
        size_t n = 0;
        for (size_t at = log.find(" ACCEPT from "); at != std::string::npos;
             at = log.find(" ACCEPT from ", at + 1))
            ++n;
        return n;
    };
    const size_t connectionsBefore = connections();
    RunMainWindow(dlg, [&](CVexlorDlg& d) {
        // A loopback port where nothing listens: no controller, and no name to look up.
        Generate(d, u"127.0.0.1:1", CString(SlapdServer::BindDn16()), CString(SlapdServer::BindPassword16()));
    });
    ASSERT_EQ(seam.messages.size(), 1u);
    EXPECT_EQ(seam.messages[0].text, u"Invalid domain name.");
    EXPECT_EQ(seam.messages[0].type, MB_ICONERROR);
    EXPECT_EQ(connections(), connectionsBefore) << "the directory heard from the tool";
}

TEST_F(GenerateAgainstSlapd, ColumnsChosenInTheChooserFillWithTheDirectorysValues) {
    RecordingSeam seam;
    CVexlorDlg dlg;
    std::vector<CString> headings;
    std::vector<std::vector<CString>> rows;
    RunMainWindow(dlg, [&](CVexlorDlg& d) {
        d.m_edtDomain.SetWindowText(Domain());
        d.SetDlgItemText(IDC_EDT_USER, CString(SlapdServer::BindDn16()));
        d.SetDlgItemText(IDC_EDT_PASSWORD, CString(SlapdServer::BindPassword16()));
        afxtest::OnNextModal([](HWND h) {
            CListBox* available =
                static_cast<CListBox*>(CWnd::FromHandle(::GetDlgItem(h, IDC_LST_AVAILABLE)));
            for (const CString& label : {CString(u"CITY"), CString(u"E-MAIL ID")}) {
                for (int i = 0; i < available->GetCount(); ++i) {
                    CString text;
                    available->GetText(i, text);
                    if (text == label) afxtest::ClickListBoxItem(available->m_hWnd, i);
                }
                afxtest::Click(::GetDlgItem(h, IDC_BTN_MOVE_ONE));
            }
            afxtest::Click(::GetDlgItem(h, IDC_BTN_OK));
        });
        afxtest::Click(::GetDlgItem(d.m_hWnd, IDC_BTN_ADVANCED));
        headings = Headings(d);
        rows = Rows(d);
    });
    EXPECT_TRUE(seam.messages.empty());
    ASSERT_EQ(headings.size(), 8u);
    EXPECT_EQ(headings[6], u"CITY");
    EXPECT_EQ(headings[7], u"E-MAIL ID");
    ASSERT_EQ(static_cast<int>(rows.size()), s_server->UserObjectCount());
    const auto user = MakeSeedUser(brevonix::test::kFirstOrdinaryUser + 3);
    const auto* row = RowOf(rows, user.cn);
    ASSERT_NE(row, nullptr);
    EXPECT_EQ((*row)[6], CString::FromUtf8(user.l));
    EXPECT_EQ((*row)[7], CString::FromUtf8(user.mail));
}

TEST_F(GenerateAgainstSlapd, AServerThatDiesDuringTheSearchLeavesWhatWasListedAndSaysSo) {
    std::string error;
    auto server = SlapdServer::Start({.userCount = 6000}, error);
    ASSERT_NE(server, nullptr) << error;
    RecordingSeam seam;
    CVexlorDlg dlg;
    int rows = -1;
    CString count;
    // The server dies once it has begun to answer the search.
    std::thread killer([&server] {
        for (int i = 0; i < 2000; ++i) {
            if (server->ReadLog().find("SRCH base=\"dc=brevonix") != std::string::npos) break;
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
        server->Kill();
    });
    const auto start = std::chrono::steady_clock::now();
    RunMainWindow(dlg, [&](CVexlorDlg& d) {
        Generate(d, CString::FromUtf8(server->HostPort()), CString(SlapdServer::BindDn16()),
                 CString(SlapdServer::BindPassword16()));
        rows = d.m_lstResult.GetItemCount();
        count = CountText(d);
    });
    killer.join();
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(60));
    ASSERT_LT(rows, server->UserObjectCount());
    EXPECT_EQ(count, CString::FromUtf8(std::to_string(rows)));
    ASSERT_EQ(seam.messages.size(), 1u);
    const CString& text = seam.messages[0].text;
    if (rows > 0) {
        // The usual case: part of the result had arrived.
        CString expected;
        expected.Format(u"The list is incomplete: the search stopped after %d objects.", rows);
        EXPECT_EQ(text.Find(expected), 0) << text.ToUtf8();
        EXPECT_EQ(seam.messages[0].type, MB_ICONWARNING);
    } else {
        EXPECT_EQ(text.Find(u"The search failed."), 0) << text.ToUtf8();
        EXPECT_EQ(seam.messages[0].type, MB_ICONERROR);
    }
}
