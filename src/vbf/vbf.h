// The VBF converter: reads a VBF flash file, verifies its file checksum and
// appends the device's converted image of it to a stream.
#pragma once

#include <cstdint>
#include <cstdio>

namespace vendrak {

// Every file of a run stays below 2 GiB: the container's offsets are 32-bit
// fields and the writer keeps positions as signed 32-bit values.
constexpr uint64_t max_file_size = 0x80000000u;

// Converts the VBF file `path` and appends its image at the current position
// of `out`. Returns 0 and stores the file checksum through `checksum_out`
// (when not null) on success; prints its own message to `messages` and
// returns -1 on any failure. An image that would make `out` reach `limit`
// bytes ends the run instead: a `fatal_error` on the output stream with
// "Error: Output container exceeds 2 GiB\n".
int vbf_process(const char* path, std::FILE* out, uint32_t* checksum_out, std::FILE* messages = stdout,
                uint64_t limit = max_file_size);

}  // namespace vendrak
