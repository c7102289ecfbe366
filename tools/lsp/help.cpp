#include "lsp/help.h"

#include "parser/vocabulary.h"

namespace vendrak::lsp {
namespace {

// One entry of the manual: the keywords of its heading ("LCD, HLCD, HUD"),
// the syntax lines of all of them and its sentence.
struct entry {
    std::string_view keywords;
    std::string_view syntax;
    std::string_view summary;
};

constexpr entry entries[] = {
#include "statement_help.inc"
};

// The keyword a syntax line begins with: "VAR[n] = operand" gives "VAR".
std::string_view first_word(std::string_view line) {
    size_t n = 0;
    while (n < line.size() && ((line[n] >= 'A' && line[n] <= 'Z') || (line[n] >= '0' && line[n] <= '9') || line[n] == '_')) ++n;
    return line.substr(0, n);
}

// Whether the heading of `e` names `keyword`.
bool names(const entry& e, std::string_view keyword) {
    for (std::string_view list = e.keywords; !list.empty();) {
        const size_t comma = list.find(", ");
        if (vocabulary::same_word(list.substr(0, comma), keyword)) return true;
        list = comma == list.npos ? std::string_view{} : list.substr(comma + 2);
    }
    return false;
}

}  // namespace

std::optional<keyword_help> help_for(std::string_view keyword) {
    for (const entry& e : entries) {
        if (!names(e, keyword)) continue;
        // The forms of this keyword; an entry of several keywords shows each
        // its own.
        keyword_help help{{}, e.summary};
        for (std::string_view lines = e.syntax; !lines.empty();) {
            const size_t end = lines.find('\n');
            const std::string_view line = lines.substr(0, end);
            lines = end == lines.npos ? std::string_view{} : lines.substr(end + 1);
            if (!vocabulary::same_word(first_word(line), keyword)) continue;
            if (!help.syntax.empty()) help.syntax += '\n';
            help.syntax += line;
        }
        if (help.syntax.empty()) help.syntax = e.syntax;
        return help;
    }
    return std::nullopt;
}

}  // namespace vendrak::lsp
