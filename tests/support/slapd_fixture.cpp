#include "support/slapd_fixture.h"

#include <fcntl.h>
#include <ldap.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <sstream>

namespace brevonix::test {

namespace {

constexpr const char* kSlapd = "/usr/sbin/slapd";
constexpr const char* kSlapadd = "/usr/sbin/slapadd";
constexpr const char* kOpenssl = "/usr/bin/openssl";

std::u16string Utf16(const std::string& s) {
    std::u16string out;
    for (size_t i = 0; i < s.size();) {
        const auto c = static_cast<unsigned char>(s[i]);
        char32_t cp;
        size_t len;
        if (c < 0x80) {
            cp = c;
            len = 1;
        } else if ((c & 0xE0) == 0xC0) {
            cp = c & 0x1F;
            len = 2;
        } else if ((c & 0xF0) == 0xE0) {
            cp = c & 0x0F;
            len = 3;
        } else {
            cp = c & 0x07;
            len = 4;
        }
        for (size_t k = 1; k < len && i + k < s.size(); ++k)
            cp = (cp << 6) | (static_cast<unsigned char>(s[i + k]) & 0x3F);
        i += len;
        if (cp >= 0x10000) {
            cp -= 0x10000;
            out += static_cast<char16_t>(0xD800 + (cp >> 10));
            out += static_cast<char16_t>(0xDC00 + (cp & 0x3FF));
        } else {
            out += static_cast<char16_t>(cp);
        }
    }
    return out;
}

std::uint64_t Mix(std::uint64_t x) {
    x += 0x9E3779B97F4A7C15ull;
    x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ull;
    x = (x ^ (x >> 27)) * 0x94D049BB133111EBull;
    return x ^ (x >> 31);
}

const char* const kGivenNames[] = {
    "Anna", "Ben",    "Carla", "David",  "Elena", "Farid",  "Grace",  "Hiro",   "Ingrid", "James", "Kavya",
    "Liam", "Maria",  "Noah",  "Olivia", "Pedro", "Quinn",  "Rosa",   "Samuel", "Tara",   "Umar",  "Vera",
    "Wei",  "Ximena", "Yusuf", "Zara",   "Aaron", "Bianca", "Connor", "Daria",  "Ethan",  "Fiona"};
const char* const kSurnames[] = {"Adams",   "Baker",    "Chen",   "Dubois",  "Evans",    "Fischer",
                                 "Garcia",  "Hughes",   "Ivanov", "Jensen",  "Kowalski", "Larsen",
                                 "Morgan",  "Nakamura", "Okafor", "Patel",   "Quinn",    "Rossi",
                                 "Schmidt", "Turner",   "Usman",  "Varga",   "Williams", "Xu",
                                 "Young",   "Zimmer",   "Brooks", "Castillo"};
const char* const kTitles[] = {
    "Accountant",       "Software Engineer", "Sales Representative",  "HR Specialist",
    "Support Analyst",  "Project Manager",   "Marketing Coordinator", "Office Manager",
    "Network Engineer", "Legal Counsel",     "Data Analyst",          "Purchasing Agent"};
const char* const kStreets[] = {"Main Street", "Oak Avenue", "Harbour Road",  "Station Lane", "Maple Drive",
                                "High Street", "Park Road",  "Church Street", "Mill Lane",    "Elm Court"};
struct Place {
    const char* city;
    const char* state;
    const char* postalCode;
    const char* country;
};
const Place kPlaces[] = {
    {"Springfield", "IL", "62701", "United States"},
    {"Toronto", "ON", "M5H 2N2", "Canada"},
    {"Manchester", "Greater Manchester", "M1 1AE", "United Kingdom"},
    {"Sydney", "NSW", "2000", "Australia"},
    {"Munich", "Bavaria", "80331", "Germany"},
    {"Pune", "Maharashtra", "411001", "India"},
    {"Austin", "TX", "73301", "United States"},
    {"Lyon", "Auvergne-Rhone-Alpes", "69001", "France"},
};

// Change this whenever the directory's content changes in a way that the cache key below would not
// see (it sees the configuration, the fixed entries and the first generated users).
constexpr int kSeedDataVersion = 1;

std::string ReplaceAll(std::string s, const std::string& from, const std::string& to) {
    if (from.empty()) return s;
    for (size_t pos = 0; (pos = s.find(from, pos)) != std::string::npos; pos += to.size())
        s.replace(pos, from.size(), to);
    return s;
}

// Under the build folder: users-<count>-<hash of the content>.
std::string DatabaseCacheFolder(int userCount, const std::string& content) {
    std::uint64_t hash = 0xCBF29CE484222325ull; // FNV-1a
    for (unsigned char c : content)
        hash = (hash ^ c) * 0x100000001B3ull;
    char hex[17];
    std::snprintf(hex, sizeof hex, "%016llx", static_cast<unsigned long long>(hash));
    return std::string(BREVONIX_BINARY_DIR) + "/slapd-cache/users-" + std::to_string(userCount) + "-" + hex;
}

// Copies a file and keeps its holes. LMDB's data file is as large as the map size (16 GB here) but
// holds data only in its first pages: a plain copy would write gigabytes of zeros.
bool CopySparse(const std::string& from, const std::string& to) {
    const int in = open(from.c_str(), O_RDONLY | O_CLOEXEC);
    if (in < 0) return false;
    struct stat st {};
    const int out =
        fstat(in, &st) == 0 ? open(to.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600) : -1;
    bool ok = out >= 0;
    std::vector<char> buffer(1 << 20);
    for (off_t pos = 0; ok && pos < st.st_size;) {
        off_t data = lseek(in, pos, SEEK_DATA);
        if (data < 0 && errno == ENXIO) break; // only a hole is left
        if (data < 0) data = pos;              // no hole information: copy everything
        off_t hole = lseek(in, data, SEEK_HOLE);
        if (hole < 0) hole = st.st_size;
        for (pos = data; ok && pos < hole;) {
            const ssize_t n =
                pread(in, buffer.data(), static_cast<size_t>(std::min<off_t>(hole - pos, 1 << 20)), pos);
            ok = n > 0 && pwrite(out, buffer.data(), static_cast<size_t>(n), pos) == n;
            pos += n > 0 ? n : 0;
        }
    }
    ok = ok && ftruncate(out, st.st_size) == 0;
    if (out >= 0) ok = close(out) == 0 && ok;
    close(in);
    return ok;
}

template <typename T, size_t N> const T& Pick(const T (&items)[N], std::uint64_t r) {
    return items[r % N];
}

std::string Lower(std::string s) {
    for (char& c : s)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return s;
}

std::string Digits(std::uint64_t v, int width) {
    std::string s = std::to_string(v);
    while (static_cast<int>(s.size()) < width)
        s.insert(s.begin(), '0');
    return s.substr(s.size() - static_cast<size_t>(width));
}

// Seconds since 1970 to "YYYYMMDDhhmmss.0Z".
std::string GeneralizedTime(std::int64_t seconds) {
    const std::int64_t days = seconds / 86400, secs = seconds % 86400;
    std::int64_t z = days + 719468;
    const std::int64_t era = z / 146097;
    const std::int64_t doe = z - era * 146097;
    const std::int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const std::int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const std::int64_t mp = (5 * doy + 2) / 153;
    const std::int64_t d = doy - (153 * mp + 2) / 5 + 1;
    const std::int64_t m = mp < 10 ? mp + 3 : mp - 9;
    const std::int64_t y = yoe + era * 400 + (m <= 2);
    char text[128];
    std::snprintf(text, sizeof text, "%04lld%02lld%02lld%02lld%02lld%02lld.0Z", static_cast<long long>(y),
                  static_cast<long long>(m), static_cast<long long>(d), static_cast<long long>(secs / 3600),
                  static_cast<long long>(secs / 60 % 60), static_cast<long long>(secs % 60));
    return text;
}

bool WriteFile(const std::string& path, const std::string& content) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << content;
    return static_cast<bool>(out);
}

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

bool SafeLdifValue(const std::string& v) {
    if (v.empty()) return true;
    const auto first = static_cast<unsigned char>(v.front());
    if (first == ' ' || first == ':' || first == '<' || v.back() == ' ') return false;
    for (unsigned char c : v)
        if (c == 0 || c == '\r' || c == '\n' || c >= 0x80) return false;
    return true;
}

std::string Base64(const std::string& in) {
    static const char* kAlphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    size_t i = 0;
    for (; i + 2 < in.size(); i += 3) {
        const unsigned v = static_cast<unsigned char>(in[i]) << 16 |
                           static_cast<unsigned char>(in[i + 1]) << 8 | static_cast<unsigned char>(in[i + 2]);
        out += kAlphabet[v >> 18];
        out += kAlphabet[(v >> 12) & 63];
        out += kAlphabet[(v >> 6) & 63];
        out += kAlphabet[v & 63];
    }
    if (i + 1 == in.size()) {
        const unsigned v = static_cast<unsigned char>(in[i]) << 16;
        out += kAlphabet[v >> 18];
        out += kAlphabet[(v >> 12) & 63];
        out += "==";
    } else if (i + 2 == in.size()) {
        const unsigned v = static_cast<unsigned char>(in[i]) << 16 | static_cast<unsigned char>(in[i + 1])
                                                                         << 8;
        out += kAlphabet[v >> 18];
        out += kAlphabet[(v >> 12) & 63];
        out += kAlphabet[(v >> 6) & 63];
        out += '=';
    }
    return out;
}

std::string Bytes(std::initializer_list<int> bytes) {
    std::string s;
    for (int b : bytes)
        s += static_cast<char>(b);
    return s;
}

void AddUserAttributes(std::ostream& out, const SeedUser& u) {
    auto line = [&](const char* name, const std::string& value) {
        if (!value.empty()) out << LdifLine(name, value);
    };
    out << "objectClass: inetOrgPerson\nobjectClass: user\nobjectCategory: user\n";
    line("cn", u.cn);
    line("givenName", u.givenName);
    line("initials", u.initials);
    line("sn", u.sn);
    line("displayName", u.displayName);
    line("description", u.description);
    line("physicalDeliveryOfficeName", u.physicalDeliveryOfficeName);
    line("telephoneNumber", u.telephoneNumber);
    line("mail", u.mail);
    for (const std::string& url : u.url)
        line("url", url);
    line("streetAddress", u.streetAddress);
    line("postOfficeBox", u.postOfficeBox);
    line("l", u.l);
    line("st", u.st);
    line("postalCode", u.postalCode);
    line("co", u.co);
    line("userPrincipalName", u.userPrincipalName);
    line("sAMAccountName", u.sAMAccountName);
    line("objectGUID", std::string(u.objectGUID.begin(), u.objectGUID.end()));
    line("whenCreated", u.whenCreated);
    line("userAccountControl", std::to_string(u.userAccountControl));
    line("pwdLastSet", std::to_string(u.pwdLastSet));
}

std::string HostName() {
    char name[256] = {};
    if (gethostname(name, sizeof name - 1) != 0) return "localhost";
    return name;
}

} // namespace

