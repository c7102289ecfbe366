#include "vbf/cli.h"

#include <filesystem>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "common/fatal.h"
#include "common/file.h"
#include "vbf/create.h"
#include "vbf/records.h"
#include "vbf/report.h"

namespace vendrak::vbf_tool {
namespace {

namespace fs = std::filesystem;
using ull = unsigned long long;

constexpr const char* usage_text =
    "Usage: vendrak-vbf <command> [options] <file>...\n"
    "\n"
    "Shows, verifies, makes and unpacks VBF flash files, read as vendrak reads\n"
    "them when it converts a file that a script programs.\n"
    "\n"
    "Commands:\n"
    "  info [-f text|json] FILE...   the header items vendrak takes and every\n"
    "                                section with its block checksum\n"
    "  verify [-q] FILE...           every finding as file:offset: error|warning:\n"
    "                                text; vendrak's message where it refuses a file\n"
    "                                (-q: no line for a sound file)\n"
    "  create -o FILE [header options] INPUT...\n"
    "                                a VBF file from binary images (FILE@ADDRESS),\n"
    "                                Intel HEX and S-record files\n"
    "  extract [--hex] -o DIR FILE   each section as DIR/<address>.bin (and .hex)\n"
    "\n"
    "Header options of create (values written as given):\n"
    "      --header FILE         the header's items from FILE, written first\n"
    "      --vbf-version TEXT    vbf_version (default 2.6)\n"
    "      --part-number TEXT    sw_part_number (default the output's name)\n"
    "      --part-type WORD      sw_part_type: EXE (default), SBL, DATA, ...\n"
    "      --data-format NUMBER  data_format_identifier\n"
    "      --network VALUE       network: CAN_HS, CAN_MS or {CAN_HS,SUB_CAN1}\n"
    "      --ecu-address VALUE   ecu_address: 0x7E0 or {0x7E0,0x10,0x2}\n"
    "      --frame-format WORD   frame_format: CAN_STANDARD or CAN_EXTENDED\n"
    "      --call ADDRESS        call\n"
    "      --erase START:LENGTH  an erase range (repeatable; default the sections)\n"
    "      --no-erase            no erase item\n"
    "      --omit START:LENGTH   an omit range (repeatable)\n"
    "      --item TEXT           any other header item, written with its ';'\n"
    "      --fill ADDRESS:LENGTH[:BYTE]  LENGTH bytes of BYTE (default 0xFF);\n"
    "                            LENGTH may end in K, M or G\n"
    "\n"
    "  -h, --help     print this text\n"
    "      --version  print the version\n"
    "\n"
    "Numbers are decimal or hexadecimal with 0x. The exit status is 0 when every\n"
    "file is sound or was written, 1 when one is not, 2 for a wrong command line.\n";

struct usage_error {
    std::string text;
};

// The arguments after the command: options with their values, and names.
class arguments {
public:
    arguments(int argc, const char* const* argv) {
        for (int i = 2; i < argc; ++i) list_.emplace_back(argv[i]);
    }
    bool done() const { return at_ >= list_.size(); }
    std::string next() { return list_[at_++]; }
    // The value of option `name`: after '=' or as the next argument.
    std::string value(const std::string& name, const std::string& inline_value, bool has_inline) {
        if (has_inline) return inline_value;
        if (done()) throw usage_error{"option " + name + " needs a value"};
        return next();
    }

private:
    std::vector<std::string> list_;
    size_t at_ = 0;
};

// Splits "--name=value".
struct option_word {
    std::string name, value;
    bool has_value = false;
    bool is_option = false;
};

option_word split(const std::string& a, bool names_only) {
    option_word w;
    if (names_only || a == "-" || !a.starts_with('-')) return w;
    w.is_option = true;
    const size_t eq = a.find('=');
    if (a.starts_with("--") && eq != std::string::npos) {
        w.name = a.substr(0, eq);
        w.value = a.substr(eq + 1);
        w.has_value = true;
    } else {
        w.name = a;
    }
    return w;
}

std::string keyword_text(std::span<const vbf_keyword> table, uint32_t code) {
    const std::string_view k = keyword_of(table, code);
    if (code == 0 && k.empty()) return "none (0)";
    return k.empty() ? format("%u", code) : format("%.*s (%u)", static_cast<int>(k.size()), k.data(), code);
}

std::string json_string(std::string_view s) {
    std::string out = "\"";
    for (const char ch : s) {
        const auto c = static_cast<unsigned char>(ch);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += ch;
        } else if (c < 0x20 || c == 0x7F) {  // bytes from 0x80 on pass: a UTF-8 path stays as it is
            out += format("\\u%04x", c);
        } else {
            out += ch;
        }
    }
    return out + "\"";
}

std::string json_keyword(std::span<const vbf_keyword> table, uint32_t code) {
    const std::string_view k = keyword_of(table, code);
    return format("{\"code\": %u, \"name\": %s}", code, k.empty() ? "null" : json_string(k).c_str());
}

std::string ranges_text(const std::vector<address_range>& r) {
    if (r.empty()) return "none";
    std::string s;
    for (const address_range& a : r) s += format("%s0x%08X+0x%X", s.empty() ? "" : ", ", a.start, a.length);
    return s;
}

std::string ranges_json(const std::vector<address_range>& r) {
    std::string s = "[";
    for (const address_range& a : r)
        s += format("%s{\"start\": %u, \"length\": %u}", s.size() > 1 ? ", " : "", a.start, a.length);
    return s + "]";
}

const char* block_verdict(const file_report& r, const section_report& s) {
    if (!r.plain_data()) return "not checked (compressed data)";
    return s.section.block_checksum == s.computed ? "ok" : "WRONG";
}

std::string info_text(const file_report& r) {
    std::string t = r.path + "\n";
    if (!r.opened) return t + "  " + r.message + "\n";
    auto line = [&](const char* key, const std::string& value) { t += format("  %-24s %s\n", key, value.c_str()); };
    const vbf_header& h = r.header;
    line("vbf_version", r.version ? *r.version : "(none)");
    if (r.header_read) {
        line("sw_part_number", h.sw_part_number.empty() ? "(none)" : h.sw_part_number);
        line("sw_part_type", keyword_text(sw_part_types, h.sw_part_type));
        line("prog_type", keyword_text(prog_types, h.prog_type));
        line("network", keyword_text(networks, h.network) + ", sub-network " + keyword_text(sub_networks, h.network_sub));
        line("ecu_address", format("0x%X, 0x%X, 0x%X", h.ecu_address[0], h.ecu_address[1], h.ecu_address[2]));
        line("frame_format", keyword_text(frame_formats, h.frame_format));
        line("call", format("0x%08X", h.call));
        line("data_format_identifier",
             format("0x%02X (%s)", h.data_format_identifier, r.plain_data() ? "uncompressed" : "compressed"));
        line("erase", ranges_text(h.erase));
        if (!h.omit.empty()) line("omit", ranges_text(h.omit));
        if (!h.public_key_hash.empty()) line("public_key_hash", h.public_key_hash);
        if (h.datproc_method != 0) line("datproc_method", keyword_text(datproc_methods, h.datproc_method));
        std::string checksum = format("0x%08X", h.file_checksum);
        if (r.computed_checksum)
            checksum += *r.computed_checksum == h.file_checksum ? " (matches the data part)"
                                                                : format(" (the data part gives 0x%08X)", *r.computed_checksum);
        line("file_checksum", checksum);
        line("data part", format("from offset %llu, %llu bytes", ull{r.data_offset},
                                 ull{r.size > r.data_offset ? r.size - r.data_offset : 0}));
        t += format("  sections: %zu\n", r.sections.size());
        if (!r.sections.empty()) t += "    address     length      offset      block checksum\n";
        for (const section_report& s : r.sections) {
            t += format("    0x%08X  %-10u  %-10llu  0x%04X %s%s\n", s.section.address, s.section.length,
                        ull{s.section.offset}, s.section.block_checksum, block_verdict(r, s),
                        s.section.kept ? "" : ", omitted from the image");
        }
    }
    t += r.accepted ? "  vendrak accepts the file\n" : "  vendrak refuses the file: " + r.message + "\n";
    return t;
}

std::string info_json(const file_report& r) {
    const vbf_header& h = r.header;
    std::string j = "{\"file\": " + json_string(r.path);
    j += format(", \"accepted\": %s", r.accepted ? "true" : "false");
    j += ", \"message\": " + (r.accepted ? std::string("null") : json_string(r.message));
    j += ", \"vbf_version\": " + (r.version ? json_string(*r.version) : std::string("null"));
    if (r.header_read) {
        j += ", \"sw_part_number\": " + json_string(h.sw_part_number);
        j += ", \"sw_part_type\": " + json_keyword(sw_part_types, h.sw_part_type);
        j += ", \"prog_type\": " + json_keyword(prog_types, h.prog_type);
        j += ", \"network\": " + json_keyword(networks, h.network);
        j += ", \"sub_network\": " + json_keyword(sub_networks, h.network_sub);
        j += format(", \"ecu_address\": [%u, %u, %u]", h.ecu_address[0], h.ecu_address[1], h.ecu_address[2]);
        j += ", \"frame_format\": " + json_keyword(frame_formats, h.frame_format);
        j += format(", \"call\": %u, \"data_format_identifier\": %u", h.call, h.data_format_identifier);
        j += ", \"erase\": " + ranges_json(h.erase) + ", \"omit\": " + ranges_json(h.omit);
        j += format(", \"file_checksum\": %u", h.file_checksum);
        j += ", \"computed_checksum\": " + (r.computed_checksum ? format("%u", *r.computed_checksum) : std::string("null"));
        j += format(", \"data_offset\": %llu", ull{r.data_offset});
        j += ", \"sections\": [";
        for (size_t i = 0; i < r.sections.size(); ++i) {
            const section_report& s = r.sections[i];
            j += format("%s{\"address\": %u, \"length\": %u, \"offset\": %llu, \"block_checksum\": %u, ", i ? ", " : "",
                        s.section.address, s.section.length, ull{s.section.offset}, s.section.block_checksum);
            j += r.plain_data() ? format("\"computed\": %u, \"matches\": %s", s.computed,
                                         s.section.block_checksum == s.computed ? "true" : "false")
                                : std::string("\"computed\": null, \"matches\": null");
            j += format(", \"kept\": %s}", s.section.kept ? "true" : "false");
        }
        j += "]";
    }
    return j + "}";
}

int run_info(arguments& args, std::FILE* out) {
    bool json = false, names_only = false;
    std::vector<std::string> files;
    while (!args.done()) {
        const std::string a = args.next();
        const option_word w = split(a, names_only);
        if (!w.is_option) files.push_back(a);
        else if (w.name == "--") names_only = true;
        else if (w.name == "-f" || w.name == "--format") {
            const std::string v = args.value(w.name, w.value, w.has_value);
            if (v != "text" && v != "json") throw usage_error{"unknown format \"" + v + "\" (text or json)"};
            json = v == "json";
        } else throw usage_error{"unknown option " + a + " for info"};
    }
    if (files.empty()) throw usage_error{"info needs a VBF file"};
    int status = 0;
    if (json) std::fputs("[", out);
    for (size_t i = 0; i < files.size(); ++i) {
        const file_report r = read_vbf(files[i]);
        if (!r.accepted) status = 1;
        if (json)
            std::fprintf(out, "%s\n  %s", i ? "," : "", info_json(r).c_str());
        else
            std::fprintf(out, "%s%s", i ? "\n" : "", info_text(r).c_str());
    }
    if (json) std::fputs("\n]\n", out);
    return status;
}

int run_verify(arguments& args, std::FILE* out) {
    bool quiet = false, names_only = false;
    std::vector<std::string> files;
    while (!args.done()) {
        const std::string a = args.next();
        const option_word w = split(a, names_only);
        if (!w.is_option) files.push_back(a);
        else if (w.name == "--") names_only = true;
        else if (w.name == "-q" || w.name == "--quiet") quiet = true;
        else throw usage_error{"unknown option " + a + " for verify"};
    }
    if (files.empty()) throw usage_error{"verify needs a VBF file"};
    int status = 0;
    for (const std::string& f : files) {
        const file_report r = read_vbf(f);
        const std::vector<finding> found = verify(r);
        bool sound = r.accepted;
        for (const finding& x : found) {
            std::fprintf(out, "%s:%llu: %s: %s\n", f.c_str(), ull{x.offset}, x.error ? "error" : "warning", x.text.c_str());
            if (x.error) sound = false;
        }
        if (!sound) status = 1;
        else if (!quiet)
            std::fprintf(out, "%s: ok, %zu section%s, file checksum 0x%08X\n", f.c_str(), r.sections.size(),
                         r.sections.size() == 1 ? "" : "s", r.header.file_checksum);
    }
    return status;
}

address_range parse_range(const std::string& text) {
    const size_t colon = text.find(':');
    if (colon == std::string::npos) throw usage_error{"expected START:LENGTH, not \"" + text + "\""};
    const uint64_t start = parse_number(text.substr(0, colon));
    const uint64_t length = parse_number(text.substr(colon + 1), true);
    if (start > 0xFFFFFFFFu || length > 0xFFFFFFFFu) throw usage_error{"beyond 32 bits: \"" + text + "\""};
    return {static_cast<uint32_t>(start), static_cast<uint32_t>(length)};
}

int run_create(arguments& args, std::FILE* out) {
    header_options h;
    std::vector<input> inputs;
    std::string output;
    bool names_only = false;
    while (!args.done()) {
        const std::string a = args.next();
        const option_word w = split(a, names_only);
        if (!w.is_option) {
            inputs.push_back(parse_input(a));
            continue;
        }
        auto value = [&] { return args.value(w.name, w.value, w.has_value); };
        if (w.name == "--") names_only = true;
        else if (w.name == "-o" || w.name == "--output") output = value();
        else if (w.name == "--header") h.header_file = value();
        else if (w.name == "--vbf-version") h.version = value();
        else if (w.name == "--part-number") h.part_number = value();
        else if (w.name == "--part-type") h.part_type = value();
        else if (w.name == "--data-format") h.data_format = value();
        else if (w.name == "--network") h.network = value();
        else if (w.name == "--ecu-address") h.ecu_address = value();
        else if (w.name == "--frame-format") h.frame_format = value();
        else if (w.name == "--call") h.call = value();
        else if (w.name == "--erase") h.erase.push_back(parse_range(value()));
        else if (w.name == "--no-erase") h.no_erase = true;
        else if (w.name == "--omit") h.omit.push_back(parse_range(value()));
        else if (w.name == "--item") h.items.push_back(value());
        else if (w.name == "--fill") inputs.push_back(parse_fill(value()));
        else throw usage_error{"unknown option " + a + " for create"};
    }
    if (output.empty()) throw usage_error{"create needs -o FILE"};
    if (inputs.empty()) throw usage_error{"create needs an input: FILE@ADDRESS, an Intel HEX or S-record file, or --fill"};
    if (h.part_number && h.part_number->size() > 31)
        throw input_error("the part number \"" + *h.part_number + "\" is longer than 31 characters, which vendrak refuses");
    const created_file made = create_vbf(output, h, inputs);
    std::fprintf(out, "%s: %zu section%s, %llu bytes, file checksum 0x%08X\n", output.c_str(), made.sections.size(),
                 made.sections.size() == 1 ? "" : "s", ull{made.size}, made.file_checksum);
    return 0;
}

// Writes each section of the file into its own files as it is read.
class extractor final : public vbf_observer {
public:
    extractor(const std::vector<section_report>& sections, const fs::path& dir, bool hex)
        : sections_(sections), dir_(dir), want_hex_(hex) {}

