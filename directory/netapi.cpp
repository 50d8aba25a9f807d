// The network management calls the tool uses to find its domain and the domain's controller.
//
// NetGetDCName finds a controller the way the DC locator does (the domain's SRV records, then the
// Kerberos configuration, then the name itself) and keeps the first candidate that accepts a TCP
// connection on the LDAP port. NetGetJoinInformation reads what a Linux domain join leaves behind.
#include "directory/adsi.h"
#include "directory/netapi_detail.h"
#include "platform/cstring.h"

#include <krb5.h>
#include <profile.h>

#include <arpa/inet.h>
#include <arpa/nameser.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <resolv.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <random>
#include <set>
#include <sstream>

namespace brevonix::netapi {

namespace {

using Clock = std::chrono::steady_clock;

// A controller that does not accept a connection within this time is taken as absent; the whole
// search for one gives up connecting after the second figure.
constexpr std::chrono::milliseconds kConnectTimeout{3000};
constexpr std::chrono::milliseconds kConnectBudget{15000};

bool IsAsciiAlnum(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
}
bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

std::string AsciiLower(std::string s) {
    for (char& c : s)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return s;
}

bool EqualsNoCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        char x = a[i], y = b[i];
        if (x >= 'A' && x <= 'Z') x = static_cast<char>(x - 'A' + 'a');
        if (y >= 'A' && y <= 'Z') y = static_cast<char>(y - 'A' + 'a');
        if (x != y) return false;
    }
    return true;
}

std::string_view Trim(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t' || s.front() == '\r'))
        s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r'))
        s.remove_suffix(1);
    return s;
}

std::optional<uint16_t> ParsePort(std::string_view text) {
    if (text.empty() || text.size() > 5) return std::nullopt;
    unsigned value = 0;
    for (char c : text) {
        if (!IsDigit(c)) return std::nullopt;
        value = value * 10 + static_cast<unsigned>(c - '0');
    }
    if (value == 0 || value > 65535) return std::nullopt;
    return static_cast<uint16_t>(value);
}

bool IsIpv4(const std::string& s) {
    in_addr a{};
    return inet_pton(AF_INET, s.c_str(), &a) == 1;
}
bool IsIpv6(const std::string& s) {
    in6_addr a{};
    return inet_pton(AF_INET6, s.c_str(), &a) == 1;
}

// ---- small INI reader for sssd.conf and smb.conf ----

struct IniEntry {
    std::string section; // lower case
    std::string key;     // lower case, inner blanks collapsed
    std::string value;
};

std::string NormaliseKey(std::string_view key) {
    std::string out;
    bool blank = false;
    for (char c : Trim(key)) {
        if (c == ' ' || c == '\t') {
            blank = true;
            continue;
        }
        if (blank && !out.empty()) out += ' ';
        blank = false;
        out += c;
    }
    return AsciiLower(out);
}

std::vector<IniEntry> ReadIni(std::string_view text) {
    // Physical lines first joined where smb.conf continues one with a trailing backslash.
    std::vector<std::string> lines;
    std::string current;
    size_t pos = 0;
    while (pos < text.size()) {
        size_t end = text.find('\n', pos);
        if (end == std::string_view::npos) end = text.size();
        std::string_view line = Trim(text.substr(pos, end - pos));
        pos = end + 1;
        if (!line.empty() && line.back() == '\\') {
            current.append(line.substr(0, line.size() - 1));
            current += ' ';
            continue;
        }
        current.append(line);
        lines.push_back(std::move(current));
        current.clear();
    }
    if (!current.empty()) lines.push_back(std::move(current));

    std::vector<IniEntry> entries;
    std::string section;
    for (const auto& joined : lines) {
        std::string_view l = Trim(joined);
        if (l.empty() || l.front() == '#' || l.front() == ';') continue;
        if (l.front() == '[') {
            auto close = l.find(']');
            if (close == std::string_view::npos) continue;
            section = AsciiLower(std::string(Trim(l.substr(1, close - 1))));
            continue;
        }
        auto eq = l.find('=');
        if (eq == std::string_view::npos) continue;
        entries.push_back({section, NormaliseKey(l.substr(0, eq)), std::string(Trim(l.substr(eq + 1)))});
    }
    return entries;
}

std::optional<std::string> ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return std::nullopt;
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

std::string ConfigPath(const char* overrideVariable, const char* systemPath) {
    const char* path = std::getenv(overrideVariable);
    return (path && *path) ? path : systemPath;
}

// ---- Kerberos ----

