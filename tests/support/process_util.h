// Helpers for test fixtures that run real servers: temporary folders, child processes that never
// outlive the test process, free loopback ports, and a loopback TCP relay that records what clients
// send. No test framework types, so benchmarks and tools can use them too.
#pragma once

#include <sys/types.h>

#include <atomic>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace brevonix::test {

// A new folder under $TMPDIR (or /tmp), removed with everything in it when the object goes away,
// unless Keep() was called (handy when a test fails and the server's files should be looked at).
class TempDir {
public:
    explicit TempDir(const std::string& prefix = "brevonix");
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::string& Path() const { return m_path; }
    std::filesystem::path operator/(const std::string& name) const {
        return std::filesystem::path(m_path) / name;
    }
    bool Valid() const { return !m_path.empty(); }
    void Keep() { m_keep = true; }

private:
    std::string m_path;
    bool m_keep = false;
};

// How another program keeps a file for itself: flock(2), or a POSIX record lock over the whole
// file through fcntl(2), as office suites do.
enum class FileLock { Flock, Record };

// Another process that holds an exclusive lock on a file until this object goes away.
class FileLockHolder {
public:
    FileLockHolder(const std::string& path, FileLock kind);
    ~FileLockHolder();
    FileLockHolder(const FileLockHolder&) = delete;
    FileLockHolder& operator=(const FileLockHolder&) = delete;
    bool Locked() const { return m_locked; }

private:
    pid_t m_pid = -1;
    int m_release = -1;
    bool m_locked = false;
};

// Whether a separate process could take an exclusive lock of that kind on the file right now.
bool AnotherProcessCanLock(const std::string& path, FileLock kind);

struct ProcessResult {
    int exitCode = -1; // the exit status, or -1 when it did not exit normally (killed, not started)
    bool timedOut = false;
    std::string output; // standard output and standard error, interleaved
};

// Runs a program to completion, with `extraEnv` ("NAME=value") added to this process's environment.
// A program still running after `timeoutSeconds` is killed.
ProcessResult RunProcess(const std::vector<std::string>& argv, int timeoutSeconds = 120,
                         const std::vector<std::string>& extraEnv = {});

// A long-running child (a server). It is killed when this object goes away, and the kernel kills it
// when the test process dies for any reason (PR_SET_PDEATHSIG), so a crashed or failed test leaves
// no server behind. Start it from the thread that lives as long as the child should (the main
// thread in a test suite).
class ChildProcess {
public:
    // Standard output and standard error go to `logFile` (appended). Null on failure, with the
    // reason in `error`.
    static std::unique_ptr<ChildProcess> Start(const std::vector<std::string>& argv,
                                               const std::string& logFile,
                                               const std::vector<std::string>& extraEnv, std::string& error);
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    pid_t Pid() const { return m_pid; }
    // True while the process has not exited (a stopped process is still running).
    bool Running();
    void Signal(int signal);
    // SIGTERM, then SIGKILL if it has not gone after `graceMs`; reaps it.
    void Stop(int graceMs = 5000);
    // SIGKILL at once; reaps it.
    void Kill();
    // The exit status once it has ended (-1 if killed by a signal or still running).
    int ExitCode() const { return m_exitCode; }

private:
    explicit ChildProcess(pid_t pid) : m_pid(pid) {}
    bool Reap(bool block);

    pid_t m_pid = -1;
    bool m_reaped = false;
    int m_exitCode = -1;
};

// A TCP port on 127.0.0.1 that was free a moment ago.
int FreeLoopbackPort();

// Waits until something accepts connections on 127.0.0.1:port. Gives up early when `stillAlive`
// returns false (the server died).
bool WaitForLoopbackPort(int port, int timeoutMs, const std::function<bool()>& stillAlive = {});

// Listens on 127.0.0.1 and relays every connection to 127.0.0.1:targetPort, recording all bytes the
// clients send. Lets a test prove what did (or did not) cross the wire.
class RecordingTcpProxy {
public:
    explicit RecordingTcpProxy(int targetPort);
    ~RecordingTcpProxy();
    RecordingTcpProxy(const RecordingTcpProxy&) = delete;
    RecordingTcpProxy& operator=(const RecordingTcpProxy&) = delete;

    int Port() const { return m_port; }
    bool Valid() const { return m_port > 0; }
    // Everything clients have sent so far, all connections in order of arrival.
    std::string ClientBytes() const;
    int Connections() const { return m_connections; }

private:
    void Run();
    void Relay(int client);

    int m_targetPort;
    int m_listenFd = -1;
    int m_port = 0;
    int m_wakeFd[2] = {-1, -1};
    std::atomic<bool> m_stop{false};
    std::atomic<int> m_connections{0};
    mutable std::mutex m_mutex;
    std::string m_clientBytes;
    std::thread m_thread;
    std::vector<std::thread> m_relays;
};

// True when `needle` occurs anywhere in `haystack` (bytes, not text).
bool ContainsBytes(const std::string& haystack, const std::string& needle);

} // namespace brevonix::test
