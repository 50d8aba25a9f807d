#include "directory/ldap_connection.h"

#include <arpa/inet.h>
#include <errno.h>
#include <sasl/sasl.h>
#include <string.h>
#include <time.h>
#include <unistd.h>

#include <cctype>
#include <cstring>

#include "directory/ads_errors.h"
#include "directory/kerberos.h"
#include "platform/cstring.h"

namespace brevonix::directory {

// ---- SIGPIPE --------------------------------------------------------------------------------------

SigpipeGuard::SigpipeGuard() {
    sigset_t pending;
    sigemptyset(&pending);
    sigpending(&pending);
    m_wasPending = sigismember(&pending, SIGPIPE) == 1;
    sigset_t pipe;
    sigemptyset(&pipe);
    sigaddset(&pipe, SIGPIPE);
    pthread_sigmask(SIG_BLOCK, &pipe, &m_oldMask);
}

SigpipeGuard::~SigpipeGuard() {
    if (!m_wasPending) {
        sigset_t pending;
        sigemptyset(&pending);
        sigpending(&pending);
        if (sigismember(&pending, SIGPIPE) == 1) {
            sigset_t pipe;
            sigemptyset(&pipe);
            sigaddset(&pipe, SIGPIPE);
            const timespec zero{};
            while (sigtimedwait(&pipe, nullptr, &zero) == -1 && errno == EINTR) {
            }
        }
    }
    pthread_sigmask(SIG_SETMASK, &m_oldMask, nullptr);
}

void ClearDiagnostic(LDAP* ld) {
    if (ld) ldap_set_option(ld, LDAP_OPT_DIAGNOSTIC_MESSAGE, nullptr);
}

// ---- Root DSE -------------------------------------------------------------------------------------

namespace {

bool EqualsNoCase(std::string_view a, std::string_view b) {
    return LowerAscii(a) == LowerAscii(b);
}

std::vector<std::string> Values(LDAP* ld, LDAPMessage* entry, const char* attr) {
    std::vector<std::string> out;
    berval** vals = ldap_get_values_len(ld, entry, attr);
    for (berval** v = vals; v && *v; ++v)
        out.emplace_back((*v)->bv_val, (*v)->bv_len);
    ldap_value_free_len(vals);
    return out;
}

std::string FirstValue(LDAP* ld, LDAPMessage* entry, const char* attr) {
    auto v = Values(ld, entry, attr);
    return v.empty() ? std::string() : v.front();
}

// A copy of the password that is wiped when it goes out of scope. Converted from UTF-16 into a
// buffer reserved up front so that no reallocation leaves a copy behind in freed memory.
class SecretUtf8 {
public:
    explicit SecretUtf8(LPCWSTR text) {
        size_t n = 0;
        while (text && text[n])
            ++n;
        m_bytes.reserve(n * 3 + 1);
        for (size_t i = 0; i < n; ++i) {
            char32_t cp = text[i];
            if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < n && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
                cp = 0x10000 + ((cp - 0xD800) << 10) + (text[i + 1] - 0xDC00);
                ++i;
            } else if (cp >= 0xD800 && cp <= 0xDFFF) {
                cp = 0xFFFD;
            }
            if (cp < 0x80) {
                m_bytes.push_back(static_cast<char>(cp));
            } else if (cp < 0x800) {
                m_bytes.push_back(static_cast<char>(0xC0 | (cp >> 6)));
                m_bytes.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
            } else if (cp < 0x10000) {
                m_bytes.push_back(static_cast<char>(0xE0 | (cp >> 12)));
                m_bytes.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
                m_bytes.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
            } else {
                m_bytes.push_back(static_cast<char>(0xF0 | (cp >> 18)));
                m_bytes.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
                m_bytes.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
                m_bytes.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
            }
        }
    }
    ~SecretUtf8() { Wipe(); }
    SecretUtf8(const SecretUtf8&) = delete;
    SecretUtf8& operator=(const SecretUtf8&) = delete;

