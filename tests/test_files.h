// File helpers shared by the tests that run programs on real files.
#pragma once

#include <fcntl.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <string>
#include <system_error>
#include <vector>

namespace vendrak_test {

namespace fs = std::filesystem;

inline std::string read_file(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

inline void write_file(const fs::path& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

// The CRC-32 register of the reflected polynomial 0xEDB88320 advanced bit by
// bit, without any table: the independent reference for the compiler's CRCs.
inline uint32_t bitwise_crc(uint32_t reg, const void* data, size_t n) {
    const auto* bytes = static_cast<const uint8_t*>(data);
    for (size_t i = 0; i < n; ++i) {
        reg ^= bytes[i];
        for (int k = 0; k < 8; ++k) reg = (reg & 1) ? (reg >> 1) ^ 0xEDB88320u : reg >> 1;
    }
    return reg;
}

// Little-endian field of a container, big-endian field of a VBF section head.
inline uint32_t u32_at(const std::string& b, size_t at) {
    uint32_t v = 0;
    for (size_t i = 4; i-- > 0;) v = v << 8 | static_cast<uint8_t>(b[at + i]);
    return v;
}
inline std::string u32be(uint32_t v) {
    return {static_cast<char>(v >> 24), static_cast<char>(v >> 16), static_cast<char>(v >> 8), static_cast<char>(v)};
}

// A fresh temporary directory, removed with everything in it. `run()` is an
// empty folder inside it for a program to run in; what a test keeps beside
// the run (captured output streams) goes next to it.
class scratch_dir {
public:
    scratch_dir() {
        std::string pattern = (fs::temp_directory_path() / "vendrak-test-XXXXXX").string();
        if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
        path_ = pattern;
        fs::create_directory(run());
    }
    ~scratch_dir() {
        std::error_code ignored;
        fs::remove_all(path_, ignored);
    }
    scratch_dir(const scratch_dir&) = delete;
    scratch_dir& operator=(const scratch_dir&) = delete;

    const fs::path& path() const { return path_; }
    fs::path run() const { return path_ / "run"; }
    fs::path side(const std::string& name) const { return path_ / name; }

private:
    fs::path path_;
};

// Runs `program` in `dir` as "name args...", with standard input from
// /dev/null and its output streams captured in files beside `dir`.
struct program_run {
    int status = -1;
    std::string out;
    std::string err;
};

inline program_run run_program(const fs::path& dir, const std::string& program, const std::string& name,
                              std::vector<std::string> args) {
    const fs::path out_path = dir.parent_path() / (dir.filename().string() + ".out");
    const fs::path err_path = dir.parent_path() / (dir.filename().string() + ".err");
    const pid_t pid = fork();
    if (pid == 0) {
        const int in = open("/dev/null", O_RDONLY);
        const int out = open(out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        const int err = open(err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (chdir(dir.c_str()) != 0 || in < 0 || out < 0 || err < 0) _exit(126);
        dup2(in, 0);
        dup2(out, 1);
        dup2(err, 2);
        std::vector<char*> argv{const_cast<char*>(name.c_str())};
        for (std::string& a : args) argv.push_back(a.data());
        argv.push_back(nullptr);
        execv(program.c_str(), argv.data());
        _exit(127);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    program_run r{WIFEXITED(status) ? WEXITSTATUS(status) : 128, read_file(out_path), read_file(err_path)};
    fs::remove(out_path);
    fs::remove(err_path);
    return r;
}

}  // namespace vendrak_test
