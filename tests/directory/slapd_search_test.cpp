// Searching a real slapd through IDirectorySearch exactly as the tool's search calls it.
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "directory/slapd_suite.h"
#include "platform/cstring.h"

namespace brevonix::test {
namespace {

using Clock = std::chrono::steady_clock;

// 2,500 generated users: more than two pages under the 1000-entry cap.
constexpr int kPagedUsers = 2500;

SlapdServer* PagedServer(std::string& error) {
    SlapdOptions options;
    options.userCount = kPagedUsers;
    return SharedSlapd("paged", options, error);
}

std::u16string Utf16(const std::string& s) {
    return CString::FromUtf8(s).str();
}

// Runs the filter and counts rows; collects the values of `attr` to find duplicates or gaps.
struct Listing {
    HRESULT first = E_FAIL;
    HRESULT last = E_FAIL; // what ended the loop
    int rows = 0;
    std::set<std::u16string> names;
};

Listing ListAll(IDirectorySearch* search, const std::u16string& filter) {
    Listing out;
    ADS_SEARCH_HANDLE h = nullptr;
    if (FAILED(Execute(search, filter, h))) return out;
    out.first = search->GetFirstRow(h);
    HRESULT hr = out.first;
    while (hr == S_OK) {
        ++out.rows;
        Column cn(search, h, u"cn");
        if (SUCCEEDED(cn.hr)) out.names.insert(cn.Strings().at(0));
        hr = search->GetNextRow(h);
    }
    out.last = hr;
    search->CloseSearchHandle(h);
    return out;
}

// The small seeded directory, opened as the bind user with the tool's search preferences.
class SmallDirectorySearch : public ::testing::Test {
protected:
    void SetUp() override {
        std::string error;
        server = SharedSlapd("small", {}, error);
        REQUIRE_TEST_DIRECTORY(server, error);
        ASSERT_EQ(OpenAsBindUser(*server, search), S_OK);
        ASSERT_EQ(SetToolPreferences(search.p), S_OK);
    }

