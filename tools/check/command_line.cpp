#include "check/command_line.h"

namespace vendrak::check {

bool read_command_line(int argc, const char* const* argv, command_line& line, const option_reader& own,
                       std::string& error) {
    bool only_names = false;
    for (int i = 1; i < argc; ++i) {
        const std::string_view a = argv[i];
        if (only_names || a == "-" || !a.starts_with('-')) {
            line.scripts.emplace_back(a);
        } else if (a == "--") {
            only_names = true;
        } else if (a == "-h" || a == "--help") {
            line.help = true;
        } else if (a == "--version") {
            line.version = true;
        } else if (!own(a, i, error)) {
            if (error.empty()) error = "unknown option " + std::string(a);
            return false;
        }
    }
    return true;
}

std::optional<int> answer_command_line(bool read, const command_line& line, const std::string& error,
                                       std::string_view program, const char* usage, std::FILE* out, std::FILE* err) {
    const int name_length = static_cast<int>(program.size());
    if (!read) {
        std::fprintf(err, "%.*s: %s\n%s", name_length, program.data(), error.c_str(), usage);
        return 2;
    }
    if (line.help) {
        std::fputs(usage, out);
        return 0;
    }
    if (line.version) {
        std::fprintf(out, "%.*s %s\n", name_length, program.data(), VENDRAK_VERSION);
        return 0;
    }
    return std::nullopt;
}

}  // namespace vendrak::check
