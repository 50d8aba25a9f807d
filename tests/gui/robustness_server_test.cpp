// Generate from the real window against a directory that misbehaves on purpose
// (support/misbehaving_server.h): a bind that is never answered, a slow search, a connection that
// drops after 100 entries, values that break their syntax, and a paged search that never ends. In
// each case the command ends within its bounds, shows at most one message, and keeps the rows it
// listed together with their count.
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "gui_support.h"
#include "res/resource.h"
#include "support/misbehaving_server.h"
#include "support/test_env.h"

using brevonix::test::MisbehavingOptions;
using brevonix::test::MisbehavingServer;
using Clock = std::chrono::steady_clock;
using Mode = MisbehavingOptions::Mode;

namespace {

std::unique_ptr<MisbehavingServer> StartOrExplain(const MisbehavingOptions& options, std::string& error) {
    return MisbehavingServer::Start(options, error);
}

#define REQUIRE_MISBEHAVING(server, options)                                                                 \
    std::string server##_error;                                                                              \
    auto server = StartOrExplain(options, server##_error);                                                   \
    if (!server) {                                                                                           \
        if (RunningInCi()) FAIL() << "the misbehaving server did not start: " << server##_error;             \
        GTEST_SKIP() << "the misbehaving server did not start: " << server##_error;                          \
    }

struct Result {
    std::vector<std::vector<CString>> rows;
    CString count;
    Clock::duration took{};
};

// Types the server's address and the reader's credentials into the window and presses Generate.
Result Generate(RecordingSeam&, const MisbehavingServer& server,
                const CString& filter = u"(&(objectClass=user)(objectCategory=user))",
                const CString& user = CString(MisbehavingServer::BindDn16()),
                const CString& password = CString(MisbehavingServer::BindPassword16())) {
    Result r;
    CVexlorDlg dlg;
    RunMainWindow(dlg, [&](CVexlorDlg& d) {
        d.m_edtDomain.SetWindowText(CString::FromUtf8(server.HostPort()));
        d.SetDlgItemText(IDC_EDT_USER, user);
        d.SetDlgItemText(IDC_EDT_PASSWORD, password);
        d.m_edtQuery.SetWindowText(filter);
        const auto start = Clock::now();
        afxtest::Click(::GetDlgItem(d.m_hWnd, IDC_BTN_GENERATE));
        r.took = Clock::now() - start;
        r.rows = Rows(d);
        r.count = CountText(d);
    });
    return r;
}

std::string Texts(const RecordingSeam& seam) {
    std::string all;
    for (const auto& m : seam.messages)
        all += "[" + m.text.ToUtf8() + "] ";
    return all;
}

CString Name(int n) {
    return CString::FromUtf8(MisbehavingServer::UserCn(n));
}

} // namespace

// The stand-in waits 60 seconds for any one answer of the directory (kRequestTimeoutSeconds); a
// bind that never comes back ends there, as a failed bind.
TEST(RobustnessAgainstServer, ABindThatIsNeverAnsweredEndsAsAFailedBind) {
    REQUIRE_MISBEHAVING(server, (MisbehavingOptions{.mode = Mode::NeverAnswersBind}));
    RecordingSeam seam;
    const Result r = Generate(seam, *server);
    EXPECT_GE(r.took, std::chrono::seconds(55));
    EXPECT_LT(r.took, std::chrono::seconds(100));
    ASSERT_EQ(seam.messages.size(), 1u) << Texts(seam);
    EXPECT_EQ(seam.messages[0].text,
              CString(u"Enter valid credentials of \"") + CString::FromUtf8(server->HostPort()) + u"\"");
    EXPECT_EQ(seam.messages[0].type, MB_ICONERROR);
    EXPECT_TRUE(r.rows.empty());
    EXPECT_EQ(r.count, u"0");
    // The bind did go out, inside TLS, and was never answered.
    const auto binds = server->LogLines("bind");
    ASSERT_EQ(binds.size(), 1u);
    EXPECT_EQ(brevonix::test::JsonField(binds[0], "tls"), "true");
}

// Slow, but within the 120-second limit: every row, no message.
TEST(RobustnessAgainstServer, ASlowSearchWithinItsTimeLimitListsEveryRow) {
    REQUIRE_MISBEHAVING(server, (MisbehavingOptions{.mode = Mode::SlowSearch, .entries = 40, .delayMs = 40}));
    RecordingSeam seam;
    const Result r = Generate(seam, *server);
    EXPECT_TRUE(seam.messages.empty()) << Texts(seam);
    ASSERT_EQ(r.rows.size(), 40u);
    EXPECT_EQ(r.count, u"40");
    EXPECT_GE(r.took, std::chrono::milliseconds(40 * 40));
    for (int i = 0; i < 40; ++i)
        EXPECT_EQ(r.rows[static_cast<size_t>(i)][0], Name(i));
}

TEST(RobustnessAgainstServer, AConnectionDroppedAfter100EntriesKeepsThe100RowsAndSaysSo) {
    REQUIRE_MISBEHAVING(server, (MisbehavingOptions{.mode = Mode::DropsConnection, .entries = 400}));
    RecordingSeam seam;
    const Result r = Generate(seam, *server);
    EXPECT_LT(r.took, std::chrono::seconds(30));
    ASSERT_EQ(r.rows.size(), 100u);
    EXPECT_EQ(r.count, u"100");
    EXPECT_EQ(r.rows.back()[0], Name(99));
    ASSERT_EQ(seam.messages.size(), 1u) << Texts(seam);
    EXPECT_EQ(seam.messages[0].text.Find(u"The list is incomplete: the search stopped after 100 objects."), 0)
        << seam.messages[0].text.ToUtf8();
    EXPECT_EQ(seam.messages[0].type, MB_ICONWARNING);
}

// The server's schema calls `description` a Generalized Time and `initials` an INTEGER; the values
// it sends do not always fit. Each cell shows what the directory holds; nothing is lost or garbled.
TEST(RobustnessAgainstServer, ValuesThatBreakTheirSyntaxAreShownAsTheDirectoryHoldsThem) {
    REQUIRE_MISBEHAVING(server, (MisbehavingOptions{.mode = Mode::BreaksSyntax, .entries = 3}));
    RecordingSeam seam;
    const Result r = Generate(seam, *server);
    EXPECT_TRUE(seam.messages.empty()) << Texts(seam);
    ASSERT_EQ(r.rows.size(), 3u);
    EXPECT_EQ(r.count, u"3");
    // Columns: NAME, FIRST NAME, INITIAL, LAST NAME, DISPLAY NAME, DESCRIPTION.
    EXPECT_EQ(r.rows[0][2], u"7");
    EXPECT_GE(r.rows[0][5].Find(u"/3/2009  "), 0) << r.rows[0][5].ToUtf8(); // a real time, in local time
    EXPECT_EQ(r.rows[1][2], u"123456789012345678901234567890");
    EXPECT_EQ(r.rows[1][5], u"99999999999999Z");
    EXPECT_EQ(r.rows[2][2], u"J");
    EXPECT_EQ(r.rows[2][5], u"20090305140709Z;Sales  North");
    // The other cells are untouched ("User 00002, shown" loses its comma as every cell does).
    EXPECT_EQ(r.rows[2][4], u"User 00002  shown");
}

// Empty pages with the same cookie for ever: the search stops at once, the first page's rows stay.
TEST(RobustnessAgainstServer, APageCookieThatNeverEndsStopsTheSearchAndKeepsTheRows) {
    REQUIRE_MISBEHAVING(
        server, (MisbehavingOptions{.mode = Mode::EndlessCookie, .pageEntries = 7, .sameCookie = true}));
    RecordingSeam seam;
    const Result r = Generate(seam, *server);
    EXPECT_LT(r.took, std::chrono::seconds(10));
    ASSERT_EQ(r.rows.size(), 7u);
    EXPECT_EQ(r.count, u"7");
    ASSERT_EQ(seam.messages.size(), 1u) << Texts(seam);
    const CString& text = seam.messages[0].text;
    EXPECT_EQ(text.Find(u"The list is incomplete: the search stopped after 7 objects."), 0) << text.ToUtf8();
    EXPECT_GE(text.Find(u"same cookie"), 0) << text.ToUtf8();
    EXPECT_EQ(seam.messages[0].type, MB_ICONWARNING);
}
