// One open script and what the server knows of it; the answers to the
// requests about a place in it. Private to the server.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "check/check.h"
#include "lsp/outline.h"
#include "lsp/text.h"

namespace vendrak::lsp {

using json = nlohmann::json;

// A request whose parameters are not what its method takes.
struct invalid_params : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// A request that is well formed but cannot be done (a rename of a word of
// the language, the formatting of a script that does not compile).
struct request_failed : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// A finding of the VBF checks, which run on open and save only, with the
// line it was made on: while the script is edited it stays on the line with
// that text nearest to where it was, and goes when the line goes.
struct flash_finding {
    check::finding found;
    std::string line_text;
};

struct document {
    std::string uri;
    std::string path;  // of a file: URI; empty for any other
    int64_t version = 0;
    std::string text;
    text_index lines{text};
    outline words;
    std::vector<check::finding> script_findings;  // of the current text
    std::vector<flash_finding> flash_findings;    // of the last VBF check
    // Counts the texts the document has held; `checked` is the one that
    // script_findings are of.
    uint64_t generation = 0;
    uint64_t checked = UINT64_MAX;
    uint64_t read_generation = UINT64_MAX;  // the text read() last read
    std::chrono::steady_clock::time_point changed_at{};  // of the last change; none for the opened text

    document() = default;
    document(const document&) = delete;
    document& operator=(const document&) = delete;

    // Takes a new text: the line index and the outline follow it.
    void set_text(std::string new_text);
    // Puts the compiler's reading of the text into the outline's labels and
    // jumps, once per text: a "10:" that a number list takes is no label, a
    // keyword that a GOTO takes is a label. Past a statement the compiler
    // refuses, the words as written stand. Done when a request needs it, not
    // on every change, since it parses the whole text.
    void read();
    // The byte offset of a position sent by the editor; none past the last line.
    std::optional<size_t> offset_of(const json& position) const { return offset_in(lines, position); }
    static std::optional<size_t> offset_in(const text_index& lines, const json& position);
    json range(size_t begin, size_t end) const;
    // The range of the word at a place of the checks (see text_index).
    json word_range(uint32_t line, uint32_t column) const;
};

// The findings of the VBF checks: those of `all` (a check with them) that
// `script_only` (the same check without them) lacks, with their lines in
// `text`.
std::vector<flash_finding> flash_only(std::vector<check::finding> all, std::vector<check::finding> script_only,
                                      std::string_view text);

// One finding as a diagnostic, its notes as related information.
json diagnostic(const document& d, const check::finding& f);

// The publishDiagnostics parameters: the script's findings and the VBF
// findings carried onto the current text.
json diagnostics(const document& d);

// What a name word stands for.
struct meaning {
    enum { none, define, label } what = none;
    std::string name;
    const symbol* definition = nullptr;  // the DEFINE in force there, or the label jumps go to
};
meaning meaning_at(const document& d, size_t offset);

// The answers to the requests about a place; `null` where there is none.
json hover(const document& d, size_t offset, bool markdown);
json definition(const document& d, size_t offset);
json references(const document& d, size_t offset, bool with_declarations);
json completion(const document& d, size_t offset);
json symbols(const document& d, bool hierarchical);

// Editing help (editing.cpp).
json highlights(const document& d, size_t offset);
json prepare_rename(const document& d, size_t offset);
json rename(const document& d, size_t offset, const std::string& new_name);
// The quick fixes of the findings that touch the lines of `range`.
json code_actions(const document& d, const json& range);
// The whole script in the formatter's layout; with a range, the edits of
// the lines it covers only.
json formatting(const document& d, const json* range);
json folding_ranges(const document& d);
json signature_help(const document& d, size_t offset);
// The token types of semantic_tokens, in the order their numbers give.
json semantic_token_legend();
json semantic_tokens(const document& d);

}  // namespace vendrak::lsp
