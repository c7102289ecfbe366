// vbfgen: writes a VBF flash file with a text header of chosen items and
// sections of chosen addresses and lengths, filled with deterministic data,
// and the correct file_checksum.
//
// The data is streamed through one fixed buffer, so a file of any size (a
// 1 GiB benchmark input, say) is written with a few hundred KiB of memory.
// The checksum is only known at the end: the header carries a fixed-width
// placeholder that is overwritten once the data part is written.

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "vbf/crc16.h"
#include "vbf/crc32.h"

namespace {

constexpr const char* usage_text = R"(Usage: vbfgen [options] -o FILE

Writes a VBF flash file: the version item, a header with the items chosen
below, the sections given with --section, and a file_checksum that matches
the data part (unless --bad-checksum). Memory use does not depend on the size.

Header:
  --vbf-version TEXT      value of vbf_version (default 2.6)
  --part-number TEXT      sw_part_number, written in double quotes
  --part-type WORD        sw_part_type (EXE, SBL, DATA, ...)
  --network VALUE         network, as written: CAN_HS or {CAN_HS,SUB_CAN1}
  --ecu-address VALUE     ecu_address, as written: 0x7E0 or {0x7E0,0x10,0x2}
  --frame-format WORD     frame_format (CAN_STANDARD, CAN_EXTENDED)
  --call ADDR             call address
  --erase START:LEN       one pair of the erase list (repeatable)
  --omit START:LEN        one pair of the omit list (repeatable)
  --item TEXT             any further header item, written as given with a
                          closing ';' (repeatable), e.g. --item 'sw_version = 1'
  --bad-checksum          write a file_checksum that does not match

Data part:
  --section ADDR:LEN      a section at ADDR of LEN bytes (repeatable, in order);
                          numbers are decimal, 0x hexadecimal or 0 octal, and
                          LEN may end in K, M or G (times 1024, 1024^2, 1024^3)
  --data KIND             random (default), counter (the byte's offset in its
                          section, modulo 256), zero, or byte=XX (one value)
  --seed N                seed of the random data (default 1)

Output:
  -o, --output FILE       the file to write (a regular file: it is rewritten
                          at the end to hold the checksum)
  --crlf                  CR LF line ends in the header (default LF)
  -h, --help              this text

Examples:
  vbfgen -o ecu.vbf --part-number 31808832AB --part-type EXE \
         --erase 0x8000:0x1000 --section 0x8000:256 --data counter
  vbfgen -o big.vbf --part-type DATA --section 0x0:1G
)";

[[noreturn]] void die(const std::string& message) {
    std::fprintf(stderr, "vbfgen: %s\n", message.c_str());
    std::exit(2);
}

// A 32-bit number as the header and the sections hold it, with an optional
// binary size suffix.
uint32_t parse_u32(std::string_view text, bool allow_suffix) {
    const std::string s(text);
    char* end = nullptr;
    errno = 0;
    unsigned long long v = std::strtoull(s.c_str(), &end, 0);
    if (end == s.c_str() || errno != 0 || s[0] == '-') die("not a number: " + s);
    if (allow_suffix && *end != '\0' && end[1] == '\0') {
        const char unit = *end++;
        if (unit == 'K' || unit == 'k') v <<= 10;
        else if (unit == 'M' || unit == 'm') v <<= 20;
        else if (unit == 'G' || unit == 'g') v <<= 30;
        else die("unknown size suffix: " + s);
    }
    if (*end != '\0') die("not a number: " + s);
    if (v > 0xFFFFFFFFull) die("number beyond 32 bits: " + s);
    return static_cast<uint32_t>(v);
}

struct pair32 {
    uint32_t first = 0;
    uint32_t second = 0;
};

pair32 parse_pair(std::string_view text, bool allow_suffix) {
    const size_t colon = text.find(':');
    if (colon == std::string_view::npos) die("expected START:LEN, got " + std::string(text));
    return {parse_u32(text.substr(0, colon), false), parse_u32(text.substr(colon + 1), allow_suffix)};
}

