// Small process, file and environment helpers for the Samba domain controller fixture and the tests
// of the domain locator and Kerberos code.
#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace brevonix::samba_test {

struct CommandResult {
    int exitCode = -1; // -1 when it did not exit normally (signal, timeout, could not start)
    bool timedOut = false;
    std::string output; // standard output and standard error together
};

using EnvList = std::vector<std::pair<std::string, std::string>>;

// Runs argv (argv[0] looked up on PATH) with the current environment plus `env`, standard input
// from `input`, and waits at most `timeout`; a command that overstays is killed with its process
// group.
CommandResult RunCommand(const std::vector<std::string>& argv, const EnvList& env = {},
                         std::chrono::milliseconds timeout = std::chrono::seconds(60),
                         const std::string& input = {});

// The current environment with `env` added or replaced, as "NAME=value" strings.
std::vector<std::string> EnvironmentWith(const EnvList& env);

// A directory under $TMPDIR (or /tmp), removed with its contents when the object goes.
class TempDir {
public:
    explicit TempDir(const std::string& prefix = "brevonix");
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::string& Path() const { return path_; }
    std::string File(const std::string& name) const { return path_ + "/" + name; }
    void Keep() { keep_ = true; }

private:
    std::string path_;
    bool keep_ = false;
};

bool WriteTextFile(const std::string& path, const std::string& text, int mode = 0644);
std::optional<std::string> ReadTextFile(const std::string& path);
void RemoveTree(const std::string& path);

// Sets (or with nullopt, removes) an environment variable for the lifetime of the object.
class ScopedEnv {
public:
    ScopedEnv(std::string name, const std::optional<std::string>& value);
    ~ScopedEnv();
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

private:
    std::string name_;
    std::optional<std::string> previous_;
};

// Milliseconds since `start`.
long long ElapsedMs(std::chrono::steady_clock::time_point start);

} // namespace brevonix::samba_test
