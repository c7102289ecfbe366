// File helpers shared by the tests that run programs on real files.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <random>
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
        // A name nobody holds yet: create_directory fails on an existing one.
        static std::mt19937_64 random{std::random_device{}()};
        for (int attempt = 0; path_.empty(); ++attempt) {
            if (attempt == 100) throw std::runtime_error("cannot create a scratch directory");
            const fs::path candidate = fs::temp_directory_path() / ("vendrak-test-" + std::to_string(random()));
            if (fs::create_directory(candidate)) path_ = candidate;
        }
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
