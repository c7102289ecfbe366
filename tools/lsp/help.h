// What hover and completion say about a keyword: its syntax lines and the
// sentence of its entry in the language manual, which the build copies from
// docs/language.md.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace vendrak::lsp {

struct keyword_help {
    std::string syntax;        // the syntax lines of the keyword, one a line
    std::string_view summary;  // one sentence: what the statement is for
};

// The help of a statement keyword or DEFINE, in any letter case; none for
// any other word.
std::optional<keyword_help> help_for(std::string_view keyword);

}  // namespace vendrak::lsp
