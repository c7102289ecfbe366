// Unified diffs of two texts, line by line, for `vendrak-fmt --check`.
#pragma once

#include <string>
#include <string_view>

namespace vendrak::fmt {

// The changes from `before` to `after` as a unified diff with three lines of
// context, headed "--- old_name" and "+++ new_name"; empty when the texts
// are equal. Lines keep their own line ends; a last line without one is
// followed by "\ No newline at end of file".
std::string unified_diff(std::string_view before, std::string_view after, std::string_view old_name,
                         std::string_view new_name);

}  // namespace vendrak::fmt