struct KrbContext {
    krb5_context ctx = nullptr;
    KrbContext() {
        if (krb5_init_context(&ctx) != 0) ctx = nullptr;
    }
    ~KrbContext() {
        if (ctx) krb5_free_context(ctx);
    }
    KrbContext(const KrbContext&) = delete;
    KrbContext& operator=(const KrbContext&) = delete;
};

// The configured default realm, read from the profile. krb5_get_default_realm would fall back to DNS
// when none is configured; a question about this computer must not send packets.
std::string DefaultRealmFromProfile(krb5_context ctx) {
    profile_t profile = nullptr;
    if (krb5_get_profile(ctx, &profile) != 0) return {};
    char* value = nullptr;
    std::string realm;
    if (profile_get_string(profile, "libdefaults", "default_realm", nullptr, nullptr, &value) == 0 && value)
        realm = value;
    profile_release_string(value);
    profile_release(profile);
    return std::string(Trim(realm));
}

std::string_view DataView(const krb5_data& d) {
    return {d.data, d.length};
}

// True when the default keytab holds a host key of `realm` ("host/<name>@REALM" or the machine
// account "NAME$@REALM"), which only a domain join puts there. An ordinary user cannot read the
// system keytab; its existence then has to do.
bool HasHostKeyForRealm(krb5_context ctx, const std::string& realm) {
    krb5_keytab keytab = nullptr;
    if (krb5_kt_default(ctx, &keytab) != 0) return false;
    bool found = false;
    krb5_kt_cursor cursor;
    krb5_error_code rc = krb5_kt_start_seq_get(ctx, keytab, &cursor);
    if (rc == 0) {
        krb5_keytab_entry entry;
        while (!found && krb5_kt_next_entry(ctx, keytab, &entry, &cursor) == 0) {
            const krb5_principal p = entry.principal;
            if (EqualsNoCase(DataView(p->realm), realm) && p->length >= 1) {
                std::string_view first = DataView(p->data[0]);
                if ((p->length >= 2 && EqualsNoCase(first, "host")) ||
                    (p->length == 1 && first.size() > 1 && first.back() == '$'))
                    found = true;
            }
            krb5_free_keytab_entry_contents(ctx, &entry);
        }
        krb5_kt_end_seq_get(ctx, keytab, &cursor);
    } else if (rc == EACCES || rc == EPERM) {
        char name[1024] = {};
        if (krb5_kt_get_name(ctx, keytab, name, sizeof name) == 0) {
            std::string_view n = name;
            if (n.starts_with("FILE:"))
                n.remove_prefix(5);
            else if (n.starts_with("WRFILE:"))
                n.remove_prefix(7);
            struct stat st {};
            found = n.starts_with("/") && stat(std::string(n).c_str(), &st) == 0 && st.st_size > 0;
        }
    }
    krb5_kt_close(ctx, keytab);
    return found;
}

// ---- DNS and connecting ----

std::vector<SrvRecord> QuerySrv(const std::string& name) {
    std::vector<SrvRecord> records;
    struct __res_state state;
    std::memset(&state, 0, sizeof state);
    if (res_ninit(&state) != 0) return records;
    // A resolver that does not answer costs a few seconds, not the default 5 s x 2 tries.
    state.retrans = 2;
    state.retry = 2;
    std::vector<unsigned char> answer(65536);
    int length =
        res_nquery(&state, name.c_str(), ns_c_in, ns_t_srv, answer.data(), static_cast<int>(answer.size()));
    res_nclose(&state);
    if (length <= 0) return records;

    ns_msg message;
    if (ns_initparse(answer.data(), length, &message) != 0) return records;
    for (int i = 0; i < ns_msg_count(message, ns_s_an); ++i) {
        ns_rr rr;
        if (ns_parserr(&message, ns_s_an, i, &rr) != 0) continue;
        if (ns_rr_type(rr) != ns_t_srv || ns_rr_rdlen(rr) < 7) continue;
        const unsigned char* data = ns_rr_rdata(rr);
        SrvRecord r;
        r.priority = static_cast<uint16_t>(data[0] << 8 | data[1]);
        r.weight = static_cast<uint16_t>(data[2] << 8 | data[3]);
        r.port = static_cast<uint16_t>(data[4] << 8 | data[5]);
        char target[NS_MAXDNAME] = {};
        if (dn_expand(ns_msg_base(message), ns_msg_end(message), data + 6, target, sizeof target) < 0)
            continue;
        r.target = target;
        while (!r.target.empty() && r.target.back() == '.')
            r.target.pop_back();
        // "." means the service is decidedly not offered; names from the network are checked like
        // typed ones before anything connects to them.
        if (r.port == 0 || !IsHostName(r.target)) continue;
        records.push_back(std::move(r));
    }
    return records;
}

