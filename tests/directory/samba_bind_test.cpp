// Binding to the Samba domain controller through ADsOpenObject the way the tool does, and searching
// its users: the logged-on user's Kerberos ticket, typed credentials through Kerberos, typed
// credentials through StartTLS and a simple bind, wrong passwords, and a password that must never be
// sent. Samba's authentication log (auth_audit) shows which method each bind really used.
//
// Every test runs inside the lab namespace: lab names are resolved by Samba's DNS only.
#include "directory/adsi.h"
#include "directory/tool_preferences.h"
#include "platform/cstring.h"
#include "support/samba_fixture.h"

#include <gtest/gtest.h>

#include <map>
#include <set>
#include <string>
#include <thread>
#include <vector>

using namespace brevonix::samba_test;
using brevonix::test::SetToolPreferences;

namespace {

#define RUN_IN_LAB_NAMESPACE(samba)                                                                          \
    if (!InLabNamespace()) {                                                                                 \
        RunCurrentTestInNamespace((samba)->Namespace());                                                     \
        return;                                                                                              \
    }

constexpr HRESULT kBadCredentials = static_cast<HRESULT>(0x8007052E);

std::u16string U16(const std::string& utf8) {
    CString s = CString::FromUtf8(utf8);
    return std::u16string(s.GetString(), static_cast<size_t>(s.GetLength()));
}

std::string Utf8(const WCHAR* text) {
    return CString(text).ToUtf8();
}

std::string LastAdsError() {
    DWORD code = 0;
    WCHAR text[2048] = {};
    WCHAR provider[256] = {};
    ADsGetLastError(&code, text, 2048, provider, 256);
    return "error " + std::to_string(code) + ": " + Utf8(text);
}

struct Bind {
    HRESULT hr = E_FAIL;
    IDirectorySearch* search = nullptr;
    std::string error;
    ~Bind() {
        if (search) search->Release();
    }
};

// ADsOpenObject as OpenDirectorySearch calls it; a null user and password stand for the
// logged-on user.
std::unique_ptr<Bind> Open(const std::string& path, const std::string* user, const std::string* password) {
    auto b = std::make_unique<Bind>();
    std::u16string p = U16(path);
    std::u16string u = user ? U16(*user) : std::u16string();
    std::u16string w = password ? U16(*password) : std::u16string();
    void* object = nullptr;
    b->hr = ADsOpenObject(p.c_str(), user ? u.c_str() : nullptr, password ? w.c_str() : nullptr,
                          ADS_SECURE_AUTHENTICATION, IID_IDirectorySearch, &object);
    b->search = static_cast<IDirectorySearch*>(object);
    if (FAILED(b->hr) || b->hr != S_OK) b->error = LastAdsError();
    return b;
}

// Samba writes its authentication line while it answers the bind; give the log a moment.
std::string LogAfter(const SambaFixture* samba, size_t offset, const std::string& expected) {
    std::string text;
    for (int i = 0; i < 40; ++i) {
        text = samba->LogSince(offset);
        if (text.find(expected) != std::string::npos) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(25));
    }
    return text;
}

// The environment of a user on a workstation: Kerberos configured for the lab realm, the lab CA
// trusted by OpenLDAP's client rules, and the user's own ticket cache in a file of the test's.
class LabUser {
public:
    explicit LabUser(const SambaFixture* samba)
        : config_("KRB5_CONFIG", samba->Krb5ConfPath()), ca_("LDAPTLS_CACERT", samba->CaCertPath()),
          cache_("KRB5CCNAME", "FILE:" + dir_.File("own-cache")) {}
    std::string OwnCacheFile() const { return dir_.File("own-cache"); }

private:
    TempDir dir_{"brevonix-bind"};
    ScopedEnv config_;
    ScopedEnv ca_;
    ScopedEnv cache_;
};

