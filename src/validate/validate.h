// The validator: value ranges, screen geometry, the order of the data-set
// commands and the operand combinations of conditions and assignments, checked
// over the whole script before any code is made.
//
// The first violation ends the run with a `fatal_error` on the error stream.
#pragma once

#include "parser/script.h"

namespace vendrak {

void validate_script(const script& s);

// Checks one condition of IF or WHILE; `line` is used only in the messages.
void validate_test_expr(const test_expr& test, uint32_t line);

}  // namespace vendrak
