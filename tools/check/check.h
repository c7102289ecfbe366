// vendrak-check: every error `vendrak` would stop at, and warnings for the
// statements that compile into something other than they seem to say.
//
// The checks run on a script held in memory and give their findings as
// values, so a command line and a language server share them; how findings
// are printed is format.h's business.
#pragma once

#include <bitset>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace vendrak::check {

enum class severity : uint8_t { error, warning };

// The warnings, in the order `--warnings` and the manual list them.
enum class warning : uint8_t {
    fw_version,
    fraction,
    trailing,
    octal,
    overflow,
    row_overflow,
    second_else,
    loop_pairing,
    duplicate_label,
    unused_label,
    unreachable,
    define_keyword,
    encoding,
    flash_name,
    vbf_path,
    block_checksum,
    unclosed_comment,
    line_end,
    string_lines,
    screen_text,
    return_without_gosub,
    gosub_return,
    goto_into_block,
    endless_loop,
    constant_condition,
    unset,
    order,
    slice_range,
    never_true,
    divide_by_zero,
    bar_limits,
    vin_length,
    empty_request,
    read_reply,
    redefine,
    define_number,
    define_in_string,
    data_set,
    network,
};
constexpr size_t warning_count = static_cast<size_t>(warning::network) + 1;

struct warning_info {
    std::string_view name;     // as in -Wname
    std::string_view summary;  // one line: what it reports
};

// Indexed by `warning`.
std::span<const warning_info, warning_count> warning_table();
std::string_view name_of(warning w);
std::optional<warning> warning_named(std::string_view name);

// Another place a finding points at: the cause of an error, or where what it
// names is defined, with what to write there.
struct note {
    uint32_t line = 0;    // as finding::line
    uint32_t column = 0;  // as finding::column
    std::string message;  // e.g. "string opened here is never closed", "did you mean GOSUB?"
};

// One change of the text: bytes from (line, column) up to, not including,
// (end_line, end_column) become `text` (lines from 1, byte columns from 1).
struct edit {
    uint32_t line = 0, column = 0, end_line = 0, end_column = 0;
    std::string text;
};

struct finding {
    uint32_t line = 0;    // counting from 1; 0: the file as a whole
    uint32_t column = 0;  // bytes from the start of the line, counting from 1
    severity level = severity::error;
    warning name{};       // warnings only
    // Errors: the text `vendrak` prints, without the "[line] Error: " that
    // begins a script message or the "ERROR: " of a VBF message.
    std::string message;
    std::vector<note> notes;
    std::vector<edit> fix;  // the one mechanical fix, when the finding has one; empty otherwise
};

struct check_options {
    std::bitset<warning_count> enabled = std::bitset<warning_count>().set();
    // Convert every VBF file the script programs, as `vendrak` would.
    bool vbf_checks = true;
    // The directory `vendrak` would run in: relative VBF file names are
    // looked for there. Empty: the current directory.
    std::string vbf_directory;
};

// Checks the script `text`; `name` is its path, relative to the current
// directory (the VBF checks look beside it). Findings come sorted by place.
std::vector<finding> check_script(std::string_view text, std::string_view name, const check_options& options);

// A script file with its findings; `text` is empty when the file could not
// be read, and the one finding then says so as `vendrak` would.
struct checked_script {
    std::string name;
    std::string text;
    std::vector<finding> findings;
};

checked_script check_file(const std::string& path, const check_options& options);

// `text` as one line of printable text: control characters, bytes that are
// not UTF-8 and byte-order marks become \xNN; a run of more than three of
// one such byte is written once with its count ("\xFF (1021 times)").
std::string printable(std::string_view text);

}  // namespace vendrak::check
