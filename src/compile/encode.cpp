// The encoder: one command into one 16-byte opcode, plus whatever it carries
// into the string table and the data table.
#include <bit>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>

#include "common/bytes.h"
#include "common/fatal.h"
#include "compile/compile.h"

namespace vendrak {
namespace {

// Offsets into the tables that an opcode or operand holds in 16 bits.
constexpr size_t max_table_offset = 65535;
// Counts that an opcode holds in one byte.
constexpr size_t max_byte_count = 255;

// Texts are NUL-terminated for the device; a text ends at its first NUL.
std::string_view c_text(const std::string& s) { return std::string_view(s.c_str()); }

// Appends a text and its NUL to the string table and returns its offset.
// Equal texts are stored again each time: nothing is shared.
uint32_t add_string(std::vector<uint8_t>& string_table, const std::string& text, uint32_t line) {
    if (string_table.size() > max_table_offset)
        fail(out_stream::err, "[%d] INTERNAL ERROR: stringTableIndex exceeded!\n", line);
    const auto at = static_cast<uint32_t>(string_table.size());
    append_text(string_table, c_text(text));
    append_u8(string_table, 0);
    return at;
}

// Appends values as bytes (their low 8 bits) and returns where they start.
template <typename Values>
uint32_t add_bytes(std::vector<uint8_t>& data_table, const Values& values) {
    const auto at = static_cast<uint32_t>(data_table.size());
    for (auto v : values) append_u8(data_table, static_cast<uint32_t>(v));
    return at;
}

// The first `key_len` bytes of a key (`at` refuses a length beyond the key).
uint32_t add_key(std::vector<uint8_t>& data_table, const command& cmd) {
    const auto at = static_cast<uint32_t>(data_table.size());
    for (uint32_t i = 0; i < cmd.key_len; ++i) append_u8(data_table, cmd.key.at(i));
    return at;
}

// The float pair of LCD, HLCD, HUD and LOG: two IEEE-754 singles.
uint32_t add_floats(std::vector<uint8_t>& data_table, const command& cmd) {
    const auto at = static_cast<uint32_t>(data_table.size());
    append_u32le(data_table, std::bit_cast<uint32_t>(cmd.float_a));
    append_u32le(data_table, std::bit_cast<uint32_t>(cmd.float_b));
    return at;
}

std::span<uint8_t, expr_operand_size> operand_at(opcode_bytes& op, size_t at) {
    return std::span<uint8_t, expr_operand_size>(op.data() + at, expr_operand_size);
}

uint16_t operation_for(uint32_t kind) {
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
        default:
            // DO, ELSE, ENDDO, ENDIF, GOTO, GOSUB and labels are laid out by
            // compile_script; reaching here is a bug of the caller.
            throw std::invalid_argument("make_opcode: command kind " + std::to_string(kind) +
                                        " has no operation of its own");
    }
}

}  // namespace

// Expression operand, 5 bytes (o0 is its first byte):
//
//   kind                              o0    o1..o4
//   EXPR_NUMBER                       kind  i32 number
//   DATA, TEXT, HEX, BIT, FLOAT,      kind  u16 offset, u16 length
//     UDATA
//   EXPR_STRING                       kind  u16 string-table offset, 0, 0
//   EXPR_ARRAY                        kind  u8 count, u16 data-table offset, 0
//   EXPR_VAR                          kind  u16 variable index, 0, 0
//   EXPR_FLOAT_NUMBER                 kind  IEEE-754 single
//   any other kind                    kind  0 0 0 0
void copyExpr(const prim_expr& expr, std::span<uint8_t, expr_operand_size> operand,
              std::vector<uint8_t>& string_table, std::vector<uint8_t>& data_table, uint32_t line) {
    byte_writer w(operand);
    w.u8(0, expr.kind);
    switch (expr.kind) {
        case EXPR_NUMBER:
            w.u32le(1, static_cast<uint32_t>(expr.number));
            break;
        case EXPR_DATA:
        case EXPR_TEXT:
        case EXPR_HEX:
        case EXPR_BIT:
        case EXPR_FLOAT:
        case EXPR_UDATA:
            w.u16le(1, static_cast<uint32_t>(expr.offset));
            w.u16le(3, static_cast<uint32_t>(expr.length));
            break;
        case EXPR_STRING:
            w.u16le(1, add_string(string_table, expr.str, line));
            break;
        case EXPR_ARRAY:
            if (data_table.size() > max_table_offset)
                fail(out_stream::err, "[%d] INTERNAL ERROR: dataTableIndex exceeded!\n", line);
            w.u8(1, static_cast<uint32_t>(expr.length));
            w.u16le(2, add_bytes(data_table, expr.array));
            break;
        case EXPR_VAR:
            w.u16le(1, static_cast<uint32_t>(expr.var));
            break;
        case EXPR_FLOAT_NUMBER:
            w.u32le(1, std::bit_cast<uint32_t>(expr.fvalue));
            break;
        default:
            break;
    }
}

