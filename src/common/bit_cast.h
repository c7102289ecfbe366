// std::bit_cast where the standard library has it; the compiler's built-in,
// which is what std::bit_cast is made of, where it does not (the libc++ of
// Debian 12's emscripten).
#pragma once

#include <bit>

namespace vendrak {

#if defined(__cpp_lib_bit_cast)
using std::bit_cast;
#else
template <class To, class From>
    requires(sizeof(To) == sizeof(From))
constexpr To bit_cast(const From& from) noexcept {
    return __builtin_bit_cast(To, from);
}
#endif

}  // namespace vendrak