    void data(const uint8_t* bytes, size_t n) override {
        open();
        if (std::fwrite(bytes, 1, n, bin_.get()) != n) throw input_error(bin_name_ + ": cannot write the file");
        if (hex_) hex_->write(address_, {bytes, n});
        address_ += static_cast<uint32_t>(n);
    }
    void section(const vbf_section&) override {
        open();
        if (hex_) hex_->finish();
        if (std::fclose(bin_.release()) != 0 || (hex_file_ && std::fclose(hex_file_.release()) != 0))
            throw input_error(bin_name_ + ": cannot write the file");
        hex_.reset();
        ++index_;
    }
    std::vector<std::string> written;

private:
    void open() {
        if (bin_) return;
        if (index_ >= sections_.size()) throw input_error("the file changed while it was read");
        const vbf_section& s = sections_[index_].section;
        std::string stem = format("%08X", s.address);
        for (int n = 2; !names_.insert(stem).second; ++n) stem = format("%08X-%d", s.address, n);
        bin_name_ = (dir_ / (stem + ".bin")).string();
        bin_.reset(std::fopen(bin_name_.c_str(), "wb"));
        if (!bin_) throw input_error(bin_name_ + ": cannot create the file");
        written.push_back(bin_name_);
        if (want_hex_) {
            const std::string name = (dir_ / (stem + ".hex")).string();
            hex_file_.reset(std::fopen(name.c_str(), "w"));
            if (!hex_file_) throw input_error(name + ": cannot create the file");
            written.push_back(name);
            hex_.emplace(hex_file_.get());
        }
        address_ = s.address;
    }