struct Fd {
    int fd = -1;
    explicit Fd(int f) : fd(f) {}
    ~Fd() {
        if (fd >= 0) close(fd);
    }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
};

bool ConnectOnce(const addrinfo& ai, Clock::time_point deadline) {
    Fd s(socket(ai.ai_family, ai.ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC, ai.ai_protocol));
    if (s.fd < 0) return false;
    if (connect(s.fd, ai.ai_addr, ai.ai_addrlen) == 0) return true;
    if (errno != EINPROGRESS) return false;
    for (;;) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0) return false;
        pollfd p{s.fd, POLLOUT, 0};
        int n = poll(&p, 1, static_cast<int>(left));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        int error = 0;
        socklen_t len = sizeof error;
        return getsockopt(s.fd, SOL_SOCKET, SO_ERROR, &error, &len) == 0 && error == 0;
    }
}

struct Candidate {
    std::string host;
    uint16_t port = kLdapPort;
    bool isAddress = false;
};

bool Answers(const Candidate& c, Clock::time_point budgetEnd) {
    auto deadline = std::min(Clock::now() + kConnectTimeout, budgetEnd);
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_NUMERICSERV | (c.isAddress ? AI_NUMERICHOST : 0);
    addrinfo* list = nullptr;
    if (getaddrinfo(c.host.c_str(), std::to_string(c.port).c_str(), &hints, &list) != 0) return false;
    bool ok = false;
    for (addrinfo* ai = list; ai && !ok && Clock::now() < deadline; ai = ai->ai_next)
        ok = ConnectOnce(*ai, deadline);
    freeaddrinfo(list);
    return ok;
}

LPWSTR AllocateNetString(std::u16string_view text) {
    auto* buffer = static_cast<WCHAR*>(std::malloc((text.size() + 1) * sizeof(WCHAR)));
    if (!buffer) return nullptr;
    std::copy(text.begin(), text.end(), buffer);
    buffer[text.size()] = 0;
    return buffer;
}

std::u16string ControllerName(const Candidate& c) {
    std::string text = "\\\\";
    const bool v6 = c.host.find(':') != std::string::npos;
    text += v6 ? "[" + c.host + "]" : c.host;
    if (c.port != kLdapPort) text += ":" + std::to_string(c.port);
    return std::u16string(text.begin(), text.end());
}

// Walks the candidates in the locator's order, asking for the next source only when every candidate
// so far stayed silent.
class Locator {
public:
    explicit Locator(Clock::time_point budgetEnd) : budgetEnd_(budgetEnd) {}

    bool Try(const Candidate& c) {
        if (Clock::now() >= budgetEnd_) return false;
        if (!tried_.insert(AsciiLower(c.host) + ":" + std::to_string(c.port)).second) return false;
        if (!Answers(c, budgetEnd_)) return false;
        found_ = c;
        return true;
    }
    const Candidate& Found() const { return found_; }

private:
    Clock::time_point budgetEnd_;
    std::set<std::string> tried_;
    Candidate found_;
};

} // namespace

bool IsHostName(std::string_view name) {
    if (name.empty() || name.size() > 253) return false;
    size_t start = 0;
    std::string_view lastLabel;
    while (start <= name.size()) {
        size_t dot = name.find('.', start);
        if (dot == std::string_view::npos) dot = name.size();
        std::string_view label = name.substr(start, dot - start);
        if (label.empty() || label.size() > 63) return false;
        if (label.front() == '-' || label.back() == '-') return false;
        for (char c : label)
            if (!(IsAsciiAlnum(c) || c == '-' || c == '_')) return false;
        lastLabel = label;
        start = dot + 1;
    }
    // An all-digit last label is no DNS name; the C library would read "10.1" as an IPv4 address.
    return !std::all_of(lastLabel.begin(), lastLabel.end(), IsDigit);
}