int CountRows(IDirectorySearch* search, const std::string& filter) {
    std::u16string f = U16(filter);
    std::u16string star = u"*";
    LPWSTR attrs[] = {star.data()};
    ADS_SEARCH_HANDLE handle = nullptr;
    if (search->ExecuteSearch(f.data(), attrs, 1, &handle) != S_OK) return -1;
    int rows = 0;
    for (HRESULT hr = search->GetFirstRow(handle); hr == S_OK; hr = search->GetNextRow(handle))
        ++rows;
    search->CloseSearchHandle(handle);
    return rows;
}

void KinitAsUser(const SambaFixture* samba) {
    const SambaAccount alice = samba->User();
    CommandResult kinit = RunCommand({"kinit", alice.samAccountName + "@" + samba->Realm()}, {},
                                     std::chrono::seconds(30), alice.password + "\n");
    ASSERT_EQ(kinit.exitCode, 0) << kinit.output;
}

void ExpectLoggedOnBind(const SambaFixture* samba, const std::string& path) {
    SCOPED_TRACE(path);
    size_t logStart = samba->LogSize();
    auto b = Open(path, nullptr, nullptr);
    EXPECT_EQ(b->hr, S_OK) << b->error;
    if (b->hr != S_OK) return;
    std::string log = LogAfter(samba, logStart, "[LDAP,krb5] user [BREVONIX]\\[alice]");
    EXPECT_NE(log.find("Successful AuthZ: [LDAP,krb5] user [BREVONIX]\\[alice]"), std::string::npos) << log;
    EXPECT_EQ(CountRows(b->search, "(sAMAccountName=bob)"), 1);
}

// The service ticket must be for the host the path names (ldap/dc1.brevonix.test, ldap/127.0.0.1),
// not for whatever reverse DNS says about the peer's address.
TEST(SambaBind, LoggedOnUserBindsToControllerByNameOrAddress) {
    BREVONIX_REQUIRE_SAMBA(samba);
    RUN_IN_LAB_NAMESPACE(samba);
    LabUser user(samba);
    KinitAsUser(samba);
    ExpectLoggedOnBind(samba, "LDAP://" + samba->DcHostName());
    ExpectLoggedOnBind(samba, "LDAP://127.0.0.1");
}

// The tool binds the logged-on user to "LDAP://" + the domain name. No directory has a service
// principal ldap/<domain>: the bind has to reach a controller of the domain by its own name.
TEST(SambaBind, LoggedOnUserBindsToDomainPath) {
    BREVONIX_REQUIRE_SAMBA(samba);
    RUN_IN_LAB_NAMESPACE(samba);
    LabUser user(samba);
    KinitAsUser(samba);
    ExpectLoggedOnBind(samba, "LDAP://" + samba->DnsDomain());
}

TEST(SambaBind, LoggedOnUserWithoutTicketFails) {
    BREVONIX_REQUIRE_SAMBA(samba);
    RUN_IN_LAB_NAMESPACE(samba);
    LabUser user(samba); // an empty cache: nobody has logged on to the realm
    auto b = Open("LDAP://" + samba->DcHostName(), nullptr, nullptr);
    EXPECT_NE(b->hr, S_OK);
    EXPECT_EQ(b->search, nullptr);
    EXPECT_NE(b->error.find("error"), std::string::npos);
}

TEST(SambaBind, TypedNameWithRealmBindsThroughKerberos) {
    BREVONIX_REQUIRE_SAMBA(samba);
    RUN_IN_LAB_NAMESPACE(samba);
    LabUser user(samba);
    const SambaAccount alice = samba->User();
    const std::string names[] = {alice.upn, alice.samAccountName + "@" + samba->Realm(),
                                 samba->NetbiosDomain() + "\\" + alice.samAccountName};
    for (const std::string& path : {"LDAP://" + samba->DcHostName(), std::string("LDAP://127.0.0.1")}) {
        for (const auto& name : names) {
            SCOPED_TRACE(path + " as " + name);
            size_t logStart = samba->LogSize();
            auto b = Open(path, &name, &alice.password);
            EXPECT_EQ(b->hr, S_OK) << b->error;
            std::string log = LogAfter(samba, logStart, "[LDAP,krb5] user [BREVONIX]\\[alice]");
            EXPECT_NE(log.find("Successful AuthZ: [LDAP,krb5] user [BREVONIX]\\[alice]"), std::string::npos)
                << log;
            EXPECT_EQ(log.find("simple bind"), std::string::npos) << log;
            if (b->hr == S_OK) {
                EXPECT_EQ(CountRows(b->search, "(sAMAccountName=zoe)"), 1);
            }
        }
    }
    // The ticket went into a private cache: the user's own was never created.
    EXPECT_FALSE(ReadTextFile(user.OwnCacheFile()));
}

