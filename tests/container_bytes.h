// Containers as a device reads them, for the tests that compare the
// containers of different runs: the program part of an encrypted container
// decrypted, and the bytes that change from run to run masked.
#pragma once

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

#include "aes/aes.h"
#include "test_files.h"

namespace vendrak_test {

// The key the devices hold, written out here rather than taken from the
// compiler, so that a changed key fails the tests.
constexpr std::array<uint8_t, 16> device_key = {0x3B, 0x91, 0x5E, 0xC2, 0x07, 0xD4, 0x68, 0xAF,
                                                0x1C, 0x73, 0xE0, 0x4D, 0xB6, 0x29, 0x85, 0xFA};

// Decrypts the header and then, up to the VBF offset it gives (the trailer
// at most), the rest of the program part.
inline std::string decrypted(std::string bytes) {
    if (bytes.size() < 96) return bytes;
    const auto decrypt = [&](size_t from, size_t to) {
        const vendrak::aes128_key key(device_key.data());
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

}  // namespace vendrak_test
