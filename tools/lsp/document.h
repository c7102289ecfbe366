// One open script and what the server knows of it; the answers to the
// requests about a place in it. Private to the server.
#pragma once

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

    document() = default;
    document(const document&) = delete;
    document& operator=(const document&) = delete;

    // Takes a new text: the line index and the outline follow it.
    void set_text(std::string new_text);
    // The byte offset of a position sent by the editor; none past the last line.
    std::optional<size_t> offset_of(const json& position) const { return offset_in(lines, position); }
    static std::optional<size_t> offset_in(const text_index& lines, const json& position);
    json range(size_t begin, size_t end) const;
};

// The findings of the VBF checks: those of `all` (a check with them) that
// `script_only` (the same check without them) lacks, with their lines in
// `text`.
std::vector<flash_finding> flash_only(std::vector<check::finding> all, std::vector<check::finding> script_only,
                                      std::string_view text);

// The publishDiagnostics parameters: the script's findings and the VBF
// findings carried onto the current text.
json diagnostics(const document& d);

// The answers to the requests about a place; `null` where there is none.
json hover(const document& d, size_t offset, bool markdown);
json definition(const document& d, size_t offset);
json references(const document& d, size_t offset, bool with_declarations);
json completion(const document& d, size_t offset);
json symbols(const document& d, bool hierarchical);

}  // namespace vendrak::lsp
