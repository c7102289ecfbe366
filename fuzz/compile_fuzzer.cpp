// Fuzzes the whole in-process compile of one script: parse, validate,
// compile and the listing. A fatal error is an ordinary outcome; a crash, a
// sanitizer report, a broken expectation or a hang is a finding.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "fuzz_targets.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static std::FILE* const listing = std::fopen("/dev/null", "w");
    const std::string broken =
        vendrak::fuzzing::compile_one(std::string_view(reinterpret_cast<const char*>(data), size), listing);
    if (!broken.empty()) {
        std::fprintf(stderr, "broken expectation: %s\n", broken.c_str());
        std::abort();
    }
    return 0;
}
