// The fallback for the float std::to_chars against the standard library's
// own: every power of two, both neighbours of every power of ten, and a
// stride through all the bit patterns of finite floats.
#include <gtest/gtest.h>

#include <bit>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <cstdint>
#include <limits>
#include <string>

#include "common/float_chars.h"

namespace vendrak {
namespace {

std::string standard_text(float f) {
    char buf[64];
    const auto r = std::to_chars(buf, buf + sizeof buf, f);
    return std::string(buf, r.ptr);
}

std::string fallback_text(float f) {
    char buf[64];
    const auto r = shortest_float_chars(buf, buf + sizeof buf, f);
    EXPECT_EQ(r.ec, std::errc{});
    return std::string(buf, r.ptr);
}

TEST(FloatChars, SameTextAsTheStandardLibrary) {
    std::vector<float> values = {0.0f, -0.0f, 1.0f, -1.5f, 0.1f, 1e10f, 12345678.0f, 100000008.0f, 1e-7f,
                                 std::numeric_limits<float>::max(), std::numeric_limits<float>::min(),
                                 std::numeric_limits<float>::denorm_min(), std::numeric_limits<float>::infinity(),
                                 -std::numeric_limits<float>::infinity()};
    for (int e = -149; e <= 127; ++e) {
        const float p = std::ldexp(1.0f, e);
        values.insert(values.end(), {p, std::nextafter(p, 0.0f), std::nextafter(p, 1e38f)});
    }
    for (int e = -45; e <= 38; ++e) {
        const float p = std::strtof(("1e" + std::to_string(e)).c_str(), nullptr);
        values.insert(values.end(), {p, std::nextafter(p, 0.0f), std::nextafter(p, 1e38f)});
    }
    // A prime stride visits every exponent and many mantissas.
    for (uint64_t bits = 0; bits < 0x7F800000u; bits += 7919)
        values.push_back(std::bit_cast<float>(static_cast<uint32_t>(bits)));
    for (const float f : values) ASSERT_EQ(fallback_text(f), standard_text(f)) << std::bit_cast<uint32_t>(f);
}

TEST(FloatChars, ReportsABufferTooSmall) {
    char buf[4];
    EXPECT_EQ(shortest_float_chars(buf, buf + sizeof buf, 1.25e-7f).ec, std::errc::value_too_large);
}

}  // namespace
}  // namespace vendrak
