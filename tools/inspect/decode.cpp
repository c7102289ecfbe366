#include "inspect/decode.h"

#include <algorithm>
#include <array>
#include <bit>
#include <charconv>
#include <cmath>
#include <optional>
#include <string_view>

#include "common/bytes.h"
#include "common/fatal.h"

namespace vendrak::inspect {
namespace {

using word_list = std::span<const std::string_view>;

// The words of the codes, indexed by code; "" where a code has none.
constexpr std::string_view operation_names[] = {
    "",          "CMP",      "JT",      "JF",          "JMP",     "DAT_CREATE", "DAT_CHECK",  "DAT_DELETE",
    "DAT_INIT",  "DELAY",    "DIAG",    "DID",         "EXHALE",  "EXEC",       "EXIT",       "FW_VERSION",
    "GETKEY",    "HLCD",     "INHALE",  "LCD",         "LED",     "LOG",        "NET",        "PERIODIC",
    "PROG",      "READ",     "VERSION", "VIN_VERIFY",  "WAITKEY", "WRITE",      "SECURITY",   "GETTIME",
    "PROGNC",    "PROGNR",   "HUD",     "REQUEST",     "SET_VALUE", "VAR",      "RETURN",     "JMPS",
    "UPLOAD",    "MEM",      "DOWNLOAD", "REQ_FILE"};
static_assert(std::size(operation_names) == OPC_LAST + 1);

constexpr std::string_view dat_words[] = {"", "VIN", "DID"};
constexpr std::string_view diag_words[] = {"", "ISO14229", "KWP2000"};
constexpr std::string_view did_words[] = {"", "SAVE", "RECALL", "COMPARE", "WRITE", "MODIFY"};
constexpr std::string_view method_words[] = {"", "A", "B"};
constexpr std::string_view color_words[] = {"", "GREEN", "RED"};
constexpr std::string_view state_words[] = {"", "ON", "OFF", "TOGGLE"};
constexpr std::string_view log_words[] = {"", "FILE", "NEW", "ADD"};
constexpr std::string_view net_words[] = {"", "CAN_HS", "CAN_MS", "CAN_FD_HS", "CAN_FD_MS", "LIN"};
constexpr std::string_view msg_words[] = {"", "SID", "MSG"};
constexpr std::string_view param_words[] = {"",          "TERMINATION", "INTERFRAME", "BS_TX", "STMIN_TX",
                                            "VPROG",     "AMPS",        "IGN_LINE",   "VOLTS"};
constexpr std::string_view arith_words[] = {"", "+", "-", "*", "/", "&", "|", "^", "="};
constexpr std::string_view test_words[] = {"", "=", "!=", "<", ">", "&"};

// Operand words by expression kind: the keyword of a kind without a value,
// or the word before the bracketed range of a ranged kind.
constexpr std::string_view expr_words[] = {
    "",     "",       "DATA", "TEXT",   "VBAT",   "KEY",    "",    "ENTER",  "ESCAPE", "UP",         "DOWN",   "LEFT",
    "RIGHT", "ANY",   "HEX",  "BIT",    "",       "TIME",   "FLOAT", "DTC",  "DAC",    "CH1",        "CH2",    "P_TIME",
    "",     "",       "NIL",  "UDATA",  "DTCVAL", "SERNUM", "DAT_STATUS", "AMPS", "IGN_LINE", "VOLTS", "RTC"};
static_assert(std::size(expr_words) == EXPR_RTC + 1);

constexpr uint32_t max_key_bytes = 32;
// A string token holds at most 1023 characters with its two quotes.
constexpr size_t max_script_text = 1021;
// The screen: 8 rows of 16 cells (LCD, HLCD) or 32 cells (HUD).
constexpr int32_t screen_rows = 8;

std::string_view word(word_list list, uint32_t code) { return code < list.size() ? list[code] : std::string_view{}; }

// A word, or a visible stand-in for a code that has none.
std::string word_or_code(word_list list, uint32_t code) {
    std::string_view w = word(list, code);
    return w.empty() ? format("<code %u>", code) : std::string(w);
}

bool is_ranged(uint32_t kind) {
    return kind == EXPR_DATA || kind == EXPR_TEXT || kind == EXPR_HEX || kind == EXPR_BIT || kind == EXPR_FLOAT ||
           kind == EXPR_UDATA;
}

// Positive numbers in hexadecimal, negative ones in decimal: the number
// reader clamps "0x" values above 0x7FFFFFFF, while "-1" reads back exactly.
std::string hex_number(int32_t v) { return v < 0 ? format("%d", v) : format("0x%X", static_cast<uint32_t>(v)); }

// FW_VERSION XX.YY keeps XX * 100 + YY, where YY is read with automatic base
// and may follow a negative XX: written without leading zeros, "M.m" gives
// major M and minor m (0..99), and "-K.F" gives the negative minors.
std::optional<std::string> fw_version_text(uint32_t major, uint32_t minor) {
    if (minor <= 99) return format("%u.%u", major, minor);
    if (minor < 0x10000 - 99) return std::nullopt;
    // minor is -m (1..99) as 16 bits; then major must be -k with k >= 0.
    const uint32_t m = 0x10000 - minor;
    if (major != 0 && major < 0x8000) return std::nullopt;
    const uint32_t k = major == 0 ? 0 : 0x10000 - major;
    return format("-%u.%u", k + 1, 100 - m);
}

std::string key_text(const command& c) {
    std::string text = " 0x";
    for (uint32_t i = 0; i < c.key_len && i < c.key.size(); ++i) text += format("%02X", c.key[i]);
    return text;
}

std::string byte_list(std::span<const int32_t> values) {
    std::string text;
    for (int32_t v : values) text += format(" 0x%02X", static_cast<uint32_t>(v) & 0xFF);
    return text;
}

std::string floats_text(const command& c) {
    if (c.has_floats != 1) return {};
    std::string text = " ";
    return text.append(float_text(c.float_a)).append(" ").append(float_text(c.float_b));
}

std::string quoted(const std::string& text) { return "\"" + text + "\""; }

// Reads the operands of one instruction, collecting what cannot be decoded.
class decoder {
public:
    decoder(std::span<const uint8_t, opcode_size> op, uint32_t address, const program_tables& tables,
            std::vector<std::string>& problems)
        : op_(op), address_(address), tables_(tables), problems_(problems) {}

