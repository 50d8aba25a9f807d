#include "support/process_util.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <string.h>
#include <sys/file.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <filesystem>
#include <map>

extern char** environ;

namespace brevonix::test {

namespace {

using Clock = std::chrono::steady_clock;

// argv/envp arrays built before fork(): nothing may allocate in the child.
struct ExecArgs {
    std::vector<std::string> args;
    std::vector<std::string> env;
    std::vector<char*> argv;
    std::vector<char*> envp;

    ExecArgs(const std::vector<std::string>& a, const std::vector<std::string>& extraEnv) : args(a) {
        std::map<std::string, std::string> vars;
        for (char** e = environ; e && *e; ++e) {
            std::string s(*e);
            vars[s.substr(0, s.find('='))] = s;
        }
        for (const std::string& s : extraEnv)
            vars[s.substr(0, s.find('='))] = s;
        for (auto& [name, entry] : vars)
            env.push_back(entry);
        for (std::string& s : args)
            argv.push_back(s.data());
        argv.push_back(nullptr);
        for (std::string& s : env)
            envp.push_back(s.data());
        envp.push_back(nullptr);
    }
};

// In the child, between fork and exec: tie its life to the parent, set up descriptors, exec.
[[noreturn]] void ExecChild(pid_t parent, const ExecArgs& exec, int stdinFd, int outFd, int errorPipe) {
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (getppid() != parent) _exit(127);
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
    dup2(stdinFd, 0);
    dup2(outFd, 1);
    dup2(outFd, 2);
    execve(exec.argv[0], exec.argv.data(), exec.envp.data());
    const int err = errno;
    (void)!write(errorPipe, &err, sizeof err);
    _exit(127);
}

// Forks and execs; returns the pid, or -1 with `error` set when the program could not be started.
pid_t Spawn(const ExecArgs& exec, int stdinFd, int outFd, std::string& error) {
    int errorPipe[2];
    if (pipe2(errorPipe, O_CLOEXEC) != 0) {
        error = std::string("pipe: ") + strerror(errno);
        return -1;
    }
    const pid_t parent = getpid();
    const pid_t pid = fork();
    if (pid == 0) ExecChild(parent, exec, stdinFd, outFd, errorPipe[1]);
    close(errorPipe[1]);
    if (pid < 0) {
        error = std::string("fork: ") + strerror(errno);
        close(errorPipe[0]);
        return -1;
    }
    int childErrno = 0;
    ssize_t n;
    do {
        n = read(errorPipe[0], &childErrno, sizeof childErrno);
    } while (n < 0 && errno == EINTR);
    close(errorPipe[0]);
    if (n == sizeof childErrno) {
        waitpid(pid, nullptr, 0);
        error = "cannot run " + exec.args.front() + ": " + strerror(childErrno);
        return -1;
    }
    return pid;
}

} // namespace

// ---- TempDir --------------------------------------------------------------------------------------

TempDir::TempDir(const std::string& prefix) {
    const char* base = getenv("TMPDIR");
    std::string templ = std::string(base && *base ? base : "/tmp") + "/" + prefix + "-XXXXXX";
    if (mkdtemp(templ.data())) m_path = templ;
}

TempDir::~TempDir() {
    if (m_path.empty() || m_keep) return;
    std::error_code ec;
    std::filesystem::remove_all(m_path, ec);
}

// ---- Locks held by another process -----------------------------------------------------------------

namespace {

bool LockExclusively(int fd, FileLock kind, bool wait) {
    if (fd < 0) return false;
    if (kind == FileLock::Flock) return flock(fd, LOCK_EX | (wait ? 0 : LOCK_NB)) == 0;
    struct flock whole {};
    whole.l_type = F_WRLCK;
    whole.l_whence = SEEK_SET;
    return fcntl(fd, wait ? F_SETLKW : F_SETLK, &whole) == 0;
}

} // namespace

FileLockHolder::FileLockHolder(const std::string& path, FileLock kind) {
    int ready[2], release[2];
    if (pipe(ready) != 0) return;
    if (pipe(release) != 0) {
        close(ready[0]);
        close(ready[1]);
        return;
    }
    m_pid = fork();
    if (m_pid == 0) {
        close(ready[0]);
        close(release[1]);
        const char ok = LockExclusively(open(path.c_str(), O_RDWR), kind, true) ? 'y' : 'n';
        if (write(ready[1], &ok, 1) != 1) _exit(1);
        char c;
        while (read(release[0], &c, 1) > 0) {
        }
        _exit(0);
    }
    close(ready[1]);
    close(release[0]);
    m_release = release[1];
    char ok = 'n';
    m_locked = m_pid > 0 && read(ready[0], &ok, 1) == 1 && ok == 'y';
    close(ready[0]);
}

FileLockHolder::~FileLockHolder() {
    if (m_release >= 0) close(m_release);
    if (m_pid > 0) waitpid(m_pid, nullptr, 0);
}

bool AnotherProcessCanLock(const std::string& path, FileLock kind) {
    const pid_t pid = fork();
    if (pid == 0) _exit(LockExclusively(open(path.c_str(), O_RDWR), kind, false) ? 0 : 1);
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

// ---- RunProcess -----------------------------------------------------------------------------------

ProcessResult RunProcess(const std::vector<std::string>& argv, int timeoutSeconds,
                         const std::vector<std::string>& extraEnv) {
    ProcessResult result;
    if (argv.empty()) return result;
    ExecArgs exec(argv, extraEnv);
    int out[2];
    if (pipe2(out, O_CLOEXEC) != 0) return result;
    const int devNull = open("/dev/null", O_RDONLY | O_CLOEXEC);
    std::string error;
    const pid_t pid = Spawn(exec, devNull, out[1], error);
    close(out[1]);
    close(devNull);
    if (pid < 0) {
        close(out[0]);
        result.output = error;
        return result;
    }

    const auto deadline = Clock::now() + std::chrono::seconds(timeoutSeconds);
    char buffer[8192];
    for (;;) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0) {
            result.timedOut = true;
            kill(pid, SIGKILL);
            break;
        }
        pollfd p{out[0], POLLIN, 0};
        const int r = poll(&p, 1, static_cast<int>(left));
        if (r < 0 && errno == EINTR) continue;
        if (r <= 0) continue;
        const ssize_t n = read(out[0], buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        result.output.append(buffer, static_cast<size_t>(n));
    }
    close(out[0]);
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    if (!result.timedOut && WIFEXITED(status)) result.exitCode = WEXITSTATUS(status);
    return result;
}

// ---- ChildProcess ---------------------------------------------------------------------------------

std::unique_ptr<ChildProcess> ChildProcess::Start(const std::vector<std::string>& argv,
                                                  const std::string& logFile,
                                                  const std::vector<std::string>& extraEnv,
                                                  std::string& error) {
    if (argv.empty()) {
        error = "no program";
        return nullptr;
    }
    ExecArgs exec(argv, extraEnv);
    const int log = open(logFile.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    if (log < 0) {
        error = "cannot open " + logFile + ": " + strerror(errno);
        return nullptr;
    }
    const int devNull = open("/dev/null", O_RDONLY | O_CLOEXEC);
    const pid_t pid = Spawn(exec, devNull, log, error);
    close(log);
    close(devNull);
    if (pid < 0) return nullptr;
    return std::unique_ptr<ChildProcess>(new ChildProcess(pid));
}

ChildProcess::~ChildProcess() {
    Kill();
}

bool ChildProcess::Reap(bool block) {
    if (m_reaped) return true;
    int status = 0;
    pid_t r;
    do {
        r = waitpid(m_pid, &status, block ? 0 : WNOHANG);
    } while (r < 0 && errno == EINTR);
    if (r == m_pid || (r < 0 && errno == ECHILD)) {
        m_reaped = true;
        if (r == m_pid && WIFEXITED(status)) m_exitCode = WEXITSTATUS(status);
        return true;
    }
    return false;
}

bool ChildProcess::Running() {
    return !Reap(false);
}

void ChildProcess::Signal(int signal) {
    if (!m_reaped) kill(m_pid, signal);
}

void ChildProcess::Stop(int graceMs) {
    if (m_reaped) return;
    kill(m_pid, SIGCONT); // a stopped process cannot act on SIGTERM
    kill(m_pid, SIGTERM);
    const auto deadline = Clock::now() + std::chrono::milliseconds(graceMs);
    while (Clock::now() < deadline) {
        if (Reap(false)) return;
        usleep(10000);
    }
    Kill();
}

void ChildProcess::Kill() {
    if (m_reaped) return;
    kill(m_pid, SIGKILL);
    Reap(true);
}

// ---- Ports ----------------------------------------------------------------------------------------

int FreeLoopbackPort() {
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return 0;
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = 0;
    socklen_t len = sizeof addr;
    int port = 0;
    if (bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0 &&
        getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len) == 0)
        port = ntohs(addr.sin_port);
    close(fd);
    return port;
}

namespace {

int ConnectLoopback(int port) {
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return -1;
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = htons(static_cast<uint16_t>(port));
    if (connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
        close(fd);
        return -1;
    }
    return fd;
}

bool WriteAll(int fd, const char* data, size_t size) {
    while (size > 0) {
        const ssize_t n = send(fd, data, size, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        data += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

} // namespace

bool WaitForLoopbackPort(int port, int timeoutMs, const std::function<bool()>& stillAlive) {
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    while (Clock::now() < deadline) {
        if (const int fd = ConnectLoopback(port); fd >= 0) {
            close(fd);
            return true;
        }
        if (stillAlive && !stillAlive()) return false;
        usleep(20000);
    }
    return false;
}

// ---- RecordingTcpProxy ----------------------------------------------------------------------------

RecordingTcpProxy::RecordingTcpProxy(int targetPort) : m_targetPort(targetPort) {
    if (pipe2(m_wakeFd, O_CLOEXEC) != 0) return;
    m_listenFd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (m_listenFd < 0) return;
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof addr;
    if (bind(m_listenFd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
        listen(m_listenFd, 16) != 0 || getsockname(m_listenFd, reinterpret_cast<sockaddr*>(&addr), &len) != 0)
        return;
    m_port = ntohs(addr.sin_port);
    m_thread = std::thread([this] { Run(); });
}

RecordingTcpProxy::~RecordingTcpProxy() {
    m_stop = true;
    if (m_wakeFd[1] >= 0) (void)!write(m_wakeFd[1], "x", 1);
    if (m_thread.joinable()) m_thread.join();
    for (std::thread& t : m_relays)
        t.join();
    if (m_listenFd >= 0) close(m_listenFd);
    for (int fd : m_wakeFd)
        if (fd >= 0) close(fd);
}

std::string RecordingTcpProxy::ClientBytes() const {
    std::lock_guard lock(m_mutex);
    return m_clientBytes;
}

void RecordingTcpProxy::Run() {
    while (!m_stop) {
        pollfd p[2] = {{m_listenFd, POLLIN, 0}, {m_wakeFd[0], POLLIN, 0}};
        if (poll(p, 2, -1) < 0) continue;
        if (p[1].revents) break;
        if (!(p[0].revents & POLLIN)) continue;
        const int client = accept4(m_listenFd, nullptr, nullptr, SOCK_CLOEXEC);
        if (client < 0) continue;
        ++m_connections;
        m_relays.emplace_back([this, client] { Relay(client); });
    }
}

void RecordingTcpProxy::Relay(int client) {
    const int server = ConnectLoopback(m_targetPort);
    if (server < 0) {
        close(client);
        return;
    }
    char buffer[16384];
    bool open = true;
    while (open && !m_stop) {
        pollfd p[3] = {{client, POLLIN, 0}, {server, POLLIN, 0}, {m_wakeFd[0], POLLIN, 0}};
        if (poll(p, 3, -1) < 0) continue;
        if (p[2].revents) break;
        for (int i = 0; i < 2 && open; ++i) {
            if (!(p[i].revents & (POLLIN | POLLHUP | POLLERR))) continue;
            const ssize_t n = recv(p[i].fd, buffer, sizeof buffer, 0);
            if (n <= 0) {
                open = false;
                break;
            }
            if (i == 0) {
                std::lock_guard lock(m_mutex);
                m_clientBytes.append(buffer, static_cast<size_t>(n));
            }
            open = WriteAll(i == 0 ? server : client, buffer, static_cast<size_t>(n));
        }
    }
    close(client);
    close(server);
}

bool ContainsBytes(const std::string& haystack, const std::string& needle) {
    return !needle.empty() && haystack.find(needle) != std::string::npos;
}

} // namespace brevonix::test
