// brevonix_bench: how fast the tool lists and exports a large directory, next to ldapsearch on the
// same server and data.
//
//   brevonix_bench                 10,000 and 100,000 users, three runs each
//   brevonix_bench --million       and 1,000,000 users as well
//   brevonix_bench --users 20000   any sizes (comma-separated)
//   brevonix_bench --smoke         2,000 users, one run: checks only that everything completes and
//                                  that the file holds every object the window listed
//   options: --runs R, --json FILE (default brevonix-bench.json), --out-dir DIR (exported files)
//
// Each size runs in a fresh process of its own (the same program, in its worker role), so that its
// peak memory is its own; the start-up time is measured on fresh processes too.
#include <stdlib.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "bench_util.h"
#include "worker.h"

namespace {

using bench::Median;
using bench::Results;

struct Options {
    bool smoke = false;
    std::vector<int> users = {10000, 100000};
    int runs = 3;
    int startupRuns = 3;
    std::string json = "brevonix-bench.json";
    std::string outDir;
};

// The targets: Generate within 1.3 x ldapsearch, export within a quarter of Generate, peak memory of
// the process's own (not the shared library code it maps) within 3 x the result's LDIF, 10 x the users within
// 11 x the time, the window within 0.3 s.
constexpr double kGenerateVsLdapsearch = 1.3;
constexpr double kExportVsGenerate = 0.25;
constexpr double kMemoryVsLdif = 3.0;
constexpr double kGrowthPerTenfold = 11.0;
constexpr double kStartupSeconds = 0.3;

struct SizeSummary {
    int users = 0;
    Results raw;
    double ldifBytes = 0, ldapsearch = 0, generate = 0, bind = 0, fill = 0, exportS = 0, csvBytes = 0,
           peakRss = 0, idleRss = 0, peakPrivate = 0, idlePrivate = 0, generateRatio = 0, exportRatio = 0;
    bool complete = true;
    std::vector<std::string> problems;
};

double PerRunMedian(const Results& r, int runs, const std::string& key) {
    std::vector<double> v;
    for (int i = 0; i < runs; ++i) {
        auto it = r.find("run" + std::to_string(i) + "." + key);
        if (it != r.end()) v.push_back(it->second);
    }
    return Median(v);
}

// Same-run ratios: ldapsearch's time varies from run to run, so each run is compared with its own.
double RatioMedian(const Results& r, int runs, const std::string& num, const std::string& den) {
    std::vector<double> v;
    for (int i = 0; i < runs; ++i) {
        const std::string p = "run" + std::to_string(i) + ".";
        auto a = r.find(p + num), b = r.find(p + den);
        if (a != r.end() && b != r.end() && b->second > 0) v.push_back(a->second / b->second);
    }
    return Median(v);
}

SizeSummary Summarise(int users, const Results& r, int runs) {
    SizeSummary s;
    s.users = users;
    s.raw = r;
    auto get = [&](const std::string& k) {
        auto it = r.find(k);
        return it == r.end() ? 0.0 : it->second;
    };
    s.ldifBytes = get("ldif_bytes");
    s.peakRss = PerRunMedian(r, runs, "peak_rss_bytes");
    // The process with its window up and nothing listed yet: a fixed cost, whatever the directory.
    s.idleRss = get("run0.idle_rss_bytes");
    // The memory the target is about: what the process holds of its own (see CurrentPrivateBytes).
    s.peakPrivate = PerRunMedian(r, runs, "peak_private_bytes");
    s.idlePrivate = get("run0.idle_private_bytes");
    s.ldapsearch = PerRunMedian(r, runs, "ldapsearch_s");
    s.generate = PerRunMedian(r, runs, "generate_s");
    s.bind = PerRunMedian(r, runs, "bind_s");
    s.fill = PerRunMedian(r, runs, "fill_s");
    s.exportS = PerRunMedian(r, runs, "export_s");
    s.csvBytes = PerRunMedian(r, runs, "csv_bytes");
    s.generateRatio = RatioMedian(r, runs, "generate_s", "ldapsearch_s");
    s.exportRatio = RatioMedian(r, runs, "export_s", "generate_s");

    // What the window showed and what the file holds must be every object, in every run.
    const double expected = get("objects_expected");
    for (int i = 0; i < runs; ++i) {
        const std::string p = "run" + std::to_string(i) + ".";
        auto check = [&](const std::string& key, double want) {
            const double have = get(p + key);
            if (have != want) {
                s.complete = false;
                char text[200];
                std::snprintf(text, sizeof text, "run %d: %s is %.0f, expected %.0f", i + 1, key.c_str(),
                              have, want);
                s.problems.push_back(text);
            }
        };
        check("columns", 17);
        check("rows_listed", expected);
        check("count_shown", expected);
        check("csv_rows", expected);
        check("messages", 0);
    }
    return s;
}

std::string Thousands(long long v) {
    std::string digits = std::to_string(v), out;
    for (size_t i = 0; i < digits.size(); ++i) {
        if (i && (digits.size() - i) % 3 == 0) out += ',';
        out += digits[i];
    }
    return out;
}

std::string Capture(const std::string& command) {
    std::string out;
    if (FILE* p = popen(command.c_str(), "r")) {
        char buf[256];
        while (std::fgets(buf, sizeof buf, p))
            out += buf;
        pclose(p);
    }
    while (!out.empty() && (out.back() == '\n' || out.back() == ' '))
        out.pop_back();
    return out;
}

const char* Verdict(bool met) {
    return met ? "met" : "NOT met";
}

int Orchestrate(const Options& o) {
    const std::string self = bench::SelfPath();
    char tmpl[] = "/tmp/brevonix-bench-XXXXXX";
    if (!mkdtemp(tmpl)) {
        std::perror("mkdtemp");
        return 2;
    }
    const std::string work = tmpl;
    const std::string outDir = o.outDir.empty() ? work : o.outDir;

    // The runs go round the sizes, one run of each size and then the next round, each in a fresh
    // process: a stretch of load from elsewhere on the machine then falls on every size alike.
    std::map<int, Results> bySize;
    bool failed = false;
    for (int round = 0; round < o.runs; ++round) {
        for (int users : o.users) {
            const std::string resultPath = work + "/worker-" + std::to_string(users) + ".txt";
            const bench::ChildRun w = bench::Run({self, "--worker", std::to_string(users), "--runs", "1",
                                                  "--result", resultPath, "--out-dir", outDir},
                                                 bench::Output::Inherit);
            const Results r = bench::ReadResults(resultPath);
            std::remove(resultPath.c_str());
            if (w.exitCode != 0 || r.empty()) {
                std::fprintf(stderr, "the run with %d users failed (exit %d)\n", users, w.exitCode);
                failed = true;
            }
            const std::string run = "run" + std::to_string(round) + ".";
            for (const auto& [key, value] : r) {
                if (key.rfind("run0.", 0) == 0)
                    bySize[users][run + key.substr(5)] = value;
                else if (key == "peak_rss_bytes" || key == "peak_private_bytes")
                    bySize[users][run + key] = value;
                else
                    bySize[users][key] = value;
            }
        }
    }
    std::vector<SizeSummary> sizes;
    for (int users : o.users) {
        if (bySize[users].empty()) continue;
        sizes.push_back(Summarise(users, bySize[users], o.runs));
        if (!sizes.back().complete) failed = true;
    }

    std::vector<double> startup;
    for (int i = 0; i < o.startupRuns; ++i) {
        const std::string resultPath = work + "/startup.txt";
        const bench::ChildRun p =
            bench::Run({self, "--startup-probe", "--result", resultPath}, bench::Output::Inherit);
        const Results r = bench::ReadResults(resultPath);
        std::remove(resultPath.c_str());
        auto it = r.find("shown_at");
        if (p.exitCode != 0 || it == r.end()) {
            std::fprintf(stderr, "the start-up probe failed (exit %d)\n", p.exitCode);
            failed = true;
            continue;
        }
        startup.push_back(it->second - p.startedAt);
    }
    rmdir(work.c_str());
    const double startupMedian = Median(startup);

    // ---- the table
    const std::string commit = Capture("git -C '" BREVONIX_SOURCE_DIR "' rev-parse --short HEAD 2>/dev/null");
    const bool dirty =
        !Capture("git -C '" BREVONIX_SOURCE_DIR "' status --porcelain --untracked-files=no 2>/dev/null")
             .empty();
    const long cores = sysconf(_SC_NPROCESSORS_ONLN);
    std::printf("\nBrevonix bench: %ld cores, StartTLS, 17 columns, pages of 1000, median of %d run%s "
                "(commit %s%s)\n\n",
                cores, o.runs, o.runs == 1 ? "" : "s", commit.empty() ? "?" : commit.c_str(),
                dirty ? ", modified" : "");
    std::printf(
        "| users | LDIF MB | ldapsearch s | Generate s | bind s | search+fill s | Generate/ldapsearch "
        "| export s | CSV MB | export/Generate | peak private MB | idle private MB | peak private/LDIF "
        "| peak RSS MB | idle RSS MB | peak RSS/LDIF |\n");
    std::printf("|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|\n");
    for (const SizeSummary& s : sizes) {
        const double ldif = s.ldifBytes > 0 ? s.ldifBytes : 1;
        std::printf("| %s | %.1f | %.2f | %.2f | %.3f | %.2f | %.2f | %.3f | %.1f | %.3f | %.0f | %.0f | "
                    "%.2f | %.0f | %.0f | %.2f |\n",
                    Thousands(s.users).c_str(), s.ldifBytes / 1e6, s.ldapsearch, s.generate, s.bind, s.fill,
                    s.generateRatio, s.exportS, s.csvBytes / 1e6, s.exportRatio, s.peakPrivate / 1e6,
                    s.idlePrivate / 1e6, s.peakPrivate / ldif, s.peakRss / 1e6, s.idleRss / 1e6,
                    s.peakRss / ldif);
    }
    std::printf("\nMain window shown %.3f s after the process started (median of %zu).\n", startupMedian,
                startup.size());

    // ---- the targets (a smoke run checks only that everything completes)
    std::string growthText;
    if (!o.smoke) {
        std::printf("\nTargets:\n");
        for (const SizeSummary& s : sizes) {
            std::printf("  %s users: Generate/ldapsearch %.2f <= %.2f %s; export/Generate %.3f <= %.2f %s; "
                        "peak private memory/LDIF %.2f <= %.1f %s (peak RSS/LDIF %.2f)\n",
                        Thousands(s.users).c_str(), s.generateRatio, kGenerateVsLdapsearch,
                        Verdict(s.generateRatio <= kGenerateVsLdapsearch), s.exportRatio, kExportVsGenerate,
                        Verdict(s.exportRatio <= kExportVsGenerate), s.peakPrivate / s.ldifBytes,
                        kMemoryVsLdif, Verdict(s.peakPrivate <= kMemoryVsLdif * s.ldifBytes),
                        s.peakRss / s.ldifBytes);
        }
        for (size_t i = 0; i + 1 < sizes.size(); ++i)
            for (size_t j = i + 1; j < sizes.size(); ++j) {
                if (sizes[j].users != sizes[i].users * 10) continue;
                // The run: Generate and export together, compared round by round; the two are shown
                // apart as well, and the tool's own CPU time, which load elsewhere hardly changes.
                auto growth = [&](std::initializer_list<const char*> keys) {
                    std::vector<double> ratios;
                    for (int round = 0; round < o.runs; ++round) {
                        double big = 0, small = 0;
                        for (const char* key : keys) {
                            const std::string k = "run" + std::to_string(round) + "." + key;
                            big += sizes[j].raw.count(k) ? sizes[j].raw.at(k) : 0;
                            small += sizes[i].raw.count(k) ? sizes[i].raw.at(k) : 0;
                        }
                        if (small > 0) ratios.push_back(big / small);
                    }
                    return Median(ratios);
                };
                const double g = growth({"generate_s"});
                const double e = growth({"export_s"});
                const double run = growth({"generate_s", "export_s"});
                const double cpu = growth({"generate_cpu_s", "export_cpu_s"});
                char text[300];
                std::snprintf(
                    text, sizeof text,
                    "%s / %s users: Generate + export %.2fx <= %.0fx %s (Generate %.2fx, export %.2fx; "
                    "the tool's CPU time %.2fx)",
                    Thousands(sizes[j].users).c_str(), Thousands(sizes[i].users).c_str(), run,
                    kGrowthPerTenfold, Verdict(run <= kGrowthPerTenfold), g, e, cpu);
                std::printf("  %s\n", text);
                growthText += (growthText.empty() ? "" : "; ") + std::string(text);
            }
        std::printf("  window shown after %.3f s <= %.1f s %s\n", startupMedian, kStartupSeconds,
                    Verdict(startupMedian <= kStartupSeconds));
    }
    for (const SizeSummary& s : sizes)
        for (const std::string& p : s.problems)
            std::printf("INCOMPLETE (%s users): %s\n", Thousands(s.users).c_str(), p.c_str());

    // ---- JSON, for comparing commits
    std::ofstream json(o.json, std::ios::trunc);
    json.precision(6);
    json << "{\n  \"commit\": \"" << commit << (dirty ? "+modified" : "") << "\",\n  \"cores\": " << cores
         << ",\n  \"runs\": " << o.runs << ",\n  \"smoke\": " << (o.smoke ? "true" : "false")
         << ",\n  \"startup_s\": " << startupMedian << ",\n  \"sizes\": [";
    for (size_t i = 0; i < sizes.size(); ++i) {
        const SizeSummary& s = sizes[i];
        json << (i ? ",\n" : "\n") << "    {\"users\": " << s.users
             << ", \"ldif_bytes\": " << std::llround(s.ldifBytes) << ", \"ldapsearch_s\": " << s.ldapsearch
             << ", \"generate_s\": " << s.generate << ", \"bind_s\": " << s.bind
             << ", \"search_fill_s\": " << s.fill << ", \"generate_over_ldapsearch\": " << s.generateRatio
             << ", \"export_s\": " << s.exportS << ", \"csv_bytes\": " << std::llround(s.csvBytes)
             << ", \"export_over_generate\": " << s.exportRatio
             << ", \"peak_rss_bytes\": " << std::llround(s.peakRss)
             << ", \"idle_rss_bytes\": " << std::llround(s.idleRss)
             << ", \"peak_private_bytes\": " << std::llround(s.peakPrivate)
             << ", \"idle_private_bytes\": " << std::llround(s.idlePrivate)
             << ", \"complete\": " << (s.complete ? "true" : "false") << ", \"runs\": [";
        for (int run = 0; run < o.runs; ++run) {
            const std::string p = "run" + std::to_string(run) + ".";
            auto v = [&](const char* k) {
                auto it = s.raw.find(p + k);
                return it == s.raw.end() ? 0.0 : it->second;
            };
            json << (run ? ", " : "") << "{\"ldapsearch_s\": " << v("ldapsearch_s")
                 << ", \"ldapsearch_cpu_s\": " << v("ldapsearch_cpu_s")
                 << ", \"generate_s\": " << v("generate_s") << ", \"generate_cpu_s\": " << v("generate_cpu_s")
                 << ", \"export_cpu_s\": " << v("export_cpu_s")
                 << ", \"slapd_cpu_during_ldapsearch_s\": " << v("ldapsearch_slapd_cpu_s")
                 << ", \"slapd_cpu_during_generate_s\": " << v("generate_slapd_cpu_s")
                 << ", \"bind_s\": " << v("bind_s") << ", \"search_fill_s\": " << v("fill_s")
                 << ", \"export_s\": " << v("export_s") << ", \"rows\": " << std::llround(v("csv_rows"))
                 << "}";
        }
        json << "]}";
    }
    json << "\n  ],\n  \"growth\": \"" << growthText << "\"\n}\n";
    json.close();
    std::printf("\nJSON: %s\n", o.json.c_str());

    if (failed) {
        std::printf("FAILED: a run did not complete (see above).\n");
        return 1;
    }
    return 0;
}

std::vector<int> ParseSizes(const std::string& text) {
    std::vector<int> sizes;
    std::stringstream in(text);
    std::string item;
    while (std::getline(in, item, ','))
        if (!item.empty()) sizes.push_back(std::stoi(item));
    return sizes;
}

int Usage() {
    std::fprintf(stderr,
                 "usage: brevonix_bench [--smoke] [--million] [--users N[,N...]] [--runs R] [--json FILE] "
                 "[--out-dir DIR]\n");
    return 2;
}

} // namespace