    SlapdServer* server = nullptr;
    SearchInterface search;
};

TEST(SlapdSearch, PagingListsEveryUserThroughTheThousandEntryCap) {
    std::string error;
    SlapdServer* server = PagedServer(error);
    REQUIRE_TEST_DIRECTORY(server, error);

    for (bool asynchronous : {true, false}) {
        SCOPED_TRACE(asynchronous ? "asynchronous" : "synchronous");
        SearchInterface search;
        ASSERT_EQ(OpenAsBindUser(*server, search), S_OK);
        // The tool's page size of one hundred million is refused by slapd and retried at 1000.
        ASSERT_EQ(SetToolPreferences(search.p, 100000000, asynchronous), S_OK);
        const Listing all = ListAll(search.p, kUserFilter);
        EXPECT_EQ(all.first, S_OK);
        EXPECT_EQ(all.last, S_ADS_NOMORE_ROWS);
        EXPECT_EQ(all.rows, server->UserObjectCount());
        EXPECT_EQ(static_cast<int>(all.names.size()), all.rows) << "a row was listed twice";
        EXPECT_TRUE(all.names.count(Utf16(MakeSeedUser(kPagedUsers - 1).cn)));
        EXPECT_TRUE(all.names.count(u"Test User"));
    }
    // The retry really was needed: slapd refused the first page size.
    EXPECT_NE(server->ReadLog().find("illegal pagedResults page size"), std::string::npos);
}

TEST(SlapdSearch, PageSizesTheServerAcceptsAreUsedAsGiven) {
    std::string error;
    SlapdServer* server = PagedServer(error);
    REQUIRE_TEST_DIRECTORY(server, error);
    for (DWORD pageSize : {1000u, 7u}) {
        SearchInterface search;
        ASSERT_EQ(OpenAsBindUser(*server, search), S_OK);
        ASSERT_EQ(SetToolPreferences(search.p, pageSize), S_OK);
        const Listing all = ListAll(search.p, kUserFilter);
        EXPECT_EQ(all.rows, server->UserObjectCount()) << "page size " << pageSize;
        EXPECT_EQ(all.last, S_ADS_NOMORE_ROWS);
    }
}

TEST(SlapdSearch, UnpagedSearchStopsAtTheSizeLimitWithAnError) {
    std::string error;
    SlapdServer* server = PagedServer(error);
    REQUIRE_TEST_DIRECTORY(server, error);
    SearchInterface search;
    ASSERT_EQ(OpenAsBindUser(*server, search), S_OK);
    ASSERT_EQ(SetToolPreferences(search.p, 0), S_OK);
    const Listing all = ListAll(search.p, kUserFilter);
    EXPECT_EQ(all.rows, 1000);
    // Not "no more rows": the list is incomplete and the caller must be able to tell.
    EXPECT_EQ(all.last, HRESULT_FROM_WIN32(8227)); // ERROR_DS_SIZELIMIT_EXCEEDED
    EXPECT_NE(Narrow(GetLastAdsError().text).find("Size limit exceeded"), std::string::npos);
}

TEST_F(SmallDirectorySearch, DefaultFilterMatchesUsersOnly) {
    const Listing users = ListAll(search.p, kUserFilter);
    EXPECT_EQ(users.rows, server->UserObjectCount());
    EXPECT_FALSE(users.names.count(u"Outside Contact"));
    EXPECT_FALSE(users.names.count(u"Staff"));

    // Filters travel as UTF-8: accents, other scripts and characters beyond U+FFFF find their users.
    for (const char16_t* filter : {u"(sn=Ångström-Müller)", u"(l=東京)", u"(description=*𝄞*)"}) {
        const Listing one = ListAll(search.p, filter);
        EXPECT_EQ(one.rows, 1) << Narrow(filter);
    }

    const Listing none = ListAll(search.p, u"(cn=nobody by that name)");
    EXPECT_EQ(none.first, S_ADS_NOMORE_ROWS);
    EXPECT_EQ(none.rows, 0);
}

// Finds the one object matching `filter` and makes it the current row.
ADS_SEARCH_HANDLE FindOne(IDirectorySearch* search, const std::u16string& filter) {
    ADS_SEARCH_HANDLE h = nullptr;
    if (FAILED(Execute(search, filter, h))) return nullptr;
    if (search->GetFirstRow(h) != S_OK) {
        search->CloseSearchHandle(h);
        return nullptr;
    }
    return h;
}

TEST_F(SmallDirectorySearch, CatalogueAttributesComeBackExactlyAsSeeded) {

    for (int index : {int(kUserTwoLineStreet), int(kUserCommasInDescription), int(kUserNoTelephone),
                      int(kUserAccentedNames), int(kUserBeyondLatin1), int(kUserSeveralUrls), 17}) {
        SCOPED_TRACE("user " + std::to_string(index));
        const SeedUser u = MakeSeedUser(index);
        ADS_SEARCH_HANDLE h = FindOne(search.p, Utf16("(sAMAccountName=" + u.sAMAccountName + ")"));
        ASSERT_NE(h, nullptr);
        const std::pair<const char16_t*, std::string> single[] = {
            {u"cn", u.cn},
            {u"givenName", u.givenName},
            {u"initials", u.initials},
            {u"sn", u.sn},
            {u"displayName", u.displayName},
            {u"description", u.description},
            {u"physicalDeliveryOfficeName", u.physicalDeliveryOfficeName},
            {u"telephoneNumber", u.telephoneNumber},
            {u"mail", u.mail},
            {u"streetAddress", u.streetAddress},
            {u"postOfficeBox", u.postOfficeBox},
            {u"l", u.l},
            {u"st", u.st},
            {u"postalCode", u.postalCode},
            {u"co", u.co},
            {u"userPrincipalName", u.userPrincipalName},
        };
        for (const auto& [name, expected] : single) {
            Column c(search.p, h, name);
            if (expected.empty()) {
                EXPECT_EQ(c.hr, E_ADS_COLUMN_NOT_SET) << Narrow(name);
                continue;
            }
            ASSERT_EQ(c.hr, S_OK) << Narrow(name);
            EXPECT_EQ(c.col.dwADsType, ADSTYPE_CASE_IGNORE_STRING) << Narrow(name);
            EXPECT_EQ(c.Strings(), std::vector<std::u16string>{Utf16(expected)}) << Narrow(name);
        }
        Column url(search.p, h, u"url");
        const std::vector<std::u16string> got = url.Strings();
        std::vector<std::u16string> urls;
        for (const std::string& s : u.url)
            urls.push_back(Utf16(s));
        EXPECT_EQ(std::multiset<std::u16string>(got.begin(), got.end()),
                  std::multiset<std::u16string>(urls.begin(), urls.end()));
        search->CloseSearchHandle(h);
    }
}

TEST_F(SmallDirectorySearch, EveryAdsTypeFromRealServerValues) {
    ADS_SEARCH_HANDLE h = FindOne(search.p, u"(sAMAccountName=test.user)");
    ASSERT_NE(h, nullptr);

    auto type = [&](const char16_t* name) {
        Column c(search.p, h, name);
        EXPECT_EQ(c.hr, S_OK) << Narrow(name);
        return SUCCEEDED(c.hr) ? c.col.dwADsType : ADSTYPE_INVALID;
    };
    // Strings, including ones whose syntax is inherited through SUP (givenName, sn, l, st from name).
    for (const char16_t* name : {u"cn", u"givenName", u"sn", u"l", u"st", u"mail", u"telephoneNumber",
                                 u"objectClass", u"objectCategory", u"userPrincipalName"})
        EXPECT_EQ(type(name), ADSTYPE_CASE_IGNORE_STRING) << Narrow(name);
    EXPECT_EQ(type(u"manager"), ADSTYPE_DN_STRING);
    EXPECT_EQ(type(u"dnQualifier"), ADSTYPE_PRINTABLE_STRING);
    EXPECT_EQ(type(u"x121Address"), ADSTYPE_NUMERIC_STRING);

    {
        Column c(search.p, h, u"url");
        ASSERT_EQ(c.hr, S_OK);
        EXPECT_EQ(c.col.dwNumValues, 3u);
        Column phones(search.p, h, u"telephoneNumber");
        EXPECT_EQ(phones.Strings(),
                  (std::vector<std::u16string>{u"+1 (555) 0100-0001", u"+1 (555) 0100-0002"}));
        Column classes(search.p, h, u"objectClass");
        const std::vector<std::u16string> names = classes.Strings();
        EXPECT_EQ(std::set<std::u16string>(names.begin(), names.end()),
                  (std::set<std::u16string>{u"inetOrgPerson", u"user"}));
        Column manager(search.p, h, u"manager");
        EXPECT_EQ(std::u16string(manager.col.pADsValues[0].DNString), u"cn=admin,dc=brevonix,dc=test");
        Column printable(search.p, h, u"dnQualifier");
        EXPECT_EQ(std::u16string(printable.col.pADsValues[0].PrintableString), u"PRINT-42");
        Column numeric(search.p, h, u"x121Address");
        EXPECT_EQ(std::u16string(numeric.col.pADsValues[0].NumericString), u"31104567");
    }
    {
        Column c(search.p, h, u"isCriticalSystemObject");
        ASSERT_EQ(c.hr, S_OK);
        EXPECT_EQ(c.col.dwADsType, ADSTYPE_BOOLEAN);
        EXPECT_EQ(c.col.pADsValues[0].Boolean, 1u);
    }
    {
        Column c(search.p, h, u"userAccountControl");
        ASSERT_EQ(c.hr, S_OK);
        EXPECT_EQ(c.col.dwADsType, ADSTYPE_INTEGER);
        EXPECT_EQ(c.col.pADsValues[0].Integer, 66048u);
    }
    {
        Column c(search.p, h, u"objectGUID");
        ASSERT_EQ(c.hr, S_OK);
        ASSERT_EQ(c.col.dwADsType, ADSTYPE_OCTET_STRING);
        ASSERT_EQ(c.col.pADsValues[0].OctetString.dwLength, 16u);
        GUID guid;
        std::memcpy(&guid, c.col.pADsValues[0].OctetString.lpValue, 16);
        WCHAR text[256];
        EXPECT_EQ(StringFromGUID2(guid, text, 256), 39);
        EXPECT_EQ(std::u16string(text), u"{03020100-0504-0706-0809-0A0B0C0D0E0F}");
        Column sid(search.p, h, u"objectSid");
        ASSERT_EQ(sid.col.dwADsType, ADSTYPE_OCTET_STRING);
        EXPECT_EQ(sid.col.pADsValues[0].OctetString.dwLength, 28u);
    }
    {
        Column c(search.p, h, u"whenCreated");
        ASSERT_EQ(c.hr, S_OK);
        ASSERT_EQ(c.col.dwADsType, ADSTYPE_UTC_TIME);
        const SYSTEMTIME& t = c.col.pADsValues[0].UTCTime;
        EXPECT_EQ((std::vector<int>{t.wYear, t.wMonth, t.wDay, t.wHour, t.wMinute, t.wSecond, t.wDayOfWeek}),
                  (std::vector<int>{2009, 3, 5, 14, 7, 9, 4}));
        Column changed(search.p, h, u"whenChanged");
        ASSERT_EQ(changed.col.dwADsType, ADSTYPE_UTC_TIME);
        EXPECT_EQ(changed.col.pADsValues[0].UTCTime.wDay, 29);
    }
    {
        Column c(search.p, h, u"pwdLastSet");
        ASSERT_EQ(c.hr, S_OK);
        ASSERT_EQ(c.col.dwADsType, ADSTYPE_LARGE_INTEGER);
        EXPECT_EQ(c.col.pADsValues[0].LargeInteger.QuadPart, 128790036290000000ll);
        Column never(search.p, h, u"accountExpires");
        EXPECT_EQ(never.col.pADsValues[0].LargeInteger.QuadPart, 9223372036854775807ll);
    }
    {
        Column c(search.p, h, u"nTSecurityDescriptor");
        ASSERT_EQ(c.hr, S_OK);
        ASSERT_EQ(c.col.dwADsType, ADSTYPE_NT_SECURITY_DESCRIPTOR);
        EXPECT_EQ(c.col.pADsValues[0].SecurityDescriptor.dwLength, 24u);
        EXPECT_EQ(c.col.pADsValues[0].SecurityDescriptor.lpValue[3], 0x80);
    }
    {
        Column c(search.p, h, u"wellKnownObjects");
        ASSERT_EQ(c.hr, S_OK);
        ASSERT_EQ(c.col.dwADsType, ADSTYPE_DN_WITH_BINARY);
        const ADS_DN_WITH_BINARY* b = c.col.pADsValues[0].pDNWithBinary;
        EXPECT_EQ(b->dwLength, 16u);
        EXPECT_EQ(b->lpBinaryValue[0], 0xA9);
        EXPECT_EQ(std::u16string(b->pszDNString), u"ou=Users,dc=brevonix,dc=test");
    }
    {
        Column c(search.p, h, u"testDnWithString");
        ASSERT_EQ(c.hr, S_OK);
        ASSERT_EQ(c.col.dwADsType, ADSTYPE_DN_WITH_STRING);
        EXPECT_EQ(std::u16string(c.col.pADsValues[0].pDNWithString->pszStringValue), u"Reception");
    }
    search->CloseSearchHandle(h);
}

TEST_F(SmallDirectorySearch, AttributeNamesMatchWithoutCaseAndThroughOtherNames) {
    ADS_SEARCH_HANDLE h = FindOne(search.p, u"(sAMAccountName=test.user)");
    ASSERT_NE(h, nullptr);
    // slapd returns the value as "street"; streetAddress is the same attribute's other name.
    for (const char16_t* name : {u"streetAddress", u"STREETADDRESS", u"street", u"2.5.4.9"}) {
        Column c(search.p, h, name);
        ASSERT_EQ(c.hr, S_OK) << Narrow(name);
        EXPECT_EQ(c.Strings(), std::vector<std::u16string>{u"1 Main Street"});
        EXPECT_EQ(std::u16string(c.col.pszAttrName), name); // the name as asked for
    }
    Column surname(search.p, h, u"SurName");
    EXPECT_EQ(surname.Strings(), std::vector<std::u16string>{u"User"});
    Column unknown(search.p, h, u"noSuchAttribute");
    EXPECT_EQ(unknown.hr, E_ADS_COLUMN_NOT_SET);
    EXPECT_EQ(unknown.col.pADsValues, nullptr);
    Column path(search.p, h, u"ADsPath");
    EXPECT_EQ(path.Strings(), std::vector<std::u16string>{u"LDAP://" + Utf16(server->HostPort()) + u"/" +
                                                          Utf16(SlapdServer::BindDn())});
    search->CloseSearchHandle(h);
}

TEST_F(SmallDirectorySearch, MalformedFilterFailsExecuteSearchWithAReason) {
    for (const char16_t* filter : {u"(cn=foo", u"(&(cn=a)", u"((cn=a)", u"(|(cn=a)(sn=b)", u"(cn~foo)"}) {
        ADS_SEARCH_HANDLE h = reinterpret_cast<ADS_SEARCH_HANDLE>(1);
        EXPECT_EQ(Execute(search.p, filter, h), E_ADS_INVALID_FILTER) << Narrow(filter);
        EXPECT_EQ(h, nullptr);
        const LastError e = GetLastAdsError();
        EXPECT_NE(e.text.find(filter), std::u16string::npos) << Narrow(e.text);
    }
    // The bind stays usable.
    EXPECT_EQ(ListAll(search.p, kUserFilter).rows, server->UserObjectCount());
}

TEST_F(SmallDirectorySearch, PreferencesTheStandInDoesNotHaveAreMarkedAndReported) {
    struct Case {
        ADS_SEARCHPREF preference;
        ADSTYPE type;
        int value;
        ADS_STATUSENUM status;
    };
    const Case cases[] = {
        {ADS_SEARCHPREF_SEARCH_SCOPE, ADSTYPE_INTEGER, ADS_SCOPE_ONELEVEL, ADS_STATUS_S_OK},
        {ADS_SEARCHPREF_SORT_ON, ADSTYPE_INTEGER, 0, ADS_STATUS_INVALID_SEARCHPREF},
        {ADS_SEARCHPREF_PAGESIZE, ADSTYPE_BOOLEAN, 1, ADS_STATUS_INVALID_SEARCHPREFVALUE},
        // Out of range: refused, and the scope accepted above stays.
        {ADS_SEARCHPREF_SEARCH_SCOPE, ADSTYPE_INTEGER, 3, ADS_STATUS_INVALID_SEARCHPREFVALUE},
        {ADS_SEARCHPREF_SIZE_LIMIT, ADSTYPE_INTEGER, -1, ADS_STATUS_INVALID_SEARCHPREFVALUE},
        {ADS_SEARCHPREF_ASYNCHRONOUS, ADSTYPE_INTEGER, 1, ADS_STATUS_INVALID_SEARCHPREFVALUE},
        {ADS_SEARCHPREF_CHASE_REFERRALS, ADSTYPE_INTEGER, 0, ADS_STATUS_S_OK},
        {ADS_SEARCHPREF_CHASE_REFERRALS, ADSTYPE_INTEGER, 1, ADS_STATUS_INVALID_SEARCHPREFVALUE},
    };
    constexpr DWORD n = sizeof cases / sizeof cases[0];
    ADS_SEARCHPREF_INFO prefs[n] = {};
    for (DWORD i = 0; i < n; ++i) {
        prefs[i].dwSearchPref = cases[i].preference;
        prefs[i].vValue.dwType = cases[i].type;
        if (cases[i].type == ADSTYPE_BOOLEAN)
            prefs[i].vValue.Boolean = cases[i].value;
        else
            prefs[i].vValue.Integer = cases[i].value;
        prefs[i].dwStatus = ADS_STATUS_S_OK;
    }
    EXPECT_EQ(search->SetSearchPreference(prefs, n), S_ADS_ERRORSOCCURRED);
    for (DWORD i = 0; i < n; ++i)
        EXPECT_EQ(prefs[i].dwStatus, cases[i].status) << "case " << i;
    // The accepted one applies: one level below the base holds only the OUs, no users.
    EXPECT_EQ(ListAll(search.p, kUserFilter).rows, 0);
    EXPECT_EQ(ListAll(search.p, u"(objectClass=organizationalUnit)").rows, 3);
}

TEST(SlapdSearch, HandlesAndColumnsAreCheckedAndClosedSafely) {
    std::string error;
    SlapdServer* server = PagedServer(error);
    REQUIRE_TEST_DIRECTORY(server, error);
    SearchInterface search;
    ASSERT_EQ(OpenAsBindUser(*server, search), S_OK);
    ASSERT_EQ(SetToolPreferences(search.p), S_OK);

    // Closing a search in the middle abandons it; the bind goes on working.
    ADS_SEARCH_HANDLE h = nullptr;
    ASSERT_EQ(Execute(search.p, kUserFilter, h), S_OK);
    ASSERT_EQ(search->GetFirstRow(h), S_OK);
    ASSERT_EQ(search->GetNextRow(h), S_OK);
    ADS_SEARCH_COLUMN col{};
    std::u16string cn = u"cn";
    ASSERT_EQ(search->GetColumn(h, cn.data(), &col), S_OK);
    EXPECT_EQ(search->CloseSearchHandle(h), S_OK);
    EXPECT_EQ(search->FreeColumn(&col), S_OK); // a column outlives its search handle
    EXPECT_EQ(search->FreeColumn(&col), S_OK); // and freeing twice is harmless
    EXPECT_EQ(search->GetNextRow(h), E_ADS_BAD_PARAMETER);
    EXPECT_EQ(search->CloseSearchHandle(h), E_ADS_BAD_PARAMETER);
    EXPECT_EQ(search->GetNextRow(nullptr), E_ADS_BAD_PARAMETER);

    // Two searches at once on one bind, each with its own rows. (slapd keeps one paged search per
    // connection, so only the large one pages; preferences apply to searches started after them.)
    ADS_SEARCH_HANDLE a = nullptr, b = nullptr;
    ASSERT_EQ(SetToolPreferences(search.p, 0), S_OK);
    ASSERT_EQ(Execute(search.p, u"(sAMAccountName=test.user)", a), S_OK);
    ASSERT_EQ(SetToolPreferences(search.p), S_OK);
    ASSERT_EQ(Execute(search.p, kUserFilter, b), S_OK);
    ASSERT_EQ(search->GetFirstRow(b), S_OK);
    ASSERT_EQ(search->GetFirstRow(a), S_OK);
    EXPECT_EQ(search->GetNextRow(a), S_ADS_NOMORE_ROWS);
    EXPECT_EQ(search->GetNextRow(a), S_ADS_NOMORE_ROWS);
    int rows = 1;
    HRESULT hr;
    while ((hr = search->GetNextRow(b)) == S_OK)
        ++rows;
    EXPECT_EQ(hr, S_ADS_NOMORE_ROWS) << std::hex << hr << " " << Narrow(GetLastAdsError().text);
    EXPECT_EQ(rows, server->UserObjectCount());
    // Past the end there is no current row to read.
    ADS_SEARCH_COLUMN none{};
    EXPECT_EQ(search->GetColumn(b, cn.data(), &none), E_ADS_BAD_PARAMETER);
    // GetFirstRow again starts over.
    ASSERT_EQ(search->GetFirstRow(a), S_OK);
    Column again(search.p, a, u"cn");
    EXPECT_EQ(again.Strings(), std::vector<std::u16string>{u"Test User"});
    search->CloseSearchHandle(a);
    // A handle left open is closed with the interface.
    (void)b;
}

TEST(SlapdSearch, ServerKilledInTheMiddleOfAPagedSearchEndsItWithAnError) {
    SlapdOptions options;
    options.userCount = kPagedUsers;
    std::string error;
    auto server = SlapdServer::Start(options, error);
    REQUIRE_TEST_DIRECTORY(server, error);
    SearchInterface search;
    ASSERT_EQ(OpenAsBindUser(*server, search), S_OK);
    ASSERT_EQ(SetToolPreferences(search.p), S_OK);
    ADS_SEARCH_HANDLE h = nullptr;
    ASSERT_EQ(Execute(search.p, kUserFilter, h), S_OK);
    ASSERT_EQ(search->GetFirstRow(h), S_OK);
    server->Kill();

    const auto start = Clock::now();
    int rows = 1;
    HRESULT hr;
    while ((hr = search->GetNextRow(h)) == S_OK) {
        Column cn(search.p, h, u"cn");
        EXPECT_EQ(cn.hr, S_OK);
        ++rows;
    }
    EXPECT_LT(Clock::now() - start, std::chrono::seconds(30));
    EXPECT_TRUE(FAILED(hr)) << std::hex << hr;
    EXPECT_LT(rows, server->UserObjectCount());
    EXPECT_EQ(hr, HRESULT_FROM_WIN32(8250)); // ERROR_DS_SERVER_DOWN
    // The reason is the lost connection, not some earlier message of the server's.
    EXPECT_EQ(Narrow(GetLastAdsError().text), "search: Can't contact LDAP server (-1)");
    // The error stays; nothing hangs or crashes on the dead connection.
    EXPECT_EQ(search->GetNextRow(h), hr);
    EXPECT_EQ(search->CloseSearchHandle(h), S_OK);
    ADS_SEARCH_HANDLE again = nullptr;
    const HRESULT second = Execute(search.p, kUserFilter, again);
    if (SUCCEEDED(second)) {
        EXPECT_TRUE(FAILED(search->GetFirstRow(again)));
        search->CloseSearchHandle(again);
    }
}

TEST(SlapdSearch, ServerThatStopsAnsweringTimesOutInsteadOfHanging) {
    std::string error;
    auto server = SlapdServer::Start({}, error);
    REQUIRE_TEST_DIRECTORY(server, error);
    SearchInterface search;
    ASSERT_EQ(OpenAsBindUser(*server, search), S_OK);
    ASSERT_EQ(SetToolPreferences(search.p), S_OK);
    ADS_SEARCHPREF_INFO timeout{};
    timeout.dwSearchPref = ADS_SEARCHPREF_TIMEOUT;
    timeout.vValue.dwType = ADSTYPE_INTEGER;
    timeout.vValue.Integer = 2;
    ASSERT_EQ(search->SetSearchPreference(&timeout, 1), S_OK);

    server->Suspend();
    ADS_SEARCH_HANDLE h = nullptr;
    ASSERT_EQ(Execute(search.p, kUserFilter, h), S_OK);
    const auto start = Clock::now();
    const HRESULT hr = search->GetFirstRow(h);
    const auto waited = Clock::now() - start;
    server->Resume();
    EXPECT_EQ(hr, HRESULT_FROM_WIN32(1460)); // ERROR_TIMEOUT
    EXPECT_GE(waited, std::chrono::milliseconds(1900));
    EXPECT_LT(waited, std::chrono::seconds(10));
    search->CloseSearchHandle(h);
}

TEST(SlapdSearch, LsdirListsTheUsersAsTheToolShowsThem) {
    const std::string lsdir = std::string(BREVONIX_BINARY_DIR) + "/tests/lsdir";
    if (access(lsdir.c_str(), X_OK) != 0) GTEST_SKIP() << "lsdir is not built";
    std::string error;
    SlapdServer* server = SharedSlapd("small", {}, error);
    REQUIRE_TEST_DIRECTORY(server, error);
    // The password travels in the environment, never on the command line.
    const ProcessResult r = RunProcess({lsdir, "LDAP://" + server->HostPort(), "--user",
                                        SlapdServer::BindDn(), "--password-env", "LSDIR_TEST_PASSWORD"},
                                       60, {"LSDIR_TEST_PASSWORD=" + SlapdServer::BindPassword()});
    ASSERT_EQ(r.exitCode, 0) << r.output;
    std::vector<std::string> lines;
    std::istringstream in(r.output);
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines.front().substr(0, 15), "NAME\tFIRST NAME");
    // (standard error, which may come before or after the rows)
    EXPECT_NE(std::find(lines.begin(), lines.end(), "objects: " + std::to_string(server->UserObjectCount())),
              lines.end());
    EXPECT_EQ(static_cast<int>(lines.size()), server->UserObjectCount() + 2);
    // Cells as the result list shows them: CR LF as two blanks, no commas, "-" for nothing.
    const SeedUser street = MakeSeedUser(kUserTwoLineStreet);
    const SeedUser commas = MakeSeedUser(kUserCommasInDescription);
    const SeedUser noPhone = MakeSeedUser(kUserNoTelephone);
    bool sawStreet = false, sawCommas = false, sawNoPhone = false;
    for (const std::string& line : lines) {
        sawStreet |= line.starts_with(street.cn + "\t") &&
                     line.find("\t12 Harbour Road  Flat 4\t") != std::string::npos;
        sawCommas |= line.starts_with(commas.cn + "\t") &&
                     line.find("\tSales  North and East  Team 2\t") != std::string::npos;
        sawNoPhone |=
            line.starts_with(noPhone.cn + "\t") && line.find("\t-\t" + noPhone.mail) != std::string::npos;
    }
    EXPECT_TRUE(sawStreet);
    EXPECT_TRUE(sawCommas);
    EXPECT_TRUE(sawNoPhone);
    EXPECT_NE(r.output.find("Zoë Ångström-Müller"), std::string::npos);
    EXPECT_NE(r.output.find("Composer 𝄞 of 東京 themes"), std::string::npos);

    const ProcessResult wrong = RunProcess({lsdir, "LDAP://" + server->HostPort(), "--user",
                                            SlapdServer::BindDn(), "--password-env", "LSDIR_TEST_PASSWORD"},
                                           60, {"LSDIR_TEST_PASSWORD=wrong"});
    EXPECT_EQ(wrong.exitCode, 1);
    EXPECT_NE(wrong.output.find("0x8007052E"), std::string::npos) << wrong.output;
}

} // namespace
} // namespace brevonix::test
