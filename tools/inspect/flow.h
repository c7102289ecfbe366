// Decompiling a program: the control flow rebuilt from its jumps, and the
// script that compiles back into the same instructions and tables.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "compile/decode.h"

namespace vendrak::inspect {

struct decompiled_script {
    std::string text;
    // The instruction address of each line of the text (index 0 is line 1);
    // comment lines carry the address of what follows them.
    std::vector<uint32_t> line_address;
};

// Writes the script of `program` (every instruction of the instruction area,
// the closing EXIT last). `statement_text` gives the script text of the
// statement of an instruction (by index): for a CMP its condition. When the
// jumps form a pattern no script can produce, appends one line per finding
// to `problems` and returns an empty script.
decompiled_script decompile(const std::vector<decoded_instruction>& program,
                            const std::function<std::string(size_t index)>& statement_text,
                            std::vector<std::string>& problems);

}  // namespace vendrak::inspect