enum class data_kind { random, counter, constant };

struct options {
    std::string output;
    std::string vbf_version = "2.6";
    std::optional<std::string> part_number, part_type, network, ecu_address, frame_format;
    std::optional<uint32_t> call;
    std::vector<pair32> erase, omit, sections;
    std::vector<std::string> items;
    bool bad_checksum = false;
    data_kind data = data_kind::random;
    uint8_t constant = 0;
    uint64_t seed = 1;
    bool crlf = false;
};

options parse_options(int argc, char** argv) {
    options o;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        std::string value;
        bool has_value = false;
        if (const size_t eq = arg.find('='); arg.starts_with("--") && eq != std::string::npos) {
            value = arg.substr(eq + 1);
            arg.resize(eq);
            has_value = true;
        }
        auto next = [&]() -> std::string {
            if (has_value) return value;
            if (i + 1 >= argc) die("option " + arg + " needs a value");
            return argv[++i];
        };
        if (arg == "-h" || arg == "--help") {
            std::fputs(usage_text, stdout);
            std::exit(0);
        } else if (arg == "-o" || arg == "--output") {
            o.output = next();
        } else if (arg == "--vbf-version") {
            o.vbf_version = next();
        } else if (arg == "--part-number") {
            o.part_number = next();
        } else if (arg == "--part-type") {
            o.part_type = next();
        } else if (arg == "--network") {
            o.network = next();
        } else if (arg == "--ecu-address") {
            o.ecu_address = next();
        } else if (arg == "--frame-format") {
            o.frame_format = next();
        } else if (arg == "--call") {
            o.call = parse_u32(next(), false);
        } else if (arg == "--erase") {
            o.erase.push_back(parse_pair(next(), true));
        } else if (arg == "--omit") {
            o.omit.push_back(parse_pair(next(), true));
        } else if (arg == "--item") {
            o.items.push_back(next());
        } else if (arg == "--bad-checksum") {
            o.bad_checksum = true;
        } else if (arg == "--section") {
            o.sections.push_back(parse_pair(next(), true));
        } else if (arg == "--data") {
            const std::string kind = next();
            if (kind == "random") {
                o.data = data_kind::random;
            } else if (kind == "counter") {
                o.data = data_kind::counter;
            } else if (kind == "zero") {
                o.data = data_kind::constant;
                o.constant = 0;
            } else if (kind.starts_with("byte=")) {
                const uint32_t v = parse_u32(kind.substr(5), false);
                if (v > 0xFF) die("byte value beyond 0xFF: " + kind);
                o.data = data_kind::constant;
                o.constant = static_cast<uint8_t>(v);
            } else {
                die("unknown data kind: " + kind);
            }
        } else if (arg == "--seed") {
            o.seed = parse_u32(next(), false);
        } else if (arg == "--crlf") {
            o.crlf = true;
        } else {
            die("unknown option " + arg + " (see --help)");
        }
    }
    if (o.output.empty()) die("no output file (-o FILE; see --help)");
    return o;
}

std::string hex32(uint32_t v) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08X", v);
    return text;
}

std::string pair_list(const std::vector<pair32>& pairs) {
    std::string list = "{";
    for (size_t i = 0; i < pairs.size(); ++i)
        list += (i ? ", {" : "{") + hex32(pairs[i].first) + ", " + hex32(pairs[i].second) + "}";
    return list + "}";
}

// splitmix64: a fast generator whose output depends only on the seed and the
// number of steps, so the same options always give the same file.
class random_bytes {
public:
    explicit random_bytes(uint64_t seed) : state_(seed) {}
    void fill(uint8_t* p, size_t n) {
        while (n > 0) {
            uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
            z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
            z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
            z ^= z >> 31;
            const size_t k = n < 8 ? n : 8;
            for (size_t i = 0; i < k; ++i) p[i] = static_cast<uint8_t>(z >> (8 * i));
            p += k;
            n -= k;
        }
    }

private:
    uint64_t state_;
};

