#include "lsp/text.h"

#include <algorithm>

namespace vendrak::lsp {
namespace {

// The bytes of the UTF-8 sequence at `at` and the UTF-16 units it makes:
// {1, 1} for ASCII and for a byte that begins no valid sequence (overlong
// forms and surrogates included).
struct unit {
    size_t bytes;
    uint32_t units;
};

unit unit_at(std::string_view s, size_t at) {
    const auto b = static_cast<unsigned char>(s[at]);
    if (b < 0x80) return {1, 1};
    size_t n = 0;
    unsigned char low = 0x80, high = 0xBF;  // the range of the second byte
    if (b >= 0xC2 && b <= 0xDF) {
        n = 2;
    } else if (b >= 0xE0 && b <= 0xEF) {
        n = 3;
        if (b == 0xE0) low = 0xA0;
        if (b == 0xED) high = 0x9F;
    } else if (b >= 0xF0 && b <= 0xF4) {
        n = 4;
        if (b == 0xF0) low = 0x90;
        if (b == 0xF4) high = 0x8F;
    }
    if (n == 0 || at + n > s.size()) return {1, 1};
    for (size_t k = 1; k < n; ++k) {
        const auto c = static_cast<unsigned char>(s[at + k]);
        if (k == 1 ? c < low || c > high : (c & 0xC0) != 0x80) return {1, 1};
    }
    return {n, n == 4 ? 2u : 1u};
}

}  // namespace

size_t utf16_length(std::string_view bytes) {
    size_t units = 0;
    for (size_t i = 0; i < bytes.size();) {
        const unit u = unit_at(bytes, i);
        i += u.bytes;
        units += u.units;
    }
    return units;
}

text_index::text_index(std::string_view text) : text_(text) {
    starts_.push_back(0);
    lf_starts_.push_back(0);
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\n') {
            starts_.push_back(i + 1);
            lf_starts_.push_back(i + 1);
        } else if (text[i] == '\r' && (i + 1 == text.size() || text[i + 1] != '\n')) {
            starts_.push_back(i + 1);
        }
    }
}

size_t text_index::line_end(size_t line) const {
    if (line + 1 >= starts_.size()) return text_.size();
    size_t end = starts_[line + 1] - 1;
    if (text_[end] == '\n' && end > starts_[line] && text_[end - 1] == '\r') --end;
    return end;
}

position text_index::position_of(size_t offset) const {
    offset = std::min(offset, text_.size());
    const size_t line = static_cast<size_t>(std::upper_bound(starts_.begin(), starts_.end(), offset) - starts_.begin()) - 1;
    size_t from = starts_[line];
    position p{static_cast<uint32_t>(line), 0};
    if (memo_.line == line && memo_offset_ <= offset && memo_offset_ >= from) {
        from = memo_offset_;
        p = memo_;
    }
    // A line break counts as one unit, so an offset inside CR LF stays sane.
    const size_t end = std::min(offset, line_end(line));
    p.character += static_cast<uint32_t>(utf16_length(text_.substr(from, end > from ? end - from : 0)));
    p.character += static_cast<uint32_t>(offset - std::max(end, from));
    memo_offset_ = offset;
    memo_ = p;
    return p;
}

std::optional<size_t> text_index::offset_of(position p) const {
    if (p.line >= starts_.size()) return std::nullopt;
    const size_t end = line_end(p.line);
    size_t at = starts_[p.line];
    for (uint32_t units = 0; at < end;) {
        const unit u = unit_at(text_, at);
        if (units + u.units > p.character) break;
        units += u.units;
        at += u.bytes;
    }
    return at;
}

size_t text_index::offset_of_place(uint32_t line, uint32_t column) const {
    if (line == 0) return 0;
    if (line > lf_starts_.size()) return text_.size();
    const size_t start = lf_starts_[line - 1];
    return std::min(text_.size(), start + (column == 0 ? 0 : column - 1));
}

}  // namespace vendrak::lsp
