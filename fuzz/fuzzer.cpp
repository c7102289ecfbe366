// The libFuzzer harnesses: this file is built once per fuzzer with
// VENDRAK_FUZZ_<NAME> defined (fuzz/CMakeLists.txt). Each runs its target
// of fuzz_targets.h, check_target.h, fmt_target.h or inspect_target.h on
// one input; a broken expectation aborts, so that like a crash, a sanitizer
// report or a hang it is a finding. A fatal error is an ordinary outcome.
#include <unistd.h>

#include <cstdlib>

#if defined(VENDRAK_FUZZ_CHECK)
#include "check_target.h"
#elif defined(VENDRAK_FUZZ_FMT)
#include "fmt_target.h"
#elif defined(VENDRAK_FUZZ_INSPECT)
#include "inspect_target.h"
#else
#include "fuzz_targets.h"
#endif

namespace {

// The one scratch file of a fuzzing process, removed when the process exits.
[[maybe_unused]] const char* scratch_file() {
    static std::string name = "/tmp/vendrak-fuzz.XXXXXX";
    static const bool made = [] {
        const int fd = mkstemp(name.data());
        if (fd < 0) std::abort();
        close(fd);
        return std::atexit([] { unlink(name.c_str()); }) == 0;
    }();
    (void)made;
    return name.c_str();
}

std::string run_one(const uint8_t* data, size_t size) {
    using namespace vendrak::fuzzing;
    const std::string_view text(reinterpret_cast<const char*>(data), size);
#if defined(VENDRAK_FUZZ_COMPILE)
    // The whole in-process compile: parse, validate, compile, the listing.
    static std::FILE* const listing = std::fopen("/dev/null", "w");
    return compile_one(text, listing);
#elif defined(VENDRAK_FUZZ_VBF)
    // The converter on the input as a file of its own, messages to
    // /dev/null, images stopped at 1 MiB so that a long section does not
    // slow the run down.
    static std::FILE* const messages = std::fopen("/dev/null", "w");
    std::FILE* in = std::fopen(scratch_file(), "wb");
    if (!in || std::fwrite(data, 1, size, in) != size || std::fclose(in) != 0) std::abort();
    return convert_one(scratch_file(), messages, 1 << 20);
#elif defined(VENDRAK_FUZZ_INSPECT)
    // The inspector on an arbitrary container; a valid one is written back.
    (void)text;
    return inspect_one(std::span<const uint8_t>(data, size), scratch_file());
#elif defined(VENDRAK_FUZZ_CHECK)
    // The checker on a script: the front end with the positions of its
    // tokens, the validator and program assembly collecting every error,
    // and every warning.
    return check_one(text);
#elif defined(VENDRAK_FUZZ_FMT)
    // The formatter on a script: the same program after the layout, the
    // compiler's message for a refused script, and a second run that
    // changes nothing.
    return fmt_one(text);
#endif
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string broken = run_one(data, size);
    if (!broken.empty()) {
        std::fprintf(stderr, "broken expectation: %s\n", broken.c_str());
        std::abort();
    }
    return 0;
}
