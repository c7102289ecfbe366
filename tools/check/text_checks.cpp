// Warnings about the text as written: comments and strings that take in
// more of the file than they seem to, and line ends vendrak does not see.
#include <algorithm>
#include <string>

#include "check/findings.h"
#include "check/raw_text.h"

namespace vendrak::check {

void warn_text(std::string_view text, const raw_script& raw, findings& out) {
    const auto lines_after = [&](token_position at) {
        // The lines of the file below `at`, the last one counted when it has text.
        const size_t feeds = static_cast<size_t>(std::count(text.begin(), text.end(), '\n'));
        const size_t total = feeds + (text.empty() || text.back() == '\n' ? 0 : 1);
        return total > at.line ? total - at.line : 0;
    };
    bool lone_cr_reported = false;
    for (const raw_comment& c : raw.comments) {
        if (c.block && !c.closed)
            out.warn(warning::unclosed_comment, c.at,
                     "this /* comment is never closed: it runs to the end of the file, and the %zu line%s after it %s "
                     "not read",
                     lines_after(c.at), lines_after(c.at) == 1 ? "" : "s", lines_after(c.at) == 1 ? "is" : "are");
        if (!c.block && c.lone_cr.line != 0 && !lone_cr_reported) {
            lone_cr_reported = true;
            out.warn(warning::line_end, c.at,
                     "this ; comment runs on over carriage returns up to the next line feed: the lines the editor shows "
                     "after it are not read; save the file with LF or CR LF line ends");
        }
    }
    if (!lone_cr_reported) {
        for (size_t i = 0; i < text.size(); ++i) {
            if (text[i] != '\r' || (i + 1 < text.size() && text[i + 1] == '\n')) continue;
            const size_t line_start = text.rfind('\n', i) == text.npos ? 0 : text.rfind('\n', i) + 1;
            const auto line = static_cast<uint32_t>(std::count(text.begin(), text.begin() + static_cast<ptrdiff_t>(i), '\n') + 1);
            if (i + 1 == text.size()) break;  // a CR that ends the file ends nothing
            out.warn(warning::line_end, {line, static_cast<uint32_t>(i - line_start + 1)},
                     "a carriage return without a line feed: vendrak ends no line here, so the words on both sides of "
                     "it join and its messages name other lines than the editor shows; save the file with LF or CR LF "
                     "line ends");
            break;
        }
    }
    for (const raw_string& s : raw.strings) {
        if (!s.closed || s.end.line == s.at.line) continue;
        finding* f = out.warn(warning::string_lines, s.at,
                              "this string runs on to line %u and holds its line breaks: is its closing quote missing?",
                              s.end.line);
        if (f == nullptr) continue;
        // Closing it where its first line ends (before a CR of a CR LF).
        size_t first_line = s.text.find('\n');
        if (first_line > 0 && s.text[first_line - 1] == '\r') --first_line;
        const uint32_t column = s.at.column + 1 + static_cast<uint32_t>(first_line);
        f->notes.push_back({s.end.line, s.end.column, "the string ends here"});
        f->fix.push_back({s.at.line, column, s.at.line, column, "\""});
    }
}

}  // namespace vendrak::check
