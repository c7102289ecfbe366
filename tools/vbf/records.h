// Intel HEX and Motorola S-record files: read record by record, and Intel
// HEX written, with fixed memory whatever the size of the image.
#pragma once

#include <cstdint>
#include <cstdio>
#include <functional>
#include <span>
#include <stdexcept>
#include <string>

namespace vendrak::vbf_tool {

enum class record_format { intel_hex, srecord };

// A fault in an input file, with the line it stands on.
struct input_error : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// The data bytes of one record, at its 32-bit address; `line` counts from 1.
using record_sink = std::function<void(uint32_t address, std::span<const uint8_t> data, uint64_t line)>;

// Reads every data record of `in` in file order and gives it to `sink`.
// Checks each record's syntax and checksum; throws `input_error` naming
// `name` and the line. Data that would run past address 0xFFFFFFFF is refused.
void read_records(std::FILE* in, const std::string& name, record_format format, const record_sink& sink);

// The format of an input named `name` whose first bytes are `head`: ':' is
// Intel HEX, 'S' and a digit an S-record file.
bool looks_like(record_format format, std::span<const uint8_t> head);

// Writes Intel HEX records (16 data bytes each, an extended linear address
// record wherever the upper 16 address bits change) to `out`.
class hex_writer {
public:
    explicit hex_writer(std::FILE* out) : out_(out) {}
    void write(uint32_t address, std::span<const uint8_t> data);
    // The end-of-file record.
    void finish();

private:
    void record(uint8_t type, uint16_t offset, std::span<const uint8_t> data);
    std::FILE* out_;
    uint32_t upper_ = 0;
    bool upper_written_ = false;
};

}  // namespace vendrak::vbf_tool
