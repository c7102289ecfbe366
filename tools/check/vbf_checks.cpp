// The VBF files a script programs, converted as `vendrak` converts them but
// into an output that keeps nothing: the converter's own checks (open,
// header, sections, file checksum), the block checksum of every section the
// image carries, and where the file is looked for.
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <system_error>
#include <unordered_set>
#include <vector>

#include "check/findings.h"
#include "check/layout.h"
#include "common/file.h"
#include "platform/platform.h"
#include "vbf/crc16.h"
#include "vbf/vbf.h"

namespace vendrak::check {
namespace {

namespace fs = std::filesystem;

// Follows the converter through the file: the data format and the CRC-16
// of the data of every section the image carries, beside its block checksum.
class section_reader final : public vbf_observer {
public:
    struct checked {
        uint32_t start = 0;
        uint32_t length = 0;
        uint16_t stored = 0;
        uint16_t computed = 0;
    };

    uint32_t data_format_identifier = 0;
    std::vector<checked> sections;

    void header(const vbf_header& h, uint64_t, header_end) override { data_format_identifier = h.data_format_identifier; }
    void data(const uint8_t* bytes, size_t n) override { crc_ = crc16_update(crc_, bytes, n); }
    void section(const vbf_section& s) override {
        if (s.kept) sections.push_back({s.address, s.length, s.block_checksum, crc_});
        crc_ = 0xFFFF;
    }

private:
    uint16_t crc_ = 0xFFFF;
};

// `vendrak` looks for a relative VBF file name in the directory it runs in,
// not beside the script.
void check_path(std::string_view script_name, const std::string& name, const std::string& directory, token_position at,
                findings& out) {
    if (!out.enabled(warning::vbf_path) || name.empty() || fs::path(name).is_absolute()) return;
    std::error_code ec;
    const fs::path script_dir = fs::path(script_name).parent_path();
    const fs::path here = directory.empty() ? fs::path(".") : fs::path(directory);
    if (fs::equivalent(script_dir.empty() ? fs::path(".") : script_dir, here, ec)) return;
    const fs::path beside = script_dir / name;
    if (!fs::is_regular_file(beside, ec)) return;
    const fs::path looked = here / name;
    const std::string shown = beside.string();
    if (!fs::exists(looked, ec))
        out.warn(warning::vbf_path, at,
                 "vendrak looks for \"%s\" in the directory it runs in, where there is none, not beside the script (%s)",
                 name.c_str(), shown.c_str());
    else if (!fs::equivalent(beside, looked, ec))
        out.warn(warning::vbf_path, at,
                 "vendrak takes \"%s\" from the directory it runs in, not the file beside the script (%s)",
                 name.c_str(), shown.c_str());
}

// The converter's messages, one a line, without their "ERROR: ".
std::vector<std::string> messages_of(std::FILE* f) {
    std::vector<std::string> lines;
    std::rewind(f);
    std::string line;
    for (int c; (c = std::fgetc(f)) != EOF;) {
        if (c != '\n') {
            line += static_cast<char>(c);
            continue;
        }
        if (line.starts_with("ERROR: ")) line.erase(0, 7);
        lines.push_back(std::move(line));
        line.clear();
    }
    if (!line.empty()) lines.push_back(std::move(line));
    return lines;
}

}  // namespace

void check_vbf_files(const parsed_script& p, const check_options& options, findings& out) {
    std::unordered_set<std::string_view> seen;
    for (size_t i = 0; i < p.tree.commands.size(); ++i) {
        const auto* f = std::get_if<prog_form>(&p.tree.commands[i].form);
        if (f == nullptr) continue;
        // A file named again is the same file: checked once, where it is first named.
        const std::string_view text = p.tree.text(f->filename);
        if (!seen.insert(text).second) continue;
        const std::string name(text.substr(0, text.find('\0')));
        const token_position at = p.at(lay_out(p.tree, p.positions, i).part(1));
        check_path(p.name, name, options.vbf_directory, at, out);

        const bool moved = !options.vbf_directory.empty() && !fs::path(name).is_absolute();
        const std::string path = moved ? (fs::path(options.vbf_directory) / name).string() : name;
        const file_ptr messages(vendrak::platform::temp_stream());
        if (!messages) {
            out.error(at, "Cannot check \"" + name + "\": no temporary file for the converter's messages");
            continue;
        }
        section_reader reader;
        discard_output nothing;
        vbf_image image;
        if (vbf_process(path.c_str(), nothing, image, messages.get(), &reader) != 0) {
            for (std::string m : messages_of(messages.get())) {
                // Messages name the file as the script does.
                if (const size_t at_path = m.find(path); moved && at_path != m.npos) m.replace(at_path, path.size(), name);
                out.error(at, std::move(m));
            }
            continue;
        }
        // The compression method is the high four bits of the identifier;
        // the block checksum of compressed data is not over the bytes the
        // file holds.
        if ((reader.data_format_identifier & 0xF0) != 0) continue;
        for (const section_reader::checked& s : reader.sections) {
            if (s.stored == s.computed) continue;
            out.warn(warning::block_checksum, at,
                     "section at 0x%08X (%u bytes) of \"%s\": its block checksum is 0x%04X, the CRC-16 of its data is 0x%04X",
                     s.start, s.length, name.c_str(), s.stored, s.computed);
        }
    }
}

}  // namespace vendrak::check
