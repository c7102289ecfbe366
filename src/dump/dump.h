// The listing: one line of readable text per command of the script tree,
// printed with -v.
#pragma once

#include <cstdio>
#include <string>

#include "parser/script.h"

namespace vendrak {

// The text of one operand, always followed by one blank.
std::string dump_prim_expr(const prim_expr& expr);
// The text of a comparison of IF or WHILE.
std::string dump_test_expr(const test_expr& test);
// The text of the right side of a VAR assignment.
std::string dump_arith_expr(const arith_expr& assign);
// The text of one command.
std::string dump_command(const command& cmd);
// Prints ":%d::%s\n" per command to `out`.
void dump_script(const script& s, std::FILE* out);

}  // namespace vendrak