int main(int argc, char** argv) {
    // Headless: the real windows, drawn into memory.
    setenv("QT_QPA_PLATFORM", "offscreen", 1);

    std::vector<std::string> args(argv + 1, argv + argc);
    auto value = [&](size_t& i) -> std::string { return i + 1 < args.size() ? args[++i] : std::string(); };

    if (!args.empty() && args[0] == "--worker") {
        bench::WorkerOptions w;
        for (size_t i = 0; i < args.size(); ++i) {
            if (args[i] == "--worker")
                w.users = std::stoi(value(i));
            else if (args[i] == "--runs")
                w.runs = std::stoi(value(i));
            else if (args[i] == "--result")
                w.resultPath = value(i);
            else if (args[i] == "--out-dir")
                w.outDir = value(i);
        }
        return bench::RunWorker(w);
    }
    if (!args.empty() && args[0] == "--startup-probe")
        return bench::RunStartupProbe(args.size() > 2 ? args[2] : "");

    Options o;
    bool million = false;
    bool sizesGiven = false, runsGiven = false;
    for (size_t i = 0; i < args.size(); ++i) {
        if (args[i] == "--smoke")
            o.smoke = true;
        else if (args[i] == "--million")
            million = true;
        else if (args[i] == "--users")
            o.users = ParseSizes(value(i)), sizesGiven = true;
        else if (args[i] == "--runs")
            o.runs = std::stoi(value(i)), runsGiven = true;
        else if (args[i] == "--json")
            o.json = value(i);
        else if (args[i] == "--out-dir")
            o.outDir = value(i);
        else
            return Usage();
    }
    if (o.smoke) {
        if (!sizesGiven) o.users = {2000};
        if (!runsGiven) o.runs = 1;
        o.startupRuns = 1;
    }
    if (million) o.users.push_back(1000000);
    if (o.users.empty() || o.runs < 1) return Usage();
    return Orchestrate(o);
}
