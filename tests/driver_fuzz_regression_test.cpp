// Inputs the fuzzers found, replayed through the same code the fuzzers run
// (fuzz/fuzz_targets.h), and the limits that now stop them.
//
// fuzz/regressions/<fuzzer>/ holds each crashing or hanging input as the
// fuzzer wrote it. Every one must now end as a run may (success or a fatal
// error with its message) and quickly; the sanitizer build of the suite also
// sees any memory error on the way.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "test_files.h"

#include "../fuzz/fuzz_targets.h"

namespace fs = std::filesystem;

namespace {

using namespace vendrak_test;

fs::path regressions(const char* fuzzer) {
    const char* root = std::getenv("VENDRAK_SOURCE_DIR");
    return fs::path(root ? root : ".") / "fuzz" / "regressions" / fuzzer;
}

std::vector<fs::path> inputs_of(const char* fuzzer) {
    std::vector<fs::path> files;
    if (fs::is_directory(regressions(fuzzer)))
        for (const auto& entry : fs::directory_iterator(regressions(fuzzer)))
            if (entry.is_regular_file()) files.push_back(entry.path());
    return files;
}

// Far above what any of these inputs needs now, far below what each took
// when it was found.
constexpr auto time_limit = std::chrono::seconds(10);

// Every finding of the compile and the VBF fuzzer, through the code that
// found it.
TEST(fuzz_regressions, findings_end_as_a_run_may) {
    std::FILE* sink = std::fopen("/dev/null", "w");
    ASSERT_NE(sink, nullptr);
    size_t replayed = 0;
    for (const fs::path& input : inputs_of("compile")) {
        SCOPED_TRACE(input.string());
        const auto start = std::chrono::steady_clock::now();
        EXPECT_EQ(vendrak::fuzzing::compile_one(read_file(input), sink), "");
        EXPECT_LT(std::chrono::steady_clock::now() - start, time_limit);
        ++replayed;
    }
    for (const fs::path& input : inputs_of("vbf")) {
        SCOPED_TRACE(input.string());
        const auto start = std::chrono::steady_clock::now();
        EXPECT_EQ(vendrak::fuzzing::convert_one(input.string().c_str(), sink, 1 << 20), "");
        EXPECT_LT(std::chrono::steady_clock::now() - start, time_limit);
        ++replayed;
    }
    std::fclose(sink);
    EXPECT_GT(replayed, 0u) << "no findings under " << regressions("");
}

std::string repeat(const std::string& text, int times) {
    std::string out;
    for (int i = 0; i < times; ++i) out += text;
    return out;
}

// What DEFINE substitutions deliver is limited to 1 MiB plus 64 times the
// bytes of the script read so far. A definition that names the previous
// value twice doubles it: the 19th doubling (line 20) would take the total
// past the limit. A 60,000-byte value may be used 81 times after its
// definition (the script's own bytes allow 64 x 60,000 more), not 82; here
// the uses are the bytes of one WRITE statement on line 2.
TEST(fuzz_regressions, define_substitution_limit) {
    struct row {
        const char* what;
        std::string script;
        std::string message;  // empty: the script parses
    };
    const std::string big_value = "DEFINE A" + repeat(" 1", 30000) + "\nWRITE MSG 0x7E0";
    const std::vector<row> rows = {
        {"doubling", "DEFINE A 1\n" + repeat("DEFINE A A A\n", 40), "[20] Error: DEFINE substitutions too long\n"},
        {"18 doublings", "DEFINE A 1\n" + repeat("DEFINE A A A\n", 18), ""},
        {"82 uses of a long value", big_value + repeat(" A", 82) + "\n", "[2] Error: DEFINE substitutions too long\n"},
        {"81 uses of a long value", big_value + repeat(" A", 81) + "\n", ""},
    };
    for (const row& r : rows) {
        SCOPED_TRACE(r.what);
        try {
            vendrak::parse_script_text(r.script);
            EXPECT_EQ(r.message, "") << "the script parsed";
        } catch (const vendrak::fatal_error& e) {
            EXPECT_EQ(e.message(), r.message);
            EXPECT_EQ(e.where(), vendrak::out_stream::err);
        }
    }
}

}  // namespace