std::optional<DomainText> ParseDomainText(std::u16string_view text) {
    if (text.empty() || text.size() > 300) return std::nullopt;
    std::string s;
    for (char16_t c : text) {
        if (c <= 0x20 || c >= 0x7f) return std::nullopt;
        s += static_cast<char>(c);
    }
    DomainText result;
    std::string host;
    std::string_view portText;
    bool hasPort = false;
    if (s.front() == '[') {
        auto close = s.find(']');
        if (close == std::string::npos) return std::nullopt;
        host = s.substr(1, close - 1);
        std::string_view rest = std::string_view(s).substr(close + 1);
        if (!rest.empty()) {
            if (rest.front() != ':') return std::nullopt;
            portText = rest.substr(1);
            hasPort = true;
        }
        if (!IsIpv6(host)) return std::nullopt;
        result.isAddress = result.isIpv6 = true;
    } else {
        auto colon = s.find(':');
        if (colon != std::string::npos) {
            if (s.find(':', colon + 1) != std::string::npos) return std::nullopt; // bare IPv6: needs brackets
            portText = std::string_view(s).substr(colon + 1);
            hasPort = true;
            host = s.substr(0, colon);
        } else {
            host = s;
        }
        if (IsIpv4(host)) {
            result.isAddress = true;
        } else {
            if (!host.empty() && host.back() == '.') host.pop_back();
            if (!IsHostName(host)) return std::nullopt;
        }
    }
    if (hasPort) {
        auto port = ParsePort(portText);
        if (!port) return std::nullopt;
        result.port = *port;
    }
    result.host = std::move(host);
    return result;
}

std::vector<std::string> KdcHostsFromProfile(const std::string& domain) {
    std::vector<std::string> hosts;
    KrbContext k;
    if (!k.ctx) return hosts;
    profile_t profile = nullptr;
    if (krb5_get_profile(k.ctx, &profile) != 0) return hosts;
    const char* realmsPath[] = {"realms", nullptr};
    char** realms = nullptr;
    if (profile_get_subsection_names(profile, realmsPath, &realms) == 0 && realms) {
        for (char** r = realms; *r; ++r) {
            if (!EqualsNoCase(*r, domain)) continue;
            const char* kdcPath[] = {"realms", *r, "kdc", nullptr};
            char** values = nullptr;
            if (profile_get_values(profile, kdcPath, &values) != 0 || !values) continue;
            for (char** v = values; *v; ++v) {
                std::string entry(Trim(*v));
                if (entry.find("://") != std::string::npos) continue; // a KDC proxy URL is no controller
                if (entry.starts_with("tcp/") || entry.starts_with("udp/")) entry.erase(0, 4);
                std::string host;
                if (!entry.empty() && entry.front() == '[') {
                    auto close = entry.find(']');
                    if (close == std::string::npos) continue;
                    host = entry.substr(1, close - 1);
                    if (!IsIpv6(host)) continue;
                } else {
                    host = entry.substr(0, entry.find(':'));
                    if (!IsIpv4(host) && !IsHostName(host)) continue;
                }
                hosts.push_back(host);
            }
            profile_free_list(values);
        }
        profile_free_list(realms);
    }
    profile_release(profile);
    return hosts;
}

std::optional<std::string> AdDomainFromSssdConf(std::string_view text) {
    auto entries = ReadIni(text);
    std::optional<std::vector<std::string>> enabled;
    for (const auto& e : entries) {
        if (e.section == "sssd" && e.key == "domains") {
            enabled.emplace();
            std::string_view list = e.value;
            size_t start = 0;
            while (start <= list.size()) {
                size_t comma = list.find(',', start);
                if (comma == std::string_view::npos) comma = list.size();
                auto name = Trim(list.substr(start, comma - start));
                if (!name.empty()) enabled->push_back(AsciiLower(std::string(name)));
                start = comma + 1;
            }
        }
    }
    // Sections in file order; the first enabled AD domain wins.
    std::vector<std::string> order;
    for (const auto& e : entries)
        if (e.section.starts_with("domain/") &&
            std::find(order.begin(), order.end(), e.section) == order.end())
            order.push_back(e.section);
    for (const auto& section : order) {
        std::string name = section.substr(7);
        if (enabled && std::find(enabled->begin(), enabled->end(), name) == enabled->end()) continue;
        bool ad = false;
        std::string adDomain, krbRealm;
        for (const auto& e : entries) {
            if (e.section != section) continue;
            if ((e.key == "id_provider" || e.key == "auth_provider" || e.key == "access_provider") &&
                AsciiLower(e.value) == "ad")
                ad = true;
            if (e.key == "ad_domain") adDomain = e.value;
            if (e.key == "krb5_realm") krbRealm = e.value;
        }
        if (!ad) continue;
        if (!adDomain.empty()) return AsciiLower(adDomain);
        if (!krbRealm.empty()) return AsciiLower(krbRealm);
        return name;
    }
    return std::nullopt;
}

