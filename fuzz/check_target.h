// What the checker fuzzer does with one input, shared with the test that
// replays its findings (tests/check_test.cpp).
#pragma once

#include <algorithm>
#include <string>
#include <string_view>
#include <vector>

#include "check/check.h"
#include "common/fatal.h"
#include "compile/compile.h"
#include "parser/parser.h"
#include "validate/validate.h"

namespace vendrak::fuzzing {

// Checks a script without its VBF files. The checker must report the error
// the compiler stops at, as its text after "[line] Error: " (shown printable),
// and no error where the compiler compiles; every finding has a line.
// Returns the broken expectation, or "".
inline std::string check_one(std::string_view text) {
    check::check_options options;
    options.vbf_checks = false;
    const std::vector<check::finding> found = check::check_script(text, "fuzz.vsc", options);
    if (std::any_of(found.begin(), found.end(), [](const check::finding& f) { return f.line == 0; }))
        return "a finding without a line";

    std::string stopped;
    try {
        const script s = parse_script_text(text);
        validate_script(s);
        program p;
        compile_script(s, p);
    } catch (const fatal_error& e) {
        stopped = e.message();
    }
    const bool errors = std::any_of(found.begin(), found.end(), [](const check::finding& f) {
        return f.level == check::severity::error;
    });
    if (stopped.empty()) return errors ? "an error where the compiler compiles" : "";
    std::string_view m = stopped;
    m.remove_suffix(1);  // the line feed
    if (m.starts_with('[')) {
        m.remove_prefix(m.find("] ") + 2);
        if (m.starts_with("Error: ")) m.remove_prefix(7);
    }
    const bool reported = std::any_of(found.begin(), found.end(), [&](const check::finding& f) {
        return f.level == check::severity::error && f.message == check::printable(m);
    });
    return reported ? "" : "the error the compiler stops at is not among the checker's";
}

}  // namespace vendrak::fuzzing
