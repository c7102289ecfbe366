// The command line of the programs that read scripts, vendrak-check and
// vendrak-fmt: options and script names in any order, "-" (standard input)
// as a name, "--" before names that begin with "-", -h/--help and
// --version; each program adds options of its own.
#pragma once

#include <cstdio>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vendrak::check {

struct command_line {
    bool help = false;
    bool version = false;
    std::vector<std::string> scripts;
};

// A program's own option: `word` is argv[i]; an option with an argument in
// the next word takes it by advancing `i`. Returns false for a word it does
// not know (leaving `error` empty) or refuses (saying why in `error`).
using option_reader = std::function<bool(std::string_view word, int& i, std::string& error)>;

// Reads argv into `line`, the program's own options through `own`. Returns
// false, with `error` saying why, for a wrong command line.
bool read_command_line(int argc, const char* const* argv, command_line& line, const option_reader& own,
                       std::string& error);

// What the command line asks for before any script is read: the usage
// after `error` on `err` with status 2 when it is wrong (`read` false), the
// usage on `out` for -h/--help, "program version" for --version, each with
// status 0; nothing when the program goes on to its scripts.
std::optional<int> answer_command_line(bool read, const command_line& line, const std::string& error,
                                       std::string_view program, const char* usage, std::FILE* out, std::FILE* err);

}  // namespace vendrak::check
