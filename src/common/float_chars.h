// The shortest text of a float that reads back as the same value, as
// std::to_chars(first, last, float) writes it: fixed or scientific notation,
// whichever is shorter (fixed on a tie), scientific with a sign and at least
// two exponent digits ("1e+20", "1.5e-07"), a whole number in fixed notation
// written with all its digits ("100000008").
//
// float_to_chars uses the standard library's std::to_chars where it has one
// for floating point and shortest_float_chars, which gives the same text,
// where it does not (the libc++ of Debian 12's emscripten).
#pragma once

#include <charconv>

namespace vendrak {

std::to_chars_result shortest_float_chars(char* first, char* last, float value);

inline std::to_chars_result float_to_chars(char* first, char* last, float value) {
#if defined(__cpp_lib_to_chars)
    return std::to_chars(first, last, value);
#else
    return shortest_float_chars(first, last, value);
#endif
}

}  // namespace vendrak
