// Bytes shown in a line of the listing or of a defect.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace vendrak::inspect {

// Printable ASCII as it is; every other byte and the backslash as
// \xNN, so that one line stays one line whatever the container holds.
inline std::string shown(std::string_view bytes) {
    static const char digits[] = "0123456789ABCDEF";
    std::string text;
    for (char ch : bytes) {
        const auto b = static_cast<uint8_t>(ch);
        if (b >= 0x20 && b < 0x7F && b != 0x5C) {
            text.push_back(ch);
        } else {
            text += "\\x";
            text.push_back(digits[b >> 4]);
            text.push_back(digits[b & 0xF]);
        }
    }
    return text;
}

}  // namespace vendrak::inspect