// The 16-byte opcode: u16 code at 0, operands from byte 2; every byte not
// named is 0, bytes 14-15 always. bN is byte N, u16@N / u32@N little-endian
// fields at N, expr@N a 5-byte expression operand at N, data@N a u32
// data-table offset at N, str@N a u16 string-table offset at N.
//
//   code  operation        operands
//    1    OPC_CMP          b2 test.op; expr@3 test.lhs; expr@8 test.rhs
//    2    OPC_JT           u32@2 target (laid out by compile_script)
//    3    OPC_JF           u32@2 target (laid out by compile_script)
//    4    OPC_JMP          u32@2 target (laid out by compile_script)
//    5-8  OPC_DAT_CREATE, _CHECK, _DELETE, _INIT
//                          b2 type; u16@3 did
//    9    OPC_DELAY        u32@2 value
//   10    OPC_DIAG         b2 protocol; u32@3 first_id; u32@7 second_id
//   11    OPC_DID          b2 operation; u16@3 did; b5 modify_a; b6 modify_b;
//                          b7 modify_op; b8 modify_value
//   12    OPC_EXHALE       b2 method; b4 has_key; with a key: b3 key_len,
//                          data@5 key bytes
//   13    OPC_EXEC         str@2 text
//   14    OPC_EXIT         -
//   15    OPC_FW_VERSION   u16@2 major; u16@4 minor
//   16    OPC_GETKEY       -
//   17    OPC_HLCD         b2 row-1; b3 column-1; expr@4 expr; b9 has_floats;
//                          has_floats == 1: data@10 float_a, float_b
//   18    OPC_INHALE       b2 method
//   19    OPC_LCD          as OPC_HLCD
//   20    OPC_LED          b2 color; b3 state
//   21    OPC_LOG          b2 mode; expr@3 expr; b8 has_floats;
//                          has_floats == 1: data@9 float_a, float_b
//   22    OPC_NET          b2 network; b3 id_bits; u32@4 bit_rate
//   23    OPC_PERIODIC     b2 type; u16@3 period; b9 count in the data table;
//                          data@10 those bytes (only with a value at all);
//                          MSG: u32@5 first value, kept out of the data table
//   24    OPC_PROG         b3 has_key; with a key: b2 key_len, data@4 key bytes;
//                          u32@8 image offset (0 here, set by the driver)
//   25    OPC_READ         b2 type; u32@3 value (0xFFFFFFFF when absent)
//   26    OPC_VERSION      str@2 text
//   27    OPC_VIN_VERIFY   str@2 text
//   28    OPC_WAITKEY      expr@2 expr
//   29    OPC_WRITE        b2 type; b7 count in the data table; data@8 those
//                          bytes; MSG: u32@3 first value, kept out of the table
//   30    OPC_SECURITY     b2 level; b3 key_len; data@4 key bytes
//   31    OPC_GETTIME      -
//   32    OPC_PROGNC       as OPC_PROG
//   33    OPC_PROGNR       as OPC_PROG
//   34    OPC_HUD          as OPC_HLCD
//   35    OPC_REQUEST      b6 count; u32@7 data-table offset of the bytes
//   36    OPC_SET_VALUE    b2 param; u32@3 value
//   37    OPC_VAR          b2 index; b3 assign.op; expr@4 assign.lhs;
//                          expr@9 assign.rhs
//   38    OPC_RETURN       -
//   39    OPC_JMPS         u32@2 target (laid out by compile_script)
//   40    OPC_UPLOAD       u32@2 first; u32@6 second
//   41    OPC_MEM          u32@2 location; b6 op; b7 count; data@8 data bytes
//   42    OPC_DOWNLOAD     as OPC_UPLOAD
//   43    OPC_REQ_FILE     str@2 filename
//
// Narrow fields take the low bytes of the command's field. Expression operands
// are encoded left before right, and before any float pair, so their tables
// fill in that order.
void make_opcode(instruction& insn, const command& cmd, std::vector<uint8_t>& string_table,
                 std::vector<uint8_t>& data_table) {
    opcode_bytes& op = insn.opcode;
    op.fill(0);
    byte_writer w(op);
    const uint16_t code = operation_for(cmd.kind);
    w.u16le(0, code);

    auto u32 = [](int32_t v) { return static_cast<uint32_t>(v); };

    switch (code) {
        case OPC_CMP:
            w.u8(2, cmd.test.op);
            copyExpr(cmd.test.lhs, operand_at(op, 3), string_table, data_table, cmd.line);
            copyExpr(cmd.test.rhs, operand_at(op, 8), string_table, data_table, cmd.line);
            break;
        case OPC_DAT_CREATE:
        case OPC_DAT_CHECK:
        case OPC_DAT_DELETE:
        case OPC_DAT_INIT:
            w.u8(2, cmd.type);
            w.u16le(3, u32(cmd.did));
            break;
        case OPC_DELAY:
            w.u32le(2, u32(cmd.value));
            break;
        case OPC_DIAG:
            w.u8(2, cmd.protocol);
            w.u32le(3, u32(cmd.first_id));
            w.u32le(7, u32(cmd.second_id));
            break;
        case OPC_DID:
            w.u8(2, cmd.operation);
            w.u16le(3, u32(cmd.did));
            w.u8(5, u32(cmd.modify_a));
            w.u8(6, u32(cmd.modify_b));
            w.u8(7, cmd.modify_op);
            w.u8(8, u32(cmd.modify_value));
            break;
        case OPC_EXHALE:
            w.u8(2, cmd.method);
            w.u8(4, cmd.has_key);
            if (cmd.has_key != 0) {
                w.u8(3, cmd.key_len);
                w.u32le(5, add_key(data_table, cmd));
            }
            break;
        case OPC_EXEC:
        case OPC_VERSION:
        case OPC_VIN_VERIFY:
            w.u16le(2, add_string(string_table, cmd.text, cmd.line));
            break;
        case OPC_REQ_FILE:
            w.u16le(2, add_string(string_table, cmd.filename, cmd.line));
            break;
        case OPC_FW_VERSION:
            w.u16le(2, u32(cmd.major));
            w.u16le(4, u32(cmd.minor));
            break;
        case OPC_HLCD:
        case OPC_LCD:
        case OPC_HUD:
            w.u8(2, u32(cmd.row - 1));
            w.u8(3, u32(cmd.column - 1));
            copyExpr(cmd.expr, operand_at(op, 4), string_table, data_table, cmd.line);
            w.u8(9, cmd.has_floats);
            if (cmd.has_floats == 1) w.u32le(10, add_floats(data_table, cmd));
            break;
        case OPC_INHALE:
            w.u8(2, cmd.method);
            break;
        case OPC_LED:
            w.u8(2, cmd.color);
            w.u8(3, cmd.state);
            break;
        case OPC_LOG:
            w.u8(2, cmd.mode);
            copyExpr(cmd.expr, operand_at(op, 3), string_table, data_table, cmd.line);
            w.u8(8, cmd.has_floats);
            if (cmd.has_floats == 1) w.u32le(9, add_floats(data_table, cmd));
            break;
        case OPC_NET:
            w.u8(2, cmd.network);
            w.u8(3, u32(cmd.id_bits));
            w.u32le(4, u32(cmd.bit_rate));
            break;
        case OPC_PERIODIC: {
            w.u8(2, cmd.type);
            w.u16le(3, u32(cmd.period));
            if (cmd.bytes.empty()) break;
            // The MSG form's first value is the message identifier, kept whole.
            std::span<const int32_t> values(cmd.bytes);
            if (cmd.type == MSG_MSG) {
                w.u32le(5, u32(values[0]));
                values = values.subspan(1);
            }
            w.u8(9, static_cast<uint32_t>(values.size()));
            w.u32le(10, add_bytes(data_table, values));
            break;
        }
        case OPC_PROG:
        case OPC_PROGNC:
        case OPC_PROGNR:
            w.u8(3, cmd.has_key);
            if (cmd.has_key != 0) {
                w.u8(2, cmd.key_len);
                w.u32le(4, add_key(data_table, cmd));
            }
            break;
        case OPC_READ:
            w.u8(2, cmd.type);
            w.u32le(3, u32(cmd.value));
            break;
        case OPC_WAITKEY:
            copyExpr(cmd.expr, operand_at(op, 2), string_table, data_table, cmd.line);
            break;
        case OPC_WRITE: {
            w.u8(2, cmd.type);
            // As with PERIODIC; an empty MSG list leaves the identifier 0.
            std::span<const int32_t> values(cmd.bytes);
            if (cmd.type == MSG_MSG && !values.empty()) {
                w.u32le(3, u32(values[0]));
                values = values.subspan(1);
            }
            w.u8(7, static_cast<uint32_t>(values.size()));
            w.u32le(8, add_bytes(data_table, values));
            break;
        }
        case OPC_SECURITY:
            w.u8(2, u32(cmd.level));
            w.u8(3, cmd.key_len);
            w.u32le(4, add_key(data_table, cmd));
            break;
        case OPC_REQUEST:
            if (cmd.bytes.size() > max_byte_count)
                fail(out_stream::err, "[%d] Error: Too many REQUEST bytes\n", cmd.line);
            w.u8(6, static_cast<uint32_t>(cmd.bytes.size()));
            w.u32le(7, add_bytes(data_table, cmd.bytes));
            break;
        case OPC_SET_VALUE:
            w.u8(2, cmd.param);
            w.u32le(3, u32(cmd.value));
            break;
        case OPC_VAR:
            w.u8(2, u32(cmd.index));
            w.u8(3, cmd.assign.op);
            copyExpr(cmd.assign.lhs, operand_at(op, 4), string_table, data_table, cmd.line);
            copyExpr(cmd.assign.rhs, operand_at(op, 9), string_table, data_table, cmd.line);
            break;
        case OPC_UPLOAD:
        case OPC_DOWNLOAD:
            w.u32le(2, cmd.first);
            w.u32le(6, cmd.second);
            break;
        case OPC_MEM:
            // A string operand is not bounded by the front end; the count
            // field holds one byte.
            if (cmd.data.size() > max_byte_count)
                fail(out_stream::err, "[%d] Error: Too many MEM bytes\n", cmd.line);
            w.u32le(2, u32(cmd.location));
            w.u8(6, cmd.op);
            w.u8(7, static_cast<uint32_t>(cmd.data.size()));
            w.u32le(8, add_bytes(data_table, cmd.data));
            break;
        default:  // OPC_EXIT, OPC_GETKEY, OPC_GETTIME, OPC_RETURN: the code alone
            break;
    }
}

}  // namespace vendrak
