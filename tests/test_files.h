// File helpers shared by the tests that run programs on real files.
#pragma once

#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <string>
#include <system_error>

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

}  // namespace vendrak_test
