#include "vbf/crc32.h"

#include <array>

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#include <immintrin.h>
#define VENDRAK_CRC_FOLDING 1
#endif

namespace vendrak {

namespace {

uint32_t load_u32le(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 | static_cast<uint32_t>(p[2]) << 16 |
           static_cast<uint32_t>(p[3]) << 24;
}

#if VENDRAK_CRC_FOLDING

// Folding with carry-less multiplication (PCLMULQDQ) for long runs: the data
// is kept as 128-bit lanes; folding a lane forward by d bits multiplies it by
// x^d mod P, which for the reflected polynomial takes the constants below
// (each x^k mod P, bit-reflected and shifted into place). Four lanes fold over
// 64 bytes at a time, then into one lane, then 128 bits are reduced to the
// 32-bit register with a Barrett reduction. Advances the same register as the
// table method; `n` is a multiple of 16 and at least 64.
#define VENDRAK_FOLDING_TARGET __attribute__((target("pclmul,sse4.1")))

VENDRAK_FOLDING_TARGET inline __m128i load(const uint8_t* p) {
    return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
}

// lane * k (low and high halves against their constants), added to `next`.
VENDRAK_FOLDING_TARGET inline __m128i fold(__m128i lane, __m128i k, __m128i next) {
    return _mm_xor_si128(_mm_xor_si128(_mm_clmulepi64_si128(lane, k, 0x00), _mm_clmulepi64_si128(lane, k, 0x11)),
                         next);
}

VENDRAK_FOLDING_TARGET uint32_t crc32_folding(uint32_t reg, const uint8_t* data, size_t n) {
    const __m128i fold_by_4 = _mm_set_epi64x(0x1C6E41596, 0x154442BD4);  // x^(4*128+32), x^(4*128-32)
    const __m128i fold_by_1 = _mm_set_epi64x(0x0CCAA009E, 0x1751997D0);  // x^(128+32), x^(128-32)
    const __m128i fold_64 = _mm_set_epi64x(0, 0x163CD6124);              // x^64
    const __m128i barrett = _mm_set_epi64x(0x1F7011641, 0x1DB710641);    // floor(x^64 / P), P
    const __m128i low32 = _mm_set_epi32(0, 0, 0, -1);

    __m128i x1 = _mm_xor_si128(load(data), _mm_cvtsi32_si128(static_cast<int>(reg)));
    __m128i x2 = load(data + 16), x3 = load(data + 32), x4 = load(data + 48);
    data += 64;
    n -= 64;
    for (; n >= 64; data += 64, n -= 64) {
        x1 = fold(x1, fold_by_4, load(data));
        x2 = fold(x2, fold_by_4, load(data + 16));
        x3 = fold(x3, fold_by_4, load(data + 32));
        x4 = fold(x4, fold_by_4, load(data + 48));
    }
    x1 = fold(x1, fold_by_1, x2);
    x1 = fold(x1, fold_by_1, x3);
    x1 = fold(x1, fold_by_1, x4);
    for (; n >= 16; data += 16, n -= 16) x1 = fold(x1, fold_by_1, load(data));

    // 128 bits to 64, then to 32 plus the 32 zero bits the register implies.
    x1 = _mm_xor_si128(_mm_srli_si128(x1, 8), _mm_clmulepi64_si128(fold_by_1, x1, 0x01));
    x1 = _mm_xor_si128(_mm_clmulepi64_si128(_mm_and_si128(x1, low32), fold_64, 0x00), _mm_srli_si128(x1, 4));

    // Barrett reduction modulo P.
    __m128i t = _mm_clmulepi64_si128(_mm_and_si128(x1, low32), barrett, 0x10);
    t = _mm_clmulepi64_si128(_mm_and_si128(t, low32), barrett, 0x00);
    return static_cast<uint32_t>(_mm_extract_epi32(_mm_xor_si128(x1, t), 1));
}

bool has_folding() {
    static const bool supported = __builtin_cpu_supports("pclmul") && __builtin_cpu_supports("sse4.1");
    return supported;
}

#endif

// Polynomials modulo P as the reflected register holds them: bit 31 is the
// coefficient of x^0, bit 0 that of x^31. Multiplying by x is one step of
// the bitwise update.
constexpr uint32_t multiply_mod_p(uint32_t a, uint32_t b) {
    uint32_t product = 0;
    for (uint32_t term = 0x80000000u; term != 0; term >>= 1) {
        if (a & term) product ^= b;
        b = (b & 1) ? (b >> 1) ^ crc32_poly : b >> 1;
    }
    return product;
}

constexpr uint32_t x_to_the_0 = 0x80000000u;

// x^(2^k) mod P for k = 0..66: enough for x^(8n) with any 64-bit n.
constexpr std::array<uint32_t, 67> make_powers_of_x() {
    std::array<uint32_t, 67> powers{};
    powers[0] = x_to_the_0 >> 1;  // x^1
    for (size_t k = 1; k < powers.size(); ++k) powers[k] = multiply_mod_p(powers[k - 1], powers[k - 1]);
    return powers;
}

constexpr std::array<uint32_t, 67> powers_of_x = make_powers_of_x();

}  // namespace

uint32_t crc32_shift(uint32_t reg, uint64_t n) {
    // x^(8n) is the product of x^(2^k) over the set bits k of 8n, that is
    // over the set bits of n, moved up by 3.
    uint32_t factor = x_to_the_0;
    for (size_t k = 3; n != 0; n >>= 1, ++k)
        if (n & 1) factor = multiply_mod_p(factor, powers_of_x[k]);
    return multiply_mod_p(factor, reg);
}

// Slice-by-8: eight bytes per step through the eight tables, where table k
// advances a byte that still has k zero bytes to pass. The register is
// reflected, so the first byte of the block meets its low byte; the words are
// assembled by shifts and the result never depends on the host's byte order.
uint32_t crc32_update(uint32_t reg, const uint8_t* data, size_t n) {
#if VENDRAK_CRC_FOLDING
    if (n >= 256 && has_folding()) {
        const size_t folded = n & ~size_t{15};
        reg = crc32_folding(reg, data, folded);
        data += folded;
        n -= folded;
    }
#endif
    const auto& t = crc_tables;
    while (n >= 8) {
        const uint32_t lo = reg ^ load_u32le(data);
        const uint32_t hi = load_u32le(data + 4);
        reg = t[7][lo & 0xFF] ^ t[6][(lo >> 8) & 0xFF] ^ t[5][(lo >> 16) & 0xFF] ^ t[4][lo >> 24] ^
              t[3][hi & 0xFF] ^ t[2][(hi >> 8) & 0xFF] ^ t[1][(hi >> 16) & 0xFF] ^ t[0][hi >> 24];
        data += 8;
        n -= 8;
    }
    while (n-- > 0) reg = crctab32[(reg ^ *data++) & 0xFF] ^ (reg >> 8);
    return reg;
}

}  // namespace vendrak
