// libFuzzer target: an entry's attribute list as a server sends it, read in place the way the search
// reads every row.
#include "fuzz/fuzz_harness.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    brevonix::fuzz::RunBerAttributes(data, size);
    return 0;
}