Membership MembershipFromSmbConf(std::string_view text) {
    std::string security, role, realm, workgroup;
    for (const auto& e : ReadIni(text)) {
        if (e.section != "global") continue;
        if (e.key == "security")
            security = AsciiLower(e.value);
        else if (e.key == "server role")
            role = AsciiLower(e.value);
        else if (e.key == "realm")
            realm = e.value;
        else if (e.key == "workgroup")
            workgroup = e.value;
    }
    Membership m;
    bool adMember = security == "ads" || role == "active directory domain controller" || role == "dc";
    if (adMember && !realm.empty()) {
        m.status = NetSetupDomainName;
        m.name = AsciiLower(realm);
        return m;
    }
    m.status = NetSetupWorkgroupName;
    m.name = workgroup.empty() ? "WORKGROUP" : workgroup;
    return m;
}

} // namespace brevonix::netapi

using namespace brevonix::netapi;

NET_API_STATUS NetGetDCName(LPCWSTR servername, LPCWSTR domainname, BYTE** bufptr) {
    if (!bufptr) return ERROR_INVALID_PARAMETER;
    *bufptr = nullptr;
    if (servername && *servername) return kErrorNotSupported;
    if (!domainname) return ERROR_INVALID_PARAMETER;
    auto parsed = ParseDomainText(domainname);
    if (!parsed) return kErrorInvalidName;

    Locator locator(Clock::now() + kConnectBudget);
    bool found = false;
    if (parsed->port != 0 || parsed->isAddress) {
        // An address or an explicit port names one directory; there is nothing to locate.
        Candidate c{parsed->host, parsed->port ? parsed->port : kLdapPort, parsed->isAddress};
        found = locator.Try(c);
    } else {
        std::mt19937 generator{std::random_device{}()};
        auto random = [&](uint32_t bound) {
            return std::uniform_int_distribution<uint32_t>(0, bound)(generator);
        };
        for (const char* prefix : {"_ldap._tcp.dc._msdcs.", "_ldap._tcp."}) {
            for (const auto& r : OrderSrvRecords(QuerySrv(prefix + parsed->host), random))
                if ((found = locator.Try({r.target, r.port, false}))) break;
            if (found) break;
        }
        if (!found) {
            // In an AD domain every KDC is a controller.
            for (const auto& host : KdcHostsFromProfile(parsed->host))
                if ((found = locator.Try({host, kLdapPort, IsIpv4(host) || IsIpv6(host)}))) break;
        }
        if (!found) found = locator.Try({parsed->host, kLdapPort, false});
    }
    if (!found) return NERR_DCNotFound;

    LPWSTR name = AllocateNetString(ControllerName(locator.Found()));
    if (!name) return ERROR_NOT_ENOUGH_MEMORY;
    *bufptr = reinterpret_cast<BYTE*>(name);
    return NERR_Success;
}

NET_API_STATUS NetGetJoinInformation(LPCWSTR lpServer, LPWSTR* lpNameBuffer,
                                     PNETSETUP_JOIN_STATUS BufferType) {
    if (!lpNameBuffer || !BufferType) return ERROR_INVALID_PARAMETER;
    *lpNameBuffer = nullptr;
    *BufferType = NetSetupUnknownStatus;
    if (lpServer && *lpServer) return kErrorNotSupported;

    Membership m;
    {
        KrbContext k;
        if (k.ctx) {
            std::string realm = DefaultRealmFromProfile(k.ctx);
            if (!realm.empty() && HasHostKeyForRealm(k.ctx, realm)) {
                m.status = NetSetupDomainName;
                m.name = AsciiLower(realm);
            }
        }
    }
    if (m.status != NetSetupDomainName) {
        if (auto text = ReadFile(ConfigPath("BREVONIX_SSSD_CONF", "/etc/sssd/sssd.conf"))) {
            if (auto domain = AdDomainFromSssdConf(*text)) {
                m.status = NetSetupDomainName;
                m.name = *domain;
            }
        }
    }
    if (m.status != NetSetupDomainName) {
        if (auto text = ReadFile(ConfigPath("BREVONIX_SMB_CONF", "/etc/samba/smb.conf")))
            m = MembershipFromSmbConf(*text);
    }

    CString name = CString::FromUtf8(m.name);
    LPWSTR buffer =
        AllocateNetString(std::u16string_view(name.GetString(), static_cast<size_t>(name.GetLength())));
    if (!buffer) return ERROR_NOT_ENOUGH_MEMORY;
    *lpNameBuffer = buffer;
    *BufferType = m.status;
    return NERR_Success;
}

NET_API_STATUS NetApiBufferFree(LPVOID Buffer) {
    std::free(Buffer);
    return NERR_Success;
}