std::string LdifLine(const std::string& name, const std::string& value) {
    if (SafeLdifValue(value)) return name + ": " + value + "\n";
    return name + ":: " + Base64(value) + "\n";
}

SeedUser MakeSeedUser(int index) {
    const auto i = static_cast<std::uint64_t>(index);
    const std::uint64_t r = Mix(i), r2 = Mix(i ^ 0x5555), r3 = Mix(i + 0x1234567);
    SeedUser u;
    u.givenName = Pick(kGivenNames, r);
    u.sn = Pick(kSurnames, r >> 8);
    u.initials = std::string(1, static_cast<char>('A' + (r >> 16) % 26));
    u.sAMAccountName = "user" + Digits(i, 6);
    u.cn = u.givenName + " " + u.sn + " " + Digits(i, 6);
    u.displayName = u.givenName + " " + u.initials + ". " + u.sn;
    u.description = Pick(kTitles, r >> 24);
    u.physicalDeliveryOfficeName =
        "B" + std::to_string(1 + (r >> 28) % 6) + "-" + std::to_string(100 + (r >> 32) % 300);
    u.telephoneNumber = "+1 (555) 01" + Digits(r2 % 100, 2) + "-" + Digits((r2 >> 8) % 10000, 4);
    u.mail = Lower(u.givenName) + "." + Lower(u.sn) + "." + Digits(i, 6) + "@brevonix.test";
    u.url = {"https://intranet.brevonix.test/people/" + u.sAMAccountName};
    u.streetAddress = std::to_string(1 + (r2 >> 20) % 999) + " " + Pick(kStreets, r2 >> 32);
    u.postOfficeBox = "PO Box " + std::to_string(100 + (r2 >> 40) % 9000);
    const Place& place = Pick(kPlaces, r3);
    u.l = place.city;
    u.st = place.state;
    u.postalCode = place.postalCode;
    u.co = place.country;
    u.userPrincipalName = u.sAMAccountName + "@brevonix.test";
    for (int k = 0; k < 16; ++k)
        u.objectGUID[static_cast<size_t>(k)] =
            static_cast<std::uint8_t>(Mix(i * 16 + static_cast<std::uint64_t>(k) + 99) & 0xFF);
    u.objectGUID[7] =
        static_cast<std::uint8_t>((u.objectGUID[7] & 0x0F) | 0x40); // version 4, as AD makes them
    // Created some time between 2009 and 2024.
    const std::int64_t created = 1230768000 + static_cast<std::int64_t>(r3 % (15ull * 365 * 86400));
    u.whenCreated = GeneralizedTime(created);
    u.userAccountControl = index % 17 == 16 ? 514 : index % 23 == 22 ? 66048 : 512;
    u.pwdLastSet = 116444736000000000ll + (created + 3600) * 10000000ll;

    switch (index) {
    case kUserTwoLineStreet:
        u.streetAddress = "12 Harbour Road\r\nFlat 4";
        // Lines as a Unix tool writes them: LF alone, and a CR alone.
        u.description = "Front desk\nGround floor\rWest wing";
        break;
    case kUserCommasInDescription:
        u.description = "Sales, North and East, Team 2";
        break;
    case kUserNoTelephone:
        u.telephoneNumber.clear();
        break;
    case kUserAccentedNames:
        u.givenName = "Zoë";
        u.sn = "Ångström-Müller";
        u.cn = "Zoë Ångström-Müller " + Digits(i, 6);
        u.displayName = "Zoë Ångström-Müller";
        u.l = "Köln";
        u.st = "Nordrhein-Westfalen";
        u.co = "Deutschland";
        break;
    case kUserBeyondLatin1:
        u.givenName = "Łukasz";
        u.sn = "Żółkiewski";
        u.cn = "Łukasz Żółkiewski " + Digits(i, 6);
        u.displayName = "Łukasz Żółkiewski";
        u.description = "Composer 𝄞 of 東京 themes";
        u.l = "東京";
        break;
    case kUserSeveralUrls:
        u.url = {"https://www.brevonix.test/", "https://intranet.brevonix.test/people/" + u.sAMAccountName,
                 "https://blog.brevonix.test/" + u.sAMAccountName};
        break;
    default:
        break;
    }
    return u;
}

