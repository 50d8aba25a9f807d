#include "worker.h"

#include <sys/stat.h>

#include <cstdio>
#include <fstream>
#include <sstream>

#include "app/VexlorApp.h"
#include "app/VexlorDlg.h"
#include "bench_util.h"
#include "platform/filedialog.h"
#include "platform/seams.h"
#include "platform/testing.h"
#include "res/resource.h"
#include "support/slapd_fixture.h"

using brevonix::test::SlapdServer;

// The bind as the window makes it, timed: calls from the tool's code reach this function instead of
// the real ADsOpenObject (the linker's --wrap, see CMakeLists.txt).
namespace {
double g_bindStarted = 0;
double g_bindEnded = 0;
} // namespace

extern "C" HRESULT __real__Z13ADsOpenObjectPKDsS0_S0_jRK4GUIDPPv(LPCWSTR, LPCWSTR, LPCWSTR, DWORD, REFIID,
                                                                 void**);
extern "C" HRESULT __wrap__Z13ADsOpenObjectPKDsS0_S0_jRK4GUIDPPv(LPCWSTR path, LPCWSTR user, LPCWSTR password,
                                                                 DWORD flags, REFIID riid, void** object) {
    g_bindStarted = bench::Now();
    const HRESULT hr =
        __real__Z13ADsOpenObjectPKDsS0_S0_jRK4GUIDPPv(path, user, password, flags, riid, object);
    g_bindEnded = bench::Now();
    return hr;
}

namespace bench {
namespace {

// The tool's default filter, less the one generated user whose names go beyond Latin-1: the CSV
// file has one byte per character, and the export stops, as designed, at the first character
// without one. Every other object is listed and exported.
CString Filter() {
    return CString::FromUtf8("(&(objectClass=user)(objectCategory=user)(!(sAMAccountName=" +
                             brevonix::test::MakeSeedUser(brevonix::test::kUserBeyondLatin1).sAMAccountName +
                             ")))");
}

// The person at the keyboard: message boxes are noted and answered OK, the Save dialog gets the
// path the bench chose.
class BenchSeam : public CUserSeam {
public:
    BenchSeam() { m_previous = AfxSetUserSeam(this); }
    ~BenchSeam() override { AfxSetUserSeam(m_previous); }

    int MessageBox(HWND, const CString& text, const CString&, UINT) override {
        std::fprintf(stderr, "  message box: %s\n", text.ToUtf8().c_str());
        ++messages;
        return IDOK;
    }
    bool ChooseFile(HWND, const CFileDialogRequest&, CString& path) override {
        if (saveAs.IsEmpty()) return false;
        path = saveAs;
        saveAs.Empty();
        return true;
    }

