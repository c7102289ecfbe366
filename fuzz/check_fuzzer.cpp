// Fuzzes the checker on one script: the front end with the positions of its
// tokens, the validator and program assembly collecting every error, and
// every warning. A crash, a sanitizer report, a broken expectation or a hang
// is a finding.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "check_target.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string broken = vendrak::fuzzing::check_one(std::string_view(reinterpret_cast<const char*>(data), size));
    if (!broken.empty()) {
        std::fprintf(stderr, "broken expectation: %s\n", broken.c_str());
        std::abort();
    }
    return 0;
}
