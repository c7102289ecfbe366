// Fuzzes the container inspector on an arbitrary container: reading,
// decryption, decoding, the checks and the listing, and for a container it
// finds valid, writing back its script and VBF files.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "inspect_target.h"
#include "scratch_file.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const char* const scratch = vendrak::fuzzing::scratch_file("/tmp/vendrak-inspect-fuzz.XXXXXX");
    const std::string broken = vendrak::fuzzing::inspect_one(std::span<const uint8_t>(data, size), scratch);
    if (!broken.empty()) {
        std::fprintf(stderr, "broken expectation: %s\n", broken.c_str());
        std::abort();
    }
    return 0;
}
