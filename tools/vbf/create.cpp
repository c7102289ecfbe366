#include "vbf/create.h"

#include <algorithm>
#include <array>
#include <filesystem>
#include <system_error>

#include "common/fatal.h"
#include "common/file.h"
#include "platform/platform.h"
#include "vbf/crc16.h"
#include "vbf/crc32.h"

namespace vendrak::vbf_tool {
namespace {

namespace fs = std::filesystem;
using ull = unsigned long long;

// Data moves through one buffer of this size.
constexpr size_t chunk = 256 * 1024;

// A run of contiguous data from one input.
struct extent {
    uint32_t address = 0;
    uint64_t length = 0;
    size_t input = 0;
    uint64_t line = 0;  // of the record it begins at (record files)
    uint64_t end() const { return uint64_t{address} + length; }
};

std::string where(const input& in, const extent& e) {
    switch (in.type) {
        case input::kind::fill: return "the fill";
        case input::kind::binary: return in.path;
        default: return format("%s:%llu", in.path.c_str(), ull{e.line});
    }
}

file_ptr open_or_throw(const std::string& path) {
    file_ptr f(platform::open_input(path.c_str()));
    if (!f) throw input_error(path + ": cannot open the file");
    return f;
}

record_format format_of(input::kind k) {
    return k == input::kind::intel_hex ? record_format::intel_hex : record_format::srecord;
}

// The extents of every input, in the order the inputs give them. A record
// file's records are joined while each continues where the one before ended.
std::vector<extent> scan(const std::vector<input>& inputs) {
    std::vector<extent> out;
    for (size_t i = 0; i < inputs.size(); ++i) {
        const input& in = inputs[i];
        if (in.type == input::kind::fill) {
            out.push_back({in.address, in.length, i, 0});
        } else if (in.type == input::kind::binary) {
            const file_ptr f = open_or_throw(in.path);
            if (!platform::seek(f.get(), 0) || std::fseek(f.get(), 0, SEEK_END) != 0)
                throw input_error(in.path + ": cannot read the file");
            const int64_t size = platform::tell(f.get());
            if (size < 0) throw input_error(in.path + ": cannot read the file");
            out.push_back({in.address, static_cast<uint64_t>(size), i, 0});
        } else {
            const file_ptr f = open_or_throw(in.path);
            const size_t first = out.size();
            read_records(f.get(), in.path, format_of(in.type),
                         [&](uint32_t address, std::span<const uint8_t> data, uint64_t line) {
                             if (out.size() > first && out.back().end() == address)
                                 out.back().length += data.size();
                             else
                                 out.push_back({address, data.size(), i, line});
                         });
        }
        const extent* last = out.empty() ? nullptr : &out.back();
        if (last && last->input == i && last->end() > 0x100000000ull)
            throw input_error(format("%s: the data at 0x%08X runs past address 0xFFFFFFFF", in.path.c_str(),
                                     last->address));
    }
    return out;
}

struct section_plan {
    uint32_t address = 0;
    uint64_t length = 0;
    uint64_t head = 0;  // offset of its head in the output
};

// Sorts the extents, refuses overlaps, and joins contiguous ones into sections.
std::vector<section_plan> plan(std::vector<extent>& extents, const std::vector<input>& inputs) {
    std::stable_sort(extents.begin(), extents.end(), [](const extent& a, const extent& b) { return a.address < b.address; });
    std::vector<section_plan> sections;
    const extent* previous = nullptr;
    for (const extent& e : extents) {
        if (e.length == 0) continue;
        if (previous && e.address < previous->end())
            throw input_error(format("%s overlaps %s: both hold data at 0x%08X", where(inputs[e.input], e).c_str(),
                                     where(inputs[previous->input], *previous).c_str(), e.address));
        if (!sections.empty() && uint64_t{sections.back().address} + sections.back().length == e.address)
            sections.back().length += e.length;
        else
            sections.push_back({e.address, e.length, 0});
        if (sections.back().length > 0xFFFFFFFFu)
            throw input_error(format("the section at 0x%08X would be 4 GiB long", sections.back().address));
        if (!previous || e.end() > previous->end()) previous = &e;
    }
    if (sections.empty()) throw input_error("the inputs hold no data");
    return sections;
}

std::string hex32(uint32_t v) { return format("0x%08X", v); }

std::string range_list(const std::vector<address_range>& ranges) {
    std::string s = "{ ";
    for (size_t i = 0; i < ranges.size(); ++i)
        s += format("%s{ %s, %s }", i ? ", " : "", hex32(ranges[i].start).c_str(), hex32(ranges[i].length).c_str());
    return s + " }";
}

std::string read_text_file(const std::string& path) {
    const file_ptr f = open_or_throw(path);
    std::string text;
    std::array<char, 4096> b;
    for (size_t n; (n = std::fread(b.data(), 1, b.size(), f.get())) > 0;) text.append(b.data(), n);
    if (std::ferror(f.get())) throw input_error(path + ": cannot read the file");
    return text;
}

// The text part, with a file checksum of ten characters ("0x" and eight
// digits) at `checksum_at` to be filled in at the end.
std::string text_part(const std::string& output, const header_options& h, const std::vector<section_plan>& sections,
                      size_t& checksum_at) {
    std::string t = format("vbf_version = %s;\n\nheader {\n", h.version.empty() ? "2.6" : h.version.c_str());
    const bool defaults = h.header_file.empty();
    if (!h.header_file.empty()) {
        std::string items = read_text_file(h.header_file);
        if (items.find("file_checksum") != std::string::npos)
            throw input_error(h.header_file + ": holds a file_checksum item; it is computed, leave it out");
        if (items.find('{') != std::string::npos && items.find("header") != std::string::npos &&
            items.find("vbf_version") != std::string::npos)
            throw input_error(h.header_file + ": give the header's items only, without vbf_version and header { }");
        while (!items.empty() && (items.back() == '\n' || items.back() == '\r')) items.pop_back();
        t += items + "\n";
    }
    auto item = [&](const char* key, const std::string& value) { t += format("    %s = %s;\n", key, value.c_str()); };
    std::string name = fs::path(output).stem().string();
    if (name.size() > 31) name.resize(31);
    if (h.part_number)
        item("sw_part_number", "\"" + *h.part_number + "\"");
    else if (defaults)
        item("sw_part_number", "\"" + name + "\"");
    if (h.part_type)
        item("sw_part_type", *h.part_type);
    else if (defaults)
        item("sw_part_type", "EXE");
    if (h.data_format) item("data_format_identifier", *h.data_format);
    if (h.network) item("network", *h.network);
    if (h.ecu_address) item("ecu_address", *h.ecu_address);
    if (h.frame_format) item("frame_format", *h.frame_format);
    if (h.call) item("call", *h.call);
    if (!h.erase.empty()) {
        item("erase", range_list(h.erase));
    } else if (defaults && !h.no_erase) {
        std::vector<address_range> own;
        for (const section_plan& s : sections) own.push_back({s.address, static_cast<uint32_t>(s.length)});
        item("erase", range_list(own));
    }
    if (!h.omit.empty()) item("omit", range_list(h.omit));
    for (const std::string& i : h.items) t += "    " + i + ";\n";
    t += "    file_checksum = ";
    checksum_at = t.size();
    t += "0x00000000;\n}";
    return t;
}

// Writes at chosen offsets of the output, seeking only where a write does
// not continue the one before.
class placed_output {
public:
    placed_output(std::FILE* f, const std::string& name) : f_(f), name_(name) {}
    void write(uint64_t at, const void* data, size_t n) {
        if (at != position_ && !platform::seek(f_, at)) fail();
        if (std::fwrite(data, 1, n, f_) != n) fail();
        position_ = at + n;
    }
    void moved(uint64_t at) { position_ = at; }
    [[noreturn]] void fail() const { throw input_error(name_ + ": cannot write the file"); }

private:
    std::FILE* f_;
    const std::string& name_;
    uint64_t position_ = ~uint64_t{0};
};

// Every input's data at its place in the sections.
void place_data(const std::vector<input>& inputs, const std::vector<section_plan>& sections, placed_output& out) {
    auto at = [&](uint32_t address) {
        const auto s = std::upper_bound(sections.begin(), sections.end(), address,
                                        [](uint32_t a, const section_plan& p) { return a < p.address; }) -
                       1;
        return s->head + 8 + (address - s->address);
    };
    std::vector<uint8_t> buffer(chunk);
    for (const input& in : inputs) {
        if (in.type == input::kind::fill) {
            std::fill(buffer.begin(), buffer.end(), in.fill);
            for (uint64_t done = 0; done < in.length;) {
                const size_t n = static_cast<size_t>(std::min<uint64_t>(chunk, in.length - done));
                out.write(at(static_cast<uint32_t>(in.address + done)), buffer.data(), n);
                done += n;
            }
            continue;
        }
        const file_ptr f = open_or_throw(in.path);
        if (in.type == input::kind::binary) {
            uint64_t done = 0;
            for (size_t n; (n = std::fread(buffer.data(), 1, chunk, f.get())) > 0; done += n)
                out.write(at(static_cast<uint32_t>(in.address + done)), buffer.data(), n);
            if (std::ferror(f.get())) throw input_error(in.path + ": cannot read the file");
            continue;
        }
        read_records(f.get(), in.path, format_of(in.type), [&](uint32_t address, std::span<const uint8_t> data, uint64_t) {
            out.write(at(address), data.data(), data.size());
        });
    }
}

// Reads the data part back: each section's CRC-16 written after its data,
// and the CRC-32 of the whole data part.
uint32_t checksums(std::FILE* f, const std::string& name, std::vector<section_plan>& sections,
                   std::vector<created_section>& made, placed_output& out) {
    std::vector<uint8_t> buffer(chunk);
    uint32_t crc = 0xFFFFFFFF;
    for (const section_plan& s : sections) {
        if (!platform::seek(f, s.head)) out.fail();
        uint64_t left = 8 + s.length;
        uint16_t block = 0xFFFF;
        bool head = true;
        while (left > 0) {
            const size_t want = static_cast<size_t>(std::min<uint64_t>(chunk, left));
            if (std::fread(buffer.data(), 1, want, f) != want) throw input_error(name + ": cannot read the file back");
            crc = crc32_update(crc, buffer.data(), want);
            block = crc16_update(block, buffer.data() + (head ? 8 : 0), want - (head ? 8 : 0));
            head = false;
            left -= want;
        }
        const uint8_t b[2] = {static_cast<uint8_t>(block >> 8), static_cast<uint8_t>(block)};
        out.moved(~uint64_t{0});
        out.write(s.head + 8 + s.length, b, 2);
        crc = crc32_update(crc, b, 2);
        made.push_back({s.address, static_cast<uint32_t>(s.length), block});
    }
    return crc ^ 0xFFFFFFFF;
}

// The temporary output: removed unless it was renamed into place, and by
// Ctrl+C or a termination signal while it is written.
struct temporary {
    fs::path path;
    std::string name = path.string();
    bool kept = false;
    ~temporary() {
        platform::remove_on_interrupt(platform::cleanup_slot::temp_file, nullptr);
        if (kept) return;
        std::error_code ec;
        fs::remove(path, ec);
    }
};

}  // namespace

uint64_t parse_number(const std::string& text, bool size_suffix) {
    std::string s = text;
    uint64_t scale = 1;
    if (size_suffix && !s.empty()) {
        const char u = s.back();
        if (u == 'K' || u == 'k') scale = 1ull << 10;
        if (u == 'M' || u == 'm') scale = 1ull << 20;
        if (u == 'G' || u == 'g') scale = 1ull << 30;
        if (scale > 1) s.pop_back();
    }
    const bool hex = s.size() > 2 && s[0] == '0' && (s[1] == 'x' || s[1] == 'X');
    const size_t from = hex ? 2 : 0;
    if (s.size() == from) throw input_error("not a number: \"" + text + "\"");
    uint64_t v = 0;
    for (size_t i = from; i < s.size(); ++i) {
        const char c = s[i];
        int d = -1;
        if (c >= '0' && c <= '9') d = c - '0';
        else if (hex && c >= 'a' && c <= 'f') d = c - 'a' + 10;
        else if (hex && c >= 'A' && c <= 'F') d = c - 'A' + 10;
        if (d < 0) throw input_error("not a number: \"" + text + "\" (write hexadecimal with 0x)");
        v = v * (hex ? 16 : 10) + static_cast<uint64_t>(d);
        if (v > 0xFFFFFFFFFFull) throw input_error("number too large: \"" + text + "\"");
    }
    return v * scale;
}

namespace {
uint32_t parse_address(const std::string& text) {
    const uint64_t v = parse_number(text);
    if (v > 0xFFFFFFFFu) throw input_error("address beyond 32 bits: \"" + text + "\"");
    return static_cast<uint32_t>(v);
}
}  // namespace

input parse_input(const std::string& argument) {
    input in;
    // FILE@ADDRESS, unless the whole argument names a file (a HEX file
    // whose name holds an '@').
    const size_t at = argument.rfind('@');
    std::error_code ec;
    if (at != std::string::npos && at > 0 && at + 1 < argument.size() && !fs::is_regular_file(argument, ec)) {
        in.type = input::kind::binary;
        in.path = argument.substr(0, at);
        in.address = parse_address(argument.substr(at + 1));
        return in;
    }
    in.path = argument;
    const file_ptr f = open_or_throw(argument);
    std::array<uint8_t, 64> head{};
    const size_t n = std::fread(head.data(), 1, head.size(), f.get());
    const std::span<const uint8_t> h(head.data(), n);
    if (looks_like(record_format::intel_hex, h))
        in.type = input::kind::intel_hex;
    else if (looks_like(record_format::srecord, h))
        in.type = input::kind::srecord;
    else
        throw input_error(argument + ": neither Intel HEX nor S-record; give a binary image as " + argument +
                          "@ADDRESS");
    return in;
}

input parse_fill(const std::string& argument) {
    input in;
    in.type = input::kind::fill;
    const size_t c1 = argument.find(':');
    if (c1 == std::string::npos) throw input_error("--fill takes ADDRESS:LENGTH[:BYTE], not \"" + argument + "\"");
    const size_t c2 = argument.find(':', c1 + 1);
    in.address = parse_address(argument.substr(0, c1));
    in.length = parse_number(argument.substr(c1 + 1, c2 == std::string::npos ? std::string::npos : c2 - c1 - 1), true);
    if (c2 != std::string::npos) {
        const uint64_t b = parse_number(argument.substr(c2 + 1));
        if (b > 0xFF) throw input_error("a fill byte is 0 to 0xFF, not \"" + argument.substr(c2 + 1) + "\"");
        in.fill = static_cast<uint8_t>(b);
    }
    if (uint64_t{in.address} + in.length > 0x100000000ull)
        throw input_error("the fill " + argument + " runs past address 0xFFFFFFFF");
    return in;
}

created_file create_vbf(const std::string& output, const header_options& header, const std::vector<input>& inputs) {
    std::vector<extent> extents = scan(inputs);
    std::vector<section_plan> sections = plan(extents, inputs);
    extents = {};
    size_t checksum_at = 0;
    const std::string text = text_part(output, header, sections, checksum_at);
    uint64_t position = text.size();
    for (section_plan& s : sections) {
        s.head = position;
        position += 10 + s.length;
    }

    platform::install_interrupt_cleanup();
    temporary temp{fs::path(output + ".part")};
    file_ptr f;
    {
        const platform::interrupts_held held;
        bool created = false;
        f.reset(platform::open_output(temp.name.c_str(), created));
        if (f) platform::remove_on_interrupt(platform::cleanup_slot::temp_file, temp.name.c_str());
    }
    if (!f) throw input_error(output + ": cannot create " + temp.name);
    placed_output out(f.get(), output);
    out.write(0, text.data(), text.size());
    for (const section_plan& s : sections) {
        uint8_t head[8];
        for (int i = 0; i < 4; ++i) {
            head[i] = static_cast<uint8_t>(s.address >> (24 - 8 * i));
            head[4 + i] = static_cast<uint8_t>(s.length >> (24 - 8 * i));
        }
        out.write(s.head, head, sizeof head);
    }
    place_data(inputs, sections, out);
    if (std::fflush(f.get()) != 0) out.fail();

    created_file made;
    made.file_checksum = checksums(f.get(), output, sections, made.sections, out);
    const std::string value = format("0x%08X", made.file_checksum);
    out.moved(~uint64_t{0});
    out.write(checksum_at, value.data(), value.size());
    if (std::fflush(f.get()) != 0 || std::ferror(f.get())) out.fail();
    made.size = position;
    if (std::fclose(f.release()) != 0) out.fail();
    std::error_code ec;
    fs::rename(temp.path, output, ec);
    if (ec) throw input_error(output + ": cannot write the file (" + ec.message() + ")");
    temp.kept = true;
    return made;
}

}  // namespace vendrak::vbf_tool
