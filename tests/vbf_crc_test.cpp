#include "vbf/crc32.h"

#include <gtest/gtest.h>

#include "test_files.h"

#include <random>
#include <string_view>
#include <vector>

namespace vendrak {
namespace {

using vendrak_test::bitwise_crc;


const uint8_t* bytes(std::string_view s) { return reinterpret_cast<const uint8_t*>(s.data()); }

TEST(Crc32, CheckValues) {
    const std::string_view check = "123456789";
    EXPECT_EQ(crc32_update(0xFFFFFFFF, bytes(check), check.size()) ^ 0xFFFFFFFF, 0xCBF43926u);
    EXPECT_EQ(crc32_update(0, bytes(check), check.size()), 0x2DFD2D88u);
    EXPECT_EQ(crc32_update(0xFFFFFFFF, nullptr, 0) ^ 0xFFFFFFFF, 0u);
}

TEST(Crc32, ZerosLeaveTheContainerRegisterAtZero) {
    const std::vector<uint8_t> zeros(1000, 0);
    for (size_t n : {1, 7, 8, 9, 64, 1000}) EXPECT_EQ(crc32_update(0, zeros.data(), n), 0u) << n;
}

// The eight-byte steps and the folding of long runs must agree with the
// definition for every length, alignment and starting register, and a
// register carried across calls must equal one long call.
TEST(Crc32, FastMethodsMatchTheBitwiseDefinition) {
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

}  // namespace
}  // namespace vendrak
