// A real Samba Active Directory domain controller for the tests, bound to the loopback interface.
//
// The domain is provisioned and seeded once into a template kept under the build directory
// (tests/fixtures/samba/provision.sh and seed.py); each test process copies the template to a
// temporary folder and starts Samba from it, once, on first use. Samba serves LDAP (389), LDAPS
// (636), the global catalog (3268), Kerberos (88) and DNS (53) on 127.0.0.1 (and ::1) only, with
// no DNS forwarder.
//
// Lab names (brevonix.test, dc1.brevonix.test) exist only in Samba's DNS. The machine's resolver
// points off the machine, so every lookup of such a name must happen inside a private mount
// namespace whose resolv.conf names 127.0.0.1 (RunInNamespace / RunCurrentTestInNamespace).
// Provisioning and Samba itself run in such a namespace as well.
//
// Samba needs root. When it cannot start, tests fail in CI (CI=true) and are skipped elsewhere:
//     BREVONIX_REQUIRE_SAMBA(samba);   // declares `samba`, a const SambaFixture*
#pragma once

#include "support/samba_process.h"
#include "support/test_env.h"

#include <gtest/gtest.h>

#include <string>

namespace brevonix::samba_test {

struct SambaAccount {
    std::string samAccountName; // "alice"
    std::string password;
    std::string upn; // "alice@brevonix.test"
    std::string dn;  // "CN=Alice Archer,CN=Users,DC=brevonix,DC=test"
};

// Files that replace the machine's name resolution inside a private mount namespace.
struct NamespaceFiles {
    std::string resolvConf;
    std::string hosts;
    std::string nsswitchConf;
};

class SambaFixture {
public:
    // The running domain controller, started on first call. Null with the reason in `why` when
    // Samba cannot start (the failure is remembered: later calls do not try again). Inside a
    // namespace started by RunInNamespace this attaches to the parent's server instead.
    static const SambaFixture* Get(std::string& why);

    const std::string& Realm() const { return realm_; }                 // "BREVONIX.TEST"
    const std::string& DnsDomain() const { return dnsDomain_; }         // "brevonix.test"
    const std::string& NetbiosDomain() const { return netbiosDomain_; } // "BREVONIX"
    const std::string& DcHostName() const { return dcHostName_; }       // "dc1.brevonix.test"
    const std::string& DcNetbiosName() const { return dcNetbiosName_; } // "DC1"
    const std::string& BaseDn() const { return baseDn_; }               // "DC=brevonix,DC=test"
    static constexpr int kLdapPort = 389;
    static constexpr int kLdapsPort = 636;
    static constexpr int kGlobalCatalogPort = 3268;
    static constexpr int kKdcPort = 88;
    static constexpr int kDnsPort = 53;

    SambaAccount Admin() const;
    // A seeded user with every catalogue attribute set (see tests/fixtures/samba/seed.py).
    SambaAccount User() const;
    // "zoe": accented names, no telephone number.
    SambaAccount AccentedUser() const;

    // The run folder, and files in it.
    const std::string& Dir() const { return dir_; }
    std::string CaCertPath() const;   // the CA that signed Samba's TLS certificate
    std::string Krb5ConfPath() const; // realm with kdc = 127.0.0.1, no DNS lookups
    std::string LogPath() const;      // Samba's log, with one line per authentication
    // The size of Samba's log now, and what it has written since such a size: a test can find the
    // lines of its own bind ("Successful AuthZ: [LDAP,krb5] user [BREVONIX]\[alice]",
    // "Auth: [LDAP,simple bind/TLS] user ...").
    size_t LogSize() const;
    std::string LogSince(size_t offset) const;
    const NamespaceFiles& Namespace() const { return namespace_; } // resolver -> 127.0.0.1, hosts

    // Runs a command inside the lab namespace (see above) with `env` added; the command can call
    // SambaFixture::Get() to reach this server.
    CommandResult RunInNamespace(const std::vector<std::string>& argv, const EnvList& env = {},
                                 std::chrono::milliseconds timeout = std::chrono::seconds(120)) const;

    ~SambaFixture();
    SambaFixture(const SambaFixture&) = delete;
    SambaFixture& operator=(const SambaFixture&) = delete;

private:
    SambaFixture();
    bool Start(std::string& why);
    bool Attach(const std::string& dir, std::string& why);
    void Stop();
    friend class SambaEnvironment;

    std::string realm_, dnsDomain_, netbiosDomain_, dcHostName_, dcNetbiosName_, baseDn_;
    std::string dir_;
    NamespaceFiles namespace_;
    bool owner_ = false;
    int pid_ = -1;
    int stdinFd_ = -1;
    int lockFd_ = -1;
};

// Runs `argv` in a new mount namespace where /etc/resolv.conf, /etc/hosts and /etc/nsswitch.conf
// are the given files (unshare --mount; mounts never reach the rest of the machine). `env` is
// added to the environment together with BREVONIX_LAB_NAMESPACE=1.
CommandResult RunInNamespace(const NamespaceFiles& files, const std::vector<std::string>& argv,
                             const EnvList& env = {},
                             std::chrono::milliseconds timeout = std::chrono::seconds(120));

// Runs the current test again, alone, in this test binary inside the namespace, and fails the
// current test with the child's output unless the child ran it and it passed. Use as
//     if (!InLabNamespace()) return RunCurrentTestInNamespace(files);
void RunCurrentTestInNamespace(const NamespaceFiles& files, const EnvList& env = {});

// True inside a namespace made by RunInNamespace whose resolver is on loopback only; checked
// before any lookup of a lab name.
bool InLabNamespace();

} // namespace brevonix::samba_test

#define BREVONIX_REQUIRE_SAMBA(var)                                                                          \
    std::string var##_why;                                                                                   \
    const ::brevonix::samba_test::SambaFixture* var = ::brevonix::samba_test::SambaFixture::Get(var##_why);  \
    if (!var) {                                                                                              \
        if (RunningInCi()) FAIL() << "Samba AD DC did not start: " << var##_why;                             \
        GTEST_SKIP() << "Samba AD DC did not start: " << var##_why;                                          \
    }