    const std::string& Text() const { return m_bytes; }
    char* Data() { return m_bytes.data(); }
    size_t Size() const { return m_bytes.size(); }
    bool Empty() const { return m_bytes.empty(); }
    // The buffer never grew past its first allocation, so the bytes written are the only copy.
    void Wipe() {
        explicit_bzero(m_bytes.data(), m_bytes.size());
        m_bytes.clear();
    }

private:
    std::string m_bytes;
};

std::string Utf8(LPCWSTR text) {
    return text ? CString(text).ToUtf8() : std::string();
}

// A DN names no Kerberos principal even when a value in it holds an "@".
bool LooksLikeDn(const std::string& name) {
    LDAPDN dn = nullptr;
    const bool isDn = ldap_str2dn(name.c_str(), &dn, LDAP_DN_FORMAT_LDAPV3) == LDAP_SUCCESS && dn && dn[0];
    ldap_dnfree(dn);
    return isDn;
}

// GSSAPI asks for nothing a user must type; any prompt gets its default (or nothing).
int SaslInteract(LDAP*, unsigned, void*, void* prompts) {
    for (auto* p = static_cast<sasl_interact_t*>(prompts); p && p->id != SASL_CB_LIST_END; ++p) {
        const char* answer = p->defresult ? p->defresult : "";
        p->result = answer;
        p->len = static_cast<unsigned>(std::strlen(answer));
    }
    return LDAP_SUCCESS;
}

} // namespace

bool RootDse::OffersMechanism(std::string_view mechanism) const {
    for (const auto& m : saslMechanisms)
        if (EqualsNoCase(m, mechanism)) return true;
    return false;
}

bool RootDse::SupportsControl(std::string_view oid) const {
    for (const auto& c : supportedControls)
        if (c == oid) return true;
    return false;
}

std::string RootDse::RealmHint() const {
    if (const size_t at = ldapServiceName.rfind('@');
        at != std::string::npos && at + 1 < ldapServiceName.size())
        return ldapServiceName.substr(at + 1);
    LDAPDN dn = nullptr;
    std::string realm;
    const std::string& context = !defaultNamingContext.empty() || namingContexts.empty()
                                     ? defaultNamingContext
                                     : namingContexts.front();
    if (ldap_str2dn(context.c_str(), &dn, LDAP_DN_FORMAT_LDAPV3) == LDAP_SUCCESS && dn) {
        for (LDAPRDN* rdn = dn; *rdn; ++rdn) {
            LDAPAVA* ava = (*rdn)[0];
            if (!ava || !EqualsNoCase(std::string_view(ava->la_attr.bv_val, ava->la_attr.bv_len), "dc"))
                continue;
            if (!realm.empty()) realm += '.';
            realm.append(ava->la_value.bv_val, ava->la_value.bv_len);
        }
    }
    ldap_dnfree(dn);
    for (char& c : realm)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    return realm;
}

// ---- Connection -----------------------------------------------------------------------------------

LdapConnection::~LdapConnection() {
    if (m_ld) {
        SigpipeGuard guard;
        ldap_unbind_ext(m_ld, nullptr, nullptr);
    }
}

int LdapConnection::LastResultCode() const {
    int rc = LDAP_OTHER;
    if (m_ld) ldap_get_option(m_ld, LDAP_OPT_RESULT_CODE, &rc);
    return rc;
}

HRESULT LdapConnection::Fail(std::string_view what, int rc) const {
    std::string diagnostic;
    if (m_ld) {
        char* diag = nullptr;
        if (ldap_get_option(m_ld, LDAP_OPT_DIAGNOSTIC_MESSAGE, &diag) == LDAP_OPT_SUCCESS && diag)
            diagnostic = diag;
        ldap_memfree(diag);
    }
    SetLastAdsError(Win32ErrorForLdapResult(rc), DescribeLdapFailure(what, rc, diagnostic));
    return HResultForLdapResult(rc);
}

