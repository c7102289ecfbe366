// vendrak-fmt: one canonical layout for every script.
//
// The formatter works from the compiler's own reading of the script: the
// statements and their words are those the front end finds, and a layout is
// only returned once the formatted text has been read back into the same
// script tree as the original (the same statements with the same operands,
// so the same container). Text that a DEFINE name could change is left as it
// stands.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace vendrak::fmt {

struct format_result {
    bool ok = false;                // false: vendrak refuses the script; text is then empty
    std::string text;               // the script in its canonical layout
    uint32_t line = 0, column = 0;  // where vendrak's error stands (when !ok)
    std::string message;            // vendrak's error text (when !ok), as vendrak-check gives it
};

// The width of one level of block indentation.
inline constexpr std::string_view indent_unit = "    ";
// Blocks nested deeper are indented as this level: the layout of a script
// stays within a fixed factor of its size however deep its blocks go.
inline constexpr size_t deepest_indent = 32;

format_result format_script(std::string_view text);

}  // namespace vendrak::fmt
