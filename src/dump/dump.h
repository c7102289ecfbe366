// The listing: one line of readable text per command of the script tree,
// printed with -v.
#pragma once

#include <cstdio>
#include <string>

#include "parser/script.h"

namespace vendrak {

// The texts, arrays and bytes of the records come from the pools of `s`.

// The text of one operand, always followed by one blank.
std::string dump_prim_expr(const prim_expr& expr, const script& s);
// The text of a comparison of IF or WHILE.
std::string dump_test_expr(const test_expr& test, const script& s);
// The text of the right side of a VAR assignment.
std::string dump_arith_expr(const arith_expr& assign, const script& s);
// The text of one command.
std::string dump_command(const command& cmd, const script& s);
// Prints ":%d::%s\n" per command to `out`.
void dump_script(const script& s, std::FILE* out);

}  // namespace vendrak