std::string SlapdServer::SeedUserDn(int index) {
    return "cn=" + MakeSeedUser(index).cn + "," + UsersDn();
}

std::u16string SlapdServer::AdsPath() const {
    return Utf16("LDAP://" + HostPort());
}
std::u16string SlapdServer::BindDn16() {
    return Utf16(BindDn());
}
std::u16string SlapdServer::BindPassword16() {
    return Utf16(BindPassword());
}

std::string SlapdServer::ReadLog() const {
    return ReadFile(LogFile());
}

std::unique_ptr<SlapdServer> SlapdServer::Start(const SlapdOptions& options, std::string& error) {
    std::unique_ptr<SlapdServer> server(new SlapdServer());
    server->m_options = options;
    server->m_dir = std::make_unique<TempDir>("brevonix-slapd");
    if (!server->m_dir->Valid()) {
        error = "cannot make a temporary folder";
        return nullptr;
    }
    if (access(kSlapd, X_OK) != 0 || access(kSlapadd, X_OK) != 0) {
        error = std::string(kSlapd) + " is not installed (Debian package slapd)";
        return nullptr;
    }
    if (!server->Build(error)) return nullptr;
    // The port is only known to be free when slapd holds it; try another if it was taken meanwhile.
    for (int attempt = 0; attempt < 5; ++attempt) {
        server->m_port = FreeLoopbackPort();
        if (server->m_port == 0) {
            error = "no free loopback port";
            return nullptr;
        }
        if (server->Launch(error)) {
            if (options.tls && options.trustCa) TrustTestCa(server->CaFile());
            return server;
        }
    }
    return nullptr;
}

