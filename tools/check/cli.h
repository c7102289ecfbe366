// The command line of vendrak-check.
#pragma once

#include <cstdio>

namespace vendrak::check {

// Runs vendrak-check with these arguments, writing to `out` and `err`;
// returns the exit status: 0 when no script has an error (nor, under
// -Werror, a warning), 1 otherwise, 2 for a wrong command line.
int check_main(int argc, const char* const* argv, std::FILE* out, std::FILE* err);

}  // namespace vendrak::check
