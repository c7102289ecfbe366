// The device's instruction format: the operation codes, the operation of
// each statement kind, and the position and width of every field, written
// once for the encoder and the decoder.
//
// A program is a flat array of 16-byte instructions. Every multi-byte field is
// little-endian and unaligned.
//
//   byte  0   1   2   3   4   5   6   7   8   9  10  11  12  13  14  15
//       +-------+-----------------------------------------------+-------+
//       | code  |  operands (per operation, below)              |  0 0  |
//       +-------+-----------------------------------------------+-------+
//
// An expression operand is 5 bytes at the offset its operation gives:
//
//   byte 0      1    2    3    4
//       +------+-------------------+
//       | kind |  value (by kind)  |
//       +------+-------------------+
//
//   EXPR_NUMBER        i32 number
//   DATA TEXT HEX BIT FLOAT UDATA
//                      u16 offset, u16 length
//   EXPR_STRING        u16 string-table offset, 0
//   EXPR_ARRAY         u8 count, u16 data-table offset, 0
//   EXPR_VAR           u16 variable index, 0
//   EXPR_FLOAT_NUMBER  IEEE-754 single
//   other kinds        0 (the kind byte says it all)
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

#include "parser/script.h"

namespace vendrak {

enum opcode_code : uint16_t {
    OPC_CMP = 1,
    OPC_JT = 2,
    OPC_JF = 3,
    OPC_JMP = 4,
    OPC_DAT_CREATE = 5,
    OPC_DAT_CHECK = 6,
    OPC_DAT_DELETE = 7,
    OPC_DAT_INIT = 8,
    OPC_DELAY = 9,
    OPC_DIAG = 10,
    OPC_DID = 11,
    OPC_EXHALE = 12,
    OPC_EXEC = 13,
    OPC_EXIT = 14,
    OPC_FW_VERSION = 15,
    OPC_GETKEY = 16,
    OPC_HLCD = 17,
    OPC_INHALE = 18,
    OPC_LCD = 19,
    OPC_LED = 20,
    OPC_LOG = 21,
    OPC_NET = 22,
    OPC_PERIODIC = 23,
    OPC_PROG = 24,
    OPC_READ = 25,
    OPC_VERSION = 26,
    OPC_VIN_VERIFY = 27,
    OPC_WAITKEY = 28,
    OPC_WRITE = 29,
    OPC_SECURITY = 30,
    OPC_GETTIME = 31,
    OPC_PROGNC = 32,
    OPC_PROGNR = 33,
    OPC_HUD = 34,
    OPC_REQUEST = 35,
    OPC_SET_VALUE = 36,
    OPC_VAR = 37,
    OPC_RETURN = 38,
    OPC_JMPS = 39,
    OPC_UPLOAD = 40,
    OPC_MEM = 41,
    OPC_DOWNLOAD = 42,
    OPC_REQ_FILE = 43,
};

constexpr uint32_t OPC_FIRST = OPC_CMP;
constexpr uint32_t OPC_LAST = OPC_REQ_FILE;

constexpr size_t opcode_size = 16;
constexpr size_t expr_operand_size = 5;

using opcode_bytes = std::array<uint8_t, opcode_size>;

// One compiled instruction: its address in the instruction area (16 × its
// index) and its encoding, exactly the bytes that go into the container.
struct instruction {
    uint32_t address = 0;
    opcode_bytes opcode{};
};

// The operation a statement of `kind` compiles into; 0 for DO, ELSE, ENDDO,
// ENDIF, GOTO, GOSUB and labels, which program assembly lays out as jumps
// (or as nothing).
constexpr uint16_t operation_of(cmd_kind kind) {
    switch (kind) {
        case CMD_DAT_CREATE: return OPC_DAT_CREATE;
        case CMD_DAT_CHECK: return OPC_DAT_CHECK;
        case CMD_DAT_DELETE: return OPC_DAT_DELETE;
        case CMD_DAT_INIT: return OPC_DAT_INIT;
        case CMD_DELAY: return OPC_DELAY;
        case CMD_DIAG: return OPC_DIAG;
        case CMD_DID: return OPC_DID;
        case CMD_EXHALE: return OPC_EXHALE;
        case CMD_EXEC: return OPC_EXEC;
        case CMD_EXIT: return OPC_EXIT;
        case CMD_FW_VERSION: return OPC_FW_VERSION;
        case CMD_GETKEY: return OPC_GETKEY;
        case CMD_GETTIME: return OPC_GETTIME;
        case CMD_HLCD: return OPC_HLCD;
        case CMD_HUD: return OPC_HUD;
        case CMD_IF: return OPC_CMP;
        case CMD_INHALE: return OPC_INHALE;
        case CMD_LCD: return OPC_LCD;
        case CMD_LED: return OPC_LED;
        case CMD_LOG: return OPC_LOG;
        case CMD_NET: return OPC_NET;
        case CMD_PERIODIC: return OPC_PERIODIC;
        case CMD_PROG: return OPC_PROG;
        case CMD_PROGNC: return OPC_PROGNC;
        case CMD_PROGNR: return OPC_PROGNR;
        case CMD_READ: return OPC_READ;
        case CMD_SECURITY: return OPC_SECURITY;
        case CMD_VERSION: return OPC_VERSION;
        case CMD_VIN_VERIFY: return OPC_VIN_VERIFY;
        case CMD_WAITKEY: return OPC_WAITKEY;
        case CMD_WHILE: return OPC_CMP;
        case CMD_WRITE: return OPC_WRITE;
        case CMD_REQUEST: return OPC_REQUEST;
        case CMD_SET_VALUE: return OPC_SET_VALUE;
        case CMD_VAR: return OPC_VAR;
        case CMD_RETURN: return OPC_RETURN;
        case CMD_UPLOAD: return OPC_UPLOAD;
        case CMD_MEM: return OPC_MEM;
        case CMD_DOWNLOAD: return OPC_DOWNLOAD;
        case CMD_REQ_FILE: return OPC_REQ_FILE;
        case CMD_DO:
        case CMD_ELSE:
        case CMD_ENDDO:
        case CMD_ENDIF:
        case CMD_GOTO:
        case CMD_GOSUB:
        case CMD_LABEL: return 0;
    }
    return 0;
}

// The statement kind an operation is compiled from (IF for OPC_CMP); 0 for
// the jumps and the codes of no operation.
constexpr cmd_kind kind_of_operation(uint32_t code) {
    for (uint32_t k = 1; k <= CMD_LAST; ++k)
        if (operation_of(static_cast<cmd_kind>(k)) == code) return static_cast<cmd_kind>(k);
    return cmd_kind{};
}
static_assert(kind_of_operation(OPC_CMP) == CMD_IF && kind_of_operation(OPC_JMP) == 0);

constexpr bool is_jump(uint32_t code) { return code == OPC_JT || code == OPC_JF || code == OPC_JMP || code == OPC_JMPS; }
constexpr bool is_programming(uint32_t code) { return code == OPC_PROG || code == OPC_PROGNC || code == OPC_PROGNR; }

// A little-endian field of an instruction or an operand: where it begins and
// how many bytes (1, 2 or 4) it has. A value is written as its low bytes and
// read back zero-extended.
struct field {
    uint8_t at;
    uint8_t width;
};

inline void put_field(std::span<uint8_t> bytes, field f, uint32_t value) {
    for (uint8_t i = 0; i < f.width; ++i) bytes[f.at + i] = static_cast<uint8_t>(value >> (8 * i));
}
inline uint32_t get_field(std::span<const uint8_t> bytes, field f) {
    uint32_t value = 0;
    for (uint8_t i = f.width; i-- > 0;) value = value << 8 | bytes[f.at + i];
    return value;
}

// The fields of every operation: the code at 0, operands from byte 2; every
// byte not named is 0, bytes 14-15 always. An operand (`expr`) is the 5-byte
// expression operand at its offset. A string field is the u16 offset of a
// NUL-terminated text in the string table; a data field is the u32 offset
// of bytes in the data table; a flag is 1 when its part is there.
//
//   code  operation        operands
//    1    OPC_CMP          b2 test.op; expr@3 test.lhs; expr@8 test.rhs
//    2-4  OPC_JT, JF, JMP  u32@2 target (laid out by program assembly)
//    5-8  OPC_DAT_CREATE, _CHECK, _DELETE, _INIT
//                          b2 type; u16@3 did
//    9    OPC_DELAY        u32@2 value
//   10    OPC_DIAG         b2 protocol; u32@3 first_id; u32@7 second_id
//   11    OPC_DID          b2 operation; u16@3 did; b5 modify_a; b6 modify_b;
//                          b7 modify_op; b8 modify_value
//   12    OPC_EXHALE       b2 method; b4 key flag; with a key: b3 its length,
//                          data@5 its bytes
//   13    OPC_EXEC         string@2 text (also VERSION, VIN_VERIFY, REQ_FILE)
//   14    OPC_EXIT         -              (also GETKEY, GETTIME, RETURN)
//   15    OPC_FW_VERSION   u16@2 major; u16@4 minor
//   17    OPC_HLCD         b2 row-1; b3 column-1; expr@4; b9 has_floats;
//                          has_floats 1: data@10 float_a, float_b (also LCD, HUD)
//   18    OPC_INHALE       b2 method
//   20    OPC_LED          b2 color; b3 state
//   21    OPC_LOG          b2 mode; expr@3; b8 has_floats;
//                          has_floats 1: data@9 float_a, float_b
//   22    OPC_NET          b2 network; b3 id_bits; u32@4 bit_rate
//   23    OPC_PERIODIC     b2 type; u16@3 period; only with values at all:
//                          b9 count, data@10 the values as bytes; MSG: the
//                          first value whole in u32@5, not in the data table
//   24    OPC_PROG         b3 key flag; with a key: b2 its length, data@4 its
//                          bytes; u32@8 image offset in the VBF area, filled in
//                          by the driver (also PROGNC, PROGNR)
//   25    OPC_READ         b2 type; u32@3 value (0xFFFFFFFF when absent)
//   28    OPC_WAITKEY      expr@2
//   29    OPC_WRITE        b2 type; b7 count, data@8 the values as bytes; MSG:
//                          the first value whole in u32@3
//   30    OPC_SECURITY     b2 level; b3 key length; data@4 key bytes
//   35    OPC_REQUEST      b6 count; data@7 the values as bytes
//   36    OPC_SET_VALUE    b2 param; u32@3 value
//   37    OPC_VAR          b2 index; b3 assign.op; expr@4 assign.lhs;
//                          expr@9 assign.rhs
//   39    OPC_JMPS         u32@2 target (laid out by program assembly)
//   40    OPC_UPLOAD       u32@2 first; u32@6 second (also DOWNLOAD)
//   41    OPC_MEM          u32@2 location; b6 op; b7 count; data@8 data bytes
namespace fields {

constexpr field u8(uint8_t at) { return {at, 1}; }
constexpr field u16(uint8_t at) { return {at, 2}; }
constexpr field u32(uint8_t at) { return {at, 4}; }

constexpr field code = u16(0);
constexpr field jump_target = u32(2);

namespace cmp { constexpr field op = u8(2); constexpr uint8_t lhs = 3, rhs = 8; }
namespace dat { constexpr field type = u8(2), did = u16(3); }
namespace delay { constexpr field value = u32(2); }
namespace diag { constexpr field protocol = u8(2), first_id = u32(3), second_id = u32(7); }
namespace did {
constexpr field operation = u8(2), did = u16(3), modify_a = u8(5), modify_b = u8(6), modify_op = u8(7),
                modify_value = u8(8);
}
namespace exhale { constexpr field method = u8(2), key_length = u8(3), key_flag = u8(4), key = u32(5); }
namespace text { constexpr field string = u16(2); }
namespace fw_version { constexpr field major = u16(2), minor = u16(4); }
namespace screen {
constexpr field row = u8(2), column = u8(3), has_floats = u8(9), floats = u32(10);
constexpr uint8_t expr = 4;
}
namespace inhale { constexpr field method = u8(2); }
namespace led { constexpr field color = u8(2), state = u8(3); }
namespace log { constexpr field mode = u8(2), has_floats = u8(8), floats = u32(9); constexpr uint8_t expr = 3; }
namespace net { constexpr field network = u8(2), id_bits = u8(3), bit_rate = u32(4); }
namespace periodic {
constexpr field type = u8(2), period = u16(3), first = u32(5), count = u8(9), data = u32(10);
}
namespace prog { constexpr field key_length = u8(2), key_flag = u8(3), key = u32(4), image = u32(8); }
namespace read { constexpr field type = u8(2), value = u32(3); }
namespace waitkey { constexpr uint8_t expr = 2; }
namespace write { constexpr field type = u8(2), first = u32(3), count = u8(7), data = u32(8); }
namespace security { constexpr field level = u8(2), key_length = u8(3), key = u32(4); }
namespace request { constexpr field count = u8(6), data = u32(7); }
namespace set_value { constexpr field param = u8(2), value = u32(3); }
namespace var { constexpr field index = u8(2), op = u8(3); constexpr uint8_t lhs = 4, rhs = 9; }
namespace transfer { constexpr field first = u32(2), second = u32(6); }
namespace mem { constexpr field location = u32(2), op = u8(6), count = u8(7), data = u32(8); }

// Within a 5-byte expression operand.
namespace expr {
constexpr field kind = u8(0), number = u32(1), offset = u16(1), length = u16(3), string = u16(1),
                array_count = u8(1), array_data = u16(2), var = u16(1), value = u32(1);
}

}  // namespace fields

// Where the jump operations keep their target address, and the programming
// operations their image offset.
constexpr size_t jump_target_at = fields::jump_target.at;
constexpr size_t image_offset_at = fields::prog::image.at;

}  // namespace vendrak