    uint32_t u8(size_t at) const { return op_[at]; }
    uint32_t u16(size_t at) const { return get_u16le(op_, at); }
    uint32_t u32(size_t at) const { return get_u32le(op_, at); }
    int32_t s32(size_t at) const { return static_cast<int32_t>(u32(at)); }

    void problem(const std::string& what) {
        problems_.push_back(format("instruction at 0x%04X: %s", address_, what.c_str()));
    }

    uint32_t choice(uint32_t code, word_list list, const char* what) {
        if (word(list, code).empty()) problem(format("%s code %u has no word in the script language", what, code));
        return code;
    }

    // The NUL-terminated text at the string-table offset held at `at`. No
    // script string is longer than a token allows, so the search for the
    // NUL stops there: each text costs at most that much, however many
    // instructions point into one long run of bytes.
    std::string text(size_t at) {
        const uint32_t offset = u16(at);
        const auto strings = tables_.strings;
        if (offset >= strings.size()) {
            problem(format("string offset %u lies outside the string table (%zu bytes)", offset, strings.size()));
            return {};
        }
        const size_t limit = std::min<size_t>(strings.size(), offset + max_script_text + 1);
        size_t end = offset;
        while (end < limit && strings[end] != 0) ++end;
        if (end == strings.size())
            problem(format("the text at string offset %u has no NUL before the end of the string table", offset));
        else if (end == limit)
            problem(format("the text at string offset %u is longer than the %zu characters of a script string",
                           offset, max_script_text));
        return std::string(strings.begin() + offset, strings.begin() + static_cast<std::ptrdiff_t>(end));
    }

    // `count` data-table bytes from `offset`; zeros when they are not all there.
    std::vector<int32_t> bytes(uint32_t offset, uint32_t count) {
        const auto data = tables_.data;
        if (uint64_t{offset} + count > data.size()) {
            problem(format("data bytes %u to %llu lie outside the data table (%zu bytes)", offset,
                           static_cast<unsigned long long>(uint64_t{offset} + count), data.size()));
            return std::vector<int32_t>(count, 0);
        }
        return std::vector<int32_t>(data.begin() + offset, data.begin() + offset + count);
    }

