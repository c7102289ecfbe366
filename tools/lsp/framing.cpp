// The frame of a message: header lines ("Content-Length: 42"), a blank
// line, then exactly that many bytes of JSON.
//
// Memory follows the bytes that have come, never what a header announces:
// a header line is kept up to a fixed length and the rest of it is read
// past, and a body grows as its bytes arrive, up to `largest_body`; a longer
// body is read past and answered with an error.
#include <algorithm>
#include <array>
#include <cctype>
#include <istream>
#include <string>

#include "lsp/server.h"

namespace vendrak::lsp {
namespace {

// A header line is far shorter; the bytes of a longer one are read past.
constexpr size_t longest_header_line = 8 * 1024;

enum class frame { message, unreadable, skipped, end };

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

// One line up to LF, without it and without a CR before it; false at the
// end of the input. Bytes past `longest_header_line` are read and dropped,
// and `cut` says so.
bool read_line(std::streambuf& in, std::string& line, bool& cut) {
    line.clear();
    cut = false;
    for (;;) {
        const int c = in.sbumpc();
        if (c == std::char_traits<char>::eof()) return false;
        if (c == '\n') break;
        if (line.size() < longest_header_line)
            line += static_cast<char>(c);
        else
            cut = true;
    }
    if (!line.empty() && line.back() == '\r') line.pop_back();
    return true;
}

// Reads `length` bytes into `body` as they come, or past them when
// `keep` is false; false when the input ends first.
bool read_body(std::streambuf& in, size_t length, std::string& body, bool keep) {
    std::array<char, 64 * 1024> chunk;
    body.clear();
    while (length > 0) {
        const auto want = static_cast<std::streamsize>(std::min(length, chunk.size()));
        const std::streamsize got = in.sgetn(chunk.data(), want);
        if (got <= 0) return false;
        if (keep) body.append(chunk.data(), static_cast<size_t>(got));
        length -= static_cast<size_t>(got);
    }
    return true;
}

frame read_frame(std::streambuf& in, server& s, std::string& body, std::string& why) {
    bool found = false, valid = true, any = false, too_long = false;
    size_t length = 0;
    std::string line;
    for (bool cut; read_line(in, line, cut);) {
        if (line.empty() && !cut) {
            if (!any) continue;  // blank lines between frames
            if (too_long) {
                why = "a header line of more than 8 KiB";
                return frame::unreadable;
            }
            if (!found || !valid) {
                why = found ? "the Content-Length header is not a number" : "a message without a Content-Length header";
                return frame::unreadable;
            }
            if (length > largest_body) {
                // Said at once: the bytes announced may be long in coming.
                s.unreadable("a message of more than 16 MiB is read past");
                return read_body(in, length, body, false) ? frame::skipped : frame::end;
            }
            return read_body(in, length, body, true) ? frame::message : frame::end;
        }
        any = true;
        too_long = too_long || cut;
        valid = content_length(line, found, length) && valid;
    }
    return frame::end;
}

}  // namespace

int serve(std::istream& in, server& s) {
    std::string body, why;
    std::streambuf& buffer = *in.rdbuf();
    while (!s.exited()) {
        switch (read_frame(buffer, s, body, why)) {
            case frame::message: s.receive(body); break;
            case frame::skipped: break;
            case frame::unreadable: s.unreadable(why); break;
            case frame::end: return s.exit_status();
        }
    }
    return s.exit_status();
}

}  // namespace vendrak::lsp
