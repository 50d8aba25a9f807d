// What a person types into the window, taken at its worst: a filter of 100,000 characters, domain
// texts with control characters, "/" or "@", user names with a backslash and no domain. Each gives
// a clear message or the search typed, never a crash, and nothing goes out that was not typed.
// Typed credentials never show up in a message, a log or a file, and never cross the wire in the
// clear.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

#include "gui_support.h"
#include "res/resource.h"
#include "support/misbehaving_server.h"
#include "support/process_util.h"
#include "support/samba_fixture.h"
#include "support/slapd_fixture.h"
#include "support/test_env.h"

namespace fs = std::filesystem;
using brevonix::test::JsonField;
using brevonix::test::MisbehavingOptions;
using brevonix::test::MisbehavingServer;
using TestDir = brevonix::test::TempDir;

namespace {

#define REQUIRE_SERVER(server, error)                                                                        \
    if (!(server)) {                                                                                         \
        if (RunningInCi()) FAIL() << "the test directory did not start: " << (error);                        \
        GTEST_SKIP() << "the test directory did not start: " << (error);                                     \
    }

struct Typed {
    CString domain, user, password, filter = u"(&(objectClass=user)(objectCategory=user))";
};

struct Shown {
    std::vector<ShownMessage> messages;
    int rows = -1;
    CString count;
};

// Types into the window as a person would and presses Generate; `then` runs in the window after.
// Messages are answered by `seam` when given (so that `then` can use its Save dialog answers).
Shown Generate(const Typed& typed, const std::function<void(CVexlorDlg&)>& then = {},
               RecordingSeam* seam = nullptr) {
    std::optional<RecordingSeam> own; // made only when needed: the last seam made answers
    if (!seam) own.emplace();
    RecordingSeam& answers = seam ? *seam : *own;
    const size_t before = answers.messages.size();
    Shown shown;
    CVexlorDlg dlg;
    RunMainWindow(dlg, [&](CVexlorDlg& d) {
        d.m_edtDomain.SetWindowText(typed.domain);
        d.SetDlgItemText(IDC_EDT_USER, typed.user);
        d.SetDlgItemText(IDC_EDT_PASSWORD, typed.password);
        d.m_edtQuery.SetWindowText(typed.filter);
        afxtest::Click(::GetDlgItem(d.m_hWnd, IDC_BTN_GENERATE));
        shown.rows = d.m_lstResult.GetItemCount();
        shown.count = CountText(d);
        if (then) then(d);
    });
    shown.messages.assign(answers.messages.begin() + static_cast<std::ptrdiff_t>(before),
                          answers.messages.end());
    return shown;
}

std::string Texts(const std::vector<ShownMessage>& messages) {
    std::string all;
    for (const auto& m : messages)
        all += "[" + m.text.ToUtf8() + "] ";
    return all;
}

CString Wide(const std::string& s) {
    return CString::FromUtf8(s);
}

// The password as the bytes it could be stored in: UTF-8 and UTF-16 (little-endian).
std::vector<std::string> Encodings(const std::string& ascii) {
    std::string utf16;
    for (char c : ascii) {
        utf16 += c;
        utf16 += '\0';
    }
    return {ascii, utf16};
}

// Files under `roots` changed since `since` that hold any of `needles`.
std::vector<std::string> FilesHolding(const std::vector<fs::path>& roots, fs::file_time_type since,
                                      const std::vector<std::string>& needles) {
    std::vector<std::string> found;
    for (const auto& root : roots) {
        std::error_code ec;
        for (fs::recursive_directory_iterator it(root, fs::directory_options::skip_permission_denied, ec),
             end;
             it != end; it.increment(ec)) {
            if (ec) break;
            std::error_code e;
            if (!it->is_regular_file(e) || it->file_size(e) > (64u << 20) || it->last_write_time(e) < since)
                continue;
            std::ifstream in(it->path(), std::ios::binary);
            const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
            for (const auto& n : needles)
                if (bytes.find(n) != std::string::npos) found.push_back(it->path().string());
        }
    }
    return found;
}

// The lab namespace: a resolver on loopback only, so that a domain text that slipped through to a
// name lookup could never send a packet off this machine.
void RunInLoopbackNamespace() {
    TestDir files("brevonix-ns-files");
    const std::string d = files.Path() + "/";
    std::ofstream(d + "resolv.conf") << "nameserver 127.0.0.1\n";
    std::ofstream(d + "hosts") << "127.0.0.1 localhost\n";
    std::ofstream(d + "nsswitch.conf") << "hosts: files dns\n";
    brevonix::samba_test::RunCurrentTestInNamespace({d + "resolv.conf", d + "hosts", d + "nsswitch.conf"});
}

} // namespace

