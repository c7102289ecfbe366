#include "vbf/report.h"

#include <algorithm>
#include <cctype>
#include <cstdio>

#include "common/fatal.h"
#include "common/file.h"
#include "vbf/crc16.h"

namespace vendrak::vbf_tool {
namespace {

// Collects what the converter reads.
class collector final : public vbf_observer {
public:
    explicit collector(file_report& r) : r_(r) {}

    void item(std::string_view text, uint64_t end) override {
        constexpr std::string_view key = "vbf_version=";
        if (!r_.version && text.starts_with(key)) r_.version = std::string(text.substr(key.size()));
        if (!r_.odd_item && !well_formed(text)) {
            r_.odd_item = std::string(text.substr(0, 40));
            r_.odd_item_at = last_end_;
        }
        last_end_ = end;
    }
    void header(const vbf_header& h, uint64_t data_offset, header_end end) override {
        r_.header_read = true;
        r_.header = h;
        r_.data_offset = data_offset;
        r_.ended = end;
    }
    void data(const uint8_t* bytes, size_t n) override {
        if (r_.plain_data()) crc_ = crc16_update(crc_, bytes, n);
    }
    void section(const vbf_section& s) override {
        r_.sections.push_back({s, crc_});
        crc_ = 0xFFFF;
    }
    void checksum(uint32_t computed, uint64_t end) override {
        r_.computed_checksum = computed;
        r_.size = end;
    }
    void failed(uint64_t at) override { r_.stopped_at = r_.size = at; }

private:
    static bool well_formed(std::string_view item) {
        const size_t eq = item.find('=');
        if (eq == 0 || eq == std::string_view::npos) return false;
        for (const char c : item.substr(0, eq))
            if (!(std::isalnum(static_cast<unsigned char>(c)) || c == '_')) return false;
        return true;
    }

    file_report& r_;
    uint16_t crc_ = 0xFFFF;
    uint64_t last_end_ = 0;
};

// The converter's first message, without its "ERROR: ".
std::string first_message(std::FILE* f) {
    std::rewind(f);
    std::string line;
    for (int c; (c = std::fgetc(f)) != EOF && c != '\n';) line += static_cast<char>(c);
    if (line.starts_with("ERROR: ")) line.erase(0, 7);
    return line;
}

}  // namespace

file_report read_vbf(const std::string& path) {
    file_report r;
    r.path = path;
    collector c(r);
    discard_output nothing;
    vbf_image image;
    const file_ptr messages(std::tmpfile());
    if (!messages) {
        r.message = "no temporary file for the converter's messages";
        return r;
    }
    r.accepted = vbf_process(path.c_str(), nothing, image, messages.get(), &c) == 0;
    r.opened = r.accepted || !first_message(messages.get()).starts_with("Cannot open \"");
    if (!r.accepted) r.message = first_message(messages.get());
    return r;
}

std::vector<finding> verify(const file_report& r) {
    std::vector<finding> out;
    if (r.header_read && r.ended != header_end::brace) {
        const bool refused = !r.accepted;
        switch (r.ended) {
            case header_end::end_of_file:
                out.push_back({r.data_offset, refused,
                               "the header has no closing brace: vendrak reads the whole file as header, and no data"});
                break;
            case header_end::item_too_long:
                out.push_back({r.data_offset, refused,
                               "a header item runs past 32767 characters without its ';': vendrak takes the data part "
                               "to begin inside it"});
                break;
            case header_end::empty_item:
                out.push_back({r.data_offset, refused,
                               "the header ends at an empty item (a ';' standing alone), not at its closing brace: "
                               "vendrak takes the data part to begin right after it"});
                break;
            case header_end::brace: break;
        }
    }
    if (r.odd_item)
        out.push_back({r.odd_item_at, !r.accepted,
                       format("\"%s\" is no header item (key = value): the header's closing brace may be missing "
                              "here, and the data part read as header",
                              r.odd_item->c_str())});
    if (r.accepted && r.ended == header_end::brace && r.sections.empty())
        out.push_back({r.data_offset, false, "the file has no data section"});

    // Sections that overlap an earlier one, in address order.
    std::vector<const section_report*> by_address;
    for (const section_report& s : r.sections) {
        // vendrak passes the block checksum through, but the ECU checks it
        // and refuses the section: the file is not whole.
        if (r.plain_data() && s.section.block_checksum != s.computed)
            out.push_back({s.section.offset, true,
                           format("section at 0x%08X (%u bytes): its block checksum is 0x%04X, the CRC-16 of its data "
                                  "is 0x%04X",
                                  s.section.address, s.section.length, s.section.block_checksum, s.computed)});
        by_address.push_back(&s);
    }
    std::stable_sort(by_address.begin(), by_address.end(), [](const section_report* a, const section_report* b) {
        return a->section.address < b->section.address;
    });
    uint64_t reach = 0;
    const section_report* reacher = nullptr;
    for (const section_report* s : by_address) {
        const uint64_t end = uint64_t{s->section.address} + s->section.length;
        if (reacher && s->section.length > 0 && s->section.address < reach)
            out.push_back({s->section.offset, false,
                           format("section at 0x%08X (%u bytes) overlaps the section at 0x%08X (%u bytes)",
                                  s->section.address, s->section.length, reacher->section.address,
                                  reacher->section.length)});
        if (end > reach) {
            reach = end;
            reacher = s;
        }
    }
    std::stable_sort(out.begin(), out.end(), [](const finding& a, const finding& b) { return a.offset < b.offset; });
    if (!r.accepted) {
        // Where the checksum does not match, the cause is anywhere in the
        // data part: the finding stands at its start.
        const bool checksum = r.message.starts_with("Calculated checksum");
        out.push_back({checksum ? r.data_offset : r.stopped_at, true, r.message});
    }
    return out;
}

}  // namespace vendrak::vbf_tool
