// AES-128 block cipher (FIPS-197): 128-bit key, 10 rounds, one 16-byte block
// at a time.
#pragma once

#include <array>
#include <cstdint>

namespace vendrak {

// An AES-128 key expanded once into its 11 round keys (round key 0 first),
// for any number of blocks. `output` may be the same buffer as `input`.
class aes128_key {
public:
    explicit aes128_key(const uint8_t* key);
    void encrypt(const uint8_t* input, uint8_t* output) const;
    void decrypt(const uint8_t* input, uint8_t* output) const;

private:
    std::array<uint8_t, 176> RoundKey;
};

// Encrypts the 16-byte block `input` with the 16-byte `key` into `output`
// (which may be the same buffer as `input`), expanding the key anew.
void AES128_ECB_encrypt(const uint8_t* input, const uint8_t* key, uint8_t* output);

// The inverse: decrypts one 16-byte block (used to inspect containers).
void AES128_ECB_decrypt(const uint8_t* input, const uint8_t* key, uint8_t* output);

}  // namespace vendrak
