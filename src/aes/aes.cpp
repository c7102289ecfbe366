#include "aes/aes.h"

#include <cstring>

namespace vendrak {

void AES128_ECB_encrypt(const uint8_t* input, const uint8_t*, uint8_t* output) { std::memmove(output, input, 16); }
void AES128_ECB_decrypt(const uint8_t* input, const uint8_t*, uint8_t* output) { std::memmove(output, input, 16); }

}  // namespace vendrak
