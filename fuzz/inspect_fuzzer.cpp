// Fuzzes the container inspector on an arbitrary container: reading,
// decryption, decoding, the checks and the listing, and for a container it
// finds valid, writing back its script and VBF files.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "inspect_target.h"

namespace {

char scratch_name[] = "/tmp/vendrak-inspect-fuzz.XXXXXX";

void remove_scratch() { unlink(scratch_name); }

// One scratch file per fuzzing process, removed when the process exits.
const char* scratch_path() {
    const int fd = mkstemp(scratch_name);
    if (fd < 0) std::abort();
    close(fd);
    std::atexit(remove_scratch);
    return scratch_name;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const char* const scratch = scratch_path();
    const std::string broken = vendrak::fuzzing::inspect_one(std::span<const uint8_t>(data, size), scratch);
    if (!broken.empty()) {
        std::fprintf(stderr, "broken expectation: %s\n", broken.c_str());
        std::abort();
    }
    return 0;
}
