// Helpers shared by the parser tests: parse a script held in memory, catch its
// error message, and build expected records.
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <string_view>

#include "common/fatal.h"
#include "parser/parser.h"

namespace vendrak::testing {

// The message of the parse error, or "(no error)"; parse errors always
// belong on the error stream.
inline std::string error_of(std::string_view text) {
    try {
        parse_script_text(text);
    } catch (const fatal_error& e) {
        EXPECT_EQ(e.where(), out_stream::err) << e.message();
        return e.message();
    }
    return "(no error)";
}

// A record of the given kind on line 1, with fields set by `set`.
inline command cmd(uint32_t kind, const std::function<void(command&)>& set = nullptr) {
    command c;
    c.kind = kind;
    c.line = 1;
    if (set) set(c);
    return c;
}

inline prim_expr operand(uint32_t kind, const std::function<void(prim_expr&)>& set = nullptr) {
    prim_expr e;
    e.kind = kind;
    if (set) set(e);
    return e;
}

inline prim_expr number(int32_t n) {
    return operand(EXPR_NUMBER, [n](prim_expr& e) { e.number = n; });
}

// The only record of a one-statement script (a failure if there are more).
inline command only(std::string_view text) {
    script s = parse_script_text(text);
    EXPECT_EQ(s.commands.size(), 1u) << text;
    return s.commands.empty() ? command{} : s.commands.front();
}

}  // namespace vendrak::testing
