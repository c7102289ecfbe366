// Inputs the fuzzers found (fuzz/regressions/<fuzzer>/, each as the fuzzer
// wrote it), replayed through the code that found them (fuzz/fuzz_targets.h;
// the checker's scripts through the compile, whose front end it shares):
// every one must now end as a run may, success or a fatal error with its
// message, within the test's time limit; the sanitizer build also sees any
// memory error on the way.
#include "files.h"

#include "../fuzz/fuzz_targets.h"

namespace {

using namespace vendrak_test;

TEST(fuzz_regressions, findings_end_as_a_run_may) {
    std::FILE* sink = std::fopen("/dev/null", "w");
    ASSERT_NE(sink, nullptr);
    const char* source = std::getenv("VENDRAK_SOURCE_DIR");
    const fs::path root = fs::path(source ? source : ".") / "fuzz/regressions";
    size_t replayed = 0;
    for (const char* fuzzer : {"compile", "check", "vbf"}) {
        if (!fs::is_directory(root / fuzzer)) continue;
        for (const auto& input : fs::directory_iterator(root / fuzzer)) {
            SCOPED_TRACE(input.path().string());
            EXPECT_EQ(fuzzer[0] == 'c' ? vendrak::fuzzing::compile_one(read_file(input.path()), sink)
                                       : vendrak::fuzzing::convert_one(input.path().string().c_str(), sink, 1 << 20),
                      "");
            ++replayed;
        }
    }
    std::fclose(sink);
    EXPECT_GT(replayed, 0u) << "no findings under " << root;
}

}  // namespace
