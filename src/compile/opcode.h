// The device's instruction format.
//
// A program is a flat array of 16-byte instructions. Every multi-byte field is
// little-endian and unaligned.
//
//   byte  0   1   2   3   4   5   6   7   8   9  10  11  12  13  14  15
//       +-------+-----------------------------------------------+-------+
//       | code  |  operands (per operation, see encode.cpp)    |  0 0  |
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
#include <cstdint>

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

// Where the jump operations keep their target address (u32).
constexpr size_t jump_target_at = 2;
// Where the programming operations keep their image offset (u32), counted from
// the start of the container's VBF area; filled in by the driver.
constexpr size_t image_offset_at = 8;

using opcode_bytes = std::array<uint8_t, opcode_size>;

// One compiled instruction: its address in the instruction area (16 × its
// index) and its encoding, exactly the bytes that go into the container.
struct instruction {
    uint32_t address = 0;
    opcode_bytes opcode{};
};

}  // namespace vendrak
