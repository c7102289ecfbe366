// Script records for the in-process tests: parsed from script text, or built
// by hand for the forms the parser never makes.
#pragma once

#include <cstdio>
#include <string>
#include <string_view>

#include "dump/dump.h"
#include "files.h"
#include "parser/parser.h"

namespace vendrak::records {

using vendrak_test::error_of;
using vendrak_test::hex;

// A script of one statement: the record and the pools its texts live in.
struct one_statement {
    script s;
    const command& cmd() const { return s.commands.front(); }
};

inline one_statement only(std::string_view text) {
    one_statement one{parse_script_text(text)};
    EXPECT_EQ(one.s.commands.size(), 1u) << text;
    if (one.s.commands.empty()) one.s.commands.emplace_back();
    return one;
}

// A record built by hand, on line `line`.
inline command make(cmd_kind kind, command_form form, uint32_t line = 1) {
    command c;
    c.kind = kind;
    c.line = line;
    c.form = form;
    return c;
}

inline prim_expr ex(expr_kind kind, int32_t value = 0, int32_t length = 0) { return prim_expr::of(kind, value, length); }

// The -v listing of a script: ":line::text" per statement.
inline std::string listing_of(const script& s) {
    return vendrak_test::written([&](std::FILE* f) { dump_script(s, f); });
}

}  // namespace vendrak::records