SlapdServer::~SlapdServer() {
    if (m_process) m_process->Stop(3000);
}

bool SlapdServer::Build(std::string& error) {
    const std::string dir = m_dir->Path();
    for (const char* sub : {"/conf", "/db", "/tls", "/sasl-none"})
        mkdir((dir + sub).c_str(), 0700);

    if (m_options.tls) {
        if (!MakeTestCertificates(dir + "/tls", "Brevonix Test CA " + std::to_string(getpid()),
                                  "IP:127.0.0.1,DNS:localhost,DNS:" + HostName(), error))
            return false;
    }

    // cn=config, built offline with slapadd.
    std::ostringstream config;
    config << "dn: cn=config\nobjectClass: olcGlobal\ncn: config\n"
           << "olcPidFile: " << dir << "/slapd.pid\nolcArgsFile: " << dir << "/slapd.args\n";
    if (m_options.tls) {
        config << "olcTLSCACertificateFile: " << dir << "/tls/ca.pem\n"
               << "olcTLSCertificateFile: " << dir << "/tls/server.pem\n"
               << "olcTLSCertificateKeyFile: " << dir << "/tls/server.key\n";
    }
    // A simple bind needs a security strength of 128: inside TLS only.
    config << "olcSecurity: simple_bind=128\n\n";
    config << "dn: cn=module{0},cn=config\nobjectClass: olcModuleList\ncn: module{0}\n"
           << "olcModulePath: /usr/lib/ldap\nolcModuleLoad: back_mdb\n\n";
    config << "dn: cn=schema,cn=config\nobjectClass: olcSchemaConfig\ncn: schema\n\n";
    for (const char* schema : {"core", "cosine", "inetorgperson"}) {
        const std::string text = ReadFile(std::string("/etc/ldap/schema/") + schema + ".ldif");
        if (text.empty()) {
            error = std::string("missing /etc/ldap/schema/") + schema + ".ldif";
            return false;
        }
        config << text << "\n";
    }
    const std::string adlike =
        ReadFile(std::string(BREVONIX_SOURCE_DIR) + "/tests/fixtures/slapd/adlike-schema.ldif");
    if (adlike.empty()) {
        error = "missing tests/fixtures/slapd/adlike-schema.ldif";
        return false;
    }
    config << adlike << "\n";
    config << "dn: olcDatabase={-1}frontend,cn=config\nobjectClass: olcDatabaseConfig\n"
           << "objectClass: olcFrontendConfig\nolcDatabase: {-1}frontend\n\n";
    config << "dn: olcDatabase={0}config,cn=config\nobjectClass: olcDatabaseConfig\nolcDatabase: {0}config\n"
           << "olcAccess: {0}to * by * none\n\n";
    const std::string limit = m_options.sizeLimit > 0 ? std::to_string(m_options.sizeLimit) : "unlimited";
    config << "dn: olcDatabase={1}mdb,cn=config\nobjectClass: olcDatabaseConfig\nobjectClass: olcMdbConfig\n"
           << "olcDatabase: {1}mdb\nolcSuffix: " << BaseDn() << "\nolcDbDirectory: " << dir << "/db\n"
           << "olcRootDN: " << AdminDn() << "\nolcRootPW: " << AdminPassword() << "\n"
           << "olcDbMaxSize: 17179869184\n"
           // Nothing for anonymous users but the bind itself.
           << "olcAccess: {0}to attrs=userPassword by self =xw by anonymous auth by * none\n"
           << "olcAccess: {1}to * by users read by * none\n"
           // AD's MaxPageSize: unpaged searches stop at the limit, paged ones get everything but a
           // page may not be larger than the limit.
           << "olcSizeLimit: size.soft=" << limit << " size.hard=" << limit << " size.pr=" << limit
           << " size.prtotal=unlimited\n"
           // More indexes would not help the user filter, which matches nearly everything, and
           // would double the load time of a large directory.
           << "olcDbIndex: objectClass eq\n\n";
    if (!WriteFile(dir + "/config.ldif", config.str())) {
        error = "cannot write config.ldif";
        return false;
    }
    if (const ProcessResult r =
            RunProcess({kSlapadd, "-n", "0", "-F", dir + "/conf", "-l", dir + "/config.ldif"}, 60);
        r.exitCode != 0) {
        error = "slapadd (config) failed: " + r.output;
        return false;
    }

    // The entries, loaded offline: fast even for a million users. First the fixed ones, then the
    // generated users.
    std::ostringstream fixedEntries;
    {
        std::ostream& data = fixedEntries;
        const std::string base = BaseDn();
        data << "dn: " << base
             << "\nobjectClass: dcObject\nobjectClass: organization\ndc: brevonix\no: Brevonix\n\n";
        for (const char* ou : {"Users", "Groups", "Contacts"})
            data << "dn: ou=" << ou << "," << base << "\nobjectClass: organizationalUnit\nou: " << ou
                 << "\n\n";

        // The bind user: a value of every kind.
        data << "dn: " << BindDn()
             << "\nobjectClass: inetOrgPerson\nobjectClass: user\nobjectCategory: user\n"
             << "cn: Test User\ngivenName: Test\ninitials: T\nsn: User\ndisplayName: Test T. User\n"
             << "description: Directory test account\nphysicalDeliveryOfficeName: B1-100\n"
             << "telephoneNumber: +1 (555) 0100-0001\ntelephoneNumber: +1 (555) 0100-0002\n"
             << "mail: test.user@brevonix.test\n"
             << "url: https://www.brevonix.test/\nurl: https://intranet.brevonix.test/test.user\n"
             << "url: https://blog.brevonix.test/test.user\n"
             << "streetAddress: 1 Main Street\npostOfficeBox: PO Box 1\nl: Springfield\nst: IL\npostalCode: "
                "62701\n"
             << "co: United States\nuserPrincipalName: " << BindUpn() << "\nsAMAccountName: test.user\n"
             << LdifLine("userPassword", BindPassword())
             << LdifLine("objectGUID", Bytes({0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15}))
             << LdifLine("objectSid", Bytes({1,    5,    0,    0,    0,    0,    0,    5,    21,   0,
                                             0,    0,    0x8C, 0x3B, 0x1A, 0x12, 0x55, 0x66, 0x77, 0x08,
                                             0x9A, 0xBC, 0xDE, 0x0F, 0x51, 0x04, 0,    0}))
             << "whenCreated: 20090305140709.0Z\nwhenChanged: 20240229235959Z\n"
             << "userAccountControl: 66048\npwdLastSet: 128790036290000000\naccountExpires: "
                "9223372036854775807\n"
             << LdifLine("nTSecurityDescriptor", Bytes({1, 0, 4, 0x80, 0x14, 0, 0, 0, 0x30, 0, 0, 0,
                                                        0, 0, 0, 0,    0x4C, 0, 0, 0, 1,    2, 0, 0}))
             << "isCriticalSystemObject: TRUE\n"
             << "wellKnownObjects: B:32:A9D1CA15768811D1ADED00C04FD8D5CD:" << UsersDn() << "\n"
             << "testDnWithString: S:9:Reception:cn=Staff,ou=Groups," << base << "\n"
             << "dnQualifier: PRINT-42\nx121Address: 31104567\nmanager: cn=admin," << base << "\n\n";

        data << "dn: cn=Staff,ou=Groups," << base
             << "\nobjectClass: groupOfNames\ncn: Staff\nmember: " << BindDn() << "\n\n";
        data << "dn: cn=Outside Contact,ou=Contacts," << base
             << "\nobjectClass: inetOrgPerson\ncn: Outside Contact\nsn: Contact\nmail: "
                "contact@example.invalid\n\n";
    }
    const auto writeUser = [](std::ostream& out, int i) {
        const SeedUser u = MakeSeedUser(i);
        out << LdifLine("dn", "cn=" + u.cn + "," + UsersDn());
        AddUserAttributes(out, u);
        out << "\n";
    };

    std::string cacheFolder;
    if (m_options.cacheDatabase) {
        // The key: the user count and whatever decides the database's content. The users are
        // generated from their index, so a change to how they are made shows in the first ones.
        std::ostringstream content;
        content << kSeedDataVersion << "\n" << ReplaceAll(config.str(), dir, "@") << fixedEntries.str();
        for (int i = 0; i < m_options.userCount && i < 64; ++i)
            writeUser(content, i);
        if (m_options.userCount > 64) writeUser(content, m_options.userCount - 1);
        cacheFolder = DatabaseCacheFolder(m_options.userCount, content.str());
        if (CopySparse(cacheFolder + "/data.mdb", dir + "/db/data.mdb")) return true;
        std::remove((dir + "/db/data.mdb").c_str());
    }

    {
        std::ofstream data(dir + "/data.ldif", std::ios::binary | std::ios::trunc);
        data << fixedEntries.str();
        for (int i = 0; i < m_options.userCount; ++i)
            writeUser(data, i);
        if (!data) {
            error = "cannot write data.ldif";
            return false;
        }
    }
    if (const ProcessResult r =
            RunProcess({kSlapadd, "-q", "-F", dir + "/conf", "-b", BaseDn(), "-l", dir + "/data.ldif"}, 600);
        r.exitCode != 0) {
        error = "slapadd (data) failed: " + r.output.substr(0, 4000);
        return false;
    }
    std::remove((dir + "/data.ldif").c_str());
    if (!cacheFolder.empty()) {
        // Written under a name of its own and renamed, so that a run that stops half-way, or one
        // running at the same time, never leaves a half-copied database behind. A failure only
        // means that the next run loads the users again.
        std::error_code ec;
        std::filesystem::create_directories(cacheFolder, ec);
        const std::string part = cacheFolder + "/data.mdb.part-" + std::to_string(getpid());
        if (!CopySparse(dir + "/db/data.mdb", part) ||
            std::rename(part.c_str(), (cacheFolder + "/data.mdb").c_str()) != 0)
            std::remove(part.c_str());
    }
    return true;
}

