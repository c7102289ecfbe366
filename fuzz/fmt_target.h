// What the formatter fuzzer does with one input, shared with the test that
// replays its findings (tests/fmt_test.cpp).
#pragma once

#include <string>
#include <string_view>

#include "common/fatal.h"
#include "compile/compile.h"
#include "fmt/formatter.h"
#include "fmt/unchecked.h"
#include "parser/parser.h"
#include "validate/validate.h"

namespace vendrak::fuzzing {

// The program a script compiles into, flattened: instructions, tables and
// the names of the flash files; or the message the compiler stops at.
inline std::string program_of(std::string_view text, bool& refused) {
    refused = false;
    try {
        const script s = parse_script_text(text);
        validate_script(s);
        program p;
        compile_script(s, p);
        std::string flat;
        for (const instruction& i : p.instructions) flat.append(i.opcode.begin(), i.opcode.end());
        flat += '|';
        flat.append(p.string_table.begin(), p.string_table.end());
        flat += '|';
        flat.append(p.data_table.begin(), p.data_table.end());
        for (const vbf_entry& v : p.vbfs) flat += '|' + v.file_name;
        return flat;
    } catch (const fatal_error& e) {
        refused = true;
        return e.message();
    }
}

// Formats a script: a refused script must be one the compiler refuses, with
// its message as vendrak-check gives it; the layout alone must compile into
// the same program and be what format_script returns; formatting the result
// again must change nothing. Returns the broken expectation, or "".
inline std::string fmt_one(std::string_view text) {
    bool refused = false;
    const std::string original = program_of(text, refused);
    const fmt::format_result r = fmt::format_script(text);
    if (!r.ok) {
        if (!refused) return "a script the compiler compiles is refused";
        std::string_view m = original;
        if (m.ends_with('\n')) m.remove_suffix(1);
        if (m.starts_with('[')) {
            m.remove_prefix(m.find("] ") + 2);
            if (m.starts_with("Error: ")) m.remove_prefix(7);
        }
        return r.message == m ? "" : "another message than the compiler's";
    }
    if (refused) return "a script the compiler refuses is formatted";
    const std::optional<std::string> laid_out = fmt::unchecked_layout(text);
    if (laid_out) {
        bool laid_out_refused = false;
        if (program_of(*laid_out, laid_out_refused) != original) return "the layout changes the program";
        if (*laid_out != r.text) return "the read-back refused the layout";
    } else if (r.text != text) {
        return "a script without a layout is changed";
    }
    const fmt::format_result again = fmt::format_script(r.text);
    if (!again.ok || again.text != r.text) return "formatting is not idempotent";
    return {};
}

}  // namespace vendrak::fuzzing
