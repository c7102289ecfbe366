#include "inspect/inspect.h"

#include <ctime>
#include <fstream>
#include <functional>
#include <iterator>
#include <stdexcept>
#include <string_view>
#include <unordered_map>
#include <unordered_set>

#include "common/fatal.h"
#include "compile/compile.h"
#include "container/container.h"
#include "dump/script_text.h"
#include "inspect/flow.h"
#include "inspect/text.h"
#include "parser/parser.h"
#include "platform/platform.h"
#include "validate/validate.h"
#include "vbf/vbf.h"

namespace vendrak::inspect {
namespace {

using ull = unsigned long long;

// A text in a script string: no double quote (it would end the string), no
// carriage return (the reader drops it), no NUL, and one token at most
// 1023 characters long with its quotes.
constexpr size_t max_script_text = 1021;
bool fits_script_string(std::string_view text) {
    return text.size() <= max_script_text && text.find_first_of(std::string_view("\"\r\0", 3)) == std::string_view::npos;
}

// Jump targets and image offsets, against the areas they point into.
void check_references(inspection& r) {
    const uint64_t code_size = r.container.code.size;
    for (const decoded_instruction& insn : r.program) {
        if (!is_jump(insn.code)) continue;
        if (insn.target >= code_size)
            r.defects.push_back(format("instruction at 0x%04X: jump target 0x%04X lies outside the instruction area "
                                       "(%llu bytes)",
                                       insn.address, insn.target, ull{code_size}));
        else if (insn.target % opcode_size != 0)
            r.defects.push_back(format("instruction at 0x%04X: jump target 0x%04X falls inside the instruction at "
                                       "0x%04X",
                                       insn.address, insn.target, insn.target / 16 * 16));
    }
}

// The images, laid out back to back in the order of their first use, as the
// compiler writes them; every programming instruction names one of them.
void check_images(inspection& r) {
    const container_view& c = r.container;
    if (!c.vbf_in_file) return;
    const auto area = c.view(c.vbf);
    std::unordered_set<uint64_t> named;
    for (const decoded_instruction& insn : r.program) {
        if (!is_programming(insn.code)) continue;
        if (insn.image_offset >= area.size())
            r.defects.push_back(format("instruction at 0x%04X: image offset %u lies outside the VBF area (%zu bytes)",
                                       insn.address, insn.image_offset, area.size()));
        named.insert(insn.image_offset);
    }
    auto is_boundary = [&](uint64_t at) { return at == area.size() || named.contains(at); };

    std::unordered_map<uint64_t, size_t> image_at;
    uint64_t next = 0;
    for (const decoded_instruction& insn : r.program) {
        if (!is_programming(insn.code) || insn.image_offset >= area.size()) continue;
        if (auto known = image_at.find(insn.image_offset); known != image_at.end()) {
            r.images[known->second].users.push_back(insn.address);
            continue;
        }
        if (insn.image_offset != next) {
            r.defects.push_back(format("instruction at 0x%04X: image offset %u, but the next image begins at %llu "
                                       "(images stand in the order of their first use)",
                                       insn.address, insn.image_offset, ull{next}));
            return;
        }
        image_info image;
        std::string problem;
        if (!read_image(area, next, is_boundary, image, problem)) {
            r.defects.push_back(format("image at VBF offset %llu: %s", ull{next}, problem.c_str()));
            return;
        }
        image.users.push_back(insn.address);
        image_at.emplace(next, r.images.size());
        next += image.size;
        r.images.push_back(std::move(image));
    }
    if (next != area.size())
        r.defects.push_back(format("the VBF area holds %zu bytes, but the images the program names end at %llu",
                                   area.size(), ull{next}));
}

// The file name a programming statement gives for each image offset: the
// image's file in `dir`.
std::function<std::string(uint32_t)> image_names(const inspection& r, const std::string& dir) {
    std::unordered_map<uint64_t, std::string> names;
    for (size_t i = 0; i < r.images.size(); ++i) {
        const std::string name = image_file_name(i + 1);
        names.emplace(r.images[i].offset, dir.empty() ? name : dir.back() == '/' ? dir + name : dir + "/" + name);
    }
    return [names = std::move(names)](uint32_t offset) {
        const auto found = names.find(offset);
        return found != names.end() ? found->second : std::string("?");
    };
}

// Empties the pools of a scratch script for the next statement, keeping
// their memory.
void clear_pools(script& pools) {
    pools.texts.clear();
    pools.values.clear();
    pools.bytes.clear();
}

// The script text of each instruction's statement, for the decompiler:
// programming statements name the image files in `dir`.
std::function<std::string(size_t)> statement_texts(const inspection& r, const std::string& dir) {
    return [&r, image_name = image_names(r, dir), pools = std::make_shared<script>()](size_t i) {
        clear_pools(*pools);
        command c = statement_of(r, i, *pools);
        if (r.program[i].code == OPC_CMP) return condition_text(std::get<condition_form>(c.form).test, *pools);
        if (auto* prog = std::get_if<prog_form>(&c.form))
            prog->filename = pools->add_text(image_name(r.program[i].image_offset));
        return statement_text(c, *pools);
    };
}

// The line of the script at `line` (counting from 1), without its indent.
std::string script_line(const std::string& text, size_t line) {
    size_t at = 0;
    for (size_t k = 1; k < line && at != std::string::npos; ++k) {
        at = text.find('\n', at);
        if (at != std::string::npos) ++at;
    }
    if (at == std::string::npos || at >= text.size()) return {};
    std::string s = text.substr(at, text.find('\n', at) - at);
    return s.substr(std::min(s.find_first_not_of(' '), s.size()));
}

// The first byte where two tables differ, as a defect line.
std::string table_difference(const char* name, std::span<const uint8_t> actual, const std::vector<uint8_t>& expected) {
    const size_t common = std::min(actual.size(), expected.size());
    for (size_t i = 0; i < common; ++i)
        if (actual[i] != expected[i])
            return format("%s byte %zu is 0x%02X, but the program's statements give 0x%02X", name, i, actual[i],
                          expected[i]);
    return format("the %s holds %zu bytes, but the program's statements make %zu", name, actual.size(),
                  expected.size());
}

// The decompiled script must parse, validate and compile into exactly the
// program of the container: this covers every field, unused byte and table
// byte that the decoding alone does not judge.
void check_recompiles(inspection& r) {
    std::vector<std::string> problems;
    decompiled_script script = decompile(r.program, statement_texts(r, ""), problems);
    if (!problems.empty()) {
        r.defects.insert(r.defects.end(), problems.begin(), problems.end());
        return;
    }
    program compiled;
    try {
        vendrak::script s = parse_script_text(script.text);
        validate_script(s);
        compile_script(s, compiled);
    } catch (const fatal_error& e) {
        std::string message = e.message();
        while (!message.empty() && message.back() == '\n') message.pop_back();
        size_t line = 0;
        if (std::sscanf(message.c_str(), "[%zu]", &line) == 1 && line >= 1 && line <= script.line_address.size()) {
            r.defects.push_back(format("instruction at 0x%04X: its statement \"%s\" is refused: %s",
                                       script.line_address[line - 1], shown(script_line(script.text, line)).c_str(),
                                       shown(message).c_str()));
        } else {
            r.defects.push_back("the decompiled script is refused: " + shown(message));
        }
        return;
    } catch (const std::exception& e) {
        r.defects.push_back(std::string("the decompiled script cannot be compiled: ") + e.what());
        return;
    }

    const container_view& c = r.container;
    if (compiled.instructions.size() != r.program.size()) {
        r.defects.push_back(format("the decompiled script compiles into %zu instructions, not %zu",
                                   compiled.instructions.size(), r.program.size()));
        return;
    }
    const auto code = c.view(c.code);
    for (size_t i = 0; i < r.program.size(); ++i) {
        opcode_bytes expected = compiled.instructions[i].opcode;
        const auto actual = code.subspan(i * opcode_size, opcode_size);
        // The image offset is the driver's, checked with the images.
        if (is_programming(r.program[i].code))
            std::copy_n(actual.begin() + image_offset_at, 4, expected.begin() + image_offset_at);
        for (size_t k = 0; k < opcode_size; ++k) {
            if (actual[k] == expected[k]) continue;
            r.defects.push_back(format("instruction at 0x%04X: byte %zu is 0x%02X, but the compiler writes 0x%02X "
                                       "for \"%s\"",
                                       r.program[i].address, k, actual[k], expected[k],
                                       shown(instruction_text(r, i)).c_str()));
            return;
        }
    }
    if (!std::equal(compiled.string_table.begin(), compiled.string_table.end(), c.view(c.strings).begin(),
                    c.view(c.strings).end()))
        r.defects.push_back(table_difference("string table", c.view(c.strings), compiled.string_table));
    if (!std::equal(compiled.data_table.begin(), compiled.data_table.end(), c.view(c.data).begin(),
                    c.view(c.data).end()))
        r.defects.push_back(table_difference("data table", c.view(c.data), compiled.data_table));
}

std::string time_text(int64_t seconds) {
    std::string text;
    std::tm tm{};
    char buf[64];
    if (platform::utc_time(seconds, tm) && std::strftime(buf, sizeof buf, "%Y-%m-%d %H:%M:%S UTC ", &tm))
        text = buf;
    return text + format("(%lld)", static_cast<long long>(seconds));
}

std::string hex_bytes(std::span<const uint8_t> bytes) {
    std::string text;
    for (size_t i = 0; i < bytes.size(); ++i) text += format(i == 8 ? "  %02X" : i == 0 ? "%02X" : " %02X", bytes[i]);
    return text;
}

constexpr const char* usage_text =
    "Usage: vendrak-inspect [options] <container>\n"
    "\n"
    "Verifies a container written by vendrak and shows what it holds: the\n"
    "header, every instruction with its operands, and the VBF images. Each\n"
    "defect is reported on standard error in one line; the exit status is 0\n"
    "for a valid container and 1 otherwise. A container encrypted with -a is\n"
    "decrypted with the built-in key.\n"
    "\n"
    "  -s, --script         print the script instead of the listing: it compiles\n"
    "                       back into the same program\n"
    "  -x, --extract DIR    write each image as a VBF file into DIR (image1.vbf,\n"
    "                       ...); the script's PROG statements name them\n"
    "  -q, --quiet          verify only: no listing\n"
    "  -h, --help           print this text\n"
    "      --version        print the version and the container format it reads\n";

struct options {
    bool script = false;
    bool quiet = false;
    bool help = false;
    bool version = false;
    std::string extract_dir;
    bool extract = false;
    std::string container;
};

// Options may come in any order around the container name; "--" ends them.
bool parse_options(int argc, const char* const* argv, options& o, std::string& error) {
    bool only_names = false;
    for (int i = 1; i < argc; ++i) {
        const std::string_view a = argv[i];
        if (!only_names && a == "--") {
            only_names = true;
        } else if (!only_names && (a == "-h" || a == "--help")) {
            o.help = true;
        } else if (!only_names && a == "--version") {
            o.version = true;
        } else if (!only_names && (a == "-s" || a == "--script")) {
            o.script = true;
        } else if (!only_names && (a == "-q" || a == "--quiet")) {
            o.quiet = true;
        } else if (!only_names && (a == "-x" || a == "--extract")) {
            if (i + 1 == argc) {
                error = format("option %s needs a directory", argv[i]);
                return false;
            }
            o.extract = true;
            o.extract_dir = argv[++i];
        } else if (!only_names && a.starts_with("--extract=")) {
            o.extract = true;
            o.extract_dir = std::string(a.substr(10));
        } else if (!only_names && a.size() > 1 && a[0] == '-') {
            error = format("unknown option %s", argv[i]);
            return false;
        } else if (o.container.empty()) {
            o.container = a;
        } else {
            error = format("more than one container: %s", argv[i]);
            return false;
        }
    }
    if (!o.help && !o.version && o.container.empty()) {
        error = "no container given";
        return false;
    }
    if (o.extract && o.extract_dir.empty()) {
        error = "--extract needs a directory";
        return false;
    }
    return true;
}

}  // namespace

inspection inspect_container(std::vector<uint8_t> file, std::string name) {
    inspection r;
    r.name = std::move(name);
    r.container = read_container(std::move(file), r.defects);
    const container_view& c = r.container;
    const program_tables tables{c.view(c.strings), c.view(c.data)};
    const auto code = c.view(c.code);
    r.program.reserve(code.size() / opcode_size);
    script pools;
    for (size_t at = 0; at + opcode_size <= code.size(); at += opcode_size) {
        const auto op = code.subspan(at).first<opcode_size>();
        r.program.push_back(decode_instruction(op, static_cast<uint32_t>(at)));
        // For the defects only: the listing and the decompiler decode each
        // statement again when they need it.
        clear_pools(pools);
        decode_statement(op, static_cast<uint32_t>(at), tables, pools, r.defects);
    }
    check_references(r);
    check_images(r);
    if (r.defects.empty()) check_recompiles(r);
    return r;
}

std::string listing(const inspection& r) {
    const container_view& c = r.container;
    const container_header& h = c.header;
    std::string out = format("container   %s, %zu bytes", shown(r.name).c_str(), c.bytes.size());
    out += c.encrypted ? ", encrypted with the built-in AES-128 key (shown decrypted)\n" : "\n";
    if (!c.has_header) return out;
    out += format("magic       0x%08X\n", h.magic);
    out += format("format      %u\n", h.format_byte);
    out += "created     " + time_text(h.created) + "\n";
    out += format("host_mac    %02X:%02X:%02X:%02X:%02X:%02X\n", h.host_mac[0], h.host_mac[1], h.host_mac[2],
                  h.host_mac[3], h.host_mac[4], h.host_mac[5]);
    out += format("code        offset %u, size %u (%zu instructions)\n", h.code_offset, h.code_size, r.program.size());
    out += format("strings     offset %u, size %u\n", h.string_offset, h.string_size);
    out += format("data        offset %u, size %u\n", h.data_offset, h.data_size);
    out += format("vbf         offset %u, size %u (%zu image%s)\n", h.vbf_offset, h.vbf_size, r.images.size(),
                  r.images.size() == 1 ? "" : "s");
    if (c.crc_text_ok)
        out += format("trailer     CRC 0x%08X (computed 0x%08X), maker \"%s\"\n", c.stored_crc, c.computed_crc,
                      c.maker_tag.c_str());
    else
        out += format("trailer     no CRC text (computed 0x%08X), maker \"%s\"\n", c.computed_crc, c.maker_tag.c_str());

    out += "\n";
    const auto code = c.view(c.code);
    for (size_t i = 0; i < r.program.size(); ++i)
        out += format("%04X  %s  %s\n", r.program[i].address,
                      hex_bytes(code.subspan(r.program[i].address, opcode_size)).c_str(),
                      shown(instruction_text(r, i)).c_str());

    for (size_t i = 0; i < r.images.size(); ++i) {
        const image_info& image = r.images[i];
        out += format("\nimage %zu at VBF offset %llu, %llu bytes, used by", i + 1, ull{image.offset}, ull{image.size});
        for (uint32_t user : image.users) out += format(" 0x%04X", user);
        out += "\n";
        for (const std::string& line : image.lines) out += "    " + shown(line) + "\n";
        for (const image_section& s : image.sections)
            out += format("    kept section 0x%08X, %u bytes, block checksum 0x%04X\n", s.address, s.length,
                          s.block_checksum);
        out += "    ENDOFVBF\n";
    }
    return out;
}

command statement_of(const inspection& r, size_t index, script& pools) {
    const container_view& c = r.container;
    const program_tables tables{c.view(c.strings), c.view(c.data)};
    const auto op = c.view(c.code).subspan(index * opcode_size).first<opcode_size>();
    std::vector<std::string> problems;
    return decode_statement(op, r.program[index].address, tables, pools, problems);
}

std::string instruction_text(const inspection& r, size_t index) {
    const decoded_instruction& insn = r.program[index];
    const std::string_view name = operation_name(insn.code);
    if (is_jump(insn.code)) return format("%.*s 0x%04X", static_cast<int>(name.size()), name.data(), insn.target);
    script pools;
    const command c = statement_of(r, index, pools);
    if (insn.code == OPC_CMP) return "CMP " + condition_text(std::get<condition_form>(c.form).test, pools);
    if (const auto* prog = std::get_if<prog_form>(&c.form)) {
        std::string text = format("%.*s <image at VBF offset %u>", static_cast<int>(name.size()), name.data(),
                                  insn.image_offset);
        if (prog->has_key) {
            text += " 0x";
            for (const uint8_t b : pools.bytes_of(prog->key)) text += format("%02X", b);
        }
        return text;
    }
    if (c.kind == 0) return format("<unknown operation %u>", insn.code);
    return statement_text(c, pools);
}

std::string image_file_name(size_t index) { return format("image%zu.vbf", index); }

std::string script_text(const inspection& r, const std::string& image_dir) {
    if (!fits_script_string(image_dir + "/" + image_file_name(r.images.size())))
        throw std::runtime_error(format("the directory \"%s\" cannot be named in a script string",
                                        shown(image_dir).c_str()));
    std::vector<std::string> problems;
    const decompiled_script script = decompile(r.program, statement_texts(r, image_dir), problems);
    if (!problems.empty()) throw std::runtime_error(problems.front());
    const container_view& c = r.container;
    return format("; decompiled from %s by vendrak-inspect: %zu instructions, %llu string bytes, %llu data bytes, "
                  "%zu image%s\n",
                  shown(r.name).c_str(), r.program.size(), ull{c.strings.size}, ull{c.data.size}, r.images.size(),
                  r.images.size() == 1 ? "" : "s") +
           script.text;
}

void extract_images(const inspection& r, const std::filesystem::path& dir) {
    std::error_code ec;
    std::filesystem::create_directories(dir, ec);
    if (ec) throw std::runtime_error(format("cannot create \"%s\": %s", dir.string().c_str(), ec.message().c_str()));
    const auto area = r.container.view(r.container.vbf);
    for (size_t i = 0; i < r.images.size(); ++i) {
        const std::vector<uint8_t> vbf = rebuild_vbf(r.images[i], area);
        const std::filesystem::path path = dir / image_file_name(i + 1);
        std::ofstream file(path, std::ios::binary | std::ios::trunc);
        file.write(reinterpret_cast<const char*>(vbf.data()), static_cast<std::streamsize>(vbf.size()));
        file.close();
        if (!file) throw std::runtime_error(format("cannot write \"%s\"", path.string().c_str()));
    }
}

int inspect_main(int argc, const char* const* argv, std::FILE* out, std::FILE* err) {
    options o;
    std::string error;
    if (!parse_options(argc, argv, o, error)) {
        std::fprintf(err, "vendrak-inspect: %s\n%s", error.c_str(), usage_text);
        return 1;
    }
    if (o.help) {
        std::fputs(usage_text, out);
        return 0;
    }
    if (o.version) {
        std::fprintf(out, "vendrak-inspect %s\nreads containers of format %u (magic 0x%08X)\n", VENDRAK_VERSION,
                     container_format, container_magic);
        return 0;
    }

    // A container is a regular file below 2 GiB; a device or a pipe could
    // be read without end.
    std::error_code ec;
    if (!std::filesystem::is_regular_file(o.container, ec)) {
        std::fprintf(err, "vendrak-inspect: cannot read \"%s\": %s\n", o.container.c_str(),
                     std::filesystem::exists(o.container, ec) ? "not a regular file" : "no such file");
        return 1;
    }
    const uintmax_t size = std::filesystem::file_size(o.container, ec);
    if (!ec && size >= max_file_size) {
        std::fprintf(err, "vendrak-inspect: \"%s\" is larger than any container (2 GiB)\n", o.container.c_str());
        return 1;
    }
    std::ifstream in(o.container, std::ios::binary);
    std::vector<uint8_t> bytes;
    if (in) bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    if (ec || !in || in.bad()) {
        std::fprintf(err, "vendrak-inspect: cannot read \"%s\"\n", o.container.c_str());
        return 1;
    }

    const inspection r = inspect_container(std::move(bytes), o.container);
    for (const std::string& d : r.defects) std::fprintf(err, "defect: %s\n", d.c_str());
    if (!o.script && !o.quiet) std::fputs((listing(r) + "\n").c_str(), out);

    bool written = true;
    if ((o.script || o.extract) && !r.defects.empty()) {
        std::fprintf(err, "vendrak-inspect: %s has defects: no script and no images written\n", o.container.c_str());
        written = false;
    } else if (o.script || o.extract) {
        try {
            // The script first: a directory it cannot name stops the run
            // before any file is written.
            const std::string script = o.script ? script_text(r, o.extract_dir) : std::string{};
            if (o.extract) extract_images(r, o.extract_dir);
            std::fputs(script.c_str(), out);
        } catch (const std::exception& e) {
            std::fprintf(err, "vendrak-inspect: %s\n", e.what());
            written = false;
        }
    }
    if (!o.script) {
        const size_t n = r.defects.size();
        std::fputs(n == 0 ? "valid container\n" : format("%zu defect%s\n", n, n == 1 ? "" : "s").c_str(), out);
    }
    return r.defects.empty() && written ? 0 : 1;
}

}  // namespace vendrak::inspect
