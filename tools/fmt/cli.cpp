#include "fmt/cli.h"

#include <string>
#include <string_view>
#include <vector>

#include "check/command_line.h"
#include "common/file.h"
#include "fmt/diff.h"
#include "fmt/formatter.h"
#include "platform/platform.h"

namespace vendrak::fmt {
namespace {

constexpr const char* usage_text =
    "Usage: vendrak-fmt [options] [<script>...]\n"
    "\n"
    "Lays scripts out in the one canonical layout: one statement per line,\n"
    "blocks indented, keywords in capitals, one blank between words. The\n"
    "formatted script compiles to the same container as the original. Without\n"
    "a script, or with \"-\", reads standard input. A script that vendrak refuses\n"
    "is left as it is, with vendrak's error as file:line:column: error: text.\n"
    "The exit status is 0 on success, 1 when --check finds a script that would\n"
    "change, and 2 when a script is refused or cannot be read or written, or\n"
    "for a wrong command line.\n"
    "\n"
    "  -i, --in-place  rewrite each script file (only when it changes)\n"
    "      --check     write nothing; print a unified diff of each script that\n"
    "                  would change and exit with status 1\n"
    "  -h, --help      print this text\n"
    "      --version   print the version\n";

struct options {
    bool in_place = false;
    bool check = false;
    check::command_line line;
};

bool parse_options(int argc, const char* const* argv, options& o, std::string& error) {
    auto own = [&o](std::string_view a, int&, std::string&) {
        if (a == "-i" || a == "--in-place") {
            o.in_place = true;
        } else if (a == "--check") {
            o.check = true;
        } else {
            return false;
        }
        return true;
    };
    if (!check::read_command_line(argc, argv, o.line, own, error)) return false;
    if (o.in_place && o.check) {
        error = "-i and --check exclude each other";
        return false;
    }
    if (o.line.scripts.empty()) o.line.scripts.emplace_back("-");
    if (o.in_place) {
        for (const std::string& s : o.line.scripts) {
            if (s == "-") {
                error = "-i needs script files, not standard input";
                return false;
            }
        }
    }
    return true;
}

bool read_all(std::FILE* f, std::string& text) {
    // A file's size, where it has one, is the room the text needs.
    if (const int64_t at = platform::tell(f); at >= 0 && std::fseek(f, 0, SEEK_END) == 0) {
        const int64_t size = platform::tell(f);
        if (size > at) text.reserve(static_cast<size_t>(size - at));
        platform::seek(f, static_cast<uint64_t>(at));
    }
    char buffer[1 << 16];
    size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, f)) > 0) text.append(buffer, n);
    return std::ferror(f) == 0;
}

}  // namespace

int fmt_main(int argc, const char* const* argv, std::FILE* in, std::FILE* out, std::FILE* err) {
    options o;
    std::string error;
    const bool read = parse_options(argc, argv, o, error);
    if (const std::optional<int> status =
            check::answer_command_line(read, o.line, error, "vendrak-fmt", usage_text, out, err))
        return *status;

    int status = 0;
    auto worst = [&status](int s) { status = std::max(status, s); };
    for (const std::string& name : o.line.scripts) {
        const bool from_stdin = name == "-";
        const std::string shown = from_stdin ? "<stdin>" : name;
        std::string text;
        if (from_stdin) {
            if (!read_all(in, text)) {
                std::fprintf(err, "vendrak-fmt: cannot read standard input\n");
                worst(2);
                continue;
            }
        } else {
            const file_ptr f(platform::open_input(name.c_str()));
            if (!f || !read_all(f.get(), text)) {
                std::fprintf(err, "%s: error: cannot read the file\n", shown.c_str());
                worst(2);
                continue;
            }
        }
        const format_result r = format_script(text);
        if (!r.ok) {
            std::fprintf(err, "%s:%u:%u: error: %s\n", shown.c_str(), r.line, r.column, r.message.c_str());
            worst(2);
            // On standard output the script comes through as it is, so that
            // an editor filtering text through the program loses nothing.
            if (!o.check && !o.in_place) std::fwrite(text.data(), 1, text.size(), out);
            continue;
        }
        if (o.check) {
            if (r.text != text) {
                const std::string diff = unified_diff(text, r.text, shown + ".orig", shown);
                std::fwrite(diff.data(), 1, diff.size(), out);
                worst(1);
            }
        } else if (o.in_place) {
            if (r.text != text && !platform::replace_file(name, r.text, error)) {
                std::fprintf(err, "%s: error: cannot write the file: %s\n", shown.c_str(), error.c_str());
                worst(2);
            }
        } else {
            std::fwrite(r.text.data(), 1, r.text.size(), out);
        }
    }
    if (std::fflush(out) != 0) {
        std::fprintf(err, "vendrak-fmt: cannot write the output\n");
        worst(2);
    }
    return status;
}

}  // namespace vendrak::fmt