TEST(SambaBind, TypedDistinguishedNameBindsSimplyInsideTls) {
    BREVONIX_REQUIRE_SAMBA(samba);
    RUN_IN_LAB_NAMESPACE(samba);
    LabUser user(samba);
    const SambaAccount alice = samba->User();
    for (const std::string& path : {"LDAP://" + samba->DcHostName(), std::string("LDAP://127.0.0.1")}) {
        SCOPED_TRACE(path);
        size_t logStart = samba->LogSize();
        auto b = Open(path, &alice.dn, &alice.password);
        EXPECT_EQ(b->hr, S_OK) << b->error;
        std::string expected = "Auth: [LDAP,simple bind/TLS] user [BREVONIX]\\[" + alice.dn + "]";
        std::string log = LogAfter(samba, logStart, expected);
        ASSERT_NE(log.find(expected), std::string::npos) << log;
        EXPECT_NE(log.find("status [NT_STATUS_OK]"), std::string::npos) << log;
        if (b->hr == S_OK) {
            EXPECT_EQ(CountRows(b->search, "(sAMAccountName=zoe)"), 1);
        }
    }
}

TEST(SambaBind, WrongPasswordFailsAsBadCredentials) {
    BREVONIX_REQUIRE_SAMBA(samba);
    RUN_IN_LAB_NAMESPACE(samba);
    LabUser user(samba);
    const SambaAccount alice = samba->User();
    const std::string wrong = "Not-Alices-Pass9";
    const std::string path = "LDAP://" + samba->DcHostName();

    // Through Kerberos the KDC refuses the password; the directory never sees a bind.
    size_t logStart = samba->LogSize();
    auto k = Open(path, &alice.upn, &wrong);
    EXPECT_EQ(k->hr, kBadCredentials) << k->error;
    EXPECT_EQ(k->search, nullptr);
    EXPECT_EQ(k->error.find(wrong), std::string::npos) << k->error;
    std::string log = LogAfter(samba, logStart, "Kerberos KDC");
    EXPECT_EQ(log.find("[LDAP,"), std::string::npos) << log;

    // Through the simple bind the directory refuses it.
    logStart = samba->LogSize();
    auto s = Open(path, &alice.dn, &wrong);
    EXPECT_EQ(s->hr, kBadCredentials) << s->error;
    EXPECT_EQ(s->search, nullptr);
    EXPECT_EQ(s->error.find(wrong), std::string::npos) << s->error;
    log = LogAfter(samba, logStart, "NT_STATUS_WRONG_PASSWORD");
    EXPECT_NE(log.find("simple bind/TLS"), std::string::npos) << log;
    EXPECT_NE(log.find("NT_STATUS_WRONG_PASSWORD"), std::string::npos) << log;
}

