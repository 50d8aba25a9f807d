// A directory that misbehaves on purpose, for robustness tests: a small scripted LDAP server of our
// own (misbehaving_ldap_server.py, Python with pyasn1 and python3-ldap3's LDAP definitions) on a free
// 127.0.0.1 port. It offers StartTLS with a certificate from a CA made for this test process (and
// trusted by it), takes a simple bind of one reader, and answers a subtree search with generated
// users, paged like AD when asked. Then, by mode, it never answers the bind, answers the search
// slowly, drops the connection after some entries, sends values that break their syntax, or ends
// every page with a cookie so that the search never ends.
//
// The simple bind needs TLS because the stand-in never sends a password in the clear: the server
// speaks StartTLS, so a test gets as far as the bind and the search as a user would.
//
// No test framework types. Requests are logged as JSON lines (never the password).
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "support/process_util.h"

namespace brevonix::test {

struct MisbehavingOptions {
    enum class Mode { Normal, NeverAnswersBind, SlowSearch, DropsConnection, BreaksSyntax, EndlessCookie };
    Mode mode = Mode::Normal;
    int entries = 50;        // users under the naming context
    int delayMs = 0;         // SlowSearch: before every entry and before the end of the search
    int dropAfter = 100;     // DropsConnection: entries sent before the connection goes
    int pageEntries = 10;    // EndlessCookie: entries per page (0: none)
    bool sameCookie = false; // EndlessCookie: the same cookie on every page (else a new one)
};

class MisbehavingServer {
public:
    static std::unique_ptr<MisbehavingServer> Start(const MisbehavingOptions& options, std::string& error);
    ~MisbehavingServer();
    MisbehavingServer(const MisbehavingServer&) = delete;
    MisbehavingServer& operator=(const MisbehavingServer&) = delete;

    int Port() const { return m_port; }
    std::string HostPort() const { return "127.0.0.1:" + std::to_string(m_port); }
    std::u16string AdsPath() const; // u"LDAP://127.0.0.1:port"

    static std::string BaseDn() { return "dc=misbehaving,dc=test"; }
    static std::string BindDn() { return "cn=Reader,ou=Users,dc=misbehaving,dc=test"; }
    // Made anew for every test process, so that finding it anywhere (a file, a log) can only mean
    // that this process put it there.
    static std::string BindPassword();
    static std::u16string BindDn16();
    static std::u16string BindPassword16();
    // The DN and cn of generated user n.
    static std::string UserCn(int n);

    // The JSON lines the server wrote so far: one per connection, StartTLS, bind (name, whether it
    // was inside TLS, whether the password matched), search (base, scope, filter, time limit, page
    // size and cookie), abandon, unbind, close.
    std::string ReadLog() const;
    std::vector<std::string> LogLines(const std::string& event) const;
    // The server's own output (Python errors land here).
    std::string ReadOutput() const;
    bool Running() { return m_process && m_process->Running(); }

private:
    MisbehavingServer() = default;

    std::unique_ptr<TempDir> m_dir;
    std::unique_ptr<ChildProcess> m_process;
    int m_port = 0;
};

// Extracts the value of a string field from one JSON log line ("" when absent); enough for the
// flat records the server writes.
std::string JsonField(const std::string& line, const std::string& name);

} // namespace brevonix::test
