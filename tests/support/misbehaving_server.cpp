#include "support/misbehaving_server.h"

#include <unistd.h>

#include <chrono>
#include <fstream>
#include <mutex>
#include <random>
#include <sstream>
#include <thread>

#include "support/slapd_fixture.h"

namespace brevonix::test {
namespace {

constexpr const char* kPython = "/usr/bin/python3";

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

std::u16string Utf16(const std::string& ascii) {
    return std::u16string(ascii.begin(), ascii.end());
}

// One CA and server certificate for every misbehaving server of this process (making keys costs
// time), trusted by this process's LDAP clients once.
struct Certificates {
    std::unique_ptr<TempDir> dir;
    std::string cert, key, error;
};

const Certificates& TestCertificates() {
    static Certificates c;
    static std::once_flag once;
    std::call_once(once, [] {
        c.dir = std::make_unique<TempDir>("brevonix-misbehaving-tls");
        if (!c.dir->Valid()) {
            c.error = "cannot make a temporary folder";
            return;
        }
        const std::string d = c.dir->Path() + "/";
        if (!MakeTestCertificates(c.dir->Path(), "Brevonix Misbehaving Test CA " + std::to_string(getpid()),
                                  "IP:127.0.0.1,DNS:localhost", c.error))
            return;
        c.cert = d + "server.pem";
        c.key = d + "server.key";
        TrustTestCa(d + "ca.pem");
    });
    return c;
}

const char* ModeName(MisbehavingOptions::Mode mode) {
    using Mode = MisbehavingOptions::Mode;
    switch (mode) {
    case Mode::Normal:
        return "normal";
    case Mode::NeverAnswersBind:
        return "never-bind";
    case Mode::SlowSearch:
        return "slow";
    case Mode::DropsConnection:
        return "drop";
    case Mode::BreaksSyntax:
        return "bad-syntax";
    case Mode::EndlessCookie:
        return "endless-cookie";
    }
    return "normal";
}

} // namespace

std::unique_ptr<MisbehavingServer> MisbehavingServer::Start(const MisbehavingOptions& options,
                                                            std::string& error) {
    if (access(kPython, X_OK) != 0) {
        error = std::string(kPython) + " is not installed";
        return nullptr;
    }
    const ProcessResult modules = RunProcess({kPython, "-c", "import pyasn1, ldap3"}, 30);
    if (modules.exitCode != 0) {
        error = "python3-ldap3 (with python3-pyasn1) is not installed: " + modules.output;
        return nullptr;
    }
    const Certificates& tls = TestCertificates();
    if (!tls.error.empty()) {
        error = tls.error;
        return nullptr;
    }

    std::unique_ptr<MisbehavingServer> s(new MisbehavingServer());
    s->m_dir = std::make_unique<TempDir>("brevonix-misbehaving");
    if (!s->m_dir->Valid()) {
        error = "cannot make a temporary folder";
        return nullptr;
    }
    const std::string dir = s->m_dir->Path();
    std::vector<std::string> argv = {
        kPython,          std::string(BREVONIX_SOURCE_DIR) + "/tests/support/misbehaving_ldap_server.py",
        "--port-file",    dir + "/port",
        "--log",          dir + "/requests.log",
        "--cert",         tls.cert,
        "--key",          tls.key,
        "--mode",         ModeName(options.mode),
        "--bind-dn",      BindDn(),
        "--password",     BindPassword(),
        "--entries",      std::to_string(options.entries),
        "--delay-ms",     std::to_string(options.delayMs),
        "--drop-after",   std::to_string(options.dropAfter),
        "--page-entries", std::to_string(options.pageEntries)};
    if (options.sameCookie) argv.push_back("--same-cookie");
    s->m_process = ChildProcess::Start(argv, dir + "/output.log", {}, error);
    if (!s->m_process) return nullptr;

    // The server writes its port once it listens.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (std::chrono::steady_clock::now() < deadline) {
        const std::string port = ReadFile(dir + "/port");
        if (!port.empty()) {
            s->m_port = std::stoi(port);
            return s;
        }
        if (!s->m_process->Running()) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    error = "the misbehaving server did not start: " + ReadFile(dir + "/output.log");
    return nullptr;
}

MisbehavingServer::~MisbehavingServer() {
    if (m_process) m_process->Stop(2000);
}

std::u16string MisbehavingServer::AdsPath() const {
    return Utf16("LDAP://" + HostPort());
}
std::string MisbehavingServer::BindPassword() {
    static const std::string password = [] {
        std::random_device random;
        char text[64];
        std::snprintf(text, sizeof text, "Rd-S3cret!%d-%08x%08x", static_cast<int>(getpid()), random(),
                      random());
        return std::string(text);
    }();
    return password;
}

std::u16string MisbehavingServer::BindDn16() {
    return Utf16(BindDn());
}
std::u16string MisbehavingServer::BindPassword16() {
    return Utf16(BindPassword());
}
std::string MisbehavingServer::UserCn(int n) {
    char cn[32];
    std::snprintf(cn, sizeof cn, "User %05d", n);
    return cn;
}

std::string MisbehavingServer::ReadLog() const {
    return ReadFile(m_dir->Path() + "/requests.log");
}

std::vector<std::string> MisbehavingServer::LogLines(const std::string& event) const {
    std::vector<std::string> lines;
    std::istringstream in(ReadLog());
    std::string line;
    while (std::getline(in, line))
        if (JsonField(line, "event") == event) lines.push_back(line);
    return lines;
}

std::string MisbehavingServer::ReadOutput() const {
    return ReadFile(m_dir->Path() + "/output.log");
}

std::string JsonField(const std::string& line, const std::string& name) {
    const std::string key = "\"" + name + "\": ";
    const size_t at = line.find(key);
    if (at == std::string::npos) return {};
    size_t pos = at + key.size();
    if (pos >= line.size()) return {};
    if (line[pos] != '"') {
        // A number, true, false or null: up to the next comma or brace.
        const size_t end = line.find_first_of(",}", pos);
        return line.substr(pos, end - pos);
    }
    std::string value;
    for (++pos; pos < line.size() && line[pos] != '"'; ++pos) {
        if (line[pos] == '\\' && pos + 1 < line.size()) {
            const char c = line[++pos];
            value += c == 'n' ? '\n' : c == 't' ? '\t' : c;
        } else {
            value += line[pos];
        }
    }
    return value;
}

} // namespace brevonix::test
