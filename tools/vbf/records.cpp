#include "vbf/records.h"

#include <algorithm>
#include <array>
#include <vector>

#include "common/fatal.h"

namespace vendrak::vbf_tool {
namespace {

int hex_digit(int c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

// One line of an input file, without its line end, in a buffer that keeps
// its size once grown (a record holds at most 255 bytes, so a line past
// 1024 characters is an error rather than more memory).
constexpr size_t max_line = 1024;

class line_reader {
public:
    line_reader(std::FILE* in, const std::string& name) : in_(in), name_(name) {}

    // False at the end of the file.
    bool next() {
        line_.clear();
        int c;
        while ((c = std::getc(in_)) != EOF && c != '\n') {
            if (line_.size() == max_line) fail("a line longer than %zu characters", max_line);
            line_.push_back(static_cast<char>(c));
        }
        if (c == EOF && line_.empty()) return false;
        ++number_;
        while (!line_.empty() && (line_.back() == '\r' || line_.back() == ' ' || line_.back() == '\t')) line_.pop_back();
        return true;
    }
    const std::string& text() const { return line_; }
    uint64_t number() const { return number_; }

    template <typename... A>
    [[noreturn]] void fail(const char* fmt, A... args) const {
        std::string text;
        if constexpr (sizeof...(A) == 0)
            text = fmt;
        else
            text = format(fmt, args...);
        throw input_error(format("%s:%llu: ", name_.c_str(), static_cast<unsigned long long>(number_)) + text);
    }

    // The bytes that the hex digits from `from` on stand for.
    void bytes(size_t from, std::vector<uint8_t>& out) const {
        out.clear();
        if ((line_.size() - from) % 2 != 0) fail("an odd number of hex digits");
        for (size_t i = from; i < line_.size(); i += 2) {
            const int hi = hex_digit(line_[i]), lo = hex_digit(line_[i + 1]);
            if (hi < 0 || lo < 0) fail("'%c' is not a hex digit", hi < 0 ? line_[i] : line_[i + 1]);
            out.push_back(static_cast<uint8_t>(hi << 4 | lo));
        }
    }

private:
    std::FILE* in_;
    const std::string& name_;
    std::string line_;
    uint64_t number_ = 0;
};

uint32_t be(std::span<const uint8_t> b) {
    uint32_t v = 0;
    for (uint8_t x : b) v = v << 8 | x;
    return v;
}

void give(const line_reader& lines, const record_sink& sink, uint64_t address, std::span<const uint8_t> data) {
    if (address + data.size() > 0x100000000ull)
        lines.fail("data at 0x%08llX runs past address 0xFFFFFFFF", static_cast<unsigned long long>(address));
    if (!data.empty()) sink(static_cast<uint32_t>(address), data, lines.number());
}

// :LLAAAATT<data>CC. Type 00 data, 01 end of file, 02 extended segment
// address (base = value * 16), 04 extended linear address (upper 16 bits);
// 03 and 05 (start addresses) carry nothing for a flash image.
void read_intel(line_reader& lines, const record_sink& sink) {
    std::vector<uint8_t> b;
    uint64_t base = 0;
    bool ended = false;
    while (lines.next()) {
        const std::string& l = lines.text();
        if (l.empty()) continue;
        if (ended) lines.fail("a record after the end-of-file record");
        if (l[0] != ':') lines.fail("a line that is not an Intel HEX record (it does not begin with ':')");
        lines.bytes(1, b);
        if (b.size() < 5 || b.size() != size_t{b[0]} + 5u) lines.fail("the record's length does not match its byte count");
        uint8_t sum = 0;
        for (uint8_t x : b) sum = static_cast<uint8_t>(sum + x);
        if (sum != 0) lines.fail("wrong record checksum 0x%02X, expected 0x%02X", b.back(),
                                 static_cast<uint8_t>(b.back() - sum));
        const std::span<const uint8_t> data(b.data() + 4, b[0]);
        const uint32_t offset = be({b.data() + 1, 2});
        switch (b[3]) {
            case 0x00: give(lines, sink, base + offset, data); break;
            case 0x01: ended = true; break;
            case 0x02:
                if (data.size() != 2) lines.fail("an extended segment address record without 2 data bytes");
                base = uint64_t{be(data)} << 4;
                break;
            case 0x04:
                if (data.size() != 2) lines.fail("an extended linear address record without 2 data bytes");
                base = uint64_t{be(data)} << 16;
                break;
            case 0x03:
            case 0x05: break;
            default: lines.fail("unknown record type %02X", b[3]);
        }
    }
    if (!ended) lines.fail("no end-of-file record (:00000001FF): the file may be cut short");
}

// S<type><count><address><data><checksum>, the count covering address, data
// and checksum. S1, S2, S3 hold data at 16-, 24- and 32-bit addresses; S0
// (header), S5/S6 (record count) and S7/S8/S9 (start address) carry none.
void read_srecord(line_reader& lines, const record_sink& sink) {
    std::vector<uint8_t> b;
    while (lines.next()) {
        const std::string& l = lines.text();
        if (l.empty()) continue;
        if (l.size() < 2 || l[0] != 'S' || l[1] < '0' || l[1] > '9')
            lines.fail("a line that is not an S-record (it does not begin with S and a digit)");
        lines.bytes(2, b);
        if (b.empty() || b.size() != size_t{b[0]} + 1u) lines.fail("the record's length does not match its byte count");
        uint8_t sum = 0;
        for (size_t i = 0; i + 1 < b.size(); ++i) sum = static_cast<uint8_t>(sum + b[i]);
        const uint8_t expected = static_cast<uint8_t>(~sum);
        if (b.back() != expected) lines.fail("wrong record checksum 0x%02X, expected 0x%02X", b.back(), expected);
        const int type = l[1] - '0';
        constexpr std::array<size_t, 10> address_size = {2, 2, 3, 4, 0, 2, 3, 4, 3, 2};
        if (type == 4) lines.fail("unknown record type S4");
        const size_t n = address_size[static_cast<size_t>(type)];
        if (b.size() < n + 2) lines.fail("a record too short for its address");
        if (type >= 1 && type <= 3) {
            const std::span<const uint8_t> data(b.data() + 1 + n, b.size() - n - 2);
            give(lines, sink, be({b.data() + 1, n}), data);
        }
    }
}

}  // namespace

bool looks_like(record_format format, std::span<const uint8_t> head) {
    size_t i = 0;
    while (i < head.size() && (head[i] == ' ' || head[i] == '\r' || head[i] == '\n' || head[i] == '\t')) ++i;
    if (i >= head.size()) return false;
    if (format == record_format::intel_hex) return head[i] == ':';
    return head[i] == 'S' && i + 1 < head.size() && head[i + 1] >= '0' && head[i + 1] <= '9';
}

void read_records(std::FILE* in, const std::string& name, record_format format, const record_sink& sink) {
    line_reader lines(in, name);
    if (format == record_format::intel_hex)
        read_intel(lines, sink);
    else
        read_srecord(lines, sink);
    if (std::ferror(in)) throw input_error(name + ": read error");
}

void hex_writer::record(uint8_t type, uint16_t offset, std::span<const uint8_t> data) {
    std::array<char, 2 * 255 + 16> line{};
    uint8_t sum = static_cast<uint8_t>(data.size() + (offset >> 8) + (offset & 0xFF) + type);
    int n = std::snprintf(line.data(), line.size(), ":%02X%04X%02X", static_cast<unsigned>(data.size()),
                          unsigned{offset}, unsigned{type});
    for (uint8_t x : data) {
        n += std::snprintf(line.data() + n, line.size() - static_cast<size_t>(n), "%02X", unsigned{x});
        sum = static_cast<uint8_t>(sum + x);
    }
    std::fprintf(out_, "%s%02X\n", line.data(), static_cast<unsigned>(static_cast<uint8_t>(-sum)));
}

void hex_writer::write(uint32_t address, std::span<const uint8_t> data) {
    while (!data.empty()) {
        if (!upper_written_ || address >> 16 != upper_) {
            upper_ = address >> 16;
            upper_written_ = true;
            const uint8_t upper[2] = {static_cast<uint8_t>(upper_ >> 8), static_cast<uint8_t>(upper_)};
            record(0x04, 0, upper);
        }
        // A record stays inside its 64 KiB segment.
        const size_t room = 0x10000 - (address & 0xFFFF);
        const size_t n = std::min({data.size(), size_t{16}, room});
        record(0x00, static_cast<uint16_t>(address & 0xFFFF), data.first(n));
        address += static_cast<uint32_t>(n);
        data = data.subspan(n);
    }
}

void hex_writer::finish() { record(0x01, 0, {}); }

}  // namespace vendrak::vbf_tool