// ---- The filter -----------------------------------------------------------------------------------

// A single-line edit takes 32,767 characters from the user, as Windows' edit control does: a filter
// of 100,000 characters pasted into the window keeps its first 32,767. What the window holds is what
// goes out, exactly; here the cut filter is no valid filter, so nothing goes out and one readable
// message says so. (The stand-in itself sends a 100,000-character filter exactly; see
// tests/directory/misbehaving_server_test.cpp.)
TEST(RobustnessOfInput, AFilterOf100000CharactersPastedIntoTheWindowSendsNothingItDoesNotShow) {
    std::string error;
    auto server = MisbehavingServer::Start({.entries = 5}, error);
    REQUIRE_SERVER(server, error);
    std::string filter = "(|";
    for (int i = 0; filter.size() < 100000; ++i)
        filter += "(cn=u" + std::to_string(1000000 + i) + ")";
    filter += ")";
    CString held;
    const Shown shown = Generate({Wide(server->HostPort()), CString(MisbehavingServer::BindDn16()),
                                  CString(MisbehavingServer::BindPassword16()), Wide(filter)},
                                 [&](CVexlorDlg& d) { d.m_edtQuery.GetWindowText(held); });
    ASSERT_GT(held.GetLength(), 0);
    EXPECT_TRUE(held.ToUtf8() == filter.substr(0, static_cast<size_t>(held.GetLength())))
        << "the window changed the filter";
    for (const auto& line : server->LogLines("search")) {
        const std::string sent = JsonField(line, "filter");
        EXPECT_TRUE(sent == "(objectClass=*)" || sent == "(objectClass=subschema)" || sent == held.ToUtf8())
            << "sent a filter of " << sent.size() << " characters that the window does not show";
    }
    if (held.GetLength() < static_cast<int>(filter.size())) {
        ASSERT_EQ(shown.messages.size(), 1u);
        const CString& text = shown.messages[0].text;
        EXPECT_EQ(text.Find(u"The search failed."), 0) << text.ToUtf8();
        EXPECT_LT(text.GetLength(), 400);
        EXPECT_EQ(shown.count, u"0");
    } else {
        EXPECT_TRUE(shown.messages.empty()) << Texts(shown.messages);
        EXPECT_EQ(shown.rows, 5);
    }
}

// As long a filter as the window holds goes out exactly as typed.
TEST(RobustnessOfInput, AFilterAsLongAsTheWindowHoldsIsSentExactly) {
    std::string error;
    auto server = MisbehavingServer::Start({.entries = 5}, error);
    REQUIRE_SERVER(server, error);
    std::string filter = "(|";
    for (int i = 0; filter.size() < 32767 - 20; ++i)
        filter += "(cn=u" + std::to_string(1000000 + i) + ")";
    filter += ")";
    const Shown shown = Generate({Wide(server->HostPort()), CString(MisbehavingServer::BindDn16()),
                                  CString(MisbehavingServer::BindPassword16()), Wide(filter)});
    EXPECT_TRUE(shown.messages.empty()) << Texts(shown.messages);
    EXPECT_EQ(shown.rows, 5); // this server lists its users whatever the filter
    const auto searches = server->LogLines("search");
    ASSERT_FALSE(searches.empty());
    EXPECT_TRUE(JsonField(searches.back(), "filter") == filter)
        << "sent " << JsonField(searches.back(), "filter").size() << " characters for " << filter.size();
}

