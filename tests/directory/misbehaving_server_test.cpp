// The directory stand-in against a server that misbehaves on purpose (support/misbehaving_server.h):
// searches that trickle, pages that never end, a connection that drops, values that break their
// syntax, and a filter of 100,000 characters. Each search ends within its time limit, hands out
// the rows that did arrive, and says why it stopped.
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "slapd_suite.h"
#include "support/misbehaving_server.h"

using namespace brevonix::test;
using Clock = std::chrono::steady_clock;
using Mode = MisbehavingOptions::Mode;

namespace {

#define REQUIRE_MISBEHAVING(server, options)                                                                 \
    std::string server##_error;                                                                              \
    auto server = MisbehavingServer::Start(options, server##_error);                                         \
    REQUIRE_TEST_DIRECTORY(server, server##_error)

HRESULT OpenAsReader(const MisbehavingServer& server, SearchInterface& out) {
    const std::u16string user = MisbehavingServer::BindDn16(), password = MisbehavingServer::BindPassword16();
    return OpenAs(server.AdsPath(), &user, &password, out);
}

// The tool's five preferences, with a shorter time limit where the test says so.
void SetPreferences(IDirectorySearch* search, int timeoutSeconds = 120) {
    ASSERT_EQ(SetToolPreferences(search), S_OK);
    ADS_SEARCHPREF_INFO timeout{};
    timeout.dwSearchPref = ADS_SEARCHPREF_TIMEOUT;
    timeout.vValue.dwType = ADSTYPE_INTEGER;
    timeout.vValue.Integer = static_cast<DWORD>(timeoutSeconds);
    ASSERT_EQ(search->SetSearchPreference(&timeout, 1), S_OK);
}

struct Outcome {
    std::vector<std::u16string> names; // cn of every row handed out, in order
    HRESULT end = S_OK;                // what stopped the rows: S_ADS_NOMORE_ROWS or a failure
    std::string reason;                // ADsGetLastError's text after a failure
    Clock::duration took{};
};

// Runs the search as the tool does (first row, next rows until anything but S_OK), reading the
// name of each row, and stops at `maxRows` in case the search would go on for ever.
Outcome Drain(IDirectorySearch* search, const std::u16string& filter = kUserFilter, size_t maxRows = 100000) {
    Outcome o;
    const auto start = Clock::now();
    ADS_SEARCH_HANDLE h = nullptr;
    o.end = Execute(search, filter, h);
    if (o.end == S_OK) {
        for (HRESULT hr = search->GetFirstRow(h);; hr = search->GetNextRow(h)) {
            if (hr != S_OK || o.names.size() >= maxRows) {
                o.end = hr;
                break;
            }
            Column cn(search, h, u"cn");
            const auto values = cn.Strings();
            o.names.push_back(values.empty() ? u"" : values.front());
        }
        search->CloseSearchHandle(h);
    }
    o.took = Clock::now() - start;
    if (FAILED(o.end)) o.reason = Narrow(GetLastAdsError().text);
    return o;
}

std::u16string UserName(int n) {
    const std::string cn = MisbehavingServer::UserCn(n);
    return std::u16string(cn.begin(), cn.end());
}

} // namespace

// The client's own bound: without it, a server that sends one entry every 300 ms keeps every wait
// short and the search goes on as long as it likes.
TEST(MisbehavingServer, ASearchThatTricklesEndsAtItsTimeLimitWithTheRowsThatCame) {
    REQUIRE_MISBEHAVING(server,
                        (MisbehavingOptions{.mode = Mode::SlowSearch, .entries = 60, .delayMs = 300}));
    SearchInterface search;
    ASSERT_EQ(OpenAsReader(*server, search), S_OK);
    SetPreferences(search.p, 2);
    const Outcome o = Drain(search.p);
    EXPECT_EQ(o.end, HRESULT_FROM_WIN32(1460)) << o.reason; // ERROR_TIMEOUT
    EXPECT_GE(o.took, std::chrono::milliseconds(1900));
    EXPECT_LT(o.took, std::chrono::seconds(5));
    EXPECT_NE(o.reason.find("time limit of 2 seconds"), std::string::npos) << o.reason;
    // The rows that arrived in time were handed out, in order.
    ASSERT_GE(o.names.size(), 3u);
    EXPECT_LT(o.names.size(), 10u);
    for (size_t i = 0; i < o.names.size(); ++i)
        EXPECT_EQ(o.names[i], UserName(static_cast<int>(i)));
}

TEST(MisbehavingServer, ASlowServerWithinTheTimeLimitGivesEveryRow) {
    REQUIRE_MISBEHAVING(server, (MisbehavingOptions{.mode = Mode::SlowSearch, .entries = 20, .delayMs = 20}));
    SearchInterface search;
    ASSERT_EQ(OpenAsReader(*server, search), S_OK);
    SetPreferences(search.p, 5);
    const Outcome o = Drain(search.p);
    EXPECT_EQ(o.end, S_ADS_NOMORE_ROWS) << o.reason;
    EXPECT_EQ(o.names.size(), 20u);
}

TEST(MisbehavingServer, PagesWithNewCookiesForEverEndAtTheTimeLimit) {
    REQUIRE_MISBEHAVING(server, (MisbehavingOptions{.mode = Mode::EndlessCookie, .pageEntries = 5}));
    SearchInterface search;
    ASSERT_EQ(OpenAsReader(*server, search), S_OK);
    SetPreferences(search.p, 2);
    const Outcome o = Drain(search.p);
    EXPECT_EQ(o.end, HRESULT_FROM_WIN32(1460)) << o.reason;
    EXPECT_LT(o.took, std::chrono::seconds(5));
    EXPECT_GT(o.names.size(), 5u) << "more than one page arrived";
    EXPECT_GT(server->LogLines("search").size(), 2u);
}

TEST(MisbehavingServer, EmptyPagesWithTheSameCookieEndTheSearchAtOnce) {
    REQUIRE_MISBEHAVING(
        server, (MisbehavingOptions{.mode = Mode::EndlessCookie, .pageEntries = 7, .sameCookie = true}));
    SearchInterface search;
    ASSERT_EQ(OpenAsReader(*server, search), S_OK);
    SetPreferences(search.p);
    const Outcome o = Drain(search.p);
    EXPECT_TRUE(FAILED(o.end));
    EXPECT_NE(o.end, HRESULT_FROM_WIN32(1460)) << "waited for the time limit: " << o.reason;
    EXPECT_LT(o.took, std::chrono::seconds(5));
    EXPECT_NE(o.reason.find("same cookie"), std::string::npos) << o.reason;
    // The first page's rows were handed out; the server was asked only a few times more.
    EXPECT_EQ(o.names.size(), 7u);
    const size_t searches = server->LogLines("search").size();
    EXPECT_LE(searches, 3u /* root DSE, schema, first page */ + 6u);
}

// Asynchronous, as the tool searches: every entry that arrived is a row; then the loss is reported.
TEST(MisbehavingServer, AConnectionDroppedAfter100EntriesGivesThoseRowsThenAFailure) {
    REQUIRE_MISBEHAVING(
        server, (MisbehavingOptions{.mode = Mode::DropsConnection, .entries = 400, .dropAfter = 100}));
    SearchInterface search;
    ASSERT_EQ(OpenAsReader(*server, search), S_OK);
    SetPreferences(search.p);
    const Outcome o = Drain(search.p);
    EXPECT_TRUE(FAILED(o.end)) << std::hex << o.end;
    EXPECT_NE(o.end, HRESULT_FROM_WIN32(1460)) << "waited for the time limit: " << o.reason;
    EXPECT_LT(o.took, std::chrono::seconds(10));
    ASSERT_EQ(o.names.size(), 100u);
    EXPECT_EQ(o.names.back(), UserName(99));
    EXPECT_FALSE(o.reason.empty());
}

// The server's schema says `description` is a Generalized Time and `initials` an INTEGER; what it
// sends does not always fit. A column keeps one type: the syntax's when every value fits, else text
// showing what the directory holds.
TEST(MisbehavingServer, ValuesThatBreakTheirSyntaxComeOutAsTheirText) {
    REQUIRE_MISBEHAVING(server, (MisbehavingOptions{.mode = Mode::BreaksSyntax, .entries = 3}));
    SearchInterface search;
    ASSERT_EQ(OpenAsReader(*server, search), S_OK);
    SetPreferences(search.p);
    ADS_SEARCH_HANDLE h = nullptr;
    ASSERT_EQ(Execute(search.p, kUserFilter, h), S_OK);

    ASSERT_EQ(search->GetFirstRow(h), S_OK);
    {
        Column description(search.p, h, u"description");
        ASSERT_EQ(description.hr, S_OK);
        EXPECT_EQ(description.col.dwADsType, ADSTYPE_UTC_TIME);
        EXPECT_EQ(description.col.pADsValues[0].UTCTime.wYear, 2009);
        Column initials(search.p, h, u"initials");
        ASSERT_EQ(initials.hr, S_OK);
        EXPECT_EQ(initials.col.dwADsType, ADSTYPE_INTEGER);
        EXPECT_EQ(initials.col.pADsValues[0].Integer, 7u);
    }
    struct Expected {
        std::vector<std::u16string> description, initials;
    } const rows[] = {
        {{u"99999999999999Z"}, {u"123456789012345678901234567890"}},
        {{u"20090305140709Z", u"Sales, North"}, {u"J"}},
    };
    for (const auto& row : rows) {
        ASSERT_EQ(search->GetNextRow(h), S_OK);
        Column description(search.p, h, u"description");
        Column initials(search.p, h, u"initials");
        EXPECT_EQ(description.col.dwADsType, ADSTYPE_CASE_IGNORE_STRING);
        EXPECT_EQ(description.Strings(), row.description);
        EXPECT_EQ(initials.col.dwADsType, ADSTYPE_CASE_IGNORE_STRING);
        EXPECT_EQ(initials.Strings(), row.initials);
    }
    EXPECT_EQ(search->GetNextRow(h), S_ADS_NOMORE_ROWS);
    search->CloseSearchHandle(h);
}

// A filter of 100,000 characters reaches the server exactly as typed; a broken one that long is
// refused before anything is sent, with a message that stays readable.
TEST(MisbehavingServer, AFilterOf100000CharactersGoesOutExactlyOrNotAtAll) {
    REQUIRE_MISBEHAVING(server, (MisbehavingOptions{.mode = Mode::Normal, .entries = 3}));
    std::string filter = "(|";
    for (int i = 0; filter.size() < 100000; ++i)
        filter += "(cn=u" + std::to_string(1000000 + i) + ")";
    filter += ")";
    ASSERT_GE(filter.size(), 100000u);

    SearchInterface search;
    ASSERT_EQ(OpenAsReader(*server, search), S_OK);
    SetPreferences(search.p);
    const Outcome o = Drain(search.p, std::u16string(filter.begin(), filter.end()));
    EXPECT_EQ(o.end, S_ADS_NOMORE_ROWS) << o.reason;
    const auto searches = server->LogLines("search");
    ASSERT_FALSE(searches.empty());
    EXPECT_EQ(JsonField(searches.back(), "filter"), filter);

    std::string broken(100000, '(');
    const size_t before = server->LogLines("search").size();
    const Outcome b = Drain(search.p, std::u16string(broken.begin(), broken.end()));
    EXPECT_TRUE(FAILED(b.end));
    EXPECT_EQ(server->LogLines("search").size(), before) << "a broken filter was sent";
    EXPECT_LT(b.reason.size(), 400u) << b.reason;
    EXPECT_NE(b.reason.find("100000 characters"), std::string::npos) << b.reason;
}
