// libFuzzer target: FormatAttributeValues over the values the conversion made of raw server bytes.
#include <cstdlib>

#include "fuzz/fuzz_harness.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    // A zone far from UTC, so that times near the ends of the calendar leave it when shifted.
    setenv("TZ", "XST-14", 1);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    brevonix::fuzz::RunFormat(data, size);
    return 0;
}