bool SlapdServer::Launch(std::string& error) {
    const std::string dir = m_dir->Path();
    std::vector<std::string> env;
    // An empty plugin folder: slapd then offers no SASL mechanism at all.
    if (!m_options.offerKerberos) env.push_back("SASL_PATH=" + dir + "/sasl-none");
    // "-d 256": stay in the foreground (so the process is ours to kill) and log every operation.
    m_process = ChildProcess::Start(
        {kSlapd, "-d", "256", "-h", "ldap://127.0.0.1:" + std::to_string(m_port) + "/", "-F", dir + "/conf"},
        LogFile(), env, error);
    if (!m_process) return false;
    if (!WaitForLoopbackPort(m_port, 15000, [this] { return m_process->Running(); })) {
        m_process->Kill();
        m_process.reset();
        error = "slapd did not start listening on port " + std::to_string(m_port) + ":\n" +
                ReadLog().substr(0, 4000);
        return false;
    }
    return true;
}

void SlapdServer::Kill() {
    if (m_process) m_process->Kill();
}

void SlapdServer::Stop() {
    if (m_process) m_process->Stop();
}

void SlapdServer::Suspend() {
    if (m_process) m_process->Signal(SIGSTOP);
}

void SlapdServer::Resume() {
    if (m_process) m_process->Signal(SIGCONT);
}