HRESULT LdapConnection::Open(const AdsPath& path, LPCWSTR userName, LPCWSTR password, DWORD flags,
                             std::unique_ptr<LdapConnection>& out) {
    out.reset();
    std::unique_ptr<LdapConnection> c(new LdapConnection());
    c->m_path = path;
    if (HRESULT hr = c->Connect(); FAILED(hr)) return hr;

    HRESULT hr = S_OK;
    if (flags & ADS_NO_AUTHENTICATION) {
        // An anonymous connection: nothing to send.
    } else if (!userName && !password) {
        hr = c->BindLoggedOnUser();
    } else {
        hr = c->BindWithPassword(userName, password);
    }
    if (FAILED(hr)) return hr;

    // Some directories show their root DSE only to a bound user.
    if (!c->m_root.read) c->ReadRootDse();
    if (!path.dn.empty())
        c->m_baseDn = path.dn;
    else if (!c->m_root.defaultNamingContext.empty())
        c->m_baseDn = c->m_root.defaultNamingContext;
    else if (!c->m_root.namingContexts.empty())
        c->m_baseDn = c->m_root.namingContexts.front();
    c->ReadSchema();
    c->ReadAhead();
    out = std::move(c);
    return S_OK;
}

// A server sends every entry in a write, and over TLS in a record, of its own: read exactly as
// asked, each entry of a search costs a poll and two reads. A buffer below TLS (and below a SASL
// security layer) takes in one read whatever has arrived. Added once the bind is done, when
// nothing is left unread.
void LdapConnection::ReadAhead() {
    Sockbuf* sb = nullptr;
    if (ldap_get_option(m_ld, LDAP_OPT_SOCKBUF, &sb) != LDAP_OPT_SUCCESS || !sb) return;
    int size = 64 * 1024;
    ber_sockbuf_add_io(sb, &ber_sockbuf_io_readahead, LBER_SBIOD_LEVEL_PROVIDER + 5, &size);
}

HRESULT LdapConnection::Connect() {
    const std::string uri = m_path.LdapUri();
    if (int rc = ldap_initialize(&m_ld, uri.c_str()); rc != LDAP_SUCCESS) {
        m_ld = nullptr;
        SetLastAdsError(Win32ErrorForLdapResult(rc),
                        DescribeLdapFailure("connect to " + m_path.Server(), rc, {}));
        return E_ADS_BAD_PATHNAME;
    }
    const int version = LDAP_VERSION3;
    ldap_set_option(m_ld, LDAP_OPT_PROTOCOL_VERSION, &version);
    // Referrals are never chased: following one would bind to another server with the user's
    // credentials.
    ldap_set_option(m_ld, LDAP_OPT_REFERRALS, LDAP_OPT_OFF);
    ldap_set_option(m_ld, LDAP_OPT_RESTART, LDAP_OPT_ON);
    const timeval connectTimeout{kConnectTimeoutSeconds, 0};
    ldap_set_option(m_ld, LDAP_OPT_NETWORK_TIMEOUT, &connectTimeout);
    const timeval requestTimeout{kRequestTimeoutSeconds, 0};
    ldap_set_option(m_ld, LDAP_OPT_TIMEOUT, &requestTimeout);

    // Reading the root DSE is the first exchange and tells whether anyone answers at all.
    const int rc = ReadRootDse();
    if (rc == LDAP_SERVER_DOWN || rc == LDAP_CONNECT_ERROR || rc == LDAP_TIMEOUT)
        return Fail("connect to " + m_path.Server(), rc);
    return S_OK;
}

