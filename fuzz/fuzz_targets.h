// What each fuzzer does with one input, shared by the libFuzzer harnesses and
// by the regression test that replays their findings in the normal suite.
//
// A fatal error is an ordinary end of a run. Each function returns the
// broken expectation as text, or "" when the run ended as it may; crashes,
// sanitizer reports and hangs are for the caller's tooling to see.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>

#include "common/fatal.h"
#include "compile/compile.h"
#include "dump/dump.h"
#include "parser/parser.h"
#include "validate/validate.h"
#include "vbf/vbf.h"

namespace vendrak::fuzzing {

// The whole in-process compile of a script: parse, validate, compile, and
// the listing into `listing`. A checker's run that collects every error of
// the script must begin with the error the compiler stops at.
inline std::string compile_one(std::string_view text, std::FILE* listing) {
    auto no_line_feed = [](const std::string& m) { return m.empty() || m.back() != '\n'; };
    script s;
    try {
        s = parse_script_text(text);
    } catch (const fatal_error& e) {
        return no_line_feed(e.message()) ? "a message without its line feed" : "";
    }
    collect_all all;
    validate_script(s, all);
    if (all.found.empty()) {
        program collected;
        compile_script(s, collected, all);
    }
    std::string stopped;
    try {
        validate_script(s);
        program p;
        compile_script(s, p);
        dump_script(s, listing);
        if (p.instructions.empty()) return "a compiled program without its closing EXIT";
    } catch (const fatal_error& e) {
        if (no_line_feed(e.message())) return "a message without its line feed";
        stopped = e.message();
    }
    if ((all.found.empty() ? "" : all.found.front().message) != stopped)
        return "the first error collected is not the one the compiler stops at";
    return {};
}

// Converts the VBF file `path` into an anonymous temporary stream, stopping
// images at `limit` bytes; the converter's messages go to `messages`.
inline std::string convert_one(const char* path, std::FILE* messages, uint64_t limit) {
    std::FILE* out = std::tmpfile();
    if (!out) return "no temporary stream";
    std::string broken;
    try {
        uint32_t checksum = 0;
        const int result = vbf_process(path, out, &checksum, messages, limit);
        char tail[8] = {};
        if (result != 0 && result != -1) {
            broken = "a result other than 0 and -1";
        } else if (result == 0 && (std::fseek(out, -8, SEEK_END) != 0 || std::fread(tail, 1, 8, out) != 8 ||
                                   std::string_view(tail, 8) != "ENDOFVBF")) {
            broken = "a converted image without its end marker";
        }
    } catch (const fatal_error& e) {
        if (e.message() != "Error: Output container exceeds 2 GiB\n") broken = "an unexpected fatal error";
    }
    std::fclose(out);
    return broken;
}

}  // namespace vendrak::fuzzing
