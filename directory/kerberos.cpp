#include "directory/kerberos.h"

#include <gssapi/gssapi.h>
#include <gssapi/gssapi_ext.h>
#include <gssapi/gssapi_krb5.h>
#include <krb5.h>

#include <sys/random.h>
#include <unistd.h>

#include <atomic>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <optional>
#include <thread>

namespace brevonix::krb {

namespace {

bool IsAsciiAlnum(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
}

char AsciiUpper(char c) {
    return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
}

std::string AsciiUpper(std::string s) {
    for (char& c : s)
        c = AsciiUpper(c);
    return s;
}

bool EqualsNoCase(const std::string& a, const std::string& b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (AsciiUpper(a[i]) != AsciiUpper(b[i])) return false;
    return true;
}

bool HasControlChar(const std::string& s) {
    for (unsigned char c : s)
        if (c < 0x20 || c == 0x7f) return true;
    return false;
}

// A realm or domain as a user types it: DNS-like labels. Anything else (a comma, '=', a blank) means
// the text was not meant as a realm, for example a distinguished name that happens to hold an '@'.
bool IsRealmText(const std::string& s) {
    if (s.empty() || s.front() == '.' || s.back() == '.') return false;
    char prev = 0;
    for (char c : s) {
        if (!(IsAsciiAlnum(c) || c == '-' || c == '_' || c == '.')) return false;
        if (c == '.' && prev == '.') return false;
        prev = c;
    }
    return true;
}

std::string StatusText(OM_uint32 status, int type, gss_OID mech) {
    std::string text;
    OM_uint32 context = 0;
    do {
        OM_uint32 minor = 0;
        gss_buffer_desc buffer = GSS_C_EMPTY_BUFFER;
        if (GSS_ERROR(gss_display_status(&minor, status, type, mech, &context, &buffer))) break;
        if (!text.empty()) text += "; ";
        text.append(static_cast<const char*>(buffer.value), buffer.length);
        gss_release_buffer(&minor, &buffer);
    } while (context != 0);
    return text;
}

// The mechanism's own words ("Preauthentication failed", "Cannot contact any KDC ...") say more
// than GSSAPI's generic "Unspecified GSS failure".
std::string GssErrorText(OM_uint32 major, OM_uint32 minor) {
    std::string text;
    if (minor != 0) text = StatusText(minor, GSS_C_MECH_CODE, gss_mech_krb5);
    if (text.empty()) text = StatusText(major, GSS_C_GSS_CODE, GSS_C_NO_OID);
    return text.empty() ? std::string("Kerberos failure") : text;
}

std::string UniqueCacheName() {
    static std::atomic<unsigned> counter{0};
    unsigned char random[8] = {};
    if (getrandom(random, sizeof random, 0) != static_cast<ssize_t>(sizeof random)) {
        // The counter and the pid still make the name unique within this process.
        std::memset(random, 0, sizeof random);
    }
    std::string name = "MEMORY:brevonix-" + std::to_string(getpid()) + "-" + std::to_string(++counter) + "-";
    static const char hex[] = "0123456789abcdef";
    for (unsigned char b : random) {
        name += hex[b >> 4];
        name += hex[b & 15];
    }
    return name;
}

void DestroyCache(const std::string& name) {
    krb5_context context = nullptr;
    if (krb5_init_context(&context) != 0) return;
    krb5_ccache cache = nullptr;
    if (krb5_cc_resolve(context, name.c_str(), &cache) == 0) krb5_cc_destroy(context, cache);
    krb5_free_context(context);
}

void Wipe(std::string& secret) {
    explicit_bzero(secret.data(), secret.size());
    secret.clear();
}

// What this module has set as this thread's GSSAPI cache; nothing means GSSAPI follows the
// environment (KRB5CCNAME) and configuration. GSSAPI reports the effective name even when none
// was set, and putting that back would pin the thread to it, so the state is kept here.
thread_local std::optional<std::string> tlsActiveCache;

class Guard final : public PrivateCredentials::ActiveGuard {
public:
    explicit Guard(const std::string& name) : previous_(tlsActiveCache) {
        OM_uint32 minor = 0;
        gss_krb5_ccache_name(&minor, name.c_str(), nullptr);
        tlsActiveCache = name;
    }
    ~Guard() override {
        OM_uint32 minor = 0;
        gss_krb5_ccache_name(&minor, previous_ ? previous_->c_str() : nullptr, nullptr);
        tlsActiveCache = previous_;
    }
    Guard(const Guard&) = delete;
    Guard& operator=(const Guard&) = delete;

private:
    std::optional<std::string> previous_;
};

class MemoryCredentials final : public PrivateCredentials {
public:
    explicit MemoryCredentials(std::string name) : name_(std::move(name)) {}
    ~MemoryCredentials() override { DestroyCache(name_); }
    std::unique_ptr<ActiveGuard> Activate() override { return std::make_unique<Guard>(name_); }
    std::string CacheName() const override { return name_; }

private:
    std::string name_;
};

// One password exchange, shared between the caller and the worker thread that talks to the KDC.
struct Exchange {
    std::mutex mutex;
    std::condition_variable finished;
    bool done = false;
    bool abandoned = false;
    bool ok = false;
    std::string principal;
    std::string password;
    std::string cacheName;
    std::string error;
};

void RunExchange(Exchange& x) {
    OM_uint32 minor = 0;
    gss_name_t name = GSS_C_NO_NAME;
    gss_cred_id_t cred = GSS_C_NO_CREDENTIAL;
    bool ok = false;
    std::string error;

    gss_buffer_desc nameBuffer{x.principal.size(), x.principal.data()};
    OM_uint32 major = gss_import_name(&minor, &nameBuffer, GSS_C_NT_USER_NAME, &name);
    if (GSS_ERROR(major)) {
        error = "Kerberos cannot use the name \"" + x.principal + "\": " + GssErrorText(major, minor);
    } else {
        gss_buffer_desc passwordBuffer{x.password.size(), x.password.data()};
        major = gss_acquire_cred_with_password(&minor, name, &passwordBuffer, GSS_C_INDEFINITE,
                                               gss_mech_set_krb5, GSS_C_INITIATE, &cred, nullptr, nullptr);
        if (GSS_ERROR(major)) {
            error = GssErrorText(major, minor);
        } else {
            gss_key_value_element_desc element{"ccache", x.cacheName.c_str()};
            gss_key_value_set_desc store{1, &element};
            major = gss_store_cred_into(&minor, cred, GSS_C_INITIATE, gss_mech_krb5, 1 /*overwrite*/,
                                        0 /*not the default*/, &store, nullptr, nullptr);
            if (GSS_ERROR(major))
                error = "Kerberos cannot keep the ticket: " + GssErrorText(major, minor);
            else
                ok = true;
        }
    }
    if (cred != GSS_C_NO_CREDENTIAL) gss_release_cred(&minor, &cred);
    if (name != GSS_C_NO_NAME) gss_release_name(&minor, &name);

    std::lock_guard lock(x.mutex);
    Wipe(x.password);
    if (x.abandoned && ok) DestroyCache(x.cacheName);
    x.ok = ok;
    x.error = std::move(error);
    x.done = true;
    x.finished.notify_all();
}

} // namespace

std::string PrincipalForUserName(const std::string& userName, const std::string& realmHint) {
    if (userName.empty() || HasControlChar(userName)) return {};

    if (auto backslash = userName.find('\\'); backslash != std::string::npos) {
        const std::string domain = userName.substr(0, backslash);
        const std::string user = userName.substr(backslash + 1);
        if (user.empty() || user.find_first_of("\\@/") != std::string::npos) return {};
        if (!IsRealmText(domain) || !IsRealmText(realmHint)) return {};
        const std::string firstLabel = realmHint.substr(0, realmHint.find('.'));
        if (!EqualsNoCase(domain, firstLabel) && !EqualsNoCase(domain, realmHint)) return {};
        return user + "@" + AsciiUpper(realmHint);
    }

    if (auto at = userName.rfind('@'); at != std::string::npos) {
        const std::string user = userName.substr(0, at);
        const std::string realm = userName.substr(at + 1);
        if (user.empty() || user.find('@') != std::string::npos || !IsRealmText(realm)) return {};
        return user + "@" + AsciiUpper(realm);
    }
    return {};
}

std::unique_ptr<PrivateCredentials> AcquireWithPassword(const std::string& principal,
                                                        const std::string& password, std::string& error,
                                                        std::chrono::milliseconds timeout) {
    error.clear();
    if (principal.empty()) {
        error = "No Kerberos principal";
        return nullptr;
    }
    auto exchange = std::make_shared<Exchange>();
    exchange->principal = principal;
    exchange->password = password;
    exchange->cacheName = UniqueCacheName();

    try {
        std::thread([exchange] { RunExchange(*exchange); }).detach();
    } catch (const std::system_error&) {
        Wipe(exchange->password);
        error = "Cannot start the Kerberos exchange";
        return nullptr;
    }

    std::unique_lock lock(exchange->mutex);
    if (!exchange->finished.wait_for(lock, timeout, [&] { return exchange->done; })) {
        // The worker owns the rest of the exchange: it wipes the password and drops any ticket.
        exchange->abandoned = true;
        error = "The Kerberos server for " + principal + " did not answer in time";
        return nullptr;
    }
    if (!exchange->ok) {
        error = exchange->error;
        return nullptr;
    }
    return std::make_unique<MemoryCredentials>(exchange->cacheName);
}

} // namespace brevonix::krb
