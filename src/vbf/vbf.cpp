#include "vbf/vbf.h"

#include <algorithm>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "common/bytes.h"
#include "common/fatal.h"
#include "common/file.h"
#include "platform/platform.h"
#include "vbf/crc32.h"
#include "vbf/image.h"

namespace vendrak {

namespace {

// The text being scanned (a header item, or the text up to the header's
// opening brace) holds at most this many bytes with its terminating NUL.
constexpr size_t item_buffer_size = 32768;
constexpr size_t max_item_length = item_buffer_size - 1;
constexpr size_t max_part_number_length = 31;
constexpr size_t max_key_hash_length = 127;
constexpr size_t max_list_entries = 1000;
// Data bytes move through one buffer of this size: memory stays fixed
// whatever the size of the file.
constexpr size_t copy_block_size = 256 * 1024;

// Only bytes 0x21..0x7E count in the text part; blanks, line breaks, other
// control bytes and bytes from 0x7F on are dropped wherever they stand.
bool printable(int c) { return c >= 0x21 && c <= 0x7E; }

// Skips a block comment whose "/*" has been read: it closes at the first "*/"
// whose "*" follows the opening, so "/*/" does not close it. Returns the last
// byte read ('/' when closed, EOF otherwise).
int skip_block_comment(std::FILE* in) {
    bool star = false;
    for (;;) {
        const int c = std::getc(in);
        if (c == EOF || (star && c == '/')) return c;
        star = c == '*';
    }
}

// Reads one item: the printable bytes up to the next ';' (which is not
// stored). Before the first stored byte a '}' or ';' ends the item as empty
// text and comments are skipped; after it every byte but ';' is stored.
// Returns 0 for an item (possibly empty), -1 at end of file or when the item
// would exceed `max_item_length`; `item` then holds what was stored. `end`
// tells which of these ended it.
int vbf_get_next_item(std::FILE* in, std::string& item, header_end& end) {
    item.clear();
    for (;;) {
        int c = std::getc(in);
        if (c == EOF) {
            end = header_end::end_of_file;
            return -1;
        }
        if (!printable(c)) continue;
        if (item.empty()) {
            if (c == '}' || c == ';') {
                end = c == '}' ? header_end::brace : header_end::empty_item;
                return 0;
            }
            if (c == '/') {
                c = std::getc(in);
                if (c == '/') {
                    do c = std::getc(in);
                    while (c != EOF && c != '\n' && c != '\r');
                } else if (c == '*') {
                    c = skip_block_comment(in);
                }
                // Any other byte is dropped together with the '/'.
                if (c == EOF) return -1;
                continue;
            }
        }
        if (c == ';') return 0;
        if (item.size() == max_item_length) {
            end = header_end::item_too_long;
            return -1;
        }
        item.push_back(static_cast<char>(c));
    }
}

// Collects the printable bytes up to and including the first '{', with no
// comment handling. Returns -1 at end of file or when the text and its NUL
// would not fit `size` bytes.
int vbf_get_header_start(std::FILE* in, std::string& text, size_t size) {
    text.clear();
    for (;;) {
        const int c = std::getc(in);
        if (c == EOF) return -1;
        if (!printable(c)) continue;
        if (text.size() + 1 >= size) return -1;
        text.push_back(static_cast<char>(c));
        if (c == '{') return 0;
    }
}

// The item from position `at` on; a position past its end reads as empty text.
std::string_view from(std::string_view item, size_t at) {
    return at < item.size() ? item.substr(at) : std::string_view{};
}

char char_at(std::string_view item, size_t at) { return at < item.size() ? item[at] : '\0'; }

int digit_value(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'z') return c - 'a' + 10;
    if (c >= 'A' && c <= 'Z') return c - 'A' + 10;
    return 36;
}

struct number {
    uint32_t value = 0;
    size_t end = 0;  // the position of the first character after the number
};

// Reads a number at `at` as C's strtoul does in automatic base with a 32-bit
// unsigned long: an optional sign, then "0x"/"0X" and hexadecimal digits, a
// leading 0 and octal digits, or decimal digits. A value beyond 32 bits gives
// 0xFFFFFFFF; a minus sign negates modulo 2^32. Without digits the value is 0
// and the number ends where it started.
number read_number(std::string_view item, size_t at) {
    size_t i = at;
    const bool negative = char_at(item, i) == '-';
    if (negative || char_at(item, i) == '+') ++i;
    int base = 10;
    if (char_at(item, i) == '0') {
        const char x = char_at(item, i + 1);
        if ((x == 'x' || x == 'X') && digit_value(char_at(item, i + 2)) < 16) {
            base = 16;
            i += 2;
        } else {
            base = 8;
        }
    }
    const size_t first_digit = i;
    uint64_t value = 0;
    bool overflow = false;
    for (; i < item.size() && digit_value(item[i]) < base; ++i) {
        value = value * static_cast<uint64_t>(base) + static_cast<uint64_t>(digit_value(item[i]));
        if (value > 0xFFFFFFFFu) {
            overflow = true;
            value = 0xFFFFFFFFu;
        }
    }
    if (i == first_digit) return {0, at};
    uint32_t result = static_cast<uint32_t>(value);
    if (negative && !overflow) result = 0u - result;
    return {result, i};
}

// A keyword matches when the value begins with it; an unknown keyword leaves
// the field as it was.
template <size_t N>
void set_code(uint32_t& field, std::string_view value, const vbf_keyword (&table)[N]) {
    for (const auto& k : table) {
        if (value.starts_with(k.text)) {
            field = k.code;
            return;
        }
    }
}

// An item handler gets the whole item and the position where its value
// begins; it returns the message of a value that does not fit, else "".
using item_handler = std::string (*)(vbf_header&, std::string_view item, size_t at);

std::string set_text(std::string& field, size_t max_length, std::string_view item, size_t at) {
    std::string_view value = from(item, at);
    if (value.ends_with('"')) value.remove_suffix(1);
    if (value.size() > max_length) return format("ERROR: VBF header value too long (%.*s)\n", static_cast<int>(item.size()), item.data());
    field.assign(value);
    return {};
}

// {{start,length},{start,length},...}: one separator character inside a
// pair; a comma right after the pair's closing character announces the next
// pair, whose start follows that comma and the pair's opening brace.
std::string append_ranges(std::vector<address_range>& list, const char* message, std::string_view item, size_t at) {
    size_t pos = at;
    for (;;) {
        if (list.size() == max_list_entries) return message;
        const number start = read_number(item, pos);
        const number length = read_number(item, start.end + 1);
        list.push_back({start.value, length.value});
        const size_t after = length.end + 1;
        if (char_at(item, after) != ',') return {};
        pos = after + 2;
    }
}

struct header_key {
    std::string_view text;
    item_handler apply;
};

// Tested in this order against the start of each item; the first key that
// starts the item takes it.
constexpr header_key header_keys[] = {
    {"sw_part_number=\"",
     [](vbf_header& h, std::string_view item, size_t at) {
         return set_text(h.sw_part_number, max_part_number_length, item, at);
     }},
    {"public_key_hash=\"",
     [](vbf_header& h, std::string_view item, size_t at) {
         return set_text(h.public_key_hash, max_key_hash_length, item, at);
     }},
    {"sw_part_type=",
     [](vbf_header& h, std::string_view item, size_t at) {
         set_code(h.sw_part_type, from(item, at), sw_part_types);
         return std::string{};
     }},
    {"prog_type=",
     [](vbf_header& h, std::string_view item, size_t at) {
         set_code(h.prog_type, from(item, at), prog_types);
         return std::string{};
     }},
    {"datproc_method=",
     [](vbf_header& h, std::string_view item, size_t at) {
         set_code(h.datproc_method, from(item, at), datproc_methods);
         return std::string{};
     }},
    {"datproc_param=",
     [](vbf_header& h, std::string_view item, size_t at) {
         h.datproc_param = read_number(item, at).value;
         return std::string{};
     }},
    {"data_format_identifier=",
     [](vbf_header& h, std::string_view item, size_t at) {
         h.data_format_identifier = read_number(item, at).value;
         return std::string{};
     }},
    // network=CAN_HS, or network={CAN_HS,SUB_CAN1}: the sub keyword stands
    // at a fixed place, after a primary keyword of six characters and a comma.
    {"network=",
     [](vbf_header& h, std::string_view item, size_t at) {
         if (char_at(item, at) == '{') {
             set_code(h.network, from(item, at + 1), networks);
             set_code(h.network_sub, from(item, 16), sub_networks);
         } else {
             set_code(h.network, from(item, at), networks);
         }
         return std::string{};
     }},
    // ecu_address=0x7E0, or {a,b,c} where each number starts one character
    // after the end of the one before.
    {"ecu_address=",
     [](vbf_header& h, std::string_view item, size_t at) {
         if (char_at(item, at) == '{') {
             size_t pos = at + 1;
             for (uint32_t& field : h.ecu_address) {
                 const number n = read_number(item, pos);
                 field = n.value;
                 pos = n.end + 1;
             }
         } else {
             h.ecu_address[0] = read_number(item, at).value;
         }
         return std::string{};
     }},
    {"frame_format=",
     [](vbf_header& h, std::string_view item, size_t at) {
         set_code(h.frame_format, from(item, at), frame_formats);
         return std::string{};
     }},
    {"call=",
     [](vbf_header& h, std::string_view item, size_t at) {
         h.call = read_number(item, at).value;
         return std::string{};
     }},
    {"file_checksum=",
     [](vbf_header& h, std::string_view item, size_t at) {
         h.file_checksum = read_number(item, at).value;
         return std::string{};
     }},
    {"ctp_crc32=",
     [](vbf_header& h, std::string_view item, size_t at) {
         h.ctp_crc32 = read_number(item, at).value;
         return std::string{};
     }},
    // description={"1234","5678"}: the second number stands at a fixed place,
    // after a first value of four characters.
    {"description={\"",
     [](vbf_header& h, std::string_view item, size_t at) {
         h.description[0] = static_cast<uint16_t>(read_number(item, at).value);
         h.description[1] = static_cast<uint16_t>(read_number(item, 21).value);
         return std::string{};
     }},
    {"erase={{",
     [](vbf_header& h, std::string_view item, size_t at) {
         return append_ranges(h.erase, "ERROR: Too many erase entries\n", item, at);
     }},
    {"omit={{",
     [](vbf_header& h, std::string_view item, size_t at) {
         return append_ranges(h.omit, "ERROR: Too many omit entries\n", item, at);
     }},
};

// The converter's side of the output: every byte of the image also goes
// into the image's container register, and is counted.
class image_sink {
public:
    explicit image_sink(image_output& out) : out_(out) {}

