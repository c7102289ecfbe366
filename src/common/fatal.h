// Fatal errors of the compiler core.
//
// Every stage stops the run at its first error. In the core that is an
// exception carrying the exact message text and the stream it belongs on;
// only the driver prints it and ends the run through `terminate`, so every
// stage can be run and checked in-process.
#pragma once

#include <cstdarg>
#include <cstdint>
#include <stdexcept>
#include <string>

namespace vendrak {

enum class out_stream { out, err };

class fatal_error : public std::runtime_error {
public:
    fatal_error(out_stream where, std::string message)
        : std::runtime_error(message), where_(where), message_(std::move(message)) {}

    // The message exactly as it is printed, line feed included.
    const std::string& message() const { return message_; }
    out_stream where() const { return where_; }

private:
    out_stream where_;
    std::string message_;
};

// Format strings are checked as the C library formats them. Under MinGW the
// plain `printf` kind means the Microsoft runtime's formats (no %zu), while
// the C++ runtime there formats as GNU does.
#if defined(__MINGW32__)
#define VENDRAK_PRINTF(fmt_at, args_at) __attribute__((format(gnu_printf, fmt_at, args_at)))
#else
#define VENDRAK_PRINTF(fmt_at, args_at) __attribute__((format(printf, fmt_at, args_at)))
#endif

// printf-style formatting into a string of any length.
std::string format(const char* fmt, ...) VENDRAK_PRINTF(1, 2);
std::string vformat(const char* fmt, std::va_list args) VENDRAK_PRINTF(1, 0);

// Formats a message and throws it as a fatal error on the given stream.
[[noreturn]] void fail(out_stream where, const char* fmt, ...) VENDRAK_PRINTF(2, 3);

// "[line] Error: " and the formatted text: every error that the front end,
// the validator and program assembly find in a script has this form.
std::string script_error(uint32_t line, const char* fmt, ...) VENDRAK_PRINTF(2, 3);
// The same message thrown as a fatal error on the error stream.
[[noreturn]] void fail_script(uint32_t line, const char* fmt, ...) VENDRAK_PRINTF(2, 3);

}  // namespace vendrak
