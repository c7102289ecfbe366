// CRC-32 against its definition, the register advanced bit by bit.
#include "vbf/crc32.h"
#include "vbf/crc16.h"

#include <random>

#include "files.h"

namespace vendrak {
namespace {

using vendrak_test::bitwise_crc;

// The check values of the VBF file checksum (register from all ones, final
// XOR) and of the container register (from 0, no final XOR); then the
// eight-byte steps and the folding of long runs for every length, alignment
// and starting register, and a register carried across calls.
TEST(Crc32, MatchesTheBitwiseDefinition) {
    const auto* check = reinterpret_cast<const uint8_t*>("123456789");
    EXPECT_EQ(crc32_update(0xFFFFFFFF, check, 9) ^ 0xFFFFFFFF, 0xCBF43926u);
    EXPECT_EQ(crc32_update(0, check, 9), 0x2DFD2D88u);
    EXPECT_EQ(bitwise_crc(0, check, 9), 0x2DFD2D88u);

    std::mt19937 rng(20240611);
    std::vector<uint8_t> data(4096 + 16);
    for (auto& b : data) b = static_cast<uint8_t>(rng());
    std::uniform_int_distribution<size_t> offset(0, 15), length(0, 4096);
    for (int round = 0; round < 300; ++round) {
        const size_t at = offset(rng), n = length(rng);
        const uint32_t init = round % 3 == 0 ? 0u : round % 3 == 1 ? 0xFFFFFFFFu : static_cast<uint32_t>(rng());
        const uint32_t expected = bitwise_crc(init, data.data() + at, n);
        ASSERT_EQ(crc32_update(init, data.data() + at, n), expected) << "at " << at << " length " << n;
        const size_t split = n / 3;
        const uint32_t first = crc32_update(init, data.data() + at, split);
        ASSERT_EQ(crc32_update(first, data.data() + at + split, n - split), expected);
    }
}

// A register carried over a run of B's length and XORed with B's register
// from 0 must equal the register run over A then B, for every split
// (empty parts included) and every starting register.
TEST(Crc32, CombinedRegistersEqualOneRun) {
    std::mt19937 rng(20240612);
    std::vector<uint8_t> data(70000);
    for (auto& b : data) b = static_cast<uint8_t>(rng());
    std::uniform_int_distribution<size_t> length(0, data.size());
    for (int round = 0; round < 200; ++round) {
        const size_t n = round < 3 ? size_t(round) : length(rng);
        const size_t split = n == 0 ? 0 : std::uniform_int_distribution<size_t>(0, n)(rng);
        const uint32_t init = round % 3 == 0 ? 0u : static_cast<uint32_t>(rng());
        const uint32_t a = bitwise_crc(init, data.data(), split);
        const uint32_t b = bitwise_crc(0, data.data() + split, n - split);
        ASSERT_EQ(crc32_combine(a, b, n - split), bitwise_crc(init, data.data(), n))
            << "split " << split << " of " << n;
    }
    // Zero bytes: shifting equals running over them, and shifts add up for
    // lengths far beyond any file.
    const std::vector<uint8_t> zeros(70000, 0);
    for (size_t n : {size_t{0}, size_t{1}, size_t{8}, size_t{4097}, zeros.size()})
        EXPECT_EQ(crc32_shift(0xA5A5F00Du, n), bitwise_crc(0xA5A5F00Du, zeros.data(), n)) << n;
    const uint64_t big = 0xFEDCBA9876543210u;
    EXPECT_EQ(crc32_shift(crc32_shift(0x12345678u, big), 12345), crc32_shift(0x12345678u, big + 12345));
}

// The block checksum's eight-byte steps against CRC-16/CCITT-FALSE run bit
// by bit, for every length, alignment and starting register.
TEST(Crc16, MatchesTheBitwiseDefinition) {
    const auto bitwise = [](uint16_t reg, const uint8_t* data, size_t n) {
        for (size_t i = 0; i < n; ++i) {
            reg = static_cast<uint16_t>(reg ^ data[i] << 8);
            for (int bit = 0; bit < 8; ++bit) reg = static_cast<uint16_t>(reg & 0x8000 ? reg << 1 ^ 0x1021 : reg << 1);
        }
        return reg;
    };
    EXPECT_EQ(crc16_update(0xFFFF, reinterpret_cast<const uint8_t*>("123456789"), 9), 0x29B1);
    std::mt19937 rng(20261207);
    std::vector<uint8_t> data(300);
    for (auto& b : data) b = static_cast<uint8_t>(rng());
    for (size_t n = 0; n < 40; ++n)
        for (size_t at : {size_t{0}, size_t{3}}) {
            const uint16_t init = n % 2 ? 0xFFFF : static_cast<uint16_t>(rng());
            ASSERT_EQ(crc16_update(init, data.data() + at, n), bitwise(init, data.data() + at, n)) << n << " at " << at;
        }
    EXPECT_EQ(crc16_update(0xFFFF, data.data(), data.size()), bitwise(0xFFFF, data.data(), data.size()));
}

}  // namespace
}  // namespace vendrak
