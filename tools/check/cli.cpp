#include "check/cli.h"

#include <string>
#include <string_view>
#include <vector>

#include "check/check.h"
#include "check/command_line.h"
#include "check/format.h"

namespace vendrak::check {
namespace {

constexpr const char* usage_text =
    "Usage: vendrak-check [options] <script>...\n"
    "\n"
    "Checks scripts as vendrak compiles them, and writes no file: every error\n"
    "vendrak would stop at (all those of the checks after parsing, and the\n"
    "first parse error of each script), and warnings for statements that\n"
    "compile into something other than they seem to say. Each finding is one\n"
    "line on standard output, file:line:column: error|warning: text [-Wname].\n"
    "The exit status is 0 when no script has an error, 1 otherwise, and 2 for\n"
    "a wrong command line.\n"
    "\n"
    "  -f, --format FORMAT  gnu (the default), json or sarif\n"
    "  -Wname               report the warning name (every warning is on)\n"
    "  -Wno-name            do not report the warning name\n"
    "  -Werror              make the exit status 1 for a warning too\n"
    "  -w                   report no warnings\n"
    "      --no-vbf         do not convert the VBF files the scripts program\n"
    "      --warnings       list the warnings and what each reports\n"
    "  -h, --help           print this text\n"
    "      --version        print the version\n";

struct options {
    check_options check;
    output_format format = output_format::gnu;
    bool no_warnings = false;
    bool warnings_are_errors = false;
    bool list = false;
    command_line line;
};

// Options and script names may come in any order; "--" ends the options.
bool parse_options(int argc, const char* const* argv, options& o, std::string& error) {
    auto own = [&](std::string_view a, int& i, std::string& error) {
        if (a == "--warnings") {
            o.list = true;
        } else if (a == "--no-vbf") {
            o.check.vbf_checks = false;
        } else if (a == "-w") {
            o.no_warnings = true;
        } else if (a == "-Werror") {
            o.warnings_are_errors = true;
        } else if (a.starts_with("-W")) {
            const bool off = a.starts_with("-Wno-");
            const std::string_view name = a.substr(off ? 5 : 2);
            const std::optional<warning> w = warning_named(name);
            if (!w) {
                error = "unknown warning " + std::string(a) + " (--warnings lists them)";
                return false;
            }
            o.check.enabled.set(static_cast<size_t>(*w), !off);
        } else if (a == "-f" || a == "--format" || a.starts_with("--format=") || (a.starts_with("-f") && a.size() > 2)) {
            std::string_view name;
            if (a.starts_with("--format=")) {
                name = a.substr(9);
            } else if (a.size() > 2 && a[1] == 'f') {
                name = a.substr(2);
            } else if (i + 1 < argc) {
                name = argv[++i];
            } else {
                error = std::string(a) + " needs a format";
                return false;
            }
            const std::optional<output_format> f = format_named(name);
            if (!f) {
                error = "unknown format \"" + std::string(name) + "\" (gnu, json or sarif)";
                return false;
            }
            o.format = *f;
        } else {
            return false;
        }
        return true;
    };
    if (!read_command_line(argc, argv, o.line, own, error)) return false;
    if (o.line.scripts.empty() && !o.line.help && !o.line.version && !o.list) {
        error = "no script to check";
        return false;
    }
    return true;
}

}  // namespace

int check_main(int argc, const char* const* argv, std::FILE* out, std::FILE* err) {
    options o;
    std::string error;
    const bool read = parse_options(argc, argv, o, error);
    if (const std::optional<int> status =
            answer_command_line(read, o.line, error, "vendrak-check", usage_text, out, err))
        return *status;
    if (o.list) {
        for (const warning_info& w : warning_table())
            std::fprintf(out, "%-16s %.*s\n", w.name.data(), static_cast<int>(w.summary.size()), w.summary.data());
        return 0;
    }
    if (o.no_warnings) o.check.enabled.reset();

    findings_writer writer(out, o.format);
    bool failed = false;
    for (const std::string& name : o.line.scripts) {
        const checked_script checked = check_file(name, o.check);
        for (const finding& f : checked.findings)
            failed = failed || f.level == severity::error || o.warnings_are_errors;
        writer.add(checked);
    }
    writer.finish();
    return failed ? 1 : 0;
}

}  // namespace vendrak::check
