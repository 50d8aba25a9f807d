// libFuzzer target: the CSV writer over arbitrary UTF-16 cells, into a real file that is then
// compared byte for byte with what the format prescribes.
#include <unistd.h>

#include <cstdlib>
#include <string>

#include "fuzz/fuzz_harness.h"

namespace {
std::string g_path;
}

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    const char* tmp = std::getenv("TMPDIR");
    std::string dir = std::string(tmp && *tmp ? tmp : "/tmp") + "/brevonix-csv-fuzz-XXXXXX";
    if (!mkdtemp(dir.data())) std::abort();
    g_path = dir + "/cells.csv";
    // The folder goes when the run ends (libFuzzer leaves through exit()).
    static const std::string s_dir = dir;
    std::atexit([] {
        unlink(g_path.c_str());
        rmdir(s_dir.c_str());
    });
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    brevonix::fuzz::RunCsvWriter(data, size, g_path);
    return 0;
}
