// AES-128 block cipher (FIPS-197): 128-bit key, 10 rounds, one 16-byte block
// at a time.
#pragma once

#include <cstdint>

namespace vendrak {

// Encrypts the 16-byte block `input` with the 16-byte `key` into `output`
// (which may be the same buffer as `input`).
void AES128_ECB_encrypt(const uint8_t* input, const uint8_t* key, uint8_t* output);

// The inverse: decrypts one 16-byte block (used to inspect containers).
void AES128_ECB_decrypt(const uint8_t* input, const uint8_t* key, uint8_t* output);

}  // namespace vendrak
