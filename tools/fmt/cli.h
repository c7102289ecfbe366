// The command line of vendrak-fmt.
#pragma once

#include <cstdio>

namespace vendrak::fmt {

// Runs vendrak-fmt with these arguments, reading standard input from `in`
// and writing to `out` and `err`; returns the exit status: 0 on success, 1
// when --check finds a script that would change, 2 when a script is refused
// or cannot be read or written, and for a wrong command line.
int fmt_main(int argc, const char* const* argv, std::FILE* in, std::FILE* out, std::FILE* err);

}  // namespace vendrak::fmt