    const std::vector<section_report>& sections_;
    fs::path dir_;
    bool want_hex_;
    std::set<std::string> names_;
    size_t index_ = 0;
    file_ptr bin_, hex_file_;
    std::string bin_name_;
    std::optional<hex_writer> hex_;
    uint32_t address_ = 0;
};

int run_extract(arguments& args, std::FILE* out) {
    bool hex = false, names_only = false;
    std::string dir;
    std::vector<std::string> files;
    while (!args.done()) {
        const std::string a = args.next();
        const option_word w = split(a, names_only);
        if (!w.is_option) files.push_back(a);
        else if (w.name == "--") names_only = true;
        else if (w.name == "--hex") hex = true;
        else if (w.name == "-o" || w.name == "--output") dir = args.value(w.name, w.value, w.has_value);
        else throw usage_error{"unknown option " + a + " for extract"};
    }
    if (dir.empty()) throw usage_error{"extract needs -o DIR"};
    if (files.size() != 1) throw usage_error{"extract takes one VBF file"};
    const file_report r = read_vbf(files[0]);
    if (!r.accepted) throw input_error(files[0] + ": " + r.message);
    std::error_code ec;
    fs::create_directories(dir, ec);
    if (ec) throw input_error(dir + ": cannot create the folder (" + ec.message() + ")");
    extractor x(r.sections, dir, hex);
    discard_output nothing;
    vbf_image image;
    const file_ptr messages(std::tmpfile());
    if (vbf_process(files[0].c_str(), nothing, image, messages ? messages.get() : stderr, &x) != 0)
        throw input_error(files[0] + ": the file changed while it was read");
    for (const std::string& w : x.written) std::fprintf(out, "%s\n", w.c_str());
    return 0;
}

}  // namespace

int vbf_main(int argc, const char* const* argv, std::FILE* out, std::FILE* err) {
    const std::string_view command = argc > 1 ? argv[1] : "";
    try {
        arguments args(argc, argv);
        if (command == "-h" || command == "--help" || command == "help") {
            std::fputs(usage_text, out);
            return 0;
        }
        if (command == "--version") {
            std::fprintf(out, "vendrak-vbf %s\n", VENDRAK_VERSION);
            return 0;
        }
        if (command == "info") return run_info(args, out);
        if (command == "verify") return run_verify(args, out);
        if (command == "create") return run_create(args, out);
        if (command == "extract") return run_extract(args, out);
        throw usage_error{command.empty() ? "a command is needed: info, verify, create or extract"
                                          : "unknown command \"" + std::string(command) + "\""};
    } catch (const usage_error& e) {
        std::fprintf(err, "vendrak-vbf: %s\n%s", e.text.c_str(), usage_text);
        return 2;
    } catch (const input_error& e) {
        std::fprintf(err, "vendrak-vbf: %s\n", e.what());
        return 1;
    } catch (const std::exception& e) {
        std::fprintf(err, "vendrak-vbf: %s\n", e.what());
        return 1;
    }
}

}  // namespace vendrak::vbf_tool
