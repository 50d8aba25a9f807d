// A real OpenLDAP directory for tests: an unprivileged slapd on a free 127.0.0.1 port, with its own
// cn=config and mdb database in a temporary folder, entries that look like Active Directory users,
// TLS from a CA made for this run, no anonymous reads, simple binds only inside TLS, and the limits
// of AD's MaxPageSize (an unpaged search stops at 1000 entries, a paged one gets everything; a page
// size above 1000 is refused with "illegal pagedResults page size").
//
// No test framework types: GUI tests, benchmarks and tools use it as they are.
//
//   std::string error;
//   auto server = brevonix::test::SlapdServer::Start({.userCount = 2500}, error);
//   if (!server) ...;   // FAIL under CI=true, may skip locally
//   ADsOpenObject(server->AdsPath().c_str(), server->BindDn16().c_str(), server->BindPassword16().c_str(),
//   ...);
#pragma once

#include <sys/types.h>

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "support/process_util.h"

namespace brevonix::test {

// One generated user, as seeded. An empty field means the entry lacks that attribute.
struct SeedUser {
    std::string cn;
    std::string givenName;
    std::string initials;
    std::string sn;
    std::string displayName;
    std::string description;
    std::string physicalDeliveryOfficeName;
    std::string telephoneNumber;
    std::string mail;
    std::vector<std::string> url;
    std::string streetAddress; // stored by slapd as `street` (its other name)
    std::string postOfficeBox;
    std::string l;
    std::string st;
    std::string postalCode;
    std::string co;
    std::string userPrincipalName;
    std::string sAMAccountName;
    std::array<std::uint8_t, 16> objectGUID{};
    std::string whenCreated; // Generalized Time, e.g. "20090305140709.0Z"
    int userAccountControl = 512;
    std::int64_t pwdLastSet = 0;
};

// Users are generated, not stored: the same index always gives the same user, so a test (or a
// benchmark with a million users) can work out what any row should hold.
//
// The first users are the edge cases; everything after them is ordinary.
enum SeedUserIndex : int {
    kUserTwoLineStreet = 0, // streetAddress holds two lines joined by CR LF, description LF and CR
    kUserCommasInDescription = 1,
    kUserNoTelephone = 2,   // no telephoneNumber
    kUserAccentedNames = 3, // Latin-1 accents in names, city and cn (so in the DN)
    kUserBeyondLatin1 = 4,  // names beyond Latin-1, CJK, and a character beyond U+FFFF
    kUserSeveralUrls = 5,   // url with three values
    kFirstOrdinaryUser = 6,
};
SeedUser MakeSeedUser(int index);

struct SlapdOptions {
    // Generated users (MakeSeedUser(0) ... MakeSeedUser(userCount - 1)) under ou=Users.
    int userCount = 50;
    // Configure TLS with a certificate from the fixture's CA (StartTLS on the same port).
    bool tls = true;
    // Add the CA to the certificates this process trusts for LDAP (see TrustTestCa).
    bool trustCa = true;
    // Advertise this machine's GSSAPI/GSS-SPNEGO SASL mechanisms in the root DSE. Off by default:
    // the directory then offers no Kerberos, and typed credentials go the StartTLS way. (There is
    // no KDC behind it either way.)
    bool offerKerberos = false;
    // Size limit of an unpaged search, and largest page size accepted; 0: unlimited.
    int sizeLimit = 1000;
    // Keep the loaded database under the build folder (slapd-cache/), one per user count and
    // version of the generated content, and start later servers from a copy of it instead of
    // loading the users again: a million users take a quarter of a minute to load, the copy a
    // few seconds. Every server still gets its own copy.
    bool cacheDatabase = false;
};

class SlapdServer {
public:
    // Builds the directory and starts slapd; null with the reason in `error` when it cannot.
    static std::unique_ptr<SlapdServer> Start(const SlapdOptions& options, std::string& error);
    // Stops slapd (it is killed if it hangs) and removes the temporary folder.
    ~SlapdServer();
    SlapdServer(const SlapdServer&) = delete;
    SlapdServer& operator=(const SlapdServer&) = delete;