    int messages = 0;
    CString saveAs;

private:
    CUserSeam* m_previous;
};

std::vector<std::string> LdapsearchArgs(const SlapdServer& server, bool ldifOnly) {
    std::vector<std::string> args = {"/usr/bin/ldapsearch", "-x", "-ZZ", "-E", "pr=1000/noprompt"};
    if (ldifOnly) args.push_back("-LLL");
    const std::vector<std::string> rest = {"-H",
                                           server.LdapUrl(),
                                           "-D",
                                           SlapdServer::BindDn(),
                                           "-w",
                                           SlapdServer::BindPassword(),
                                           "-b",
                                           SlapdServer::BaseDn(),
                                           Filter().ToUtf8(),
                                           "*"};
    args.insert(args.end(), rest.begin(), rest.end());
    return args;
}

// Lines of a file (each ends in CR LF) and its size.
void CountLines(const std::string& path, long long& lines, long long& bytes) {
    lines = 0;
    bytes = 0;
    std::ifstream in(path, std::ios::binary);
    static char buf[1 << 16];
    while (in.read(buf, sizeof buf) || in.gcount() > 0) {
        const std::streamsize n = in.gcount();
        bytes += n;
        for (std::streamsize i = 0; i < n; ++i)
            lines += buf[i] == '\n';
    }
}

void TypeInto(HWND edit, const CString& text) {
    ::SetWindowTextW(edit, u"");
    afxtest::TypeText(edit, text);
}

// One person's session: type the domain and credentials, choose every column with ">>", OK (which
// lists once), press Generate (measured), export (measured), close.
bool RunWindow(const SlapdServer& server, const std::string& csvPath, const std::string& prefix,
               Results& out) {
    const int slapd = server.Pid();
    BenchSeam seam;
    CVexlorDlg dlg;
    bool ok = false;
    afxtest::OnNextModal([&](HWND) {
        out[prefix + "idle_rss_bytes"] = static_cast<double>(CurrentRssBytes());
        out[prefix + "idle_private_bytes"] = static_cast<double>(CurrentPrivateBytes());
        TypeInto(::GetDlgItem(dlg.m_hWnd, IDC_EDT_DOMAIN), CString::FromUtf8(server.HostPort()));
        TypeInto(::GetDlgItem(dlg.m_hWnd, IDC_EDT_USER), CString(SlapdServer::BindDn16()));
        TypeInto(::GetDlgItem(dlg.m_hWnd, IDC_EDT_PASSWORD), CString(SlapdServer::BindPassword16()));
        TypeInto(::GetDlgItem(dlg.m_hWnd, IDC_EDT_QUERY), Filter());

        afxtest::OnNextModal([](HWND chooser) {
            afxtest::Click(::GetDlgItem(chooser, IDC_BTN_MOVE_ALL));
            afxtest::Click(::GetDlgItem(chooser, IDC_BTN_OK));
        });
        afxtest::Click(::GetDlgItem(dlg.m_hWnd, IDC_BTN_ADVANCED));
        afxtest::ProcessEvents();
        out[prefix + "columns"] = dlg.m_lstResult.GetHeaderCtrl()->GetItemCount();
        const int messagesBefore = seam.messages;

        g_bindStarted = g_bindEnded = 0;
        const double cpuBefore = CpuSeconds();
        const double slapdBefore = ProcessCpuSeconds(slapd);
        const double pressed = Now();
        afxtest::Click(::GetDlgItem(dlg.m_hWnd, IDC_BTN_GENERATE));
        // Until the list has been drawn with its rows.
        afxtest::ProcessEvents();
        const double shown = Now();
        out[prefix + "generate_cpu_s"] = CpuSeconds() - cpuBefore;
        out[prefix + "generate_slapd_cpu_s"] = ProcessCpuSeconds(slapd) - slapdBefore;
        CString count;
        dlg.GetDlgItemText(IDC_STC_COUNT, count);
        out[prefix + "generate_s"] = shown - pressed;
        out[prefix + "bind_s"] = g_bindEnded - g_bindStarted;
        out[prefix + "fill_s"] = shown - g_bindEnded;
        out[prefix + "rows_listed"] = dlg.m_lstResult.GetItemCount();
        out[prefix + "count_shown"] = std::atof(count.ToUtf8().c_str());

        seam.saveAs = CString::FromUtf8(csvPath);
        const double cpuAtExport = CpuSeconds();
        const double clicked = Now();
        afxtest::Click(dlg.m_lnkExport.m_hWnd);
        out[prefix + "export_s"] = Now() - clicked;
        out[prefix + "export_cpu_s"] = CpuSeconds() - cpuAtExport;
        out[prefix + "messages"] = seam.messages - messagesBefore;
        ok = g_bindEnded > 0;
        dlg.EndDialog(IDCANCEL);
    });
    dlg.DoModal();

    long long lines = 0, bytes = 0;
    struct stat st {};
    if (stat(csvPath.c_str(), &st) == 0) CountLines(csvPath, lines, bytes);
    std::remove(csvPath.c_str());
    out[prefix + "csv_bytes"] = static_cast<double>(bytes);
    // Two header lines and the heading row come before the data rows.
    out[prefix + "csv_rows"] = static_cast<double>(lines >= 3 ? lines - 3 : 0);
    return ok && bytes > 0;
}

} // namespace

int RunWorker(const WorkerOptions& options) {
    Results results;
    results["users"] = options.users;

    std::fprintf(stderr, "[%d users] starting slapd\n", options.users);
    const double started = Now();
    std::string error;
    auto server = SlapdServer::Start({.userCount = options.users, .cacheDatabase = true}, error);
    if (!server) {
        std::fprintf(stderr, "slapd did not start: %s\n", error.c_str());
        return 2;
    }
    results["slapd_start_s"] = Now() - started;
    results["objects_expected"] =
        server->UserObjectCount() - (options.users > brevonix::test::kUserBeyondLatin1 ? 1 : 0);
    const std::vector<std::string> env = {"LDAPTLS_CACERT=" + server->CaFile()};

    // The result as LDIF: its size is the yardstick for memory. This first search also warms the
    // server up for both contestants.
    const ChildRun ldif = Run(LdapsearchArgs(*server, true), Output::Count, env);
    if (ldif.exitCode != 0) {
        std::fprintf(stderr, "ldapsearch failed (exit %d)\n", ldif.exitCode);
        return 2;
    }
    results["ldif_bytes"] = static_cast<double>(ldif.outBytes);

    // From here on the process is the tool's: its own memory is watched until the end.
    PrivatePeakSampler privatePeak;
    afxtest::Init(BrevonixResources());
    bool ok = true;
    for (int run = 0; run < options.runs; ++run) {
        const std::string prefix = "run" + std::to_string(run) + ".";
        const double slapdBefore = ProcessCpuSeconds(server->Pid());
        const ChildRun search = Run(LdapsearchArgs(*server, false), Output::DevNull, env);
        results[prefix + "ldapsearch_slapd_cpu_s"] = ProcessCpuSeconds(server->Pid()) - slapdBefore;
        if (search.exitCode != 0) {
            std::fprintf(stderr, "ldapsearch failed (exit %d)\n", search.exitCode);
            ok = false;
        }
        results[prefix + "ldapsearch_s"] = search.seconds;
        results[prefix + "ldapsearch_cpu_s"] = search.cpuSeconds;
        const std::string csv = options.outDir + "/brevonix-bench-" + std::to_string(options.users) + "-" +
                                std::to_string(run) + ".csv";
        if (!RunWindow(*server, csv, prefix, results)) {
            std::fprintf(stderr, "the window did not bind or did not export\n");
            ok = false;
        }
        if (results[prefix + "messages"] > 0) {
            // What the server said about it: every operation of its log that did not end well.
            std::istringstream log(server->ReadLog());
            std::string line, previous;
            while (std::getline(log, line)) {
                if (line.find(" err=") != std::string::npos && line.find(" err=0 ") == std::string::npos)
                    std::fprintf(stderr, "  slapd: %s\n  slapd: %s\n", previous.c_str(), line.c_str());
                previous = line;
            }
        }
        std::fprintf(
            stderr,
            "[%d users] run %d: ldapsearch %.3f s (CPU %.3f s, slapd %.3f s), Generate %.3f s (CPU %.3f "
            "s, slapd %.3f s), export %.3f s\n",
            options.users, run + 1, results[prefix + "ldapsearch_s"], results[prefix + "ldapsearch_cpu_s"],
            results[prefix + "ldapsearch_slapd_cpu_s"], results[prefix + "generate_s"],
            results[prefix + "generate_cpu_s"], results[prefix + "generate_slapd_cpu_s"],
            results[prefix + "export_s"]);
    }
    results["peak_rss_bytes"] = static_cast<double>(PeakRssBytes());
    results["peak_private_bytes"] = static_cast<double>(privatePeak.Peak());
    results["runs"] = options.runs;
    if (!WriteResults(options.resultPath, results)) return 2;
    return ok ? 0 : 1;
}

int RunStartupProbe(const std::string& resultPath) {
    // The application object and the framework's main, as the tool's own main() has them.
    CVexlorApp app;
    double shown = 0;
    afxtest::OnNextModal([&](HWND h) {
        afxtest::ProcessEvents();
        shown = Now();
        if (CWnd* main = AfxGetMainWnd())
            static_cast<CDialog*>(main)->EndDialog(IDCANCEL);
        else
            afxtest::CloseWindow(h);
    });
    static char name[] = "brevonix";
    static char* argv[] = {name, nullptr};
    AfxWinMain(1, argv, BrevonixResources());
    return WriteResults(resultPath, {{"shown_at", shown}}) && shown > 0 ? 0 : 1;
}

} // namespace bench