    float single(std::span<const int32_t> four) {
        uint32_t bits = 0;
        for (int i = 3; i >= 0; --i) bits = bits << 8 | static_cast<uint32_t>(four[static_cast<size_t>(i)]);
        const float value = std::bit_cast<float>(bits);
        if (std::isnan(value)) problem("a float that is not a number cannot be written in a script");
        return value;
    }

    void floats(command& c, uint32_t offset) {
        const std::vector<int32_t> b = bytes(offset, 8);
        c.float_a = single(std::span(b).first(4));
        c.float_b = single(std::span(b).subspan(4));
    }

    void key(command& c, uint32_t length, uint32_t offset) {
        if (length == 0 || length > max_key_bytes)
            problem(format("a key of %u bytes: keys hold 1 to %u bytes", length, max_key_bytes));
        c.key_len = std::min(length, max_key_bytes);
        const std::vector<int32_t> b = bytes(offset, c.key_len);
        for (uint32_t i = 0; i < c.key_len; ++i) c.key[i] = static_cast<uint32_t>(b[i]);
    }

    // The 5-byte expression operand at `at`.
    prim_expr expr(size_t at) {
        prim_expr e;
        e.kind = u8(at);
        // Ranges are 16-bit fields; read as signed, so that a negative BIT
        // length comes back as the script wrote it.
        auto s16 = [&](size_t field) { return static_cast<int32_t>(static_cast<int16_t>(u16(at + field))); };
        switch (e.kind) {
            case EXPR_NUMBER:
                e.number = s32(at + 1);
                break;
            case EXPR_STRING:
                e.str = text(at + 1);
                break;
            case EXPR_ARRAY:
                e.length = static_cast<int32_t>(u8(at + 1));
                e.array = bytes(u16(at + 2), u8(at + 1));
                break;
            case EXPR_VAR:
                e.var = static_cast<int32_t>(u16(at + 1));
                break;
            case EXPR_FLOAT_NUMBER:
                e.fvalue = std::bit_cast<float>(u32(at + 1));
                if (std::isnan(e.fvalue)) problem("a float that is not a number cannot be written in a script");
                break;
            default:
                if (is_ranged(e.kind)) {
                    e.offset = s16(1);
                    e.length = s16(3);
                } else if (e.kind > EXPR_RTC || expr_words[e.kind].empty()) {
                    problem(format("expression kind %u is no operand of the script language", e.kind));
                }
                break;
        }
        return e;
    }

private:
    std::span<const uint8_t, opcode_size> op_;
    uint32_t address_;
    const program_tables& tables_;
    std::vector<std::string>& problems_;
};

// The display operand of LCD, HLCD and HUD. A TEXT length is a 16-bit
// field: one that would run off the screen read as positive was negative.
void fit_text_on_screen(command& c, int32_t width) {
    prim_expr& e = c.expr;
    if (e.kind != EXPR_TEXT) return;
    const int32_t start = (c.row - 1) * width + (c.column - 1);
    if (start + e.length > screen_rows * width) e.length -= 0x10000;
}

}  // namespace

bool is_jump(uint16_t code) { return code == OPC_JT || code == OPC_JF || code == OPC_JMP || code == OPC_JMPS; }

bool is_programming(uint16_t code) { return code == OPC_PROG || code == OPC_PROGNC || code == OPC_PROGNR; }

std::string operation_name(uint16_t code) {
    return code <= OPC_LAST ? std::string(operation_names[code]) : std::string{};
}

decoded_instruction decode_instruction(std::span<const uint8_t, opcode_size> op, uint32_t address,
                                       const program_tables& tables, std::vector<std::string>& problems) {
    decoder d(op, address, tables, problems);
    decoded_instruction r;
    r.address = address;
    r.code = static_cast<uint16_t>(d.u16(0));
    command& c = r.cmd;

    // The MSG forms keep their first value whole in the instruction; it was
    // there when any of the fields is set.
    auto message_list = [&](uint32_t first, uint32_t count, uint32_t offset, bool has_first) {
        std::vector<int32_t> values;
        if (has_first) values.push_back(static_cast<int32_t>(first));
        for (int32_t v : d.bytes(offset, count)) values.push_back(v);
        c.bytes = std::move(values);
        c.count = static_cast<int32_t>(c.bytes.size());
    };

    switch (r.code) {
        case OPC_CMP:
            c.kind = CMD_IF;
            c.test.op = d.choice(d.u8(2), test_words, "comparison");
            c.test.lhs = d.expr(3);
            c.test.rhs = d.expr(8);
            break;
        case OPC_JT:
        case OPC_JF:
        case OPC_JMP:
        case OPC_JMPS:
            r.target = d.u32(jump_target_at);
            break;
        case OPC_DAT_CREATE:
        case OPC_DAT_CHECK:
        case OPC_DAT_DELETE:
        case OPC_DAT_INIT:
            c.kind = CMD_DAT_CREATE + (r.code - OPC_DAT_CREATE);
            c.type = d.choice(d.u8(2), dat_words, "data-set type");
            c.did = static_cast<int32_t>(d.u16(3));
            break;
        case OPC_DELAY:
            c.kind = CMD_DELAY;
            c.value = d.s32(2);
            break;
        case OPC_DIAG:
            c.kind = CMD_DIAG;
            c.protocol = d.choice(d.u8(2), diag_words, "protocol");
            c.first_id = d.s32(3);
            c.second_id = d.s32(7);
            break;
        case OPC_DID:
            c.kind = CMD_DID;
            c.operation = d.choice(d.u8(2), did_words, "DID operation");
            c.did = static_cast<int32_t>(d.u16(3));
            if (c.operation == DID_MODIFY) {
                c.modify_a = static_cast<int32_t>(d.u8(5));
                c.modify_b = static_cast<int32_t>(d.u8(6));
                c.modify_op = d.choice(d.u8(7), arith_words, "operator");
                c.modify_value = static_cast<int32_t>(d.u8(8));
            }
            break;
        case OPC_EXHALE:
            c.kind = CMD_EXHALE;
            c.method = d.choice(d.u8(2), method_words, "method");
            c.has_key = d.u8(4);
            if (c.has_key != 0) d.key(c, d.u8(3), d.u32(5));
            break;
        case OPC_EXEC:
            c.kind = CMD_EXEC;
            c.text = d.text(2);
            break;
        case OPC_VERSION:
            c.kind = CMD_VERSION;
            c.text = d.text(2);
            break;
        case OPC_VIN_VERIFY:
            c.kind = CMD_VIN_VERIFY;
            c.text = d.text(2);
            break;
        case OPC_REQ_FILE:
            c.kind = CMD_REQ_FILE;
            c.filename = d.text(2);
            break;
        case OPC_EXIT:
            c.kind = CMD_EXIT;
            break;
        case OPC_GETKEY:
            c.kind = CMD_GETKEY;
            break;
        case OPC_GETTIME:
            c.kind = CMD_GETTIME;
            break;
        case OPC_RETURN:
            c.kind = CMD_RETURN;
            break;
        case OPC_FW_VERSION:
            c.kind = CMD_FW_VERSION;
            c.major = static_cast<int32_t>(d.u16(2));
            c.minor = static_cast<int32_t>(d.u16(4));
            if (!fw_version_text(d.u16(2), d.u16(4)))
                d.problem(format("FW_VERSION with major %u and minor %u cannot be written as XX.YY", d.u16(2),
                                 d.u16(4)));
            break;
        case OPC_HLCD:
        case OPC_LCD:
        case OPC_HUD:
            c.kind = r.code == OPC_HLCD ? CMD_HLCD : r.code == OPC_LCD ? CMD_LCD : CMD_HUD;
            c.row = static_cast<int32_t>(d.u8(2)) + 1;
            c.column = static_cast<int32_t>(d.u8(3)) + 1;
            c.expr = d.expr(4);
            fit_text_on_screen(c, r.code == OPC_HUD ? 32 : 16);
            c.has_floats = d.u8(9);
            if (c.has_floats == 1) d.floats(c, d.u32(10));
            break;
        case OPC_INHALE:
            c.kind = CMD_INHALE;
            c.method = d.choice(d.u8(2), method_words, "method");
            break;
        case OPC_LED:
            c.kind = CMD_LED;
            c.color = d.choice(d.u8(2), color_words, "LED colour");
            c.state = d.choice(d.u8(3), state_words, "LED state");
            break;
        case OPC_LOG:
            c.kind = CMD_LOG;
            c.mode = d.choice(d.u8(2), log_words, "LOG mode");
            c.expr = d.expr(3);
            c.has_floats = d.u8(8);
            if (c.has_floats == 1) d.floats(c, d.u32(9));
            break;
        case OPC_NET:
            c.kind = CMD_NET;
            c.network = d.choice(d.u8(2), net_words, "network");
            c.id_bits = static_cast<int32_t>(d.u8(3));
            c.bit_rate = d.s32(4);
            break;
        case OPC_PERIODIC:
            c.kind = CMD_PERIODIC;
            c.type = d.choice(d.u8(2), msg_words, "PERIODIC type");
            c.period = static_cast<int32_t>(d.u16(3));
            if (c.type == MSG_MSG)
                message_list(d.u32(5), d.u8(9), d.u32(10), d.u32(5) != 0 || d.u8(9) != 0 || d.u32(10) != 0);
            else if (d.u8(9) != 0 || d.u32(10) != 0)
                message_list(0, d.u8(9), d.u32(10), false);
            break;
        case OPC_PROG:
        case OPC_PROGNC:
        case OPC_PROGNR:
            c.kind = r.code == OPC_PROG ? CMD_PROG : r.code == OPC_PROGNC ? CMD_PROGNC : CMD_PROGNR;
            c.has_key = d.u8(3);
            if (c.has_key != 0) d.key(c, d.u8(2), d.u32(4));
            r.image_offset = d.u32(image_offset_at);
            break;
        case OPC_READ:
            c.kind = CMD_READ;
            c.type = d.choice(d.u8(2), msg_words, "READ type");
            c.value = d.s32(3);
            // Only a "0x" number is taken as the value, and the number reader
            // stops at 0x7FFFFFFF; 0xFFFFFFFF stands for no value.
            if (c.value < -1) d.problem(format("READ value 0x%X cannot be written in a script", d.u32(3)));
            break;
        case OPC_WAITKEY:
            c.kind = CMD_WAITKEY;
            c.expr = d.expr(2);
            break;
        case OPC_WRITE:
            c.kind = CMD_WRITE;
            c.type = d.choice(d.u8(2), msg_words, "WRITE type");
            if (c.type == MSG_MSG)
                message_list(d.u32(3), d.u8(7), d.u32(8), d.u32(3) != 0 || d.u8(7) != 0);
            else
                message_list(0, d.u8(7), d.u32(8), false);
            break;
        case OPC_SECURITY:
            c.kind = CMD_SECURITY;
            c.level = static_cast<int32_t>(d.u8(2));
            d.key(c, d.u8(3), d.u32(4));
            break;
        case OPC_REQUEST:
            c.kind = CMD_REQUEST;
            c.bytes = d.bytes(d.u32(7), d.u8(6));
            c.count = static_cast<int32_t>(c.bytes.size());
            break;
        case OPC_SET_VALUE:
            c.kind = CMD_SET_VALUE;
            c.param = d.choice(d.u8(2), param_words, "SET_VALUE parameter");
            c.value = d.s32(3);
            break;
        case OPC_VAR:
            c.kind = CMD_VAR;
            c.index = static_cast<int32_t>(d.u8(2));
            c.assign.op = d.u8(3);
            c.assign.lhs = d.expr(4);
            c.assign.rhs = d.expr(9);
            if (c.assign.op != OP_NONE) d.choice(c.assign.op, arith_words, "operator");
            else if (c.assign.rhs.kind != EXPR_NIL)
                d.problem("an assignment without an operator has a second operand");
            break;
        case OPC_UPLOAD:
        case OPC_DOWNLOAD:
            c.kind = r.code == OPC_UPLOAD ? CMD_UPLOAD : CMD_DOWNLOAD;
            c.first = d.u32(2);
            c.second = d.u32(6);
            break;
        case OPC_MEM:
            c.kind = CMD_MEM;
            c.location = d.s32(2);
            c.op = d.choice(d.u8(6), arith_words, "operator");
            c.data = d.bytes(d.u32(8), d.u8(7));
            c.count = static_cast<int32_t>(c.data.size());
            break;
        default:
            d.problem(format("unknown operation code %u", r.code));
            break;
    }
    return r;
}

// Shortest text that reads back as the same single-precision value, always
// with a point (or the parser takes an integer) and never with "+" (which
// ends a word). Infinity is written as a value beyond the float range.
std::string float_text(float value) {
    if (std::isinf(value)) return value < 0 ? "-1.0e39" : "1.0e39";
    if (std::isnan(value)) return "<not a number>";
    char buf[64];
    const auto result = std::to_chars(buf, buf + sizeof buf, value);
    std::string text(buf, result.ptr);
    const size_t e = text.find('e');
    std::string mantissa = text.substr(0, e);
    std::string exponent = e == std::string::npos ? std::string{} : text.substr(e);
    if (mantissa.find('.') == std::string::npos) mantissa += ".0";
    if (exponent.size() > 1 && exponent[1] == '+') exponent.erase(1, 1);
    return mantissa + exponent;
}

std::string operand_text(const prim_expr& e) {
    switch (e.kind) {
        case EXPR_NUMBER:
            return format("%d", e.number);
        case EXPR_STRING:
            return quoted(e.str);
        case EXPR_ARRAY: {
            std::string text = "{";
            for (size_t i = 0; i < e.array.size(); ++i)
                text += format(i == 0 ? "0x%02X" : ", 0x%02X", static_cast<uint32_t>(e.array[i]) & 0xFF);
            return text + "}";
        }
        case EXPR_VAR:
            return format("VAR[%d]", e.var);
        case EXPR_FLOAT_NUMBER:
            return float_text(e.fvalue);
        default:
            break;
    }
    const std::string_view w = word(expr_words, e.kind);
    if (w.empty()) return format("<operand kind %u>", e.kind);
    if (is_ranged(e.kind)) return format("%.*s[%d,%d]", static_cast<int>(w.size()), w.data(), e.offset, e.length);
    return std::string(w);
}

std::string condition_text(const test_expr& test) {
    return operand_text(test.lhs) + " " + word_or_code(test_words, test.op) + " " + operand_text(test.rhs);
}

std::string statement_text(const command& c) {
    auto w = [](word_list list, uint32_t code) { return word_or_code(list, code); };
    switch (c.kind) {
        case CMD_DAT_CREATE:
        case CMD_DAT_CHECK:
        case CMD_DAT_DELETE:
        case CMD_DAT_INIT: {
            const std::string name(operation_names[OPC_DAT_CREATE + (c.kind - CMD_DAT_CREATE)]);
            if (c.type == DAT_DID) return format("%s DID 0x%X", name.c_str(), static_cast<uint32_t>(c.did));
            return name + " " + w(dat_words, c.type);
        }
        case CMD_DELAY:
            return format("DELAY %d", c.value);
        case CMD_DIAG:
            return "DIAG " + w(diag_words, c.protocol) + " " + hex_number(c.first_id) + " " + hex_number(c.second_id);
        case CMD_DID: {
            std::string text = "DID " + w(did_words, c.operation) + format(" 0x%X", static_cast<uint32_t>(c.did));
            if (c.operation == DID_MODIFY)
                text += format(" %d %d ", c.modify_a, c.modify_b) + w(arith_words, c.modify_op) +
                        format(" %d", c.modify_value);
            return text;
        }
        case CMD_DO: return "DO";
        case CMD_ELSE: return "ELSE";
        case CMD_ENDDO: return "ENDDO";
        case CMD_ENDIF: return "ENDIF";
        case CMD_EXIT: return "EXIT";
        case CMD_GETKEY: return "GETKEY";
        case CMD_GETTIME: return "GETTIME";
        case CMD_RETURN: return "RETURN";
        case CMD_EXHALE:
            return "EXHALE " + w(method_words, c.method) + (c.has_key != 0 ? key_text(c) : std::string{});
        case CMD_INHALE:
            return "INHALE " + w(method_words, c.method);
        case CMD_EXEC:
            return "EXEC " + quoted(c.text);
        case CMD_VERSION:
            return "VERSION " + quoted(c.text);
        case CMD_VIN_VERIFY:
            return "VIN_VERIFY " + quoted(c.text);
        case CMD_REQ_FILE:
            return "REQ_FILE " + quoted(c.filename);
        case CMD_FW_VERSION: {
            const auto major = static_cast<uint32_t>(c.major) & 0xFFFF;
            const auto minor = static_cast<uint32_t>(c.minor) & 0xFFFF;
            return "FW_VERSION " + fw_version_text(major, minor).value_or(format("<major %u minor %u>", major, minor));
        }
        case CMD_HLCD:
        case CMD_HUD:
        case CMD_LCD: {
            const char* name = c.kind == CMD_HLCD ? "HLCD" : c.kind == CMD_HUD ? "HUD" : "LCD";
            return format("%s %d %d ", name, c.row, c.column) + operand_text(c.expr) + floats_text(c);
        }
        case CMD_LOG:
            return "LOG " + w(log_words, c.mode) + " " + operand_text(c.expr) + floats_text(c);
        case CMD_IF:
            return "IF " + condition_text(c.test);
        case CMD_WHILE:
            return "WHILE " + condition_text(c.test);
        case CMD_LED:
            return "LED " + w(color_words, c.color) + " " + w(state_words, c.state);
        case CMD_NET:
            return "NET " + w(net_words, c.network) + format(" %d %d", c.id_bits, c.bit_rate);
        case CMD_PERIODIC:
        case CMD_WRITE: {
            std::string text = c.kind == CMD_PERIODIC ? "PERIODIC " : "WRITE ";
            text += w(msg_words, c.type);
            if (c.kind == CMD_PERIODIC) text += format(" %d", c.period);
            std::span<const int32_t> values(c.bytes);
            if (c.type == MSG_MSG && !values.empty()) {
                text += " " + hex_number(values[0]);
                values = values.subspan(1);
            }
            return text + byte_list(values);
        }
        case CMD_REQUEST:
            return "REQUEST" + byte_list(c.bytes);
        case CMD_PROG:
        case CMD_PROGNC:
        case CMD_PROGNR: {
            const char* name = c.kind == CMD_PROG ? "PROG " : c.kind == CMD_PROGNC ? "PROGNC " : "PROGNR ";
            return name + quoted(c.filename) + (c.has_key != 0 ? key_text(c) : std::string{});
        }
        case CMD_READ:
            return "READ " + w(msg_words, c.type) +
                   (c.value == -1 ? std::string{} : format(" 0x%X", static_cast<uint32_t>(c.value)));
        case CMD_SECURITY:
            return format("SECURITY %d", c.level) + key_text(c);
        case CMD_SET_VALUE:
            return "SET_VALUE " + w(param_words, c.param) + format(" %d", c.value);
        case CMD_WAITKEY:
            return "WAITKEY " + operand_text(c.expr);
        case CMD_GOTO:
            return "GOTO " + c.label;
        case CMD_GOSUB:
            return "GOSUB " + c.label;
        case CMD_LABEL:
            return c.label + ":";
        case CMD_VAR: {
            std::string text = format("VAR[%d] = ", c.index) + operand_text(c.assign.lhs);
            if (c.assign.op != OP_NONE || c.assign.rhs.kind != EXPR_NIL)
                text += " " + w(arith_words, c.assign.op) + " " + operand_text(c.assign.rhs);
            return text;
        }
        case CMD_UPLOAD:
        case CMD_DOWNLOAD:
            return format("%s 0x%X 0x%X", c.kind == CMD_UPLOAD ? "UPLOAD" : "DOWNLOAD", c.first, c.second);
        case CMD_MEM: {
            std::string data = c.data.empty() ? "\"\"" : "0x";
            for (int32_t v : c.data) data += format("%02X", static_cast<uint32_t>(v) & 0xFF);
            return "MEM " + hex_number(c.location) + " " + w(arith_words, c.op) + " " + data;
        }
        default:
            return format("<statement kind %u>", c.kind);
    }
}

std::string instruction_text(const decoded_instruction& insn) {
    if (insn.code == OPC_CMP) return "CMP " + condition_text(insn.cmd.test);
    if (is_jump(insn.code)) return format("%s 0x%04X", operation_names[insn.code].data(), insn.target);
    if (is_programming(insn.code)) {
        return format("%s <image at VBF offset %u>", operation_names[insn.code].data(), insn.image_offset) +
               (insn.cmd.has_key != 0 ? key_text(insn.cmd) : std::string{});
    }
    if (insn.cmd.kind == 0) return format("<unknown operation %u>", insn.code);
    return statement_text(insn.cmd);
}

}  // namespace vendrak::inspect
