#include "support/samba_process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>

extern char** environ;

namespace brevonix::samba_test {

std::vector<std::string> EnvironmentWith(const EnvList& extra) {
    std::map<std::string, std::string> env;
    for (char** e = environ; *e; ++e) {
        std::string entry = *e;
        auto eq = entry.find('=');
        if (eq != std::string::npos) env[entry.substr(0, eq)] = entry.substr(eq + 1);
    }
    for (const auto& [k, v] : extra)
        env[k] = v;
    std::vector<std::string> out;
    for (const auto& [k, v] : env)
        out.push_back(k + "=" + v);
    return out;
}

namespace {

std::vector<char*> Pointers(std::vector<std::string>& strings) {
    std::vector<char*> out;
    for (auto& s : strings)
        out.push_back(s.data());
    out.push_back(nullptr);
    return out;
}

} // namespace

CommandResult RunCommand(const std::vector<std::string>& argv, const EnvList& env,
                         std::chrono::milliseconds timeout, const std::string& input) {
    CommandResult result;
    if (argv.empty()) return result;
    int out[2], in[2];
    if (pipe2(out, O_CLOEXEC) != 0) return result;
    if (pipe2(in, O_CLOEXEC) != 0) {
        close(out[0]);
        close(out[1]);
        return result;
    }

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, in[0], 0);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    posix_spawn_file_actions_adddup2(&actions, out[1], 2);
    posix_spawnattr_t attr;
    posix_spawnattr_init(&attr);
    // Own process group, so a timeout can end everything the command started.
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETPGROUP);
    posix_spawnattr_setpgroup(&attr, 0);

    std::vector<std::string> args = argv;
    std::vector<std::string> envStrings = EnvironmentWith(env);
    auto argp = Pointers(args);
    auto envp = Pointers(envStrings);
    pid_t pid = -1;
    int rc = posix_spawnp(&pid, argv[0].c_str(), &actions, &attr, argp.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attr);
    close(out[1]);
    close(in[0]);
    if (rc != 0) {
        close(out[0]);
        close(in[1]);
        result.output = "cannot start " + argv[0] + ": " + std::strerror(rc);
        return result;
    }

    // Feed input (small) then close, so the command sees end of input.
    size_t written = 0;
    signal(SIGPIPE, SIG_IGN);
    while (written < input.size()) {
        ssize_t n = write(in[1], input.data() + written, input.size() - written);
        if (n <= 0) break;
        written += static_cast<size_t>(n);
    }
    close(in[1]);

    auto deadline = std::chrono::steady_clock::now() + timeout;
    char buffer[4096];
    for (;;) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline -
                                                                          std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            result.timedOut = true;
            kill(-pid, SIGKILL);
            break;
        }
        pollfd p{out[0], POLLIN, 0};
        int n = poll(&p, 1, static_cast<int>(std::min<long long>(left.count(), 1000)));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) continue;
        ssize_t got = read(out[0], buffer, sizeof buffer);
        if (got <= 0) break;
        result.output.append(buffer, static_cast<size_t>(got));
    }
    close(out[0]);
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    if (!result.timedOut && WIFEXITED(status)) result.exitCode = WEXITSTATUS(status);
    return result;
}

TempDir::TempDir(const std::string& prefix) {
    const char* tmp = std::getenv("TMPDIR");
    std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/" + prefix + "-XXXXXX";
    std::vector<char> buf(pattern.begin(), pattern.end());
    buf.push_back(0);
    if (mkdtemp(buf.data())) path_ = buf.data();
}

TempDir::~TempDir() {
    if (!keep_ && !path_.empty()) RemoveTree(path_);
}

bool WriteTextFile(const std::string& path, const std::string& text, int mode) {
    {
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        if (!out) return false;
        out << text;
        if (!out) return false;
    }
    return chmod(path.c_str(), static_cast<mode_t>(mode)) == 0;
}

std::optional<std::string> ReadTextFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return std::nullopt;
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

void RemoveTree(const std::string& path) {
    std::error_code ec;
    std::filesystem::remove_all(path, ec);
}

ScopedEnv::ScopedEnv(std::string name, const std::optional<std::string>& value) : name_(std::move(name)) {
    if (const char* old = std::getenv(name_.c_str())) previous_ = old;
    if (value)
        setenv(name_.c_str(), value->c_str(), 1);
    else
        unsetenv(name_.c_str());
}

ScopedEnv::~ScopedEnv() {
    if (previous_)
        setenv(name_.c_str(), previous_->c_str(), 1);
    else
        unsetenv(name_.c_str());
}

long long ElapsedMs(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start)
        .count();
}

} // namespace brevonix::samba_test
