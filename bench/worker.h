// The two roles the benchmark runs in processes of their own, so that each measures a fresh process:
// the worker (one directory size: server, ldapsearch, the window) and the start-up probe.
#pragma once

#include <string>

namespace bench {

struct WorkerOptions {
    int users = 0;
    int runs = 3;
    std::string resultPath; // where the results go (see bench_util.h)
    std::string outDir;     // where the exported files are written (and removed again)
};

// Starts slapd with `users` generated users and, `runs` times: ldapsearch, then the window from the
// typed credentials to the exported file. Returns 0 when every step ran, whatever the figures.
int RunWorker(const WorkerOptions& options);

// Starts the tool as its own main does and records when the main window is up and painted.
int RunStartupProbe(const std::string& resultPath);

} // namespace bench
