// Binding to a real slapd through ADsOpenObject: which way a password goes, and that it never goes
// anywhere without TLS.
#include <stdlib.h>

#include <chrono>
#include <fstream>
#include <optional>
#include <string>

#include "directory/slapd_suite.h"
#include "platform/cstring.h"

namespace brevonix::test {
namespace {

using Clock = std::chrono::steady_clock;

std::u16string Utf16(const std::string& s) {
    return CString::FromUtf8(s).str();
}

class ScopedVariable {
public:
    ScopedVariable(const char* name, const std::string& value) : m_name(name) {
        if (const char* old = getenv(name)) m_old = old;
        setenv(name, value.c_str(), 1);
    }
    ~ScopedVariable() {
        if (m_old)
            setenv(m_name.c_str(), m_old->c_str(), 1);
        else
            unsetenv(m_name.c_str());
    }

private:
    std::string m_name;
    std::optional<std::string> m_old;
};

// A Kerberos configuration that can only fail, and fails fast and on this machine: no DNS lookups,
// and the realm's KDC is a loopback port nobody listens on.
struct OfflineKerberos {
    TempDir dir{"brevonix-krb5"};
    std::optional<ScopedVariable> config, cache;
    OfflineKerberos() {
        const std::string path = dir.Path() + "/krb5.conf";
        std::ofstream(path)
            << "[libdefaults]\n default_realm = BREVONIX.TEST\n dns_lookup_kdc = false\n"
            << " dns_lookup_realm = false\n dns_canonicalize_hostname = false\n rdns = false\n"
            << " udp_preference_limit = 1\n[realms]\n BREVONIX.TEST = {\n  kdc = 127.0.0.1:"
            << FreeLoopbackPort() << "\n }\n";
        config.emplace("KRB5_CONFIG", path);
        cache.emplace("KRB5CCNAME", "FILE:" + dir.Path() + "/no-such-cache");
    }
};

// slapd logs every operation; a password-carrying bind shows as "BIND dn=... method=128".
// The path that reaches the server through the recording proxy.
std::u16string ProxyPath(const RecordingTcpProxy& proxy) {
    return u"LDAP://127.0.0.1:" + Utf16(std::to_string(proxy.Port()));
}

bool LogShowsSimpleBind(const SlapdServer& server) {
    return server.ReadLog().find("method=128") != std::string::npos;
}

TEST(SlapdBind, TypedCredentialsBindWithStartTlsAndThePasswordStaysEncrypted) {
    std::string error;
    SlapdServer* server = SharedSlapd("small", {}, error);
    REQUIRE_TEST_DIRECTORY(server, error);
    RecordingTcpProxy proxy(server->Port());
    ASSERT_TRUE(proxy.Valid());

    const std::u16string user = SlapdServer::BindDn16(), password = SlapdServer::BindPassword16();
    SearchInterface search;
    ASSERT_EQ(OpenAs(ProxyPath(proxy), &user, &password, search), S_OK);
    ASSERT_EQ(SetToolPreferences(search.p), S_OK);
    ADS_SEARCH_HANDLE h = nullptr;
    ASSERT_EQ(Execute(search.p, kUserFilter, h), S_OK);
    EXPECT_EQ(search->GetFirstRow(h), S_OK);
    search->CloseSearchHandle(h);

    const std::string wire = proxy.ClientBytes();
    EXPECT_TRUE(ContainsBytes(wire, "1.3.6.1.4.1.1466.20037")) << "no StartTLS request was sent";
    EXPECT_FALSE(ContainsBytes(wire, SlapdServer::BindPassword()));
    EXPECT_FALSE(ContainsBytes(wire, SlapdServer::BindDn())) << "the bind itself went in clear";
    EXPECT_NE(server->ReadLog().find("BIND dn=\"" + SlapdServer::BindDn() + "\" method=128"),
              std::string::npos);
}

TEST(SlapdBind, ManagerBindsAndLdapsToAStartTlsPortFailsCleanly) {
    // Port 636 means ldaps; here the same effect comes from ADS_USE_SSL against a StartTLS port,
    // which must fail cleanly (no TLS greeting) rather than fall back to plain text.
    std::string error;
    SlapdServer* server = SharedSlapd("small", {}, error);
    REQUIRE_TEST_DIRECTORY(server, error);
    const std::u16string user = Utf16(SlapdServer::AdminDn()), password = Utf16(SlapdServer::AdminPassword());
    SearchInterface admin;
    EXPECT_EQ(OpenAs(server->AdsPath(), &user, &password, admin), S_OK);
    SearchInterface viaSsl;
    const auto start = Clock::now();
    EXPECT_EQ(ADsOpenObject(server->AdsPath().c_str(), user.c_str(), password.c_str(),
                            ADS_SECURE_AUTHENTICATION | ADS_USE_SSL, IID_IDirectorySearch, viaSsl.Out()),
              HRESULT_FROM_WIN32(8250));
    EXPECT_LT(Clock::now() - start, std::chrono::seconds(30));
    EXPECT_EQ(viaSsl.p, nullptr);
}

struct FailedBind {
    const char* what;
    std::string user;
    std::string password;
    HRESULT hr;
    DWORD code;
    const char* reason; // part of ADsGetLastError's text
};

TEST(SlapdBind, FailedBindsGiveAdsiCodesAndTheDirectorysReason) {
    std::string error;
    SlapdServer* server = SharedSlapd("small", {}, error);
    REQUIRE_TEST_DIRECTORY(server, error);
    const FailedBind cases[] = {
        {"wrong password", SlapdServer::BindDn(), "wrong-password", static_cast<HRESULT>(0x8007052E), 1326,
         "Invalid credentials"},
        {"unknown user", "cn=Nobody,ou=Users,dc=brevonix,dc=test", SlapdServer::BindPassword(),
         static_cast<HRESULT>(0x8007052E), 1326, "Invalid credentials"},
        // slapd binds by DN only; a UPN is no DN to it.
        {"UPN", SlapdServer::BindUpn(), SlapdServer::BindPassword(), HRESULT_FROM_WIN32(8242), 8242,
         "Invalid DN"},
        {"empty password", SlapdServer::BindDn(), "", static_cast<HRESULT>(0x8007052E), 1326,
         "nothing was sent"},
        {"empty user", "", SlapdServer::BindPassword(), static_cast<HRESULT>(0x8007052E), 1326,
         "nothing was sent"},
    };
    for (const FailedBind& c : cases) {
        SCOPED_TRACE(c.what);
        const std::u16string user = Utf16(c.user), password = Utf16(c.password);
        SearchInterface search;
        EXPECT_EQ(OpenAs(server->AdsPath(), &user, &password, search), c.hr);
        EXPECT_EQ(search.p, nullptr);
        const LastError e = GetLastAdsError();
        EXPECT_EQ(e.code, c.code);
        EXPECT_NE(Narrow(e.text).find(c.reason), std::string::npos) << Narrow(e.text);
        if (!c.password.empty()) {
            EXPECT_EQ(Narrow(e.text).find(c.password), std::string::npos);
        }
    }
}

TEST(SlapdBind, EmptyPasswordIsNeverSentAsAnAnonymousBind) {
    std::string error;
    auto server = SlapdServer::Start({.userCount = 0}, error);
    REQUIRE_TEST_DIRECTORY(server, error);
    const std::u16string user = SlapdServer::BindDn16(), empty;
    SearchInterface search;
    EXPECT_EQ(OpenAs(server->AdsPath(), &user, &empty, search), static_cast<HRESULT>(0x8007052E));
    EXPECT_EQ(server->ReadLog().find("BIND dn=\"" + SlapdServer::BindDn()), std::string::npos);
}

TEST(SlapdBind, WithoutTlsThePasswordIsNeverSent) {
    SlapdOptions options;
    options.tls = false;
    options.userCount = 0;
    std::string error;
    auto server = SlapdServer::Start(options, error);
    REQUIRE_TEST_DIRECTORY(server, error);
    RecordingTcpProxy proxy(server->Port());
    ASSERT_TRUE(proxy.Valid());

    const std::u16string user = SlapdServer::BindDn16(), password = SlapdServer::BindPassword16();
    SearchInterface search;
    const HRESULT hr = OpenAs(ProxyPath(proxy), &user, &password, search);
    EXPECT_TRUE(FAILED(hr)) << std::hex << hr;
    EXPECT_EQ(search.p, nullptr);
    EXPECT_NE(Narrow(GetLastAdsError().text).find("password was not sent"), std::string::npos)
        << Narrow(GetLastAdsError().text);

    // The conversation happened (root DSE, StartTLS) but carried neither the password nor a bind.
    const std::string wire = proxy.ClientBytes();
    EXPECT_GE(proxy.Connections(), 1);
    EXPECT_TRUE(ContainsBytes(wire, "1.3.6.1.4.1.1466.20037"));
    EXPECT_FALSE(ContainsBytes(wire, SlapdServer::BindPassword()));
    EXPECT_FALSE(ContainsBytes(wire, SlapdServer::BindDn()));
    EXPECT_FALSE(LogShowsSimpleBind(*server));
}

TEST(SlapdBind, UntrustedCertificateStopsTheBindBeforeThePassword) {
    SlapdOptions options;
    options.trustCa = false; // its CA is never added to what this process trusts
    options.userCount = 0;
    std::string error;
    auto server = SlapdServer::Start(options, error);
    REQUIRE_TEST_DIRECTORY(server, error);
    RecordingTcpProxy proxy(server->Port());
    ASSERT_TRUE(proxy.Valid());

    const std::u16string user = SlapdServer::BindDn16(), password = SlapdServer::BindPassword16();
    SearchInterface search;
    EXPECT_EQ(OpenAs(ProxyPath(proxy), &user, &password, search), HRESULT_FROM_WIN32(8250));
    EXPECT_NE(Narrow(GetLastAdsError().text).find("password was not sent"), std::string::npos);
    EXPECT_FALSE(ContainsBytes(proxy.ClientBytes(), SlapdServer::BindPassword()));
    EXPECT_FALSE(LogShowsSimpleBind(*server));
}

TEST(SlapdBind, TypedRealmNameGoesTheKerberosWayWhenTheServerOffersIt) {
    SlapdOptions options;
    options.offerKerberos = true;
    options.userCount = 0;
    std::string error;
    auto server = SlapdServer::Start(options, error);
    REQUIRE_TEST_DIRECTORY(server, error);
    OfflineKerberos kerberos;
    RecordingTcpProxy proxy(server->Port());
    ASSERT_TRUE(proxy.Valid());
    const std::u16string path = ProxyPath(proxy);

    // "user@REALM": the password goes to the KDC (here: none), never to the directory.
    const std::u16string upn = Utf16(SlapdServer::BindUpn()), password = SlapdServer::BindPassword16();
    SearchInterface kerberosBind;
    const auto start = Clock::now();
    EXPECT_EQ(OpenAs(path, &upn, &password, kerberosBind), static_cast<HRESULT>(0x8007052E));
    EXPECT_LT(Clock::now() - start, std::chrono::seconds(30));
    EXPECT_NE(Narrow(GetLastAdsError().text).find("Kerberos"), std::string::npos)
        << Narrow(GetLastAdsError().text);
    EXPECT_FALSE(ContainsBytes(proxy.ClientBytes(), SlapdServer::BindPassword()));
    EXPECT_FALSE(ContainsBytes(proxy.ClientBytes(), "1.3.6.1.4.1.1466.20037")) << "fell back to StartTLS";
    EXPECT_FALSE(LogShowsSimpleBind(*server));

    // A DN names no realm, even on a server that offers Kerberos: StartTLS and a simple bind.
    const std::u16string dn = SlapdServer::BindDn16();
    SearchInterface simpleBind;
    EXPECT_EQ(OpenAs(path, &dn, &password, simpleBind), S_OK);
    EXPECT_FALSE(ContainsBytes(proxy.ClientBytes(), SlapdServer::BindPassword()));
}

TEST(SlapdBind, LoggedOnUserWithoutATicketFailsCleanly) {
    std::string error;
    SlapdServer* server = SharedSlapd("small", {}, error);
    REQUIRE_TEST_DIRECTORY(server, error);
    OfflineKerberos kerberos;
    SearchInterface search;
    const HRESULT hr = OpenAs(server->AdsPath(), nullptr, nullptr, search);
    EXPECT_TRUE(FAILED(hr)) << std::hex << hr;
    EXPECT_EQ(search.p, nullptr);
    EXPECT_FALSE(GetLastAdsError().text.empty());
}

TEST(SlapdBind, ServerThatIsNotThereIsReportedAsDown) {
    const int port = FreeLoopbackPort();
    const std::u16string user = u"cn=x", password = u"y";
    SearchInterface search;
    const auto start = Clock::now();
    EXPECT_EQ(OpenAs(u"LDAP://127.0.0.1:" + Utf16(std::to_string(port)), &user, &password, search),
              static_cast<HRESULT>(0x8007203A));
    EXPECT_LT(Clock::now() - start, std::chrono::seconds(30));
    EXPECT_EQ(GetLastAdsError().code, 8250u);
}

TEST(SlapdBind, PathsAndInterfaceRequestsThatCannotWork) {
    const std::u16string user = u"cn=x", password = u"y";
    for (const char16_t* path :
         {u"", u"LDAP://", u"LDAP:/127.0.0.1", u"GC://127.0.0.1", u"LDAP://DC=brevonix,DC=test",
          u"LDAP://host name", u"LDAP://127.0.0.1:0", u"LDAP://127.0.0.1:70000", u"LDAP://127.0.0.1:",
          u"LDAP://a?b", u"LDAP://a@b", u"LDAP://[::1"}) {
        SearchInterface search;
        EXPECT_EQ(OpenAs(path, &user, &password, search), E_ADS_BAD_PATHNAME) << Narrow(path);
        EXPECT_EQ(search.p, nullptr);
    }
    void* p = reinterpret_cast<void*>(1);
    const IID other = {0x12345678, 0, 0, {0, 0, 0, 0, 0, 0, 0, 1}};
    EXPECT_EQ(ADsOpenObject(u"LDAP://127.0.0.1", nullptr, nullptr, 1, other, &p), E_NOINTERFACE);
    EXPECT_EQ(p, nullptr);
    EXPECT_EQ(ADsOpenObject(u"LDAP://127.0.0.1", nullptr, nullptr, 1, IID_IDirectorySearch, nullptr),
              E_POINTER);
}

TEST(SlapdBind, PathWithADnSearchesBelowThatDn) {
    std::string error;
    SlapdServer* server = SharedSlapd("small", {}, error);
    REQUIRE_TEST_DIRECTORY(server, error);
    const std::u16string user = SlapdServer::BindDn16(), password = SlapdServer::BindPassword16();
    SearchInterface search;
    ASSERT_EQ(OpenAs(server->AdsPath() + u"/ou=Contacts,dc=brevonix,dc=test", &user, &password, search),
              S_OK);
    ASSERT_EQ(SetToolPreferences(search.p), S_OK);
    ADS_SEARCH_HANDLE h = nullptr;
    ASSERT_EQ(Execute(search.p, u"(objectClass=inetOrgPerson)", h), S_OK);
    ASSERT_EQ(search->GetFirstRow(h), S_OK);
    Column cn(search.p, h, u"cn");
    EXPECT_EQ(cn.Strings(), std::vector<std::u16string>{u"Outside Contact"});
    EXPECT_EQ(search->GetNextRow(h), S_ADS_NOMORE_ROWS);
    search->CloseSearchHandle(h);

    // A base that does not exist fails the search, not the bind.
    SearchInterface missing;
    ASSERT_EQ(OpenAs(server->AdsPath() + u"/ou=Nowhere,dc=brevonix,dc=test", &user, &password, missing),
              S_OK);
    ASSERT_EQ(Execute(missing.p, kUserFilter, h), S_OK);
    EXPECT_EQ(missing->GetFirstRow(h), HRESULT_FROM_WIN32(8240)); // ERROR_DS_NO_SUCH_OBJECT
    missing->CloseSearchHandle(h);
}

TEST(SlapdBind, InterfaceFollowsComReferenceCounting) {
    std::string error;
    SlapdServer* server = SharedSlapd("small", {}, error);
    REQUIRE_TEST_DIRECTORY(server, error);
    SearchInterface search;
    ASSERT_EQ(OpenAsBindUser(*server, search), S_OK);
    IDirectorySearch* second = nullptr;
    ASSERT_EQ(search->QueryInterface(IID_IDirectorySearch, reinterpret_cast<void**>(&second)), S_OK);
    EXPECT_EQ(second, search.p);
    EXPECT_EQ(second->Release(), 1u);
    // Release with a search still open closes it.
    ADS_SEARCH_HANDLE h = nullptr;
    ASSERT_EQ(Execute(search.p, kUserFilter, h), S_OK);
    ASSERT_EQ(search->GetFirstRow(h), S_OK);
}

} // namespace
} // namespace brevonix::test