int LdapConnection::ReadRootDse() {
    static const char* kAttrs[] = {"defaultNamingContext",
                                   "namingContexts",
                                   "supportedSASLMechanisms",
                                   "supportedControl",
                                   "subschemaSubentry",
                                   "ldapServiceName",
                                   "dnsHostName",
                                   nullptr};
    LDAPMessage* res = nullptr;
    timeval timeout{kRequestTimeoutSeconds, 0};
    int rc;
    ClearDiagnostic(m_ld);
    {
        SigpipeGuard guard;
        rc = ldap_search_ext_s(m_ld, "", LDAP_SCOPE_BASE, "(objectClass=*)", const_cast<char**>(kAttrs), 0,
                               nullptr, nullptr, &timeout, 0, &res);
    }
    if (rc == LDAP_SUCCESS) {
        if (LDAPMessage* e = ldap_first_entry(m_ld, res)) {
            m_root.read = true;
            m_root.defaultNamingContext = FirstValue(m_ld, e, "defaultNamingContext");
            m_root.namingContexts = Values(m_ld, e, "namingContexts");
            m_root.saslMechanisms = Values(m_ld, e, "supportedSASLMechanisms");
            m_root.supportedControls = Values(m_ld, e, "supportedControl");
            m_root.subschemaSubentry = FirstValue(m_ld, e, "subschemaSubentry");
            m_root.ldapServiceName = FirstValue(m_ld, e, "ldapServiceName");
            m_root.dnsHostName = FirstValue(m_ld, e, "dnsHostName");
        }
    }
    ldap_msgfree(res);
    return rc;
}

static bool IsAddressLiteral(const std::string& host) {
    if (!host.empty() && host.front() == '[') return true;
    in_addr v4{};
    return inet_pton(AF_INET, host.c_str(), &v4) == 1;
}

HRESULT LdapConnection::UseControllerName() {
    // Kerberos names the service after a host: the controller's own name, not the domain's (no
    // directory has a principal ldap/<domain>), and not whatever reverse DNS says about an address.
    // A path that names the domain reaches one of its controllers; the root DSE says which one, and
    // the bind goes to that controller by its own name. An address is taken as given.
    const std::string controller = m_root.dnsHostName;
    if (controller.empty() || IsAddressLiteral(m_path.host) || EqualsNoCase(controller, m_path.host))
        return S_OK;
    for (char ch : controller)
        if (!(std::isalnum(static_cast<unsigned char>(ch)) || ch == '.' || ch == '-' || ch == '_'))
            return S_OK;
    {
        SigpipeGuard guard;
        ldap_unbind_ext(m_ld, nullptr, nullptr);
    }
    m_ld = nullptr;
    m_root = RootDse{};
    m_path.host = controller;
    return Connect();
}

HRESULT LdapConnection::SaslBind(const char* mechanism) {
    if (HRESULT hr = UseControllerName(); FAILED(hr)) return hr;
    ldap_set_option(m_ld, LDAP_OPT_X_SASL_NOCANON, LDAP_OPT_ON);
    int rc;
    ClearDiagnostic(m_ld);
    {
        SigpipeGuard guard;
        rc = ldap_sasl_interactive_bind_s(m_ld, nullptr, mechanism, nullptr, nullptr, LDAP_SASL_QUIET,
                                          SaslInteract, nullptr);
    }
    if (rc != LDAP_SUCCESS)
        return Fail(std::string("bind (SASL ") + mechanism + ") to " + m_path.Server(), rc);
    return S_OK;
}

HRESULT LdapConnection::BindLoggedOnUser() {
    // The user's own Kerberos ticket cache; GSS-SPNEGO only where a server offers nothing else.
    const char* mechanism =
        !m_root.OffersMechanism("GSSAPI") && m_root.OffersMechanism("GSS-SPNEGO") ? "GSS-SPNEGO" : "GSSAPI";
    return SaslBind(mechanism);
}