// A broken filter is refused before anything is sent, with one message that stays readable however
// long the filter.
TEST(RobustnessOfInput, ABrokenLongFilterGivesOneReadableMessageAndSendsNothing) {
    std::string error;
    auto server = MisbehavingServer::Start({.entries = 5}, error);
    REQUIRE_SERVER(server, error);
    const Shown shown = Generate({Wide(server->HostPort()), CString(MisbehavingServer::BindDn16()),
                                  CString(MisbehavingServer::BindPassword16()), CString(u'(', 30000)});
    ASSERT_EQ(shown.messages.size(), 1u);
    const CString& text = shown.messages[0].text;
    EXPECT_EQ(text.Find(u"The search failed."), 0) << text.ToUtf8();
    EXPECT_GE(text.Find(u"(30000 characters)"), 0) << text.ToUtf8();
    EXPECT_LT(text.GetLength(), 400) << text.ToUtf8();
    EXPECT_EQ(shown.count, u"0");
    // Only the directory's own entries were read; no search for the filter went out.
    for (const auto& line : server->LogLines("search"))
        EXPECT_EQ(JsonField(line, "base").find("dc=misbehaving"), std::string::npos) << line;
}

// ---- The domain -----------------------------------------------------------------------------------

// Every text names the running server, so that one that got through would be seen connecting.
TEST(RobustnessOfInput, DomainTextsWithControlCharactersSlashOrAtAreInvalidAndNothingIsSent) {
    if (!brevonix::samba_test::InLabNamespace()) return RunInLoopbackNamespace();
    std::string error;
    auto server = MisbehavingServer::Start({}, error);
    REQUIRE_SERVER(server, error);
    const std::string port = std::to_string(server->Port());
    const std::vector<std::u16string> texts = {
        u"127.0.0.1:" + std::u16string(port.begin(), port.end()) + u"\x01",
        u"\x1b"
        u"127.0.0.1:" +
            std::u16string(port.begin(), port.end()),
        u"127.0.0.1\t:" + std::u16string(port.begin(), port.end()),
        u"127.0.0.1:" + std::u16string(port.begin(), port.end()) + u"\r\n",
        u"127.0.0.1:" + std::u16string(port.begin(), port.end()) + u"/dc=misbehaving,dc=test",
        u"127.0.0.1/:" + std::u16string(port.begin(), port.end()),
        u"reader@127.0.0.1:" + std::u16string(port.begin(), port.end()),
        u"127.0.0.1@" + std::u16string(port.begin(), port.end()),
        u"misbehaving.test/Users",
        u"reader@misbehaving.test",
        u"\x7f"
        u"misbehaving.test",
    };
    for (const auto& text : texts) {
        const CString domain(text);
        const Shown shown = Generate(
            {domain, CString(MisbehavingServer::BindDn16()), CString(MisbehavingServer::BindPassword16())});
        ASSERT_EQ(shown.messages.size(), 1u) << domain.ToUtf8() << ": " << Texts(shown.messages);
        EXPECT_EQ(shown.messages[0].text, u"Invalid domain name.") << domain.ToUtf8();
        EXPECT_EQ(shown.messages[0].type, MB_ICONERROR);
        EXPECT_EQ(shown.count, u"0");
    }
    EXPECT_EQ(server->LogLines("connect").size(), 0u) << server->ReadLog();
}

// ---- The user name --------------------------------------------------------------------------------

// A name with a backslash and no domain before (or no user after) it names no Kerberos principal;
// it goes to the directory as typed, inside TLS, and the directory refuses it.
TEST(RobustnessOfInput, AUserNameWithABackslashAndNoDomainIsSentAsTypedAndRefused) {
    std::string error;
    auto server = MisbehavingServer::Start({}, error);
    REQUIRE_SERVER(server, error);
    for (const std::string user : {"\\reader", "reader\\", "\\", "\\\\reader"}) {
        const Shown shown =
            Generate({Wide(server->HostPort()), Wide(user), CString(MisbehavingServer::BindPassword16())});
        ASSERT_EQ(shown.messages.size(), 1u) << user << ": " << Texts(shown.messages);
        EXPECT_EQ(shown.messages[0].text, Wide("Enter valid credentials of \"" + server->HostPort() + "\""));
        EXPECT_EQ(shown.rows, 0);
        const auto binds = server->LogLines("bind");
        ASSERT_FALSE(binds.empty()) << user;
        EXPECT_EQ(JsonField(binds.back(), "name"), user);
        EXPECT_EQ(JsonField(binds.back(), "tls"), "true");
    }
}

// ---- Credentials ----------------------------------------------------------------------------------

