// How the tests that run the programs start them.
//
// By default they run the programs built beside them, directly. For the
// Windows build, `make test-windows` runs the same tests against the .exe
// files through Wine, with three variables:
//
//   VENDRAK_LAUNCHER         the words that start a program (split at blanks):
//                            LAUNCHER... PROGRAM ARGUMENT0 ARGUMENT... must
//                            run PROGRAM with ARGUMENT0 as its argument 0
//                            (tests/windows/launch.exe under Wine does)
//   VENDRAK_PROGRAM          the compiler to run
//   VENDRAK_INSPECT_PROGRAM  the inspector to run
//
// Windows consoles may end every line in CR LF; `console_text` takes that
// back to LF, and nothing else.
#pragma once

#include <unistd.h>

#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

namespace vendrak_test {

inline std::vector<std::string> launcher_words() {
    std::vector<std::string> words;
    const char* launcher = std::getenv("VENDRAK_LAUNCHER");
    std::istringstream text(launcher ? launcher : "");
    for (std::string word; text >> word;) words.push_back(word);
    return words;
}

// Whether the programs run through a launcher (the Windows build).
inline bool launched() { return !launcher_words().empty(); }

// `built` unless the variable `name` names another program.
inline std::string program_or(const char* name, const std::string& built) {
    const char* program = std::getenv(name);
    return program && *program ? program : built;
}

// What to exec for one run: the file and every word of argv, argument 0
// first. `launcher_options` go between the launcher and the program; the
// program sees `argument0`, by default as a user on the PATH would start it.
struct command {
    std::string file;
    std::vector<std::string> argv;
};

inline command command_for(const std::string& program, const std::vector<std::string>& args,
                           const std::vector<std::string>& launcher_options = {},
                           const std::string& argument0 = "vendrak") {
    std::vector<std::string> launcher = launcher_words();
    if (launcher.empty()) {
        std::vector<std::string> argv{argument0};
        argv.insert(argv.end(), args.begin(), args.end());
        return {program, argv};
    }
    command c{launcher.front(), launcher};
    c.argv.insert(c.argv.end(), launcher_options.begin(), launcher_options.end());
    c.argv.push_back(program);
    c.argv.push_back(argument0);
    c.argv.insert(c.argv.end(), args.begin(), args.end());
    return c;
}

// In a child after fork: becomes the command, or ends with status 127.
[[noreturn]] inline void exec_command(const command& c) {
    std::vector<std::string> words = c.argv;
    std::vector<char*> argv;
    for (std::string& w : words) argv.push_back(w.data());
    argv.push_back(nullptr);
    execvp(c.file.c_str(), argv.data());
    _exit(127);
}

// Console output of a launched program with its CR LF line ends taken back
// to LF, when every line feed has its CR; otherwise unchanged, so that a
// comparison shows the difference.
inline std::string console_text(const std::string& text) {
    if (!launched()) return text;
    std::string lines;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\n') {
            if (i == 0 || text[i - 1] != '\r') return text;
            lines.pop_back();
        }
        lines.push_back(text[i]);
    }
    return lines;
}

}  // namespace vendrak_test
