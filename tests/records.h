// Records for the tests of the stages after the parser: parsed from one
// script line, or built by hand for the forms no script makes.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "parser/parser.h"

namespace vendrak::records {

// A script of one statement: the record and the pools its texts live in.
struct one_statement {
    script s;
    const command& cmd() const { return s.commands.front(); }
    template <typename Form>
    const Form& form() const {
        return std::get<Form>(cmd().form);
    }
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

// "0D 00 02" -> bytes.
inline std::vector<uint8_t> hex(const std::string& text) {
    std::vector<uint8_t> out;
    std::istringstream in(text);
    std::string b;
    while (in >> b) out.push_back(static_cast<uint8_t>(std::stoul(b, nullptr, 16)));
    return out;
}

}  // namespace vendrak::records
