// What the inspector's fuzzer does with one input, shared with the
// regression test that replays its findings (see fuzz_targets.h).
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <span>
#include <string>
#include <vector>

#include "container/container.h"
#include "inspect/inspect.h"
#include "vbf/vbf.h"

namespace vendrak::fuzzing {

// Converts the VBF file `vbf` (written to `scratch_path`) and compares the
// image with `image`.
inline std::string reconverts_to(const std::vector<uint8_t>& vbf, std::span<const uint8_t> image,
                                 const char* scratch_path) {
    std::FILE* in = std::fopen(scratch_path, "wb");
    if (!in) return "no scratch file";
    const bool written = std::fwrite(vbf.data(), 1, vbf.size(), in) == vbf.size();
    if (std::fclose(in) != 0 || !written) return "no scratch file";
    std::FILE* out = std::tmpfile();
    std::FILE* messages = std::fopen("/dev/null", "w");
    std::string broken;
    if (!out || !messages) {
        broken = "no temporary stream";
    } else if (vbf_process(scratch_path, out, nullptr, messages) != 0) {
        broken = "a rebuilt VBF file does not convert";
    } else {
        std::vector<uint8_t> converted(image.size() + 1);
        std::rewind(out);
        const size_t n = std::fread(converted.data(), 1, converted.size(), out);
        if (n != image.size() || !std::equal(image.begin(), image.end(), converted.begin()))
            broken = "a rebuilt VBF file converts into another image";
    }
    if (messages) std::fclose(messages);
    if (out) std::fclose(out);
    return broken;
}

// Inspects a container and lists it. When it is found valid, its decompiled
// script must be writable and every image must come back from the VBF file
// rebuilt from it, byte for byte.
inline std::string inspect_as_is(std::vector<uint8_t> bytes, const char* scratch_path) {
    using namespace vendrak::inspect;
    const inspection r = inspect_container(std::move(bytes), "fuzz");
    if (listing(r).empty()) return "an empty listing";
    if (!r.defects.empty()) return {};
    try {
        script_text(r, "");
        const auto area = r.container.view(r.container.vbf);
        for (const image_info& image : r.images) {
            const std::string broken = reconverts_to(
                rebuild_vbf(image, area),
                area.subspan(static_cast<size_t>(image.offset), static_cast<size_t>(image.size)), scratch_path);
            if (!broken.empty()) return broken;
        }
    } catch (const std::exception& e) {
        return std::string("a valid container that cannot be written back: ") + e.what();
    }
    return {};
}

// Inspects an arbitrary container as it is, and once more with the CRC text
// of its trailer made right: a changed byte almost never comes with its CRC,
// and without it no changed container would pass as valid.
inline std::string inspect_one(std::span<const uint8_t> bytes, const char* scratch_path) {
    std::vector<uint8_t> file(bytes.begin(), bytes.end());
    if (std::string broken = inspect_as_is(file, scratch_path); !broken.empty()) return broken;
    if (file.size() < 32) return {};
    const size_t trailer = file.size() - 32;
    char text[16];
    std::snprintf(text, sizeof text, "0x%08X", static_cast<unsigned>(container_crc(0, file.data(), trailer)));
    if (std::equal(text, text + 10, file.begin() + static_cast<std::ptrdiff_t>(trailer + 4))) return {};
    std::copy(text, text + 10, file.begin() + static_cast<std::ptrdiff_t>(trailer + 4));
    return inspect_as_is(std::move(file), scratch_path);
}

}  // namespace vendrak::fuzzing
