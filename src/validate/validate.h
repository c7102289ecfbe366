// The validator: value ranges, screen geometry, the order of the data-set
// commands and the operand combinations of conditions and assignments, checked
// over the whole script before any code is made.
#pragma once

#include "common/report.h"
#include "parser/script.h"

namespace vendrak {

// Stops at the first violation with a `fatal_error` on the error stream.
void validate_script(const script& s);

// Reports the first violation of each statement to `r` and goes on with the
// next statement (unless `r` throws).
void validate_script(const script& s, reporter& r);

// Whether a VAR assignment may take an operand of this kind; a VAR may be
// compared with exactly these kinds.
bool is_var_operand(uint32_t kind);

}  // namespace vendrak
