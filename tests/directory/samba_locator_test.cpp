// NetGetDCName finding the Samba domain controller as the DC locator does: through the domain's
// SRV records, through the Kerberos configuration, through the name itself, and in the host:port
// form. Every lookup of a lab name runs in a private mount namespace whose resolver is Samba on
// 127.0.0.1, so nothing is asked of the machine's real resolver.
#include "directory/adsi.h"
#include "support/samba_fixture.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

using namespace brevonix::samba_test;

namespace {

#define RUN_IN_NAMESPACE(files)                                                                              \
    if (!InLabNamespace()) {                                                                                 \
        RunCurrentTestInNamespace(files);                                                                    \
        return;                                                                                              \
    }

struct Located {
    NET_API_STATUS status = 0;
    std::string name; // the buffer's text (ASCII here)
    bool bufferGiven = false;
    long long ms = 0;
};

Located Locate(const std::u16string& domain) {
    BYTE* buffer = reinterpret_cast<BYTE*>(1);
    auto start = std::chrono::steady_clock::now();
    Located l;
    l.status = NetGetDCName(nullptr, domain.c_str(), &buffer);
    l.ms = ElapsedMs(start);
    l.bufferGiven = buffer != nullptr;
    if (l.status == NERR_Success && buffer) {
        for (auto* p = reinterpret_cast<const char16_t*>(buffer); *p; ++p)
            l.name += static_cast<char>(*p);
    }
    if (l.status == NERR_Success) NetApiBufferFree(buffer);
    return l;
}

std::string Show(const std::u16string& s) {
    return std::string(s.begin(), s.end());
}

void ExpectController(const std::u16string& domain, const std::string& expected) {
    Located l = Locate(domain);
    EXPECT_EQ(l.status, NERR_Success) << Show(domain);
    EXPECT_EQ(l.name, expected) << Show(domain);
    EXPECT_LT(l.ms, 3000) << Show(domain);
}

void ExpectNoController(const std::u16string& domain, long long withinMs = 3000) {
    Located l = Locate(domain);
    EXPECT_NE(l.status, NERR_Success) << Show(domain) << " gave " << l.name;
    EXPECT_FALSE(l.bufferGiven) << Show(domain);
    EXPECT_LT(l.ms, withinMs) << Show(domain);
}

TEST(SambaLocator, FindsControllerThroughSrvRecords) {
    BREVONIX_REQUIRE_SAMBA(samba);
    RUN_IN_NAMESPACE(samba->Namespace());
    ScopedEnv config("KRB5_CONFIG", samba->Krb5ConfPath());
    for (const char16_t* domain : {u"brevonix.test", u"BREVONIX.TEST", u"brevonix.test."})
        ExpectController(domain, "\\\\dc1.brevonix.test");
}

TEST(SambaLocator, FallsBackToTheRealmsKdcs) {
    BREVONIX_REQUIRE_SAMBA(samba);
    RUN_IN_NAMESPACE(samba->Namespace());
    // Samba's DNS knows nothing of these domains; only the Kerberos configuration does. The first
    // KDC of each realm does not answer on the LDAP port (nothing listens on 127.0.0.3).
    TempDir dir("brevonix-locator");
    ASSERT_TRUE(WriteTextFile(dir.File("krb5.conf"), "[libdefaults]\n\tdns_lookup_kdc = false\n"
                                                     "\tdns_lookup_realm = false\n"
                                                     "[realms]\n"
                                                     "\tKDCONLY.TEST = {\n"
                                                     "\t\tkdc = 127.0.0.3:88\n"
                                                     "\t\tkdc = tcp/127.0.0.1:88\n"
                                                     "\t}\n"
                                                     "\tBYNAME.TEST = {\n"
                                                     "\t\tkdc = https://proxy.byname.test/KdcProxy\n"
                                                     "\t\tkdc = dc1.brevonix.test\n"
                                                     "\t}\n"));
    ScopedEnv config("KRB5_CONFIG", dir.File("krb5.conf"));
    ExpectController(u"kdconly.test", "\\\\127.0.0.1");
    ExpectController(u"KDCONLY.TEST", "\\\\127.0.0.1");
    ExpectController(u"byname.test", "\\\\dc1.brevonix.test");
    ExpectNoController(u"other.test");
}

TEST(SambaLocator, TriesTheNameItselfLast) {
    BREVONIX_REQUIRE_SAMBA(samba);
    RUN_IN_NAMESPACE(samba->Namespace());
    ScopedEnv config("KRB5_CONFIG", samba->Krb5ConfPath());
    // No SRV records under the DC's own name, no realm of that name: its A record is what's left.
    ExpectController(u"dc1.brevonix.test", "\\\\dc1.brevonix.test");
    ExpectController(u"DC1.brevonix.test", "\\\\DC1.brevonix.test");
}

TEST(SambaLocator, HostPortFormNamesOneDirectory) {
    BREVONIX_REQUIRE_SAMBA(samba);
    RUN_IN_NAMESPACE(samba->Namespace());
    ScopedEnv config("KRB5_CONFIG", samba->Krb5ConfPath());
    ExpectController(u"127.0.0.1", "\\\\127.0.0.1");
    ExpectController(u"127.0.0.1:389", "\\\\127.0.0.1");
    ExpectController(u"127.0.0.1:636", "\\\\127.0.0.1:636");
    ExpectController(u"[::1]:636", "\\\\[::1]:636");
    ExpectController(u"dc1.brevonix.test:3268", "\\\\dc1.brevonix.test:3268");
    // An explicit port means that port: the domain's SRV records are not consulted for it.
    ExpectNoController(u"brevonix.test:1");
}

TEST(SambaLocator, UnknownNameFailsQuicklyAtSambasResolver) {
    BREVONIX_REQUIRE_SAMBA(samba);
    RUN_IN_NAMESPACE(samba->Namespace());
    ScopedEnv config("KRB5_CONFIG", samba->Krb5ConfPath());
    for (const char16_t* domain : {u"nosuch.test", u"NOSUCH", u"nosuch.brevonix.test", u"brevonix.invalid"}) {
        Located l = Locate(domain);
        EXPECT_EQ(l.status, NERR_DCNotFound) << Show(domain);
        EXPECT_FALSE(l.bufferGiven) << Show(domain);
        EXPECT_LT(l.ms, 3000) << Show(domain);
    }
}

// A stand-in DNS server on 127.0.0.2 that counts the questions it gets and answers each with
// "no such name".
class CountingDns {
public:
    CountingDns() {
        fd_ = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(53);
        inet_pton(AF_INET, "127.0.0.2", &a.sin_addr);
        bound_ = fd_ >= 0 && bind(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
        if (bound_) thread_ = std::thread([this] { Serve(); });
    }
    ~CountingDns() {
        stop_ = true;
        if (thread_.joinable()) thread_.join();
        if (fd_ >= 0) close(fd_);
    }
    bool Bound() const { return bound_; }
    int Questions() const { return questions_; }

private:
    void Serve() {
        while (!stop_) {
            pollfd p{fd_, POLLIN, 0};
            if (poll(&p, 1, 50) <= 0) continue;
            unsigned char q[512];
            sockaddr_in from{};
            socklen_t len = sizeof from;
            ssize_t n = recvfrom(fd_, q, sizeof q, 0, reinterpret_cast<sockaddr*>(&from), &len);
            if (n < 12) continue;
            ++questions_;
            // Header and question only; QR, AA, RA set and RCODE 3 (NXDOMAIN).
            size_t end = 12;
            while (end < static_cast<size_t>(n) && q[end] != 0)
                end += q[end] + 1u;
            end = std::min(end + 5, static_cast<size_t>(n));
            unsigned char r[512];
            std::copy(q, q + end, r);
            r[2] = static_cast<unsigned char>(0x84 | (q[2] & 0x79));
            r[3] = 0x83;
            std::fill(r + 6, r + 12, 0);
            r[4] = 0;
            r[5] = 1;
            sendto(fd_, r, end, 0, reinterpret_cast<sockaddr*>(&from), len);
        }
    }
    int fd_ = -1;
    bool bound_ = false;
    std::atomic<bool> stop_{false};
    std::atomic<int> questions_{0};
    std::thread thread_;
};

TEST(Locator, TextThatCannotBeAHostIsNeverLookedUp) {
    TempDir dir("brevonix-locator");
    NamespaceFiles files{dir.File("resolv.conf"), dir.File("hosts"), dir.File("nsswitch.conf")};
    ASSERT_TRUE(WriteTextFile(files.resolvConf, "nameserver 127.0.0.2\noptions timeout:1 attempts:1\n"));
    ASSERT_TRUE(WriteTextFile(files.hosts, "127.0.0.1\tlocalhost\n"));
    ASSERT_TRUE(WriteTextFile(files.nsswitchConf, "hosts: files dns\n"));
    RUN_IN_NAMESPACE(files);

    CountingDns dns;
    ASSERT_TRUE(dns.Bound()) << "cannot listen on 127.0.0.2:53";
    // Kerberos configuration of our own, so no realm of the machine's can match.
    ASSERT_TRUE(WriteTextFile(dir.File("krb5.conf"), "[libdefaults]\n\tdns_lookup_kdc = false\n"));
    ScopedEnv config("KRB5_CONFIG", dir.File("krb5.conf"));

    for (const char16_t* text :
         {u"", u" ", u"brevonix.test/x", u"alice@brevonix.test", u"brevonix\r\n.test", u"LDAP://dc1",
          u"\\\\dc1", u"b\u00fccher.test", u"a..b", u"dc1:99999", u"10.1"}) {
        std::u16string t = text;
        ExpectNoController(t, 100);
    }
    ExpectNoController(std::u16string(u"dc1\u0001.test"), 100);
    EXPECT_EQ(dns.Questions(), 0);

    // Control: a well-formed unknown name does reach the resolver, and fails.
    ExpectNoController(u"probe.test", 5000);
    EXPECT_GT(dns.Questions(), 0);
}

// A controller that takes no connection (its listen queue is full, so the handshake never
// completes) is given up after a few seconds instead of the system's minutes.
TEST(Locator, SilentControllerIsGivenUpOnTime) {
    int listener = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    ASSERT_GE(listener, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(bind(listener, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
    socklen_t len = sizeof a;
    ASSERT_EQ(getsockname(listener, reinterpret_cast<sockaddr*>(&a), &len), 0);
    ASSERT_EQ(listen(listener, 0), 0);
    std::vector<int> fillers;
    for (int i = 0; i < 8; ++i) {
        int c = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        connect(c, reinterpret_cast<sockaddr*>(&a), sizeof a);
        fillers.push_back(c);
    }
    std::string text = "127.0.0.1:" + std::to_string(ntohs(a.sin_port));
    Located l = Locate(std::u16string(text.begin(), text.end()));
    EXPECT_EQ(l.status, NERR_DCNotFound);
    EXPECT_GE(l.ms, 2000);
    EXPECT_LT(l.ms, 6000);
    for (int c : fillers)
        close(c);
    close(listener);
}

} // namespace
