#include "aes/aes.h"

#include <array>
#include <cstring>

namespace vendrak {

namespace {

// AES-128: four 32-bit words of block (Nb), four of key (Nk), ten rounds (Nr).
constexpr int Nb = 4;
constexpr int Nk = 4;
constexpr int Nr = 10;

using block = std::array<uint8_t, 16>;                    // byte r + 4c is row r, column c
using round_keys = std::array<uint8_t, 4 * Nb * (Nr + 1)>;  // round key 0 first

// Multiplication by x in GF(2^8) modulo x^8 + x^4 + x^3 + x + 1.
constexpr uint8_t xtime(uint8_t x) { return static_cast<uint8_t>((x << 1) ^ ((x & 0x80) ? 0x1B : 0x00)); }

constexpr uint8_t gmul(uint8_t a, uint8_t b) {
    uint8_t p = 0;
    while (b != 0) {
        if (b & 1) p ^= a;
        a = xtime(a);
        b >>= 1;
    }
    return p;
}

constexpr uint8_t rotl8(uint8_t x, int n) { return static_cast<uint8_t>((x << n) | (x >> (8 - n))); }

// The S-box: the multiplicative inverse in GF(2^8) (0 maps to 0) followed by
// the affine transformation with the constant 0x63. The inverses come from
// the powers of the generator {03}: the inverse of 3^k is 3^(255-k).
constexpr std::array<uint8_t, 256> make_sbox() {
    std::array<uint8_t, 256> power{};  // power[k] = 3^k
    std::array<uint8_t, 256> log{};    // log[power[k]] = k
    uint8_t x = 1;
    for (int k = 0; k < 255; ++k) {
        power[k] = x;
        log[x] = static_cast<uint8_t>(k);
        x = static_cast<uint8_t>(x ^ xtime(x));
    }
    std::array<uint8_t, 256> s{};
    for (int i = 0; i < 256; ++i) {
        const uint8_t inv = i == 0 ? 0 : power[(255 - log[i]) % 255];
        s[i] = static_cast<uint8_t>(inv ^ rotl8(inv, 1) ^ rotl8(inv, 2) ^ rotl8(inv, 3) ^ rotl8(inv, 4) ^ 0x63);
    }
    return s;
}

constexpr std::array<uint8_t, 256> make_inverse(const std::array<uint8_t, 256>& s) {
    std::array<uint8_t, 256> inv{};
    for (int i = 0; i < 256; ++i) inv[s[i]] = static_cast<uint8_t>(i);
    return inv;
}

constexpr std::array<uint8_t, 256> sbox = make_sbox();
constexpr std::array<uint8_t, 256> rsbox = make_inverse(sbox);
static_assert(sbox[0x00] == 0x63 && sbox[0x53] == 0xED && sbox[0xFF] == 0x16);

// Rcon[i] = x^(i-1); entry 0 is never used.
constexpr std::array<uint8_t, 11> Rcon = {0x8D, 0x01, 0x02, 0x04, 0x08, 0x10, 0x20, 0x40, 0x80, 0x1B, 0x36};

// Words 0..3 are the key; word i is word i-4 XOR word i-1, the latter rotated,
// substituted and XORed with Rcon[i/4] when i is a multiple of Nk.
round_keys KeyExpansion(const uint8_t* Key) {
    round_keys RoundKey{};
    std::memcpy(RoundKey.data(), Key, 4 * Nk);
    for (int i = Nk; i < Nb * (Nr + 1); ++i) {
        uint8_t temp[4];
        std::memcpy(temp, &RoundKey[4 * (i - 1)], 4);
        if (i % Nk == 0) {
            const uint8_t first = temp[0];
            temp[0] = static_cast<uint8_t>(sbox[temp[1]] ^ Rcon[i / Nk]);
            temp[1] = sbox[temp[2]];
            temp[2] = sbox[temp[3]];
            temp[3] = sbox[first];
        }
        for (int j = 0; j < 4; ++j) RoundKey[4 * i + j] = static_cast<uint8_t>(RoundKey[4 * (i - Nk) + j] ^ temp[j]);
    }
    return RoundKey;
}

void AddRoundKey(int round, block& state, const round_keys& RoundKey) {
    for (int i = 0; i < 16; ++i) state[i] ^= RoundKey[16 * round + i];
}

void SubBytes(block& state) {
    for (auto& b : state) b = sbox[b];
}

void InvSubBytes(block& state) {
    for (auto& b : state) b = rsbox[b];
}

// Row r is rotated left by r columns.
void ShiftRows(block& state) {
    const block s = state;
    for (int r = 1; r < 4; ++r)
        for (int c = 0; c < 4; ++c) state[r + 4 * c] = s[r + 4 * ((c + r) % 4)];
}

void InvShiftRows(block& state) {
    const block s = state;
    for (int r = 1; r < 4; ++r)
        for (int c = 0; c < 4; ++c) state[r + 4 * ((c + r) % 4)] = s[r + 4 * c];
}

// Each column times {03}x^3 + {01}x^2 + {01}x + {02} modulo x^4 + 1.
void MixColumns(block& state) {
    for (int c = 0; c < 4; ++c) {
        uint8_t* col = &state[4 * c];
        const uint8_t a0 = col[0], a1 = col[1], a2 = col[2], a3 = col[3];
        const uint8_t all = a0 ^ a1 ^ a2 ^ a3;
        col[0] = static_cast<uint8_t>(a0 ^ all ^ xtime(a0 ^ a1));
        col[1] = static_cast<uint8_t>(a1 ^ all ^ xtime(a1 ^ a2));
        col[2] = static_cast<uint8_t>(a2 ^ all ^ xtime(a2 ^ a3));
        col[3] = static_cast<uint8_t>(a3 ^ all ^ xtime(a3 ^ a0));
    }
}

// Each column times the inverse polynomial {0b}x^3 + {0d}x^2 + {09}x + {0e}.
void InvMixColumns(block& state) {
    for (int c = 0; c < 4; ++c) {
        uint8_t* col = &state[4 * c];
        const uint8_t a0 = col[0], a1 = col[1], a2 = col[2], a3 = col[3];
        col[0] = static_cast<uint8_t>(gmul(a0, 0x0E) ^ gmul(a1, 0x0B) ^ gmul(a2, 0x0D) ^ gmul(a3, 0x09));
        col[1] = static_cast<uint8_t>(gmul(a0, 0x09) ^ gmul(a1, 0x0E) ^ gmul(a2, 0x0B) ^ gmul(a3, 0x0D));
        col[2] = static_cast<uint8_t>(gmul(a0, 0x0D) ^ gmul(a1, 0x09) ^ gmul(a2, 0x0E) ^ gmul(a3, 0x0B));
        col[3] = static_cast<uint8_t>(gmul(a0, 0x0B) ^ gmul(a1, 0x0D) ^ gmul(a2, 0x09) ^ gmul(a3, 0x0E));
    }
}

void Cipher(block& state, const round_keys& RoundKey) {
    AddRoundKey(0, state, RoundKey);
    for (int round = 1; round < Nr; ++round) {
        SubBytes(state);
        ShiftRows(state);
        MixColumns(state);
        AddRoundKey(round, state, RoundKey);
    }
    SubBytes(state);
    ShiftRows(state);
    AddRoundKey(Nr, state, RoundKey);
}

void InvCipher(block& state, const round_keys& RoundKey) {
    AddRoundKey(Nr, state, RoundKey);
    for (int round = Nr - 1; round > 0; --round) {
        InvShiftRows(state);
        InvSubBytes(state);
        AddRoundKey(round, state, RoundKey);
        InvMixColumns(state);
    }
    InvShiftRows(state);
    InvSubBytes(state);
    AddRoundKey(0, state, RoundKey);
}

}  // namespace

aes128_key::aes128_key(const uint8_t* key) : RoundKey(KeyExpansion(key)) {}

void aes128_key::encrypt(const uint8_t* input, uint8_t* output) const {
    block state;
    std::memcpy(state.data(), input, state.size());
    Cipher(state, RoundKey);
    std::memcpy(output, state.data(), state.size());
}

void aes128_key::decrypt(const uint8_t* input, uint8_t* output) const {
    block state;
    std::memcpy(state.data(), input, state.size());
    InvCipher(state, RoundKey);
    std::memcpy(output, state.data(), state.size());
}

void AES128_ECB_encrypt(const uint8_t* input, const uint8_t* key, uint8_t* output) {
    aes128_key(key).encrypt(input, output);
}

void AES128_ECB_decrypt(const uint8_t* input, const uint8_t* key, uint8_t* output) {
    aes128_key(key).decrypt(input, output);
}

}  // namespace vendrak