    // Where it listens: always 127.0.0.1.
    std::string Host() const { return "127.0.0.1"; }
    int Port() const { return m_port; }
    std::string HostPort() const { return Host() + ":" + std::to_string(m_port); } // "127.0.0.1:38211"
    std::string LdapUrl() const { return "ldap://" + HostPort(); }                 // for libldap / ldapsearch
    std::u16string AdsPath() const; // u"LDAP://127.0.0.1:38211"

    static std::string BaseDn() { return "dc=brevonix,dc=test"; }
    static std::string UsersDn() { return "ou=Users,dc=brevonix,dc=test"; }
    static std::string Domain() { return "brevonix.test"; }

    // The directory's manager (olcRootDN).
    static std::string AdminDn() { return "cn=admin,dc=brevonix,dc=test"; }
    static std::string AdminPassword() { return "Adm1n-Secret!"; }

    // An ordinary user that can bind and read everything. It is an AD-like user itself (it matches
    // the default filter) and carries a value of every ADSI type the stand-in produces.
    static std::string BindDn() { return "cn=Test User,ou=Users,dc=brevonix,dc=test"; }
    static std::string BindUpn() { return "test.user@brevonix.test"; }
    static std::string BindPassword() { return "Us3r-Secret!pw"; }
    static std::u16string BindDn16();
    static std::u16string BindPassword16();

    // Entries matching "(&(objectClass=user)(objectCategory=user))": the generated users and the
    // bind user. The directory also holds entries that must not match (an OU, a group, a contact).
    int UserObjectCount() const { return m_options.userCount + 1; }
    static std::string SeedUserDn(int index);

    // The CA that signed the server certificate (PEM). The certificate names IP 127.0.0.1,
    // localhost and this machine's host name.
    std::string CaFile() const { return m_dir->Path() + "/tls/ca.pem"; }
    // slapd's log (connection and operation lines: "conn=1001 op=0 BIND dn=... method=128").
    std::string LogFile() const { return m_dir->Path() + "/slapd.log"; }
    std::string ReadLog() const;
    std::string Folder() const { return m_dir->Path(); }
    const SlapdOptions& Options() const { return m_options; }

    pid_t Pid() const { return m_process ? m_process->Pid() : -1; }
    bool Running() { return m_process && m_process->Running(); }
    void Kill();    // SIGKILL: the server vanishes mid-conversation
    void Stop();    // orderly shutdown
    void Suspend(); // SIGSTOP: the server stops answering but keeps its connections
    void Resume();  // SIGCONT
    // Starts slapd again on the same port and database after Stop() or Kill().
    bool Restart(std::string& error);

private:
    SlapdServer() = default;
    bool Build(std::string& error);
    bool Launch(std::string& error);

    SlapdOptions m_options;
    std::unique_ptr<TempDir> m_dir;
    std::unique_ptr<ChildProcess> m_process;
    int m_port = 0;
};

// Makes a test CA and a server certificate signed by it in `folder` (ca.pem, server.pem, server.key,
// kept 30 days), the server's valid for `altNames` (an openssl subjectAltName value). False, with
// openssl's words in `error`, when that fails.
bool MakeTestCertificates(const std::string& folder, const std::string& caName, const std::string& altNames,
                          std::string& error);

// Makes LDAP clients in this process trust `caPemFile` in addition to the CAs added before: the CA
// goes into a per-process bundle that libldap's global TLS settings (and LDAPTLS_CACERT, for child
// processes such as ldapsearch) point at, and libldap's TLS context is renewed so that the next
// connection sees it. The system's own CAs are not trusted meanwhile.
void TrustTestCa(const std::string& caPemFile);

// LDIF for one attribute value: "name: value", or "name:: base64" when the value is not safe as text.
std::string LdifLine(const std::string& name, const std::string& value);

} // namespace brevonix::test
