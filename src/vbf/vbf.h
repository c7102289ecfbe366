// The VBF converter: reads a VBF flash file, verifies its file checksum and
// appends the device's converted image of it to an output.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

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

// Converts the VBF file `path` and writes its image to `out`. Returns 0 and
// fills in `image` on success; prints its own message to `messages` and
// returns -1 on any failure (`out` then holds what was written up to there).
int vbf_process(const char* path, image_output& out, vbf_image& image, std::FILE* messages = stdout);

// The same into a stream: appends the image at the current position of
// `out` (a `stream_output` up to `limit`) and stores the file checksum
// through `checksum_out` when it is not null.
int vbf_process(const char* path, std::FILE* out, uint32_t* checksum_out, std::FILE* messages = stdout,
                uint64_t limit = max_file_size);

}  // namespace vendrak
