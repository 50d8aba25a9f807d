// libFuzzer target: the subschema's attribute type descriptions, as a server publishes them, turned
// into the syntaxes that decide how every value is read.
#include "fuzz/fuzz_harness.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    brevonix::fuzz::RunSchema(data, size);
    return 0;
}