    void write(const void* data, size_t n) {
        out_.write(static_cast<const uint8_t*>(data), n);
        crc_ = crc32_update(crc_, static_cast<const uint8_t*>(data), n);
        size_ += n;
    }
    // Bytes whose register from 0 is already known (`reg`): the data of a
    // kept section, which the file checksum runs over too.
    void write(const uint8_t* data, size_t n, uint32_t reg) {
        out_.write(data, n);
        crc_ = crc32_combine(crc_, reg, n);
        size_ += n;
    }
    uint32_t crc() const { return crc_; }
    uint64_t size() const { return size_; }

private:
    image_output& out_;
    uint32_t crc_ = 0;
    uint64_t size_ = 0;
};

}  // namespace

void stream_output::write(const uint8_t* data, size_t n) {
    if (n == 0) return;
    if (size_ + n >= limit_) fail(out_stream::out, "Error: Output container exceeds 2 GiB\n");
    std::fwrite(data, 1, n, out_);
    size_ += n;
}

int vbf_process(const char* path, std::FILE* out, uint32_t* checksum_out, std::FILE* messages, uint64_t limit) {
    const int64_t at = platform::tell(out);
    stream_output output(out, at > 0 ? static_cast<uint64_t>(at) : 0, limit);
    vbf_image image;
    const int result = vbf_process(path, output, image, messages);
    if (result == 0 && checksum_out) *checksum_out = image.file_checksum;
    return result;
}

