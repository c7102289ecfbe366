#include "common/fatal.h"

#include <cstdio>

namespace vendrak {

std::string vformat(const char* fmt, std::va_list args) {
    std::va_list again;
    va_copy(again, args);
    int n = std::vsnprintf(nullptr, 0, fmt, args);
    std::string text;
    if (n > 0) {
        text.resize(static_cast<size_t>(n));
        std::vsnprintf(text.data(), text.size() + 1, fmt, again);
    }
    va_end(again);
    return text;
}

std::string format(const char* fmt, ...) {
    std::va_list args;
    va_start(args, fmt);
    std::string text = vformat(fmt, args);
    va_end(args);
    return text;
}

void fail(out_stream where, const char* fmt, ...) {
    std::va_list args;
    va_start(args, fmt);
    std::string text = vformat(fmt, args);
    va_end(args);
    throw fatal_error(where, std::move(text));
}

std::string script_error(uint32_t line, const char* fmt, ...) {
    std::va_list args;
    va_start(args, fmt);
    std::string text = format("[%u] Error: ", line) + vformat(fmt, args);
    va_end(args);
    return text;
}

void fail_script(uint32_t line, const char* fmt, ...) {
    std::va_list args;
    va_start(args, fmt);
    std::string text = format("[%u] Error: ", line) + vformat(fmt, args);
    va_end(args);
    throw fatal_error(out_stream::err, std::move(text));
}

}  // namespace vendrak
