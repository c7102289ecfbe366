// The layout alone, without the read-back that format_script makes before
// it returns one: for the tests, which show that the layout keeps every
// program the same on its own.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace vendrak::fmt {

// The canonical layout of a script that the front end reads without error
// (it throws the front end's fatal error otherwise); nothing for text that
// is never laid out anew (a NUL byte, a string that is never closed).
std::optional<std::string> unchecked_layout(std::string_view text);

}  // namespace vendrak::fmt
