// The last two steps of a run: the VBF area, built in the temporary VBF file,
// and the output container written from the program and that area (its
// format is container/container.h).
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

#include "compile/compile.h"
#include "container/container.h"

namespace vendrak {

// The converted images as they stand in the temporary file after sharing
// and the final cut: their length (`vbf_end`), the container's CRC register
// run from 0 over exactly those bytes, and where they begin in the file.
struct vbf_area {
    uint32_t size = 0;
    uint32_t crc = 0;
    uint64_t offset = 0;
};

// The area begins in the temporary file at the same offset modulo this as
// in the container, so that the copy into the container moves whole pages.
constexpr uint64_t area_alignment = 4096;

// Converts every flash file of `prog` into the empty stream `temp` (the file
// `temp_name`), shares the images of entries with the same file name and
// checksum, writes each image offset (counted from the start of the area)
// into its programming instruction and cuts the file after the last kept
// image.
vbf_area build_vbf_area(program& prog, std::FILE* temp, const std::string& temp_name);

// The length the container will have; fails when it would reach 2 GiB.
uint64_t check_container_size(const program& prog, const vbf_area& area);

struct container_summary {
    uint32_t code_size = 0;
    uint64_t file_size = 0;
    uint32_t crc = 0;
};

// Writes the whole container into the freshly opened `out` (the file
// `output_name`), encrypting its program part when `encrypt` is set, copies
// the area from `temp`, and flushes it. `header` comes with `created` and
// `host_mac` set and is left in its final form.
container_summary write_container(const program& prog, const vbf_area& area, std::FILE* temp, bool encrypt,
                                  std::FILE* out, const std::string& output_name, container_header& header);

}  // namespace vendrak
