#include "bench_util.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <fstream>
#include <iterator>
#include <sstream>
#include <thread>

extern char** environ;

namespace bench {

double Now() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

namespace {
double Seconds(const timeval& tv) {
    return static_cast<double>(tv.tv_sec) + static_cast<double>(tv.tv_usec) * 1e-6;
}

long long StatusField(const std::string& name) {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind(name, 0) == 0) return std::stoll(line.substr(name.size())) * 1024;
    }
    return 0;
}
} // namespace

long long PeakRssBytes() {
    return StatusField("VmHWM:");
}

long long CurrentRssBytes() {
    return StatusField("VmRSS:");
}

long long CurrentPrivateBytes() {
    // statm: size resident shared ..., in pages; "shared" is the file-backed part of resident.
    std::ifstream statm("/proc/self/statm");
    long long size = 0, resident = 0, shared = 0;
    if (!(statm >> size >> resident >> shared)) return 0;
    return (resident - shared) * sysconf(_SC_PAGESIZE);
}

struct PrivatePeakSampler::State {
    std::atomic<bool> stop{false};
    std::atomic<long long> peak{0};
    std::thread thread;
};

PrivatePeakSampler::PrivatePeakSampler() : m_state(new State) {
    m_state->peak = CurrentPrivateBytes();
    m_state->thread = std::thread([s = m_state] {
        while (!s->stop.load(std::memory_order_relaxed)) {
            const long long now = CurrentPrivateBytes();
            if (now > s->peak.load(std::memory_order_relaxed)) s->peak = now;
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    });
}

PrivatePeakSampler::~PrivatePeakSampler() {
    m_state->stop = true;
    m_state->thread.join();
    delete m_state;
}

long long PrivatePeakSampler::Peak() const {
    return std::max(m_state->peak.load(), CurrentPrivateBytes());
}

double CpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return Seconds(usage.ru_utime) + Seconds(usage.ru_stime);
}

std::string SelfPath() {
    char buf[4096];
    const ssize_t n = readlink("/proc/self/exe", buf, sizeof buf - 1);
    return n > 0 ? std::string(buf, static_cast<size_t>(n)) : std::string();
}

double ProcessCpuSeconds(int pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    // The command name may hold blanks: count fields after its closing parenthesis.
    const size_t close = text.rfind(')');
    if (close == std::string::npos) return 0;
    std::istringstream fields(text.substr(close + 2));
    std::string field;
    double ticks = 0;
    for (int i = 3; fields >> field && i <= 15; ++i)
        if (i == 14 || i == 15) ticks += std::stod(field); // utime, stime
    return ticks / static_cast<double>(sysconf(_SC_CLK_TCK));
}

ChildRun Run(const std::vector<std::string>& argv, Output output, const std::vector<std::string>& extraEnv) {
    ChildRun result;
    std::vector<char*> args;
    for (const std::string& a : argv)
        args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);

    std::vector<std::string> envStrings;
    for (char** e = environ; *e; ++e) {
        const std::string entry(*e);
        const std::string name = entry.substr(0, entry.find('='));
        const bool replaced = std::any_of(extraEnv.begin(), extraEnv.end(),
                                          [&](const std::string& x) { return x.rfind(name + "=", 0) == 0; });
        if (!replaced) envStrings.push_back(entry);
    }
    envStrings.insert(envStrings.end(), extraEnv.begin(), extraEnv.end());
    std::vector<char*> env;
    for (std::string& e : envStrings)
        env.push_back(e.data());
    env.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    int pipeFds[2] = {-1, -1};
    if (output == Output::DevNull) {
        posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    } else if (output == Output::Count) {
        if (pipe2(pipeFds, O_CLOEXEC) != 0) {
            posix_spawn_file_actions_destroy(&actions);
            return result;
        }
        posix_spawn_file_actions_adddup2(&actions, pipeFds[1], 1);
    }

    const double start = Now();
    result.startedAt = start;
    pid_t pid = -1;
    const int rc = posix_spawn(&pid, args[0], &actions, nullptr, args.data(), env.data());
    posix_spawn_file_actions_destroy(&actions);
    if (pipeFds[1] >= 0) close(pipeFds[1]);
    if (rc != 0) {
        if (pipeFds[0] >= 0) close(pipeFds[0]);
        return result;
    }
    if (pipeFds[0] >= 0) {
        static char buf[1 << 16];
        for (;;) {
            const ssize_t n = read(pipeFds[0], buf, sizeof buf);
            if (n > 0) {
                result.outBytes += n;
            } else if (n == 0 || errno != EINTR) {
                break;
            }
        }
        close(pipeFds[0]);
    }
    int status = 0;
    rusage usage{};
    while (wait4(pid, &status, 0, &usage) < 0 && errno == EINTR) {
    }
    result.seconds = Now() - start;
    result.cpuSeconds = Seconds(usage.ru_utime) + Seconds(usage.ru_stime);
    result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return result;
}

double Median(std::vector<double> values) {
    if (values.empty()) return 0;
    std::sort(values.begin(), values.end());
    const size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

bool WriteResults(const std::string& path, const Results& results) {
    std::ofstream out(path, std::ios::trunc);
    out.precision(17);
    for (const auto& [key, value] : results)
        out << key << ' ' << value << '\n';
    return static_cast<bool>(out);
}

Results ReadResults(const std::string& path) {
    Results results;
    std::ifstream in(path);
    std::string key;
    double value;
    while (in >> key >> value)
        results[key] = value;
    return results;
}

} // namespace bench
