// The words of a script as they stand in the file, for the editor: where
// each word is, which are labels, jumps and DEFINE names. Words are cut as
// the compiler cuts them, but DEFINE names are not replaced and a broken
// statement does not end the scan, so the outline covers the whole text
// while it is being typed.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace vendrak::lsp {

struct word {
    enum kind_t : uint8_t { name, quoted, other };
    size_t begin = 0;
    size_t end = 0;  // past the word's last byte, before carriage returns that follow it
    kind_t kind = other;
};

// A name at one word: a label (without its trailing colons), a GOTO or
// GOSUB target, or a DEFINE name.
struct symbol {
    std::string name;
    size_t word = 0;   // index into outline::words
    size_t end = 0;    // a DEFINE: past the last word of its value; else the word's end
};

struct outline {
    std::vector<word> words;
    // Where each comment begins and ends, in order.
    std::vector<std::pair<size_t, size_t>> comments;
    std::vector<symbol> labels;   // in order, a label defined twice twice
    std::vector<symbol> jumps;
    std::vector<symbol> defines;  // in order, a name defined again again

    // The word that holds `offset` or ends right at it; none: words.size().
    size_t word_at(size_t offset) const;
    bool in_comment(size_t offset) const;
};

// The end of the word that begins at `begin`, as the compiler reads it: a
// run of word characters or of comparison characters, a quoted text, or
// one other character; `begin` itself when a blank or a comment begins
// there.
size_t word_end(std::string_view text, size_t begin);

outline scan_outline(std::string_view text);

// The text of a word: its bytes without the carriage returns the compiler
// drops.
std::string word_text(std::string_view text, const word& w);

// A label's name: its text without the colons at its end, but never
// without its first character.
std::string_view label_name(std::string_view text);

}  // namespace vendrak::lsp
