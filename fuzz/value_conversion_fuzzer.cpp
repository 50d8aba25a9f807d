// libFuzzer target: raw attribute values, as a server sends them, converted by syntax into
// ADSVALUEs (see fuzz_harness.h for the input layout).
#include "fuzz/fuzz_harness.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    brevonix::fuzz::RunValueConversion(data, size);
    return 0;
}
