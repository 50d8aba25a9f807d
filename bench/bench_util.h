// Small helpers of the benchmark: clocks, memory, child processes and a flat key/value result file.
#pragma once

#include <map>
#include <string>
#include <vector>

namespace bench {

// Seconds on the system-wide monotonic clock (comparable between processes).
double Now();

// Peak resident memory of this process so far (VmHWM), and now (VmRSS), in bytes; 0 when unknown.
long long PeakRssBytes();
long long CurrentRssBytes();
// What this process holds of its own now: resident pages not backed by a file (heap, stacks, library
// data), i.e. resident less the mapped code and fonts that every Qt program on the desktop shares and
// the kernel can drop and read again.
long long CurrentPrivateBytes();

// Watches CurrentPrivateBytes() from a thread of its own every millisecond while it lives, since the
// kernel keeps no high-water mark for it.
class PrivatePeakSampler {
public:
    PrivatePeakSampler();
    ~PrivatePeakSampler();
    PrivatePeakSampler(const PrivatePeakSampler&) = delete;
    PrivatePeakSampler& operator=(const PrivatePeakSampler&) = delete;
    long long Peak() const;

private:
    struct State;
    State* m_state;
};
// User and system time this process has used so far; and another process of ours (0 if unknown).
double CpuSeconds();
double ProcessCpuSeconds(int pid);

// The path of this program, for running it again in another role.
std::string SelfPath();

enum class Output { Inherit, DevNull, Count };

struct ChildRun {
    int exitCode = -1;      // -1 when it did not exit normally or did not start
    double startedAt = 0;   // Now() just before it was started
    double seconds = 0;     // from then to its exit
    long long outBytes = 0; // standard output's size, with Output::Count
    double cpuSeconds = 0;  // user and system time it used
};

// Runs a program to its end with `extraEnv` ("NAME=value") added to this process's environment.
ChildRun Run(const std::vector<std::string>& argv, Output output,
             const std::vector<std::string>& extraEnv = {});

double Median(std::vector<double> values);

// Results passed from a worker process to the one that started it: one "key value" per line.
using Results = std::map<std::string, double>;
bool WriteResults(const std::string& path, const Results& results);
Results ReadResults(const std::string& path);

} // namespace bench
