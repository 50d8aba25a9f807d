// Tickets from a typed password against the Samba domain controller's KDC: they land in a private
// memory cache that GSSAPI uses only while it is active, the user's own cache stays as it was, and
// a wrong password fails here with Kerberos's reason and never the password.
#include "directory/kerberos.h"
#include "support/samba_fixture.h"

#include <gssapi/gssapi.h>
#include <gssapi/gssapi_krb5.h>
#include <gtest/gtest.h>
#include <krb5.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

using namespace brevonix::samba_test;
using brevonix::krb::AcquireWithPassword;

namespace {

#define RUN_IN_LAB_NAMESPACE(samba)                                                                          \
    if (!InLabNamespace()) {                                                                                 \
        RunCurrentTestInNamespace((samba)->Namespace());                                                     \
        return;                                                                                              \
    }

// The principal GSSAPI would use as this thread's default initiator credential, or empty.
std::string DefaultInitiator() {
    OM_uint32 minor = 0;
    gss_cred_id_t cred = GSS_C_NO_CREDENTIAL;
    if (GSS_ERROR(gss_acquire_cred(&minor, GSS_C_NO_NAME, GSS_C_INDEFINITE, gss_mech_set_krb5, GSS_C_INITIATE,
                                   &cred, nullptr, nullptr)))
        return {};
    gss_name_t name = GSS_C_NO_NAME;
    std::string result;
    if (!GSS_ERROR(gss_inquire_cred(&minor, cred, &name, nullptr, nullptr, nullptr))) {
        gss_buffer_desc text = GSS_C_EMPTY_BUFFER;
        if (!GSS_ERROR(gss_display_name(&minor, name, &text, nullptr))) {
            result.assign(static_cast<const char*>(text.value), text.length);
            gss_release_buffer(&minor, &text);
        }
        gss_release_name(&minor, &name);
    }
    gss_release_cred(&minor, &cred);
    return result;
}

// Asks the KDC for a service ticket to the directory ("ldap@host") with this thread's default
// credential: proves the credential is usable for a bind, not just present.
bool GetsDirectoryTicket(std::string serviceName) {
    OM_uint32 minor = 0;
    gss_buffer_desc serviceText{serviceName.size(), serviceName.data()};
    gss_name_t service = GSS_C_NO_NAME;
    if (GSS_ERROR(gss_import_name(&minor, &serviceText, GSS_C_NT_HOSTBASED_SERVICE, &service))) return false;
    gss_ctx_id_t ctx = GSS_C_NO_CONTEXT;
    gss_buffer_desc token = GSS_C_EMPTY_BUFFER;
    OM_uint32 major =
        gss_init_sec_context(&minor, GSS_C_NO_CREDENTIAL, &ctx, service, gss_mech_krb5, 0, 0,
                             GSS_C_NO_CHANNEL_BINDINGS, GSS_C_NO_BUFFER, nullptr, &token, nullptr, nullptr);
    bool ok = !GSS_ERROR(major) && token.length > 0;
    gss_release_buffer(&minor, &token);
    if (ctx != GSS_C_NO_CONTEXT) gss_delete_sec_context(&minor, &ctx, GSS_C_NO_BUFFER);
    gss_release_name(&minor, &service);
    return ok;
}

bool CacheHasPrincipal(const std::string& cacheName) {
    krb5_context ctx = nullptr;
    if (krb5_init_context(&ctx) != 0) return false;
    krb5_ccache cache = nullptr;
    krb5_principal principal = nullptr;
    bool ok = krb5_cc_resolve(ctx, cacheName.c_str(), &cache) == 0 &&
              krb5_cc_get_principal(ctx, cache, &principal) == 0;
    if (principal) krb5_free_principal(ctx, principal);
    if (cache) krb5_cc_close(ctx, cache);
    krb5_free_context(ctx);
    return ok;
}

void Kinit(const SambaFixture* samba, const SambaAccount& who, const std::string& cache) {
    CommandResult r = RunCommand({"kinit", who.samAccountName + "@" + samba->Realm()},
                                 {{"KRB5_CONFIG", samba->Krb5ConfPath()}, {"KRB5CCNAME", cache}},
                                 std::chrono::seconds(30), who.password + "\n");
    ASSERT_EQ(r.exitCode, 0) << r.output;
}

TEST(SambaKerberos, TypedPasswordTicketStaysInPrivateCache) {
    BREVONIX_REQUIRE_SAMBA(samba);
    RUN_IN_LAB_NAMESPACE(samba);
    TempDir dir("brevonix-krb");
    const std::string ownCache = "FILE:" + dir.File("own-cache");
    const std::string otherCache = "FILE:" + dir.File("other-cache");
    ScopedEnv config("KRB5_CONFIG", samba->Krb5ConfPath());
    ScopedEnv ccname("KRB5CCNAME", ownCache);
    const std::string realm = samba->Realm();

    // The user is logged on as zoe; the typed credentials are alice's.
    Kinit(samba, samba->AccentedUser(), ownCache);
    const std::string zoe = samba->AccentedUser().samAccountName + "@" + realm;
    const std::string alice = samba->User().samAccountName + "@" + realm;
    auto ownBefore = ReadTextFile(dir.File("own-cache"));
    ASSERT_TRUE(ownBefore);
    ASSERT_EQ(DefaultInitiator(), zoe);

    std::string error;
    auto creds = AcquireWithPassword(alice, samba->User().password, error);
    ASSERT_TRUE(creds) << error;
    EXPECT_TRUE(error.empty()) << error;
    const std::string cacheName = creds->CacheName();
    EXPECT_TRUE(cacheName.starts_with("MEMORY:")) << cacheName;
    EXPECT_TRUE(CacheHasPrincipal(cacheName));

    {
        auto active = creds->Activate();
        EXPECT_EQ(DefaultInitiator(), alice);
        EXPECT_TRUE(GetsDirectoryTicket("ldap@127.0.0.1"));
        EXPECT_TRUE(GetsDirectoryTicket("ldap@" + samba->DcHostName()));
        {
            // A second set of credentials nests and gives the first back.
            auto second = AcquireWithPassword(samba->Admin().samAccountName + "@" + realm,
                                              samba->Admin().password, error);
            ASSERT_TRUE(second) << error;
            EXPECT_NE(second->CacheName(), cacheName);
            auto inner = second->Activate();
            EXPECT_EQ(DefaultInitiator(), "Administrator@" + realm);
        }
        EXPECT_EQ(DefaultInitiator(), alice);
    }
    // Back to following the environment: the user's cache, and whatever KRB5CCNAME says later.
    EXPECT_EQ(DefaultInitiator(), zoe);
    Kinit(samba, samba->Admin(), otherCache);
    {
        ScopedEnv other("KRB5CCNAME", otherCache);
        EXPECT_EQ(DefaultInitiator(), "Administrator@" + realm);
    }

    // Neither the ticket nor the service ticket went into the user's own cache.
    EXPECT_EQ(ReadTextFile(dir.File("own-cache")), ownBefore);

    creds.reset();
    EXPECT_FALSE(CacheHasPrincipal(cacheName)) << "the private cache outlived its credentials";
}

TEST(SambaKerberos, WrongPasswordFailsWithReasonButNotPassword) {
    BREVONIX_REQUIRE_SAMBA(samba);
    RUN_IN_LAB_NAMESPACE(samba);
    TempDir dir("brevonix-krb");
    ScopedEnv config("KRB5_CONFIG", samba->Krb5ConfPath());
    ScopedEnv ccname("KRB5CCNAME", "FILE:" + dir.File("own-cache"));

    struct Case {
        std::string principal;
        std::string password;
    } cases[] = {
        {samba->User().samAccountName + "@" + samba->Realm(), "Wrong-Secret-4711"},
        {samba->User().samAccountName + "@" + samba->Realm(), ""},
        {"nobody-here@" + samba->Realm(), "Nobody-Secret-4711"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.principal);
        std::string error;
        auto start = std::chrono::steady_clock::now();
        auto creds = AcquireWithPassword(c.principal, c.password, error);
        EXPECT_FALSE(creds);
        EXPECT_FALSE(error.empty());
        if (!c.password.empty()) {
            EXPECT_EQ(error.find(c.password), std::string::npos) << error;
        }
        EXPECT_LT(ElapsedMs(start), 5000);
    }
    // Nothing was written where the user's own tickets live.
    EXPECT_FALSE(ReadTextFile(dir.File("own-cache")));
}

// A KDC that takes the request and never answers (UDP and TCP on loopback): the caller gets its
// answer after the timeout, not after Kerberos's own ~27 s of retries.
TEST(KerberosTimeout, SilentKdcIsAbandonedAfterTimeout) {
    int udp = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    int tcp = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    ASSERT_GE(udp, 0);
    ASSERT_GE(tcp, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(bind(tcp, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
    socklen_t len = sizeof a;
    ASSERT_EQ(getsockname(tcp, reinterpret_cast<sockaddr*>(&a), &len), 0);
    ASSERT_EQ(listen(tcp, 16), 0);
    ASSERT_EQ(bind(udp, reinterpret_cast<sockaddr*>(&a), sizeof a), 0) << "UDP port taken";
    const int port = ntohs(a.sin_port);

    TempDir dir("brevonix-krb");
    ASSERT_TRUE(WriteTextFile(dir.File("krb5.conf"),
                              "[libdefaults]\n\tdefault_realm = SILENT.TEST\n\tdns_lookup_kdc = false\n"
                              "\tdns_lookup_realm = false\n\trdns = false\n[realms]\n\tSILENT.TEST = {\n"
                              "\t\tkdc = 127.0.0.1:" +
                                  std::to_string(port) + "\n\t}\n"));
    ScopedEnv config("KRB5_CONFIG", dir.File("krb5.conf"));
    ScopedEnv ccname("KRB5CCNAME", "FILE:" + dir.File("own-cache"));

    std::string error;
    auto start = std::chrono::steady_clock::now();
    auto creds = AcquireWithPassword("alice@SILENT.TEST", "Silent-Secret-4711", error,
                                     std::chrono::milliseconds(1500));
    long long elapsed = ElapsedMs(start);
    EXPECT_FALSE(creds);
    EXPECT_GE(elapsed, 1400);
    EXPECT_LT(elapsed, 4000);
    EXPECT_NE(error.find("did not answer"), std::string::npos) << error;
    EXPECT_EQ(error.find("Silent-Secret-4711"), std::string::npos) << error;
    // Closing the sockets lets the abandoned exchange end quickly in the background.
    close(udp);
    close(tcp);
}

} // namespace
