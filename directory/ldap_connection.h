// One bound LDAP connection behind an IDirectorySearch: connecting, the secure bind, the root DSE
// and the schema read once per bind. Private to the directory library (libldap types appear here).
#pragma once

#include <ldap.h>
#include <signal.h>

#include <memory>
#include <string>
#include <vector>

#include "directory/ads_path.h"
#include "directory/adsi.h"
#include "directory/directory_schema.h"

namespace brevonix::directory {

// libldap writes to sockets with write(2); a directory that has gone away would kill the whole
// process with SIGPIPE. Every call into libldap that may write runs under this guard, which blocks
// SIGPIPE on the calling thread and swallows one raised meanwhile.
class SigpipeGuard {
public:
    SigpipeGuard();
    ~SigpipeGuard();
    SigpipeGuard(const SigpipeGuard&) = delete;
    SigpipeGuard& operator=(const SigpipeGuard&) = delete;

private:
    sigset_t m_oldMask;
    bool m_wasPending = false;
};

// Forgets the diagnostic text of an earlier operation, so that a failure of the next call (a lost
// connection, a TLS error) is not reported with a stale server message.
void ClearDiagnostic(LDAP* ld);

struct RootDse {
    bool read = false;
    std::string defaultNamingContext;
    std::vector<std::string> namingContexts;
    std::vector<std::string> saslMechanisms;
    std::vector<std::string> supportedControls;
    std::string subschemaSubentry;
    std::string ldapServiceName;
    std::string dnsHostName; // AD: the controller's own DNS name

    bool OffersMechanism(std::string_view mechanism) const;
    bool SupportsControl(std::string_view oid) const;
    // The Kerberos realm the directory belongs to, as far as the root DSE tells: the realm of AD's
    // ldapServiceName, else the DNS name of the default (or first) naming context in capitals;
    // else empty.
    std::string RealmHint() const;
};

// How long one connect, and one synchronous request (bind, StartTLS, root DSE, schema), may take.
constexpr int kConnectTimeoutSeconds = 15;
constexpr int kRequestTimeoutSeconds = 60;

class LdapConnection {
public:
    ~LdapConnection();
    LdapConnection(const LdapConnection&) = delete;
    LdapConnection& operator=(const LdapConnection&) = delete;

    // Connects to the server of `path` and binds (see adsi.h's ADsOpenObject for the rules). On
    // failure returns the failing HRESULT, with the reason recorded for ADsGetLastError.
    static HRESULT Open(const AdsPath& path, LPCWSTR userName, LPCWSTR password, DWORD flags,
                        std::unique_ptr<LdapConnection>& out);

    LDAP* Handle() const { return m_ld; }
    const AdsPath& Path() const { return m_path; }
    const std::string& BaseDn() const { return m_baseDn; }
    const RootDse& Root() const { return m_root; }
    const DirectorySchema& Schema() const { return m_schema; }

    // Records a failure of an operation on this connection for ADsGetLastError (with the
    // directory's diagnostic, if it gave one) and returns its HRESULT.
    HRESULT Fail(std::string_view what, int ldapResultCode) const;
    // The result code and diagnostic libldap holds for the last failed call on this connection.
    int LastResultCode() const;

private:
    LdapConnection() = default;
    HRESULT Connect();
    int ReadRootDse();
    HRESULT BindLoggedOnUser();
    HRESULT BindWithPassword(LPCWSTR userName, LPCWSTR password);
    HRESULT UseControllerName();
    HRESULT SaslBind(const char* mechanism);
    void ReadSchema();
    void ReadAhead();

    LDAP* m_ld = nullptr;
    AdsPath m_path;
    RootDse m_root;
    std::string m_baseDn;
    DirectorySchema m_schema;
};

} // namespace brevonix::directory
