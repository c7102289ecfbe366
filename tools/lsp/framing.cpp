// The frame of a message: header lines ("Content-Length: 42"), a blank
// line, then exactly that many bytes of JSON.
#include <algorithm>
#include <cctype>
#include <istream>
#include <string>

#include "lsp/server.h"

namespace vendrak::lsp {
namespace {

// Bodies above this are read past and answered with a parse error, so a
// broken header cannot make the server take all memory.
constexpr size_t largest_body = size_t{1} << 30;

enum class frame { message, unreadable, end };

bool is_digit(char c) { return c >= '0' && c <= '9'; }

// The length in a header line. The field name is matched anywhere in the
// line, ignoring case: after a frame without one, the body that follows is
// read as a header line that runs into the next frame's header, and the
// next message must still be found.
bool content_length(const std::string& line, bool& found, size_t& length) {
    static constexpr std::string_view field = "content-length:";
    const auto at = std::search(line.begin(), line.end(), field.begin(), field.end(),
                                [](char a, char b) { return std::tolower(static_cast<unsigned char>(a)) == b; });
    if (at == line.end()) return true;
    size_t i = static_cast<size_t>(at - line.begin()) + field.size();
    while (i < line.size() && (line[i] == ' ' || line[i] == '\t')) ++i;
    const size_t first = i;
    length = 0;
    for (; i < line.size() && is_digit(line[i]); ++i)
        length = std::min(length * 10 + static_cast<size_t>(line[i] - '0'), largest_body + 1);
    while (i < line.size() && (line[i] == ' ' || line[i] == '\t')) ++i;
    found = true;
    return i > first && i == line.size();
}

frame read_frame(std::istream& in, std::string& body, std::string& why) {
    bool found = false, valid = true, any = false;
    size_t length = 0;
    for (std::string line; std::getline(in, line);) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.empty()) {
            if (!any) continue;  // blank lines between frames
            if (!found || !valid) {
                why = found ? "the Content-Length header is not a number" : "a message without a Content-Length header";
                return frame::unreadable;
            }
            if (length > largest_body) {
                in.ignore(static_cast<std::streamsize>(length));
                why = "a message of more than 1 GiB";
                return in ? frame::unreadable : frame::end;
            }
            body.resize(length);
            in.read(body.data(), static_cast<std::streamsize>(length));
            return in ? frame::message : frame::end;
        }
        any = true;
        valid = content_length(line, found, length) && valid;
    }
    return frame::end;
}

}  // namespace

int serve(std::istream& in, server& s) {
    std::string body, why;
    while (!s.exited()) {
        switch (read_frame(in, body, why)) {
            case frame::message: s.receive(body); break;
            case frame::unreadable: s.unreadable(why); break;
            case frame::end: return s.exit_status();
        }
    }
    return s.exit_status();
}

}  // namespace vendrak::lsp
