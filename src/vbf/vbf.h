// The VBF converter: reads a VBF flash file, verifies its file checksum and
// appends the device's converted image of it to an output.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string_view>

#include "vbf/image.h"

namespace vendrak {

// Every file of a run stays below 2 GiB: the container's offsets are 32-bit
// fields and the writer keeps positions as signed 32-bit values.
constexpr uint64_t max_file_size = 0x80000000u;

// Where a converted image goes: the temporary VBF file when compiling, a
// sink that keeps nothing when only checking. A write that cannot be done
// is the output's to report.
class image_output {
public:
    virtual void write(const uint8_t* data, size_t n) = 0;

protected:
    ~image_output() = default;
};

// Appends to `out`, counting from `size` bytes already there. A write that
// would make the count reach `limit` ends the run: a `fatal_error` on the
// output stream with "Error: Output container exceeds 2 GiB\n". Failed
// writes show in the stream's error flag.
class stream_output final : public image_output {
public:
    stream_output(std::FILE* out, uint64_t size, uint64_t limit = max_file_size)
        : out_(out), size_(size), limit_(limit) {}
    void write(const uint8_t* data, size_t n) override;

private:
    std::FILE* out_;
    uint64_t size_;
    uint64_t limit_;
};

// Keeps nothing: converting into it only verifies the file (and still gives
// its checksum, size and register).
class discard_output final : public image_output {
public:
    void write(const uint8_t*, size_t) override {}
};

// What a successful conversion reports.
struct vbf_image {
    uint32_t file_checksum = 0;  // the file's checksum, as its data part gives it
    uint64_t size = 0;           // bytes of the converted image
    uint32_t crc = 0;            // the container's CRC register run from 0 over the image
};

// One section of the data part, as read.
struct vbf_section {
    uint64_t offset = 0;          // of its 8-byte head, from the start of the file
    uint32_t address = 0;
    uint32_t length = 0;
    uint16_t block_checksum = 0;  // the two bytes after the data, big-endian
    bool kept = true;             // false when the omit list leaves it out of the image
};

// How the header ended: at its closing brace, at an empty item (a stray
// ';'), at the end of the file, or at an item too long to hold.
enum class header_end { brace, empty_item, end_of_file, item_too_long };

// Sees a VBF file as the converter reads it, for the tools that show or
// verify files. Offsets count bytes from the start of the file.
class vbf_observer {
public:
    // An item of the text part (the version item first, then each header
    // item), without its blanks, and the offset just past its ';'.
    virtual void item(std::string_view, uint64_t) {}
    // The header record once the header is over, and where the data part begins.
    virtual void header(const vbf_header&, uint64_t, header_end) {}
    // The data bytes of the section being read, in pieces, kept or omitted.
    virtual void data(const uint8_t*, size_t) {}
    // A whole section, after its block checksum.
    virtual void section(const vbf_section&) {}
    // The checksum of the whole data part, computed, and the file's length.
    virtual void checksum(uint32_t, uint64_t) {}
    // The conversion stops at this offset; its message has been printed.
    virtual void failed(uint64_t) {}

protected:
    ~vbf_observer() = default;
};

// Converts the VBF file `path` and writes its image to `out`. Returns 0 and
// fills in `image` on success; prints its own message to `messages` and
// returns -1 on any failure (`out` then holds what was written up to there).
// An `observer` is told what is read as it is read.
int vbf_process(const char* path, image_output& out, vbf_image& image, std::FILE* messages = stdout,
                vbf_observer* observer = nullptr);

// The same into a stream: appends the image at the current position of
// `out` (a `stream_output` up to `limit`) and stores the file checksum
// through `checksum_out` when it is not null.
int vbf_process(const char* path, std::FILE* out, uint32_t* checksum_out, std::FILE* messages = stdout,
                uint64_t limit = max_file_size);

}  // namespace vendrak