// With a certificate the client cannot verify, StartTLS fails and the simple bind, which would carry
// the password, never happens: Samba logs no authentication at all.
TEST(SambaBind, PasswordIsNotSentWithoutVerifiedTls) {
    BREVONIX_REQUIRE_SAMBA(samba);
    RUN_IN_LAB_NAMESPACE(samba);
    LabUser user(samba);
    TempDir dir("brevonix-bind");
    // A CA of our own that did not sign Samba's certificate.
    CommandResult ca =
        RunCommand({"openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "1", "-subj",
                    "/CN=Unrelated CA", "-keyout", dir.File("key.pem"), "-out", dir.File("ca.pem")});
    ASSERT_EQ(ca.exitCode, 0) << ca.output;
    ScopedEnv untrusted("LDAPTLS_CACERT", dir.File("ca.pem"));

    const SambaAccount alice = samba->User();
    size_t logStart = samba->LogSize();
    auto b = Open("LDAP://" + samba->DcHostName(), &alice.dn, &alice.password);
    EXPECT_NE(b->hr, S_OK);
    EXPECT_EQ(b->search, nullptr);
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    std::string log = samba->LogSince(logStart);
    EXPECT_EQ(log.find("Auth: [LDAP"), std::string::npos) << log;
    EXPECT_EQ(log.find("simple bind"), std::string::npos) << log;
}

// ---- search ----

struct Column {
    bool present = false;
    ADSTYPE type = ADSTYPE_INVALID;
    std::vector<std::string> text;                  // string values, UTF-8
    std::vector<std::vector<unsigned char>> octets; // octet string values
    std::vector<SYSTEMTIME> times;
};

Column Get(IDirectorySearch* search, ADS_SEARCH_HANDLE handle, const std::u16string& name) {
    Column c;
    ADS_SEARCH_COLUMN col{};
    std::u16string n = name;
    if (search->GetColumn(handle, n.data(), &col) != S_OK) return c;
    c.present = true;
    c.type = col.dwADsType;
    for (DWORD i = 0; i < col.dwNumValues; ++i) {
        const ADSVALUE& v = col.pADsValues[i];
        switch (v.dwType) {
        case ADSTYPE_CASE_IGNORE_STRING:
        case ADSTYPE_DN_STRING:
        case ADSTYPE_CASE_EXACT_STRING:
        case ADSTYPE_PRINTABLE_STRING:
        case ADSTYPE_NUMERIC_STRING:
            c.text.push_back(Utf8(v.CaseIgnoreString));
            break;
        case ADSTYPE_OCTET_STRING:
            c.octets.emplace_back(v.OctetString.lpValue, v.OctetString.lpValue + v.OctetString.dwLength);
            break;
        case ADSTYPE_UTC_TIME:
            c.times.push_back(v.UTCTime);
            break;
        default:
            break;
        }
    }
    search->FreeColumn(&col);
    return c;
}

