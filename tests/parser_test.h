// Helpers shared by the parser tests: parse a script held in memory, catch its
// error message, and reach into the records.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <vector>

#include "common/fatal.h"
#include "parser/parser.h"
#include "records.h"

namespace vendrak::testing {

using records::only;

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

// The values of a script made of DELAY statements only.
inline std::vector<int32_t> delays(std::string_view text) {
    std::vector<int32_t> values;
    for (const command& c : parse_script_text(text).commands) {
        EXPECT_EQ(c.kind, CMD_DELAY) << text;
        if (const auto* d = std::get_if<delay_form>(&c.form)) values.push_back(d->value);
    }
    return values;
}

}  // namespace vendrak::testing
