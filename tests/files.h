// What every test that handles real files shares: files, scratch
// directories, VBF files built byte by byte, and containers checked and
// compared independently of the compiler's own code.
#pragma once

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <random>
#include <sstream>
#include <stdexcept>
#include <string>
#include <system_error>
#include <vector>

#include <gtest/gtest.h>

#include "aes/aes.h"
#include "common/fatal.h"
#include "platform/platform.h"

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

// What `write` writes into a stream. The stream lives in the user's
// temporary directory: std::tmpfile() would put it in the root of the drive
// on Windows, which a user may not write.
inline std::string written(const std::function<void(std::FILE*)>& write) {
    std::FILE* f = vendrak::platform::temp_stream();
    if (f == nullptr) throw std::runtime_error("no temporary stream");
    write(f);
    std::string text(static_cast<size_t>(std::ftell(f)), '\0');
    std::rewind(f);
    text.resize(std::fread(text.data(), 1, text.size(), f));
    std::fclose(f);
    return text;
}

// A program's main, run in-process as `name` with `args`: its exit status
// and what it wrote on standard output and standard error.
struct main_run {
    int status = -1;
    std::string out, err;
};
template <typename Main>
main_run run_main(Main main, const char* name, const std::vector<std::string>& args) {
    std::vector<const char*> argv{name};
    for (const std::string& a : args) argv.push_back(a.c_str());
    main_run r;
    r.out = written([&](std::FILE* out) {
        r.err = written([&](std::FILE* err) { r.status = main(static_cast<int>(argv.size()), argv.data(), out, err); });
    });
    return r;
}

// The message of the fatal error `stage` ends with, which must belong on
// the stream `where`; "" when it ends normally.
template <typename Stage>
std::string error_of(Stage stage, vendrak::out_stream where = vendrak::out_stream::err) {
    try {
        stage();
    } catch (const vendrak::fatal_error& e) {
        EXPECT_EQ(e.where(), where) << e.message();
        return e.message();
    }
    return "";
}

// `piece` written `n` times.
inline std::string times(const std::string& piece, int n) {
    std::string out;
    for (int i = 0; i < n; ++i) out += piece;
    return out;
}

// "0D 00 02" -> bytes.
inline std::vector<uint8_t> hex(const std::string& text) {
    std::vector<uint8_t> out;
    std::istringstream in(text);
    for (std::string b; in >> b;) out.push_back(static_cast<uint8_t>(std::stoul(b, nullptr, 16)));
    return out;
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

inline std::string hex32(uint32_t v) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08X", v);
    return text;
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

// `n` bytes that vary, the same for the same seed.
inline std::string pattern_bytes(size_t n, uint32_t seed) {
    std::string bytes(n, '\0');
    uint32_t x = seed * 2654435761u + 1;
    for (char& b : bytes) b = static_cast<char>((x = x * 1103515245u + 12345u) >> 16);
    return bytes;
}

// A VBF section as the data part holds it: start and length big-endian, the
// data, the block checksum.
inline std::string section(uint32_t start, const std::string& data, uint16_t block_checksum = 0x5AA5) {
    return u32be(start) + u32be(static_cast<uint32_t>(data.size())) + data +
           std::string{static_cast<char>(block_checksum >> 8), static_cast<char>(block_checksum)};
}

// A VBF file of version 2.6 with `items` in its header and the file checksum
// of `data` (or `checksum` when given) as its last item; the data part
// starts right after the header's closing brace.
inline std::string vbf_file(const std::string& items, const std::string& data, const char* checksum = nullptr) {
    const std::string sum = hex32(~bitwise_crc(0xFFFFFFFFu, data.data(), data.size()));
    return "vbf_version = 2.6;\nheader {\n" + items + "\n  file_checksum = " + (checksum ? checksum : sum) + ";\n}" +
           data;
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

// ---- containers ----

// The key the devices hold, written out here rather than taken from the
// compiler, so that a changed key fails the tests.
constexpr std::array<uint8_t, 16> device_key = {0x3B, 0x91, 0x5E, 0xC2, 0x07, 0xD4, 0x68, 0xAF,
                                                0x1C, 0x73, 0xE0, 0x4D, 0xB6, 0x29, 0x85, 0xFA};

// Decrypts the header and then, up to the VBF offset it gives (the trailer
// at most), the rest of the program part.
inline std::string decrypted(std::string bytes) {
    if (bytes.size() < 96) return bytes;
    const vendrak::aes128_key key(device_key.data());
    const auto decrypt = [&](size_t from, size_t to) {
        for (size_t at = from; at + 16 <= to; at += 16) {
            auto* block = reinterpret_cast<uint8_t*>(&bytes[at]);
            key.decrypt(block, block);
        }
    };
    decrypt(0, 64);
    decrypt(64, std::min<size_t>(u32_at(bytes, 43), bytes.size() - 32));
    return bytes;
}

// Bytes that differ between two runs of the same script: the time and the
// host address in the header, and the CRC text in the trailer.
inline bool varies_between_runs(size_t at, size_t size) {
    return (at >= 5 && at < 19) || (size >= 32 && at >= size - 28 && at < size - 18);
}

// The container decrypted when it was written with -a, with the bytes that
// vary between runs replaced by '?'.
inline std::string comparable(std::string bytes, bool encrypted) {
    if (bytes.size() < 96) return bytes;
    if (encrypted) bytes = decrypted(std::move(bytes));
    for (size_t at = 0; at < bytes.size(); ++at)
        if (varies_between_runs(at, bytes.size())) bytes[at] = '?';
    return bytes;
}

// Checks a container's frame against the summary line of the run that wrote
// it: whole 16-byte blocks, the trailer, and the CRC of every byte before
// the trailer in the trailer and in the summary.
inline void check_container(const std::string& bytes, const std::string& summary) {
    ASSERT_EQ(bytes.size() % 16, 0u) << "container length " << bytes.size();
    ASSERT_GE(bytes.size(), 96u);
    const size_t trailer = bytes.size() - 32;
    const std::string crc = hex32(bitwise_crc(0, bytes.data(), trailer));
    EXPECT_EQ(bytes.substr(trailer, 4), "CRC:");
    EXPECT_EQ(bytes.substr(trailer + 4, 10), crc) << "trailer CRC text";
    EXPECT_EQ(bytes.substr(trailer + 14, 2), std::string(" \0", 2));
    const std::string line = ", File Size:" + std::to_string(bytes.size()) + ", CRC:" + crc + "\n";
    EXPECT_NE(summary.find(line), std::string::npos) << summary;
}

}  // namespace vendrak_test
