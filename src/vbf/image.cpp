#include "vbf/image.h"

#include <unordered_set>

#include "common/fatal.h"

namespace vendrak {

namespace {

uint64_t range_key(uint32_t start, uint32_t length) { return static_cast<uint64_t>(start) << 32 | length; }

}  // namespace

std::string image_text(const vbf_header& h) {
    using ul = unsigned long;
    std::string text;
    text += format("sw_part_number=%s\n", h.sw_part_number.c_str());
    text += format("sw_part_type=%lu\n", ul{h.sw_part_type});
    text += format("prog_type=%lu\n", ul{h.prog_type});
    text += format("data_format_identifier=0x%lX\n", ul{h.data_format_identifier});
    text += format("network=%lu,%lu\n", ul{h.network}, ul{h.network_sub});
    text += format("ecu_address=0x%lX,0x%02lX,0x%02lX\n", ul{h.ecu_address[0]}, ul{h.ecu_address[1]},
                   ul{h.ecu_address[2]});
    text += format("frame_format=%lu\n", ul{h.frame_format});
    text += format("call=0x%08lX\n", ul{h.call});
    text += format("file_checksum=0x%08lX\n", ul{h.file_checksum});
    text += format("ctp_checksum=0x%08lX\n", ul{h.ctp_crc32});
    text += format("description=0x%04X,0x%04X\n", unsigned{h.description[0]}, unsigned{h.description[1]});
    text += format("datproc_method=%lu\n", ul{h.datproc_method});
    text += format("datproc_param=%lu\n", ul{h.datproc_param});
    text += format("public_key_hash=%s\n", h.public_key_hash.c_str());
    std::unordered_set<uint64_t> omitted;
    for (const auto& o : h.omit) omitted.insert(range_key(o.start, o.length));
    for (const auto& e : h.erase)
        if (!omitted.contains(range_key(e.start, e.length)))
            text += format("erase=0x%08lX,0x%08lX\n", ul{e.start}, ul{e.length});
    text += "data\n";
    return text;
}

}  // namespace vendrak