namespace {

// Where the stream stands, for an observer; 0 when it cannot tell.
uint64_t position(std::FILE* in) {
    const int64_t at = platform::tell(in);
    return at > 0 ? static_cast<uint64_t>(at) : 0;
}

// Tells no one: the compiler's conversions.
class silent_observer final : public vbf_observer {};

}  // namespace

int vbf_process(const char* path, image_output& out, vbf_image& image, std::FILE* messages, vbf_observer* watcher) {
    silent_observer silent;
    vbf_observer& observer = watcher ? *watcher : silent;
    file_ptr in(platform::open_input(path));
    if (!in) {
        std::fprintf(messages, "ERROR: Cannot open \"%s\" file\n", path);
        observer.failed(0);
        return -1;
    }
    // The converter's message, then where it stopped.
    auto fail = [&](const char* fmt, auto... args) {
        std::fprintf(messages, fmt, args...);
        observer.failed(position(in.get()));
        return -1;
    };

    std::string item;
    item.reserve(item_buffer_size);
    header_end end = header_end::end_of_file;
    if (vbf_get_next_item(in.get(), item, end) == -1) return fail("ERROR: Cannot parse version entry (%s)\n", item.c_str());
    if (watcher) observer.item(item, position(in.get()));
    if (item.find("vbf_version=") == std::string::npos)
        return fail("ERROR: Cannot determine VBF version (%s)\n", item.c_str());
    if (vbf_get_header_start(in.get(), item, item_buffer_size) == -1)
        return fail("ERROR: Cannot parse header start (%s)\n", item.c_str());
    if (item.find("header{") == std::string::npos)
        return fail("ERROR: Cannot determine VBF header start (%s)\n", item.c_str());

    // The header ends at its closing brace (an empty item) or at the end of
    // the file; the data part begins right after.
    vbf_header header;
    while (vbf_get_next_item(in.get(), item, end) == 0 && !item.empty()) {
        if (watcher) observer.item(item, position(in.get()));
        const auto key = std::find_if(std::begin(header_keys), std::end(header_keys),
                                      [&](const header_key& k) { return item.starts_with(k.text); });
        if (key == std::end(header_keys)) continue;
        const std::string message = key->apply(header, item, key->text.size());
        if (!message.empty()) return fail("%s", message.c_str());
    }
    uint64_t offset = position(in.get());
    observer.header(header, offset, end);

    image_sink writer(out);
    const std::string text = image_text(header);
    writer.write(text.data(), text.size());

    // A section is omitted when an omit entry has its start and at least its
    // length: the longest omit length per start decides.
    std::unordered_map<uint32_t, uint32_t> omit_length;
    for (const auto& o : header.omit) {
        auto [it, added] = omit_length.try_emplace(o.start, o.length);
        if (!added) it->second = std::max(it->second, o.length);
    }

    // Every byte of the data part goes into the checksum, omitted sections
    // included; only kept sections are copied. The data of a kept section
    // is run through the CRC once, from 0, and that register is carried into
    // both the checksum and the image's register.
    std::vector<uint8_t> buffer(copy_block_size);
    uint32_t crc = 0xFFFFFFFF;
    for (;;) {
        uint8_t head[8] = {};  // bytes missing from a short head count as 0
        const size_t head_size = std::fread(head, 1, sizeof head, in.get());
        if (head_size == 0) break;
        vbf_section section{offset, get_u32be(head, 0), get_u32be(head, 4), 0, true};
        offset += head_size;
        crc = crc32_update(crc, head, head_size);
        const uint32_t start = get_u32be(head, 0);
        const uint32_t length = get_u32be(head, 4);
        const auto omit = omit_length.find(start);
        const bool kept = omit == omit_length.end() || omit->second < length;
        if (kept) writer.write(head, head_size);

        for (uint32_t done = 0; done < length;) {
            const size_t want = std::min<size_t>(buffer.size(), length - done);
            const size_t got = std::fread(buffer.data(), 1, want, in.get());
            observer.data(buffer.data(), got);
            offset += got;
            if (kept) {
                const uint32_t reg = crc32_update(0, buffer.data(), got);
                crc = crc32_combine(crc, reg, got);
                writer.write(buffer.data(), got, reg);
            } else {
                crc = crc32_update(crc, buffer.data(), got);
            }
            done += static_cast<uint32_t>(got);
            if (got < want)
                return fail("ERROR: Cannot read data at index %lu (section address=%08lX, length=%lu)\n",
                            static_cast<unsigned long>(done), static_cast<unsigned long>(start),
                            static_cast<unsigned long>(length));
        }

        uint8_t block_checksum[2];
        const size_t got = std::fread(block_checksum, 1, sizeof block_checksum, in.get());
        crc = crc32_update(crc, block_checksum, got);
        if (got < sizeof block_checksum)
            return fail("ERROR: Cannot read block_checksum (section address=%08lX, length=%lu)\n",
                        static_cast<unsigned long>(start), static_cast<unsigned long>(length));
        offset += got;
        if (kept) writer.write(block_checksum, sizeof block_checksum);
        section.block_checksum = static_cast<uint16_t>(block_checksum[0] << 8 | block_checksum[1]);
        section.kept = kept;
        observer.section(section);
    }

    writer.write("ENDOFVBF", 8);
    in.reset();
    const uint32_t checksum = crc ^ 0xFFFFFFFF;
    observer.checksum(checksum, offset);
    if (checksum != header.file_checksum) {
        std::fprintf(messages, "ERROR: Calculated checksum (%08lX) does not match file_checksum (%08lX)\n",
                     static_cast<unsigned long>(checksum), static_cast<unsigned long>(header.file_checksum));
        observer.failed(offset);
        return -1;
    }
    image = {header.file_checksum, writer.size(), writer.crc()};
    return 0;
}

}  // namespace vendrak
