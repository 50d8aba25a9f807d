#include "support/samba_fixture.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <memory>
#include <sstream>
#include <thread>

namespace brevonix::samba_test {

namespace {

using Clock = std::chrono::steady_clock;
namespace fs = std::filesystem;

constexpr const char* kRealm = "BREVONIX.TEST";
constexpr const char* kNetbiosDomain = "BREVONIX";
constexpr const char* kDcNetbiosName = "DC1";
constexpr const char* kAdminPassword = "Brevonix-Admin1!";
// Every test process on this machine that wants Samba takes this lock: Samba's ports are fixed, so
// only one can run at a time (another build directory, the sanitizer build, another developer).
constexpr const char* kMachineLock = "/tmp/brevonix-samba.lock";
constexpr auto kLockWait = std::chrono::minutes(15);
constexpr const char* kDirVariable = "BREVONIX_SAMBA_DIR";
constexpr const char* kNamespaceVariable = "BREVONIX_LAB_NAMESPACE";

std::string FixtureScripts() {
    return std::string(BREVONIX_SOURCE_DIR) + "/tests/fixtures/samba";
}

std::string Tail(const std::string& text, size_t lines = 30) {
    size_t pos = text.size();
    for (size_t n = 0; n <= lines && pos > 0; ++n) {
        pos = text.rfind('\n', pos - 1);
        if (pos == std::string::npos) return text;
    }
    return text.substr(pos + 1);
}

void Log(const std::string& message) {
    std::fprintf(stderr, "[samba fixture] %s\n", message.c_str());
}

bool PortAnswers(int port) {
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return false;
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<uint16_t>(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bool ok = connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
    close(fd);
    return ok;
}

std::string ReplaceAll(std::string text, const std::string& from, const std::string& to) {
    for (size_t pos = 0; (pos = text.find(from, pos)) != std::string::npos; pos += to.size())
        text.replace(pos, from.size(), to);
    return text;
}

std::string HexHash(const std::string& text) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%016zx", std::hash<std::string>{}(text));
    return buf;
}

std::string LocalHostName() {
    char name[256] = {};
    if (gethostname(name, sizeof name - 1) != 0) return {};
    return name;
}

// Name resolution for everything the fixture runs: Samba's DNS on loopback, nothing else. Samba
// and provisioning run inside it too, so nothing they look up can leave the machine either.
NamespaceFiles WriteNamespaceFiles(const std::string& dir, bool& ok) {
    std::error_code ec;
    fs::create_directories(dir, ec);
    std::string host = LocalHostName();
    NamespaceFiles files{dir + "/resolv.conf", dir + "/hosts", dir + "/nsswitch.conf"};
    ok = WriteTextFile(files.resolvConf, "nameserver 127.0.0.1\noptions timeout:2 attempts:1\n") &&
         WriteTextFile(files.hosts, "127.0.0.1\tlocalhost\n::1\tlocalhost ip6-localhost ip6-loopback\n" +
                                        (host.empty() ? std::string() : "127.0.0.1\t" + host + "\n")) &&
         WriteTextFile(files.nsswitchConf, "passwd: files\ngroup: files\nshadow: files\nhosts: files dns\n"
                                           "networks: files\nprotocols: files\nservices: files\n");
    return files;
}

// `argv` wrapped so that it runs in a new mount namespace with `files` over the system's. A cache
// daemon would answer from outside the namespace; its socket is hidden if there is one.
std::vector<std::string> NamespaceCommand(const std::vector<std::string>& argv) {
    static const char* script = "set -e\n"
                                "mount --bind \"$BREVONIX_NS_RESOLV\" /etc/resolv.conf\n"
                                "mount --bind \"$BREVONIX_NS_HOSTS\" /etc/hosts\n"
                                "mount --bind \"$BREVONIX_NS_NSSWITCH\" /etc/nsswitch.conf\n"
                                "for d in /run/nscd /var/run/nscd; do\n"
                                "  if [ -d \"$d\" ]; then mount -t tmpfs none \"$d\"; fi\n"
                                "done\n"
                                "exec \"$@\"\n";
    std::vector<std::string> command = {"unshare", "--mount", "--propagation", "private",      "--",
                                        "/bin/sh", "-c",      script,          "lab-namespace"};
    command.insert(command.end(), argv.begin(), argv.end());
    return command;
}

EnvList NamespaceEnv(const NamespaceFiles& files) {
    return {{"BREVONIX_NS_RESOLV", files.resolvConf},
            {"BREVONIX_NS_HOSTS", files.hosts},
            {"BREVONIX_NS_NSSWITCH", files.nsswitchConf},
            {kNamespaceVariable, "1"}};
}

// The provisioned, seeded, never-started domain kept under the build directory. Rebuilt when the
// scripts or the Samba version change.
bool EnsureTemplate(std::string& templateDir, std::string& why) {
    auto provision = ReadTextFile(FixtureScripts() + "/provision.sh");
    auto seed = ReadTextFile(FixtureScripts() + "/seed.py");
    if (!provision || !seed) {
        why = "fixture scripts missing under " + FixtureScripts();
        return false;
    }
    CommandResult version = RunCommand({"samba", "-V"}, {}, std::chrono::seconds(30));
    if (version.exitCode != 0) {
        why = "cannot run samba: " + version.output;
        return false;
    }
    std::string key = HexHash(*provision + *seed + version.output + kRealm + kNetbiosDomain + kDcNetbiosName +
                              kAdminPassword);
    std::string root = std::string(BREVONIX_BINARY_DIR) + "/samba-cache";
    templateDir = root + "/template-" + key;
    if (fs::exists(templateDir + "/.ready")) return true;

    std::error_code ec;
    fs::create_directories(root, ec);
    for (const auto& entry : fs::directory_iterator(root, ec))
        if (entry.path().filename().string().starts_with("template-")) RemoveTree(entry.path());
    std::string work = templateDir + ".tmp";
    RemoveTree(work);
    fs::create_directories(work, ec);

    TempDir nsDir("brevonix-provision");
    bool written = false;
    NamespaceFiles files = WriteNamespaceFiles(nsDir.Path(), written);
    if (!written) {
        why = "cannot write the provisioning namespace's files";
        return false;
    }
    auto start = Clock::now();
    CommandResult r = RunInNamespace(files,
                                     {"bash", FixtureScripts() + "/provision.sh", work, kRealm,
                                      kNetbiosDomain, kDcNetbiosName, kAdminPassword},
                                     {}, std::chrono::minutes(5));
    if (r.exitCode != 0) {
        why = "provisioning failed" + std::string(r.timedOut ? " (timed out)" : "") + ":\n" + Tail(r.output) +
              "\n" + Tail(ReadTextFile(work + "/log/provision.log").value_or(""));
        return false;
    }
    Log("provisioned and seeded the template in " + std::to_string(ElapsedMs(start)) + " ms");
    // smb.conf is the one file with absolute paths; a copy rewrites them from this origin.
    if (!WriteTextFile(work + "/.origin", work) || !WriteTextFile(work + "/.ready", "")) {
        why = "cannot write to " + work;
        return false;
    }
    fs::rename(work, templateDir, ec);
    if (ec) {
        why = "cannot rename the template: " + ec.message();
        return false;
    }
    return true;
}

bool AcquireMachineLock(int& fd, std::string& why) {
    fd = open(kMachineLock, O_RDWR | O_CREAT | O_CLOEXEC, 0666);
    if (fd < 0) {
        why = std::string("cannot open ") + kMachineLock + ": " + std::strerror(errno);
        return false;
    }
    auto deadline = Clock::now() + kLockWait;
    bool told = false;
    while (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        if (Clock::now() > deadline) {
            why = "another test run kept the Samba lock " + std::string(kMachineLock) + " too long";
            close(fd);
            fd = -1;
            return false;
        }
        if (!told) Log("waiting for another test run's Samba to finish");
        told = true;
        std::this_thread::sleep_for(std::chrono::milliseconds(250));
    }
    return true;
}

std::unique_ptr<SambaFixture>& Instance() {
    static std::unique_ptr<SambaFixture> instance;
    return instance;
}

bool& StartFailed() {
    static bool failed = false;
    return failed;
}

std::string& FailureReason() {
    static std::string reason;
    return reason;
}

} // namespace

class SambaEnvironment : public ::testing::Environment {
public:
    void TearDown() override {
        if (Instance()) Instance()->Stop();
    }
};

namespace {
// Stops the server when the test run ends, even after failed tests; a crashed run takes Samba with
// it (parent-death signal and end of its standard input).
[[maybe_unused]] ::testing::Environment* const kEnvironment =
    ::testing::AddGlobalTestEnvironment(new SambaEnvironment);
} // namespace

SambaFixture::SambaFixture()
    : realm_(kRealm), dnsDomain_("brevonix.test"), netbiosDomain_(kNetbiosDomain),
      dcHostName_("dc1.brevonix.test"), dcNetbiosName_(kDcNetbiosName), baseDn_("DC=brevonix,DC=test") {}

SambaFixture::~SambaFixture() {
    Stop();
}

const SambaFixture* SambaFixture::Get(std::string& why) {
    auto& instance = Instance();
    if (instance) return instance.get();
    if (StartFailed()) {
        why = FailureReason();
        return nullptr;
    }
    std::unique_ptr<SambaFixture> f(new SambaFixture());
    bool ok;
    if (const char* dir = std::getenv(kDirVariable); dir && *dir)
        ok = f->Attach(dir, why);
    else
        ok = f->Start(why);
    if (!ok) {
        StartFailed() = true;
        FailureReason() = why;
        return nullptr;
    }
    instance = std::move(f);
    return instance.get();
}

SambaAccount SambaFixture::Admin() const {
    return {"Administrator", kAdminPassword, "Administrator@" + dnsDomain_,
            "CN=Administrator,CN=Users," + baseDn_};
}

SambaAccount SambaFixture::User() const {
    return {"alice", "Alice-Pass1!", "alice@" + dnsDomain_, "CN=Alice Archer,CN=Users," + baseDn_};
}

SambaAccount SambaFixture::AccentedUser() const {
    return {"zoe", "Zoe-Pass1!", "zoe@" + dnsDomain_,
            "CN=Zo\xc3\xab \xc3\x85ngstr\xc3\xb6m,CN=Users," + baseDn_};
}

std::string SambaFixture::CaCertPath() const {
    return dir_ + "/private/tls/ca.pem";
}
std::string SambaFixture::Krb5ConfPath() const {
    return dir_ + "/krb5.conf";
}
std::string SambaFixture::LogPath() const {
    return dir_ + "/log/samba.stdout";
}

size_t SambaFixture::LogSize() const {
    std::error_code ec;
    auto size = fs::file_size(LogPath(), ec);
    return ec ? 0 : static_cast<size_t>(size);
}

std::string SambaFixture::LogSince(size_t offset) const {
    std::string text = ReadTextFile(LogPath()).value_or("");
    return offset < text.size() ? text.substr(offset) : std::string();
}

bool SambaFixture::Attach(const std::string& dir, std::string& why) {
    dir_ = dir;
    namespace_ = {dir_ + "/ns/resolv.conf", dir_ + "/ns/hosts", dir_ + "/ns/nsswitch.conf"};
    if (!fs::exists(Krb5ConfPath())) {
        why = "no Samba run folder at " + dir;
        return false;
    }
    return true;
}

bool SambaFixture::Start(std::string& why) {
    if (geteuid() != 0) {
        why = "Samba's domain controller needs root";
        return false;
    }
    if (!AcquireMachineLock(lockFd_, why)) return false;
    owner_ = true;

    // Run folders left by a run that was killed outright; whoever made them held this lock and is
    // gone now.
    {
        const char* tmp = std::getenv("TMPDIR");
        std::error_code ec;
        for (const auto& entry : fs::directory_iterator(tmp && *tmp ? tmp : "/tmp", ec))
            if (entry.path().filename().string().starts_with("brevonix-samba-")) RemoveTree(entry.path());
    }

    auto totalStart = Clock::now();
    std::string templateDir;
    if (!EnsureTemplate(templateDir, why)) return false;

    for (int port : {kLdapPort, kKdcPort, kDnsPort}) {
        if (PortAnswers(port)) {
            why = "127.0.0.1:" + std::to_string(port) + " is already taken by another server";
            return false;
        }
    }

    {
        TempDir run("brevonix-samba");
        if (run.Path().empty()) {
            why = "cannot make a temporary folder";
            return false;
        }
        run.Keep();
        dir_ = run.Path();
    }
    auto copyStart = Clock::now();
    CommandResult copy = RunCommand({"cp", "-a", templateDir + "/.", dir_}, {}, std::chrono::minutes(2));
    if (copy.exitCode != 0) {
        why = "cannot copy the template: " + copy.output;
        return false;
    }
    std::string origin = ReadTextFile(templateDir + "/.origin").value_or("");
    auto conf = ReadTextFile(dir_ + "/etc/smb.conf");
    if (origin.empty() || !conf || !WriteTextFile(dir_ + "/etc/smb.conf", ReplaceAll(*conf, origin, dir_))) {
        why = "cannot rewrite smb.conf in " + dir_;
        return false;
    }

    // Kerberos for the tests: the realm's KDC on loopback, and no DNS lookups at all.
    std::string krb5 = "[libdefaults]\n"
                       "\tdefault_realm = " +
                       realm_ +
                       "\n"
                       "\tdns_lookup_kdc = false\n"
                       "\tdns_lookup_realm = false\n"
                       "\trdns = false\n"
                       "\tdns_canonicalize_hostname = false\n"
                       "\tforwardable = false\n"
                       "[realms]\n\t" +
                       realm_ +
                       " = {\n\t\tkdc = 127.0.0.1\n\t\tadmin_server = 127.0.0.1\n\t}\n"
                       "[domain_realm]\n\t." +
                       dnsDomain_ + " = " + realm_ + "\n\t" + dnsDomain_ + " = " + realm_ + "\n";
    bool written = false;
    namespace_ = WriteNamespaceFiles(dir_ + "/ns", written);
    if (!written || !WriteTextFile(Krb5ConfPath(), krb5)) {
        why = "cannot write the fixture's files in " + dir_;
        return false;
    }
    long long copyMs = ElapsedMs(copyStart);

    // Samba in the foreground, inside the lab namespace, with its standard input on a pipe we hold:
    // "-i" ends the server when that input closes, so a test process that dies takes the server with
    // it.
    int in[2];
    if (pipe2(in, O_CLOEXEC) != 0) {
        why = "pipe failed";
        return false;
    }
    std::string conf2 = dir_ + "/etc/smb.conf";
    std::string logPath = LogPath();
    std::vector<std::string> args =
        NamespaceCommand({"samba", "-s", conf2, "-i", "-M", "single", "--debug-stdout"});
    std::vector<char*> argv;
    for (auto& a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    std::vector<std::string> envStrings = EnvironmentWith(NamespaceEnv(namespace_));
    std::vector<char*> envp;
    for (auto& e : envStrings)
        envp.push_back(e.data());
    envp.push_back(nullptr);
    pid_t parent = getpid();
    auto startStart = Clock::now();
    pid_t pid = fork();
    if (pid < 0) {
        why = "fork failed";
        return false;
    }
    if (pid == 0) {
        setpgid(0, 0);
        prctl(PR_SET_PDEATHSIG, SIGTERM);
        if (getppid() != parent) _exit(127);
        int log = open(logPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        dup2(in[0], 0);
        if (log >= 0) {
            dup2(log, 1);
            dup2(log, 2);
        }
        // unshare and the shell exec in turn: the server keeps this process, its parent-death
        // signal and its input.
        execvpe(argv[0], argv.data(), envp.data());
        _exit(127);
    }
    close(in[0]);
    pid_ = pid;
    stdinFd_ = in[1];

    auto deadline = Clock::now() + std::chrono::seconds(60);
    for (;;) {
        int status = 0;
        if (waitpid(pid_, &status, WNOHANG) == pid_) {
            pid_ = -1;
            why = "samba exited while starting:\n" + Tail(ReadTextFile(LogPath()).value_or(""));
            return false;
        }
        if (PortAnswers(kLdapPort) && PortAnswers(kLdapsPort) && PortAnswers(kKdcPort) &&
            PortAnswers(kDnsPort))
            break;
        if (Clock::now() > deadline) {
            why = "samba did not open its ports within 60 s:\n" + Tail(ReadTextFile(LogPath()).value_or(""));
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    Log("copied the template in " + std::to_string(copyMs) + " ms, Samba answered after " +
        std::to_string(ElapsedMs(startStart)) + " ms (" + std::to_string(ElapsedMs(totalStart)) +
        " ms in all); run folder " + dir_);
    return true;
}

void SambaFixture::Stop() {
    if (!owner_) return;
    if (stdinFd_ >= 0) {
        close(stdinFd_);
        stdinFd_ = -1;
    }
    if (pid_ > 0) {
        auto deadline = Clock::now() + std::chrono::seconds(10);
        int status = 0;
        bool gone = false;
        while (Clock::now() < deadline) {
            if (waitpid(pid_, &status, WNOHANG) == pid_) {
                gone = true;
                break;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        // Whatever is left of its process group goes too.
        kill(-pid_, SIGKILL);
        if (!gone) waitpid(pid_, &status, 0);
        pid_ = -1;
    }
    const char* keep = std::getenv("BREVONIX_KEEP_SAMBA");
    if (!dir_.empty() && !(keep && *keep == '1')) RemoveTree(dir_);
    if (lockFd_ >= 0) {
        close(lockFd_);
        lockFd_ = -1;
    }
    owner_ = false;
}

CommandResult SambaFixture::RunInNamespace(const std::vector<std::string>& argv, const EnvList& env,
                                           std::chrono::milliseconds timeout) const {
    EnvList all = env;
    all.emplace_back(kDirVariable, dir_);
    return samba_test::RunInNamespace(namespace_, argv, all, timeout);
}

CommandResult RunInNamespace(const NamespaceFiles& files, const std::vector<std::string>& argv,
                             const EnvList& env, std::chrono::milliseconds timeout) {
    EnvList all = env;
    for (auto& e : NamespaceEnv(files))
        all.push_back(e);
    if (const char* dir = std::getenv(kDirVariable); dir && *dir) all.emplace_back(kDirVariable, dir);
    return RunCommand(NamespaceCommand(argv), all, timeout);
}

void RunCurrentTestInNamespace(const NamespaceFiles& files, const EnvList& env) {
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    ASSERT_NE(info, nullptr);
    std::string name = std::string(info->test_suite_name()) + "." + info->name();
    std::error_code ec;
    std::string self = fs::read_symlink("/proc/self/exe", ec).string();
    ASSERT_FALSE(self.empty()) << "cannot find this test binary: " << ec.message();

    EnvList all = env;
    if (const SambaFixture* samba = Instance().get()) all.emplace_back(kDirVariable, samba->Dir());
    CommandResult r = RunInNamespace(files, {self, "--gtest_filter=" + name, "--gtest_color=no"}, all);
    bool ran = r.output.find("[  PASSED  ] 1 test.") != std::string::npos &&
               r.output.find("[  SKIPPED ]") == std::string::npos;
    EXPECT_TRUE(r.exitCode == 0 && ran)
        << "inside the lab namespace " << name << (r.timedOut ? " timed out" : " failed or did not run")
        << ", exit code " << r.exitCode << ":\n"
        << r.output;
}

bool InLabNamespace() {
    const char* flag = std::getenv(kNamespaceVariable);
    if (!flag || std::string(flag) != "1") return false;
    // Belt and braces: no lookup unless every nameserver really is on this machine.
    auto resolv = ReadTextFile("/etc/resolv.conf");
    if (!resolv) return false;
    std::istringstream lines(*resolv);
    std::string line;
    bool any = false;
    while (std::getline(lines, line)) {
        std::istringstream words(line);
        std::string key, value;
        words >> key >> value;
        if (key != "nameserver") continue;
        in_addr a{};
        if (inet_pton(AF_INET, value.c_str(), &a) != 1 || (ntohl(a.s_addr) >> 24) != 127) return false;
        any = true;
    }
    return any;
}

} // namespace brevonix::samba_test