// Writes the data part and returns its file checksum register.
class data_writer {
public:
    data_writer(std::FILE* out, const options& o) : out_(out), opts_(o), random_(o.seed), buffer_(1 << 18) {}

    void bytes(const uint8_t* p, size_t n) {
        if (std::fwrite(p, 1, n, out_) != n) die("cannot write " + opts_.output);
        crc_ = vendrak::crc32_update(crc_, p, n);
    }

    void section(pair32 s) {
        const uint8_t head[8] = {
            static_cast<uint8_t>(s.first >> 24),  static_cast<uint8_t>(s.first >> 16),
            static_cast<uint8_t>(s.first >> 8),   static_cast<uint8_t>(s.first),
            static_cast<uint8_t>(s.second >> 24), static_cast<uint8_t>(s.second >> 16),
            static_cast<uint8_t>(s.second >> 8),  static_cast<uint8_t>(s.second),
        };
        bytes(head, sizeof head);
        uint16_t block_crc = 0xFFFF;
        for (uint64_t done = 0; done < s.second;) {
            const size_t n = static_cast<size_t>(std::min<uint64_t>(buffer_.size(), s.second - done));
            fill(buffer_.data(), n, done);
            block_crc = vendrak::crc16_update(block_crc, buffer_.data(), n);
            bytes(buffer_.data(), n);
            done += n;
        }
        const uint8_t tail[2] = {static_cast<uint8_t>(block_crc >> 8), static_cast<uint8_t>(block_crc)};
        bytes(tail, sizeof tail);
    }

    uint32_t checksum() const { return crc_ ^ 0xFFFFFFFF; }

private:
    void fill(uint8_t* p, size_t n, uint64_t offset) {
        switch (opts_.data) {
            case data_kind::random: random_.fill(p, n); break;
            case data_kind::counter:
                for (size_t i = 0; i < n; ++i) p[i] = static_cast<uint8_t>(offset + i);
                break;
            case data_kind::constant: std::memset(p, opts_.constant, n); break;
        }
    }

    std::FILE* out_;
    const options& opts_;
    random_bytes random_;
    std::vector<uint8_t> buffer_;
    uint32_t crc_ = 0xFFFFFFFF;
};

}  // namespace

int main(int argc, char** argv) {
    const options o = parse_options(argc, argv);
    std::FILE* out = std::fopen(o.output.c_str(), "wb");
    if (!out) die("cannot create " + o.output + ": " + std::strerror(errno));

    const std::string nl = o.crlf ? "\r\n" : "\n";
    std::string header = "vbf_version = " + o.vbf_version + ";" + nl + nl + "header {" + nl;
    auto item = [&](const std::string& text) { header += "    " + text + ";" + nl; };
    if (o.part_number) item("sw_part_number = \"" + *o.part_number + "\"");
    if (o.part_type) item("sw_part_type = " + *o.part_type);
    if (o.network) item("network = " + *o.network);
    if (o.ecu_address) item("ecu_address = " + *o.ecu_address);
    if (o.frame_format) item("frame_format = " + *o.frame_format);
    if (!o.erase.empty()) item("erase = " + pair_list(o.erase));
    if (!o.omit.empty()) item("omit = " + pair_list(o.omit));
    if (o.call) item("call = " + hex32(*o.call));
    for (const auto& text : o.items) item(text);
    header += "    file_checksum = ";
    const long checksum_at = static_cast<long>(header.size());
    header += hex32(0) + ";" + nl + "}";
    if (std::fwrite(header.data(), 1, header.size(), out) != header.size()) die("cannot write " + o.output);

    data_writer data(out, o);
    for (const auto& s : o.sections) data.section(s);

    const uint32_t checksum = data.checksum() ^ (o.bad_checksum ? 0x00000001u : 0u);
    const std::string text = hex32(checksum);
    if (std::fseek(out, checksum_at, SEEK_SET) != 0 || std::fwrite(text.data(), 1, text.size(), out) != text.size())
        die("cannot rewrite the checksum in " + o.output + " (it must be a regular file)");
    if (std::fclose(out) != 0) die("cannot write " + o.output);
    return 0;
}
