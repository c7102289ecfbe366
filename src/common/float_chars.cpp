#include "common/float_chars.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <system_error>

namespace vendrak {
namespace {

// The significant digits and the decimal exponent of a finite, non-zero,
// positive value: value == d.ddd x 10^exponent.
struct decimal {
    std::string digits;
    int exponent = 0;
};

// "d.ddde±x" with `precision` digits after the point, parsed into a decimal.
decimal scientific(double value, int precision) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.*e", precision, value);
    decimal d;
    const char* e = std::strchr(buf, 'e');
    for (const char* p = buf; p < e; ++p)
        if (*p != '.') d.digits += *p;
    d.exponent = std::atoi(e + 1);
    return d;
}

float read_back(const decimal& d) {
    const std::string text = d.digits.substr(0, 1) + "." + d.digits.substr(1) + "e" + std::to_string(d.exponent);
    return std::strtof(text.c_str(), nullptr);
}

// The decimal one unit of the last digit away from `d`, up or down; its
// digit count stays that of `d` (9.9 up is 1.0e+1, 1.0 down is 9.9e-1).
decimal step(decimal d, int direction) {
    const size_t n = d.digits.size();
    if (direction > 0) {
        size_t i = n;
        while (i > 0 && d.digits[i - 1] == '9') d.digits[--i] = '0';
        if (i == 0) {
            d.digits = "1" + std::string(n - 1, '0');
            ++d.exponent;
        } else {
            ++d.digits[i - 1];
        }
    } else {
        size_t i = n;
        while (i > 0 && d.digits[i - 1] == '0') d.digits[--i] = '9';
        --d.digits[i - 1];
        if (d.digits[0] == '0') {
            d.digits = std::string(n, '9');
            --d.exponent;
        }
    }
    return d;
}

// The fewest digits that read back as `value`; among the decimals of that
// many digits that do, the nearest to it: the correctly rounded one (printf
// rounds a tie to even, as the standard library does). Next to a power of
// two the interval that reads back is narrower below than above, so where
// the rounded decimal misses it a neighbour may still be inside.
decimal shortest(float value) {
    const double exact = value;
    for (int precision = 0; precision < 9; ++precision) {
        decimal d = scientific(exact, precision);
        if (read_back(d) != value) {
            d = step(d, +1);
            if (read_back(d) != value) d = step(step(d, -1), -1);
            if (read_back(d) != value) continue;
        }
        while (d.digits.size() > 1 && d.digits.back() == '0') d.digits.pop_back();
        return d;
    }
    return scientific(exact, 8);  // nine digits always read back
}

}  // namespace

std::to_chars_result shortest_float_chars(char* first, char* last, float value) {
    std::string text;
    if (std::signbit(value)) text += '-';
    const float magnitude = std::fabs(value);
    if (std::isnan(value)) {
        text += "nan";
    } else if (std::isinf(value)) {
        text += "inf";
    } else if (magnitude == 0) {
        text += '0';
    } else {
        const decimal d = shortest(magnitude);
        const int n = static_cast<int>(d.digits.size());
        const int x = d.exponent;
        const int exponent_digits = std::abs(x) >= 100 ? 3 : 2;
        const int scientific_length = n + (n > 1 ? 1 : 0) + 2 + exponent_digits;
        const int fixed_length = x >= n - 1 ? x + 1 : x >= 0 ? n + 1 : n + 1 - x;
        if (fixed_length <= scientific_length) {
            if (x >= n - 1) {
                // A whole number: every digit of the value itself, as
                // printf's %.0f writes it.
                char buf[64];
                std::snprintf(buf, sizeof buf, "%.0f", static_cast<double>(magnitude));
                text += buf;
            } else if (x >= 0) {
                text += d.digits.substr(0, x + 1) + "." + d.digits.substr(x + 1);
            } else {
                text += "0." + std::string(-x - 1, '0') + d.digits;
            }
        } else {
            text += d.digits.substr(0, 1);
            if (n > 1) text += "." + d.digits.substr(1);
            char buf[16];
            std::snprintf(buf, sizeof buf, "e%c%02d", x < 0 ? '-' : '+', std::abs(x));
            text += buf;
        }
    }
    if (text.size() > static_cast<size_t>(last - first)) return {last, std::errc::value_too_large};
    std::memcpy(first, text.data(), text.size());
    return {first + text.size(), std::errc{}};
}

}  // namespace vendrak
