// AES-128 against the published known answers.
#include "aes/aes.h"

#include <gtest/gtest.h>

#include <array>
#include <string>

namespace vendrak {
namespace {

using block = std::array<uint8_t, 16>;

// Hexadecimal digits, the missing ones 0.
block hex(const std::string& h) {
    block b{};
    for (size_t i = 0; 2 * i < h.size(); ++i) b[i] = static_cast<uint8_t>(std::stoul(h.substr(2 * i, 2), nullptr, 16));
    return b;
}

// FIPS-197 Appendix B and C.1, then AESAVS (GFSbox, KeySbox, VarTxt, VarKey):
// key, plaintext, ciphertext.
constexpr const char* vectors[][3] = {
    {"2b7e151628aed2a6abf7158809cf4f3c", "3243f6a8885a308d313198a2e0370734", "3925841d02dc09fbdc118597196a0b32"},
    {"000102030405060708090a0b0c0d0e0f", "00112233445566778899aabbccddeeff", "69c4e0d86a7b0430d8cdb78070b4c55a"},
    {"", "f34481ec3cc627bacd5dc3fb08f273e6", "0336763e966d92595a567cc9ce537f5e"},
    {"", "9798c4640bad75c7c3227db910174e72", "a9a1631bf4996954ebc093957b234589"},
    {"", "96ab5c2ff612d9dfaae8c31f30c42168", "ff4f8391a6a40ca5b25d23bedd44a597"},
    {"10a58869d74be5a374cf867cfb473859", "", "6d251e6944b051e04eaa6fb4dbf78465"},
    {"caea65cdbb75e9169ecd22ebe6e54675", "", "6e29201190152df4ee058139def610bb"},
    {"", "80", "3ad78e726c1ec02b7ebfe92b23d9ec34"},
    {"", "ffffffffffffffffffffffffffffffff", "3f5b8cc9ea855a0afa7347d23e8d664e"},
    {"80", "", "0edd33d3c621e546455bd8ba1418bec8"},
};

// Each vector out of place with the one-block calls, and in place twice in
// a row through one expanded key.
TEST(Aes, KnownAnswers) {
    for (const auto& v : vectors) {
        SCOPED_TRACE(v[2]);
        const block key = hex(v[0]), plain = hex(v[1]), cipher = hex(v[2]);
        block out{}, buf = plain;
        AES128_ECB_encrypt(plain.data(), key.data(), out.data());
        EXPECT_EQ(out, cipher);
        AES128_ECB_decrypt(cipher.data(), key.data(), out.data());
        EXPECT_EQ(out, plain);
        const aes128_key expanded(key.data());
        for (int round = 0; round < 2; ++round) {
            expanded.encrypt(buf.data(), buf.data());
            EXPECT_EQ(buf, cipher);
            expanded.decrypt(buf.data(), buf.data());
            EXPECT_EQ(buf, plain);
        }
    }
}

}  // namespace
}  // namespace vendrak
