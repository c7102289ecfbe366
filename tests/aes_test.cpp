#include "aes/aes.h"

#include <gtest/gtest.h>

#include <array>
#include <string>

namespace vendrak {
namespace {

using block = std::array<uint8_t, 16>;

block hex(const std::string& h) {
    block b{};
    for (size_t i = 0; i < b.size(); ++i) b[i] = static_cast<uint8_t>(std::stoul(h.substr(2 * i, 2), nullptr, 16));
    return b;
}

struct known_answer {
    const char* name;
    const char* key;
    const char* plain;
    const char* cipher;
};

// FIPS-197 Appendix B and C.1, then AESAVS (GFSbox, KeySbox, VarTxt, VarKey).
constexpr known_answer vectors[] = {
    {"fips197_B", "2b7e151628aed2a6abf7158809cf4f3c", "3243f6a8885a308d313198a2e0370734",
     "3925841d02dc09fbdc118597196a0b32"},
    {"fips197_C1", "000102030405060708090a0b0c0d0e0f", "00112233445566778899aabbccddeeff",
     "69c4e0d86a7b0430d8cdb78070b4c55a"},
    {"gfsbox_1", "00000000000000000000000000000000", "f34481ec3cc627bacd5dc3fb08f273e6",
     "0336763e966d92595a567cc9ce537f5e"},
    {"gfsbox_2", "00000000000000000000000000000000", "9798c4640bad75c7c3227db910174e72",
     "a9a1631bf4996954ebc093957b234589"},
    {"gfsbox_3", "00000000000000000000000000000000", "96ab5c2ff612d9dfaae8c31f30c42168",
     "ff4f8391a6a40ca5b25d23bedd44a597"},
    {"keysbox_1", "10a58869d74be5a374cf867cfb473859", "00000000000000000000000000000000",
     "6d251e6944b051e04eaa6fb4dbf78465"},
    {"keysbox_2", "caea65cdbb75e9169ecd22ebe6e54675", "00000000000000000000000000000000",
     "6e29201190152df4ee058139def610bb"},
    {"vartxt_first", "00000000000000000000000000000000", "80000000000000000000000000000000",
     "3ad78e726c1ec02b7ebfe92b23d9ec34"},
    {"vartxt_last", "00000000000000000000000000000000", "ffffffffffffffffffffffffffffffff",
     "3f5b8cc9ea855a0afa7347d23e8d664e"},
    {"varkey_first", "80000000000000000000000000000000", "00000000000000000000000000000000",
     "0edd33d3c621e546455bd8ba1418bec8"},
};

TEST(Aes, KnownAnswersOutOfPlace) {
    for (const auto& v : vectors) {
        SCOPED_TRACE(v.name);
        const block key = hex(v.key), plain = hex(v.plain), cipher = hex(v.cipher);
        block out{};
        AES128_ECB_encrypt(plain.data(), key.data(), out.data());
        EXPECT_EQ(out, cipher);
        AES128_ECB_decrypt(cipher.data(), key.data(), out.data());
        EXPECT_EQ(out, plain);
    }
}

TEST(Aes, KnownAnswersInPlace) {
    for (const auto& v : vectors) {
        SCOPED_TRACE(v.name);
        const block key = hex(v.key);
        block buf = hex(v.plain);
        AES128_ECB_encrypt(buf.data(), key.data(), buf.data());
        EXPECT_EQ(buf, hex(v.cipher));
        AES128_ECB_decrypt(buf.data(), key.data(), buf.data());
        EXPECT_EQ(buf, hex(v.plain));
    }
}

// One expanded key serves any number of blocks, in either direction.
TEST(Aes, OneExpandedKeyForManyBlocks) {
    const block zero_key{};
    const aes128_key key(zero_key.data());
    for (int round = 0; round < 2; ++round) {
        for (const auto& v : vectors) {
            if (hex(v.key) != zero_key) continue;
            SCOPED_TRACE(v.name);
            block buf = hex(v.plain);
            key.encrypt(buf.data(), buf.data());
            EXPECT_EQ(buf, hex(v.cipher));
            key.decrypt(buf.data(), buf.data());
            EXPECT_EQ(buf, hex(v.plain));
        }
    }
}

}  // namespace
}  // namespace vendrak
