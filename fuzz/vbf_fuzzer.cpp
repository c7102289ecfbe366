// Fuzzes the VBF converter on an arbitrary file. The input is written to a
// file of its own and converted into an anonymous temporary stream; the
// converter's messages go to /dev/null. A return of -1 is an ordinary
// outcome, and so is the size-limit error, here at a small limit so that a
// long section does not slow the run down.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "fuzz_targets.h"
#include "scratch_file.h"

namespace {

constexpr uint64_t image_limit = 1 << 20;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const char* const path = vendrak::fuzzing::scratch_file("/tmp/vendrak-vbf-fuzz.XXXXXX");
    static std::FILE* const messages = std::fopen("/dev/null", "w");

    std::FILE* in = std::fopen(path, "wb");
    if (!in || std::fwrite(data, 1, size, in) != size || std::fclose(in) != 0) std::abort();
    const std::string broken = vendrak::fuzzing::convert_one(path, messages, image_limit);
    if (!broken.empty()) {
        std::fprintf(stderr, "broken expectation: %s\n", broken.c_str());
        std::abort();
    }
    return 0;
}
