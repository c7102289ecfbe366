// Statements written back in script syntax: the text that the parser reads
// into the same record. The decompiler writes its scripts with it.
#pragma once

#include <string>

#include "parser/script.h"

namespace vendrak {

// Texts, arrays and bytes come from the pools of `s`.
std::string float_text(float value);
std::string operand_text(const prim_expr& expr, const script& s);
std::string condition_text(const test_expr& test, const script& s);
std::string statement_text(const command& cmd, const script& s);

}  // namespace vendrak