// A directory without TLS and without Kerberos: the window's bind fails and the password (and the
// name it goes with) never crosses the wire, nor lands in the message or the directory's log.
TEST(RobustnessOfCredentials, WithoutTlsOrKerberosTheTypedPasswordNeverLeavesTheWindow) {
    using brevonix::test::SlapdServer;
    std::string error;
    auto server = SlapdServer::Start({.userCount = 5, .tls = false}, error);
    REQUIRE_SERVER(server, error);
    brevonix::test::RecordingTcpProxy proxy(server->Port());
    ASSERT_TRUE(proxy.Valid());
    const std::string address = "127.0.0.1:" + std::to_string(proxy.Port());
    const Shown shown =
        Generate({Wide(address), CString(SlapdServer::BindDn16()), CString(SlapdServer::BindPassword16())});
    ASSERT_EQ(shown.messages.size(), 1u) << Texts(shown.messages);
    EXPECT_EQ(shown.messages[0].text, Wide("Enter valid credentials of \"" + address + "\""));
    const std::string wire = proxy.ClientBytes();
    EXPECT_TRUE(brevonix::test::ContainsBytes(wire, "1.3.6.1.4.1.1466.20037"))
        << "StartTLS was not even asked";
    for (const auto& secret : Encodings(SlapdServer::BindPassword())) {
        EXPECT_FALSE(brevonix::test::ContainsBytes(wire, secret));
        EXPECT_EQ(server->ReadLog().find(secret), std::string::npos);
    }
    EXPECT_FALSE(brevonix::test::ContainsBytes(wire, SlapdServer::BindDn()));
    EXPECT_LT(shown.messages[0].text.Find(CString(SlapdServer::BindPassword16())), 0);
}

// A whole session, as a person would have it: a search with the right password, an export, and a
// wrong password. Neither password is in any message, nor in any file written meanwhile under the
// temporary folder or the home folder; the directory only ever got them inside TLS.
TEST(RobustnessOfCredentials, TypedPasswordsAreInNoMessageAndNoFile) {
    const auto since = fs::file_time_type::clock::now() - std::chrono::seconds(1);
    std::string error;
    auto server = MisbehavingServer::Start({.entries = 5}, error);
    REQUIRE_SERVER(server, error);
    TestDir exportDir("brevonix-credentials");
    const std::string right = MisbehavingServer::BindPassword();
    const std::string wrong = "Wr0ng-" + right.substr(3);

    RecordingSeam exportSeam;
    exportSeam.fileAnswers.push_back(Wide(exportDir.Path() + "/users.csv"));
    const Shown good = Generate(
        {Wide(server->HostPort()), CString(MisbehavingServer::BindDn16()), Wide(right)},
        [](CVexlorDlg& d) { afxtest::Click(d.m_lnkExport.m_hWnd); }, &exportSeam);
    ASSERT_EQ(good.rows, 5) << Texts(good.messages);
    EXPECT_TRUE(good.messages.empty()) << Texts(good.messages);
    ASSERT_TRUE(fs::exists(exportDir.Path() + "/users.csv"))
        << exportSeam.fileRequests.size() << " Save dialogs; " << Texts(exportSeam.messages);
    const Shown bad =
        Generate({Wide(server->HostPort()), CString(MisbehavingServer::BindDn16()), Wide(wrong)});
    ASSERT_EQ(bad.messages.size(), 1u) << Texts(bad.messages);

    std::vector<ShownMessage> all = good.messages;
    all.insert(all.end(), bad.messages.begin(), bad.messages.end());
    for (const auto& m : all) {
        EXPECT_LT(m.text.Find(Wide(right)), 0) << m.text.ToUtf8();
        EXPECT_LT(m.text.Find(Wide(wrong)), 0) << m.text.ToUtf8();
    }
    std::vector<std::string> needles = Encodings(right);
    for (const auto& w : Encodings(wrong))
        needles.push_back(w);
    std::vector<fs::path> roots = {fs::temp_directory_path()};
    if (const char* home = std::getenv("HOME"); home && *home) roots.emplace_back(home);
    const auto found = FilesHolding(roots, since, needles);
    EXPECT_TRUE(found.empty()) << "a typed password is in " << found.front();

    for (const auto& bind : server->LogLines("bind"))
        EXPECT_EQ(JsonField(bind, "tls"), "true") << bind;
}