HRESULT LdapConnection::BindWithPassword(LPCWSTR userName, LPCWSTR password) {
    const std::string user = Utf8(userName);
    SecretUtf8 secret(password);
    if (user.empty() || secret.Empty()) {
        // A name without a password is an unauthenticated bind, which a directory may accept as
        // anonymous; that must not pass for a successful logon.
        SetLastAdsError(ERROR_LOGON_FAILURE,
                        "bind to " + m_path.Server() +
                            ": a user name and a password are both needed; nothing was sent");
        return HRESULT_FROM_WIN32(ERROR_LOGON_FAILURE);
    }

    const bool kerberosOffered = m_root.OffersMechanism("GSSAPI") || m_root.OffersMechanism("GSS-SPNEGO");
    const std::string principal = kerberosOffered && !LooksLikeDn(user)
                                      ? krb::PrincipalForUserName(user, m_root.RealmHint())
                                      : std::string();
    if (!principal.empty()) {
        std::string error;
        std::unique_ptr<krb::PrivateCredentials> credentials =
            krb::AcquireWithPassword(principal, secret.Text(), error);
        secret.Wipe();
        if (!credentials) {
            SetLastAdsError(ERROR_LOGON_FAILURE, "Kerberos logon of " + principal + ": " + error);
            return HRESULT_FROM_WIN32(ERROR_LOGON_FAILURE);
        }
        const auto active = credentials->Activate();
        return SaslBind(m_root.OffersMechanism("GSSAPI") ? "GSSAPI" : "GSS-SPNEGO");
    }

    // A simple bind carries the password itself: only inside TLS.
    if (!m_path.ldaps) {
        int rc = LDAP_SUCCESS;
        // slapd may still count the root DSE search as outstanding for a moment after sending its
        // result, and refuses StartTLS meanwhile ("operations are outstanding"): ask again.
        for (int attempt = 0; attempt < 5; ++attempt) {
            if (attempt > 0) usleep(20000 * attempt);
            ClearDiagnostic(m_ld);
            SigpipeGuard guard;
            rc = ldap_start_tls_s(m_ld, nullptr, nullptr);
            if (rc != LDAP_OPERATIONS_ERROR) break;
        }
        if (rc != LDAP_SUCCESS) {
            // libldap rarely says why a handshake failed; the usual reasons are worth naming.
            const std::string hint = rc == LDAP_CONNECT_ERROR
                                         ? " (is the server's certificate trusted, and does it name "
                                           "the host as given?)"
                                         : "";
            return Fail(
                "StartTLS with " + m_path.Server() + " failed" + hint + ", so the password was not sent", rc);
        }
    }
    berval credentials{static_cast<ber_len_t>(secret.Size()), secret.Data()};
    int rc;
    ClearDiagnostic(m_ld);
    {
        SigpipeGuard guard;
        rc = ldap_sasl_bind_s(m_ld, user.c_str(), LDAP_SASL_SIMPLE, &credentials, nullptr, nullptr, nullptr);
    }
    secret.Wipe();
    if (rc != LDAP_SUCCESS) return Fail("bind to " + m_path.Server() + " as " + user, rc);
    return S_OK;
}

void LdapConnection::ReadSchema() {
    m_schema = DirectorySchema::BuiltIn();
    if (m_root.subschemaSubentry.empty()) return;
    static const char* kAttrs[] = {"attributeTypes", nullptr};
    LDAPMessage* res = nullptr;
    timeval timeout{kRequestTimeoutSeconds, 0};
    int rc;
    {
        SigpipeGuard guard;
        rc = ldap_search_ext_s(m_ld, m_root.subschemaSubentry.c_str(), LDAP_SCOPE_BASE,
                               "(objectClass=subschema)", const_cast<char**>(kAttrs), 0, nullptr, nullptr,
                               &timeout, 0, &res);
    }
    if (rc == LDAP_SUCCESS) {
        if (LDAPMessage* e = ldap_first_entry(m_ld, res)) {
            auto types = Values(m_ld, e, "attributeTypes");
            if (!types.empty()) m_schema = DirectorySchema::FromAttributeTypes(types);
        }
    }
    ldap_msgfree(res);
}

} // namespace brevonix::directory
