// How the tests that run the programs start them, wait for them and read
// what they printed: one runner for every such test.
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
// Windows consoles may end every line in CR LF; the runner takes that back
// to LF, and nothing else.
#pragma once

#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "files.h"

namespace vendrak_test {

const std::string prompt = "\nERROR:-1, Press any key to continue...\n";

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
    command c{program, {argument0}};
    if (!launcher.empty()) {
        c = {launcher.front(), launcher};
        c.argv.insert(c.argv.end(), launcher_options.begin(), launcher_options.end());
        c.argv.push_back(program);
        c.argv.push_back(argument0);
    }
    c.argv.insert(c.argv.end(), args.begin(), args.end());
    return c;
}

#ifdef VENDRAK_COMPILER
// `vendrak` with these arguments: the one built here, or VENDRAK_PROGRAM.
inline command compiler(const std::vector<std::string>& args) {
    return command_for(program_or("VENDRAK_PROGRAM", VENDRAK_COMPILER), args);
}
#endif

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

// The summary line with its CRC written as 0x????????.
inline std::string mask_summary(const std::string& out) {
    const size_t at = out.rfind(", CRC:0x");
    return at == std::string::npos || out.size() < at + 16 ? out : out.substr(0, at + 8) + "????????" + out.substr(at + 16);
}

struct run_result {
    int status = -1;  // the exit status, 128 + the signal that ended the run
    std::string out;
    std::string err;
};

// One started run in `dir`, standard input from /dev/null, standard output
// and error into files beside `dir` named after `capture`. No file of the
// run can grow past `file_size_limit`: a write that would fails as on a full
// disk.
// In a forked child: becomes the command's process, or ends with 127.
[[noreturn]] inline void exec_command(const command& c) {
    std::vector<std::string> words = c.argv;
    std::vector<char*> argv;
    for (std::string& w : words) argv.push_back(w.data());
    argv.push_back(nullptr);
    execvp(c.file.c_str(), argv.data());
    _exit(127);
}

class program_run {
public:
    program_run(const fs::path& dir, const command& c, const std::string& capture = "run",
                rlim_t file_size_limit = RLIM_INFINITY)
        : out_(dir.parent_path() / (capture + ".out")), err_(dir.parent_path() / (capture + ".err")) {
        pid_ = fork();
        if (pid_ != 0) return;
        const rlimit limit{file_size_limit, file_size_limit};
        if (file_size_limit != RLIM_INFINITY &&
            (signal(SIGXFSZ, SIG_IGN) == SIG_ERR || setrlimit(RLIMIT_FSIZE, &limit) != 0))
            _exit(126);
        const int in = open("/dev/null", O_RDONLY);
        const int out = open(out_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        const int err = open(err_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (chdir(dir.c_str()) != 0 || in < 0 || out < 0 || err < 0) _exit(126);
        dup2(in, 0);
        dup2(out, 1);
        dup2(err, 2);
        exec_command(c);
    }

    // Waits for the end of the run; one that outlives `limit` is killed and
    // fails the test.
    run_result finish(std::chrono::seconds limit = std::chrono::seconds(120)) {
        int wstatus = 0;
        const auto deadline = std::chrono::steady_clock::now() + limit;
        while (waitpid(pid_, &wstatus, WNOHANG) != pid_) {
            if (std::chrono::steady_clock::now() > deadline) {
                kill(pid_, SIGKILL);
                waitpid(pid_, &wstatus, 0);
                ADD_FAILURE() << "the run did not finish within " << limit.count() << " s";
                break;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
        run_result r{WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : 128 + WTERMSIG(wstatus),
                     console_text(read_file(out_)), console_text(read_file(err_))};
        fs::remove(out_);
        fs::remove(err_);
        return r;
    }

    pid_t pid() const { return pid_; }

private:
    fs::path out_, err_;
    pid_t pid_ = -1;
};

inline run_result run(const fs::path& dir, const command& c) { return program_run(dir, c).finish(); }

// The temporary VBF files ("vendrak.*") a run left in `dir`.
inline std::vector<std::string> leftover_temp_files(const fs::path& dir) {
    std::set<std::string> left;
    for (const auto& entry : fs::directory_iterator(dir))
        if (entry.path().filename().string().starts_with("vendrak.")) left.insert(entry.path().filename().string());
    return {left.begin(), left.end()};
}

}  // namespace vendrak_test