TEST(SambaSearch, ListsSeededUsersWithTheirValues) {
    BREVONIX_REQUIRE_SAMBA(samba);
    RUN_IN_LAB_NAMESPACE(samba);
    LabUser user(samba);
    const SambaAccount alice = samba->User();
    auto b = Open("LDAP://" + samba->DcHostName(), &alice.upn, &alice.password);
    ASSERT_EQ(b->hr, S_OK) << b->error;
    IDirectorySearch* search = b->search;

    // The five preferences and the search exactly as the result list is filled.
    ASSERT_EQ(SetToolPreferences(search), S_OK);

    std::u16string filter = u"(&(objectClass=user)(objectCategory=user))";
    std::u16string star = u"*";
    LPWSTR attrs[] = {star.data()};
    ADS_SEARCH_HANDLE handle = nullptr;
    ASSERT_EQ(search->ExecuteSearch(filter.data(), attrs, 1, &handle), S_OK);

    std::map<std::string, std::map<std::u16string, Column>> users;
    const std::u16string wanted[] = {u"cn",
                                     u"givenName",
                                     u"initials",
                                     u"sn",
                                     u"displayName",
                                     u"description",
                                     u"telephoneNumber",
                                     u"url",
                                     u"streetAddress",
                                     u"postOfficeBox",
                                     u"co",
                                     u"objectGUID",
                                     u"whenCreated",
                                     u"userPrincipalName",
                                     u"physicalDeliveryOfficeName"};
    int rows = 0;
    HRESULT hr = search->GetFirstRow(handle);
    ASSERT_EQ(hr, S_OK);
    for (; hr == S_OK; hr = search->GetNextRow(handle)) {
        ++rows;
        Column sam = Get(search, handle, u"sAMAccountName");
        ASSERT_EQ(sam.text.size(), 1u);
        auto& row = users[sam.text[0]];
        for (const auto& name : wanted)
            row[name] = Get(search, handle, name);
    }
    EXPECT_EQ(hr, S_ADS_NOMORE_ROWS);
    EXPECT_EQ(search->CloseSearchHandle(handle), S_OK);

    // Every seeded user once (Samba's three search references are no rows), plus the built-in ones.
    EXPECT_EQ(static_cast<size_t>(rows), users.size()) << "an object was listed twice";
    for (const char* name : {"alice", "zoe", "emile", "bob", "Administrator", "user01", "user30"})
        EXPECT_EQ(users.count(name), 1u) << name;
    EXPECT_GE(rows, 34);

    auto& a = users["alice"];
    EXPECT_EQ(a[u"cn"].text, std::vector<std::string>{"Alice Archer"});
    EXPECT_EQ(a[u"cn"].type, ADSTYPE_CASE_IGNORE_STRING);
    EXPECT_EQ(a[u"sn"].text, std::vector<std::string>{"Archer"});
    EXPECT_EQ(a[u"description"].text, std::vector<std::string>{"Engineering, platform team, on call"});
    EXPECT_EQ(a[u"telephoneNumber"].text, std::vector<std::string>{"+1 555 0100"});
    EXPECT_EQ(a[u"streetAddress"].text, std::vector<std::string>{"12 Harbour Road\r\nSuite 4"});
    EXPECT_EQ(a[u"userPrincipalName"].text, std::vector<std::string>{alice.upn});
    std::multiset<std::string> urls(a[u"url"].text.begin(), a[u"url"].text.end());
    EXPECT_EQ(urls, (std::multiset<std::string>{"https://alice.example/", "https://blog.alice.example/",
                                                "https://alice.example/talks"}));
    ASSERT_EQ(a[u"objectGUID"].octets.size(), 1u);
    EXPECT_EQ(a[u"objectGUID"].type, ADSTYPE_OCTET_STRING);
    EXPECT_EQ(a[u"objectGUID"].octets[0].size(), 16u);
    ASSERT_EQ(a[u"whenCreated"].times.size(), 1u);
    EXPECT_EQ(a[u"whenCreated"].type, ADSTYPE_UTC_TIME);
    const SYSTEMTIME& t = a[u"whenCreated"].times[0];
    EXPECT_GE(t.wYear, 2024);
    EXPECT_TRUE(t.wMonth >= 1 && t.wMonth <= 12 && t.wDay >= 1 && t.wDay <= 31 && t.wHour < 24) << t.wYear;

    // GUIDs differ from object to object.
    ASSERT_EQ(users["zoe"][u"objectGUID"].octets.size(), 1u);
    EXPECT_NE(users["zoe"][u"objectGUID"].octets[0], a[u"objectGUID"].octets[0]);

    // Text outside ASCII arrives exactly, a character beyond U+FFFF as one surrogate pair.
    EXPECT_EQ(users["zoe"][u"cn"].text, std::vector<std::string>{"Zo\xc3\xab \xc3\x85ngstr\xc3\xb6m"});
    EXPECT_FALSE(users["zoe"][u"telephoneNumber"].present);
    EXPECT_EQ(users["emile"][u"description"].text,
              std::vector<std::string>{"Plays \xf0\x9d\x84\x9e music, sings"});
    EXPECT_EQ(users["bob"][u"cn"].text, std::vector<std::string>{"Archer, Bob"});
    EXPECT_FALSE(users["user03"][u"telephoneNumber"].present);
    EXPECT_EQ(users["user06"][u"url"].text.size(), 2u);
}

} // namespace