bool SlapdServer::Restart(std::string& error) {
    if (m_process) m_process->Stop();
    return Launch(error);
}

bool MakeTestCertificates(const std::string& folder, const std::string& caName, const std::string& altNames,
                          std::string& error) {
    const std::string d = folder + "/";
    WriteFile(d + "server.ext", "subjectAltName=" + altNames +
                                    "\nbasicConstraints=CA:FALSE\nkeyUsage=digitalSignature,keyEncipherment\n"
                                    "extendedKeyUsage=serverAuth\n");
    const std::vector<std::vector<std::string>> steps = {
        {kOpenssl,
         "req",
         "-x509",
         "-newkey",
         "ec",
         "-pkeyopt",
         "ec_paramgen_curve:P-256",
         "-nodes",
         "-keyout",
         d + "ca.key",
         "-out",
         d + "ca.pem",
         "-days",
         "30",
         "-subj",
         "/CN=" + caName,
         "-addext",
         "basicConstraints=critical,CA:TRUE",
         "-addext",
         "keyUsage=critical,keyCertSign,cRLSign"},
        {kOpenssl, "req", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:P-256", "-nodes", "-keyout",
         d + "server.key", "-out", d + "server.csr", "-subj", "/CN=localhost"},
        {kOpenssl, "x509", "-req", "-in", d + "server.csr", "-CA", d + "ca.pem", "-CAkey", d + "ca.key",
         "-CAcreateserial", "-out", d + "server.pem", "-days", "30", "-extfile", d + "server.ext"},
    };
    for (const auto& step : steps) {
        const ProcessResult r = RunProcess(step, 60);
        if (r.exitCode != 0) {
            error = "openssl failed: " + r.output;
            return false;
        }
    }
    return true;
}

void TrustTestCa(const std::string& caPemFile) {
    static std::mutex mutex;
    static std::unique_ptr<TempDir> folder;
    static std::string bundle;
    std::lock_guard lock(mutex);
    if (!folder) {
        folder = std::make_unique<TempDir>("brevonix-ca");
        bundle = folder->Path() + "/trusted.pem";
    }
    {
        std::ofstream out(bundle, std::ios::binary | std::ios::app);
        out << ReadFile(caPemFile) << "\n";
    }
    setenv("LDAPTLS_CACERT", bundle.c_str(), 1);
    ldap_set_option(nullptr, LDAP_OPT_X_TLS_CACERTFILE, bundle.c_str());
    const int isServer = 0;
    ldap_set_option(nullptr, LDAP_OPT_X_TLS_NEWCTX, &isServer);
}

} // namespace brevonix::test
