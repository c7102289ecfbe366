// The script front end: reads one script and builds its script tree.
//
// Errors end the parse with a `fatal_error` on the error stream carrying the
// exact message ("[%d] Error: ...", or "Token too long: %s\n").
#pragma once

#include <cstdio>
#include <string_view>

#include "parser/script.h"

namespace vendrak {

// Parses the whole open script stream and appends one command per statement.
void parse_script(std::FILE* file, script& out);

// The same on a script held in memory (tests, fuzzing).
script parse_script_text(std::string_view text);

}  // namespace vendrak
