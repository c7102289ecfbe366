// Places in an open script: byte offsets, as the checks and the word scanner
// count, and the editor's positions, lines and UTF-16 code units.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

namespace vendrak::lsp {

// A place as the editor counts it: the line from 0 (a line ends at LF,
// CR LF or a lone CR) and the UTF-16 code units before it on that line.
struct position {
    uint32_t line = 0;
    uint32_t character = 0;
    bool operator==(const position&) const = default;
};

// The lines of one text. The text must outlive the index.
class text_index {
public:
    explicit text_index(std::string_view text);

    std::string_view text() const { return text_; }

    // The position of byte `offset` (at most the text's size). Positions
    // asked for in ascending order cost the bytes between them.
    position position_of(size_t offset) const;

    // The byte offset of a position; a character past the end of its line
    // is the line's end. None for a line past the last.
    std::optional<size_t> offset_of(position p) const;

    // The byte offset of a place of the checks: `line` counts line feeds
    // only and `column` bytes, both from 1. Line 0 is the start of the text;
    // a place past the end is the end.
    size_t offset_of_place(uint32_t line, uint32_t column) const;

private:
    // Where line `line` ends, before its line break.
    size_t line_end(size_t line) const;

    std::string_view text_;
    std::vector<size_t> starts_;     // of the editor's lines
    std::vector<size_t> lf_starts_;  // of the lines the checks count
    // The last conversion of position_of: later offsets on its line start
    // counting from it.
    mutable size_t memo_offset_ = 0;
    mutable position memo_{};
};

// UTF-16 code units of `bytes`, UTF-8 where it is valid; a byte that is not
// part of valid UTF-8 counts as one unit, as an editor that shows it as a
// replacement character counts it.
size_t utf16_length(std::string_view bytes);

}  // namespace vendrak::lsp
