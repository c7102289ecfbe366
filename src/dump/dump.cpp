// The listing: turns each record of the script tree back into one line of
// readable text. It only reads the tree and never fails; a kind or code it
// has no text for shows as "???".
//
// Texts grow as needed, so strings, arrays and byte lists are listed whole.
// The texts of the tree are taken as C strings (up to a NUL, as "%s" takes
// them), so the returned line is exactly what dump_script prints.
// Numbers go through printf conversions, so "%X" of a negative field shows
// its 32-bit pattern and "%f" shows a float promoted to double, six decimals.
#include "dump/dump.h"

#include <algorithm>
#include <cstddef>

#include "common/fatal.h"

namespace vendrak {
namespace {

constexpr const char* UNKNOWN = "???";

// Operand kinds that list as their keyword alone, indexed by kind; no entry
// where the kind has a text of its own or none at all.
constexpr const char* EXPR_KEYWORDS[] = {
    nullptr,       // EXPR_NONE
    nullptr,       // EXPR_NUMBER
    nullptr,       // EXPR_DATA
    nullptr,       // EXPR_TEXT
    "VBAT",        // EXPR_VBAT
    "KEY",         // EXPR_KEY
    nullptr,       // EXPR_STRING
    "ENTER",       // EXPR_ENTER
    "ESCAPE",      // EXPR_ESCAPE
    "UP",          // EXPR_UP
    "DOWN",        // EXPR_DOWN
    "LEFT",        // EXPR_LEFT
    "RIGHT",       // EXPR_RIGHT
    "ANY",         // EXPR_ANY
    nullptr,       // EXPR_HEX
    nullptr,       // EXPR_BIT
    nullptr,       // EXPR_ARRAY
    "TIME",        // EXPR_TIME
    nullptr,       // EXPR_FLOAT
    "DTC",         // EXPR_DTC
    "DAC",         // EXPR_DAC
    "CH1",         // EXPR_CH1
    "CH2",         // EXPR_CH2
    "P_TIME",      // EXPR_P_TIME
    nullptr,       // EXPR_VAR
    nullptr,       // EXPR_FLOAT_NUMBER
    "NIL",         // EXPR_NIL
    nullptr,       // EXPR_UDATA
    "DTCVAL",      // EXPR_DTCVAL
    "SERNUM",      // EXPR_SERNUM
    "DAT_STATUS",  // EXPR_DAT_STATUS
    "AMPS",        // EXPR_AMPS
    "IGN_LINE",    // EXPR_IGN_LINE
    "VOLTS",       // EXPR_VOLTS
    "RTC",         // EXPR_RTC
};

// The word for `code` from a table indexed by code, or `fallback` when the
// code lies outside it or has no word there.
template <std::size_t N>
const char* word_for(const char* const (&words)[N], uint32_t code, const char* fallback) {
    if (code < N && words[code] != nullptr) return words[code];
    return fallback;
}

constexpr const char* TEST_SYMBOLS[] = {nullptr, "=", "!", "<", ">", "&"};
constexpr const char* ARITH_SYMBOLS[] = {nullptr, "+", "-", "*", "/", "&", "|", "^", "="};

// The bracketed range kinds: their name, then "[offset,length]".
const char* range_name(uint32_t kind) {
    switch (kind) {
    case EXPR_DATA: return "DATA";
    case EXPR_TEXT: return "TEXT";
    case EXPR_HEX: return "HEX";
    case EXPR_BIT: return "BIT";
    case EXPR_FLOAT: return "FLOAT";
    case EXPR_UDATA: return "UDATA";
    default: return nullptr;
    }
}

// The number of leading elements of `values` that a count field names,
// never more than the values held.
template <typename Container>
std::size_t listed(const Container& values, int64_t count) {
    if (count <= 0) return 0;
    return std::min(values.size(), static_cast<std::size_t>(count));
}

// "0x" and each key byte as two upper-case digits, then a blank.
void append_key(std::string& out, const command& cmd) {
    out += "0x";
    for (std::size_t i = 0; i < listed(cmd.key, cmd.key_len); ++i) out += format("%02X", cmd.key[i]);
    out += ' ';
}

// "0x%X " for each of the first `count` values of a byte list.
void append_hex_list(std::string& out, const std::vector<int32_t>& values, int32_t count) {
    for (std::size_t i = 0; i < listed(values, count); ++i)
        out += format("0x%X ", static_cast<unsigned>(values[i]));
}

// The operator of DID MODIFY and MEM: its symbol and a blank.
void append_operator(std::string& out, uint32_t op) {
    out += word_for(ARITH_SYMBOLS, op, "?");
    out += ' ';
}

const char* sid_or_msg(uint32_t type) { return type == MSG_SID ? "SID " : "MSG "; }

// The screen and log floats, when the statement carries them.
void append_floats(std::string& out, const command& cmd) {
    if (cmd.has_floats == 1)
        out += format(" %f %f ", static_cast<double>(cmd.float_a), static_cast<double>(cmd.float_b));
}

void append_dat(std::string& out, const char* name, const command& cmd) {
    out += name;
    if (cmd.type == DAT_VIN)
        out += "VIN ";
    else
        out += format("DID 0x%X", static_cast<unsigned>(cmd.did));
}

void append_did(std::string& out, const command& cmd) {
    constexpr const char* operations[] = {nullptr, "SAVE ", "RECALL ", "COMPARE ", "WRITE ", "MODIFY "};
    out += "DID ";
    out += word_for(operations, cmd.operation, "UNKNOWN ");
    out += format("0x%X ", static_cast<unsigned>(cmd.did));
    if (cmd.operation != DID_MODIFY) return;
    out += format("%d %d ", cmd.modify_a, cmd.modify_b);
    append_operator(out, cmd.modify_op);
    out += format("0x%02X ", static_cast<unsigned>(cmd.modify_value));
}

void append_screen(std::string& out, const char* name, const command& cmd) {
    out += format("%s %d %d ", name, cmd.row, cmd.column);
    out += dump_prim_expr(cmd.expr);
    append_floats(out, cmd);
}

void append_log(std::string& out, const command& cmd) {
    constexpr const char* modes[] = {nullptr, "FILE ", "NEW ", "ADD "};
    out += "LOG ";
    out += word_for(modes, cmd.mode, "");
    out += dump_prim_expr(cmd.expr);
    append_floats(out, cmd);
}

void append_led(std::string& out, const command& cmd) {
    out += "LED ";
    out += cmd.color == LED_GREEN ? "GREEN " : "RED ";
    if (cmd.state == LED_ON)
        out += "ON ";
    else if (cmd.state == LED_OFF)
        out += "OFF ";
    else
        out += "TOGGLE ";
}

void append_net(std::string& out, const command& cmd) {
    constexpr const char* networks[] = {nullptr, "CAN_HS ", "CAN_MS ", "CAN_FD_HS ", "CAN_FD_MS ", "LIN "};
    out += "NET ";
    out += word_for(networks, cmd.network, "");
    out += format("%d %d", cmd.id_bits, cmd.bit_rate);
}

void append_set_value(std::string& out, const command& cmd) {
    constexpr const char* params[] = {nullptr,      "TERMINATION ", "INTERFRAME ", "BS_TX ",
                                      "STMIN_TX ",  "VPROG ",       "AMPS ",       "IGN_LINE ",
                                      "VOLTS "};
    out += "SET_VALUE ";
    out += word_for(params, cmd.param, "");
    out += format("%d", cmd.value);
}

// WAITKEY names only the key kinds; any other operand lists as nothing.
void append_waitkey(std::string& out, const command& cmd) {
    out += "WAITKEY ";
    if (cmd.expr.kind >= EXPR_ENTER && cmd.expr.kind <= EXPR_ANY) {
        out += EXPR_KEYWORDS[cmd.expr.kind];
        out += ' ';
    }
}

void append_prog(std::string& out, const char* name, const command& cmd) {
    out += name;
    out += " \"";
    out += cmd.filename.c_str();
    out += "\" ";
    if (cmd.has_key != 0) append_key(out, cmd);
}

// A keyword and a quoted text with a blank after it (EXEC, VERSION, ...).
void append_quoted(std::string& out, const char* name, const std::string& text) {
    out += name;
    out += " \"";
    out += text.c_str();
    out += "\" ";
}

void append_mem(std::string& out, const command& cmd) {
    out += format("MEM %d ", cmd.location);
    append_operator(out, cmd.op);
    out += "0x";
    for (std::size_t i = 0; i < listed(cmd.data, cmd.count); ++i)
        out += format("%02X", static_cast<unsigned>(cmd.data[i]) & 0xFFu);
    out += ' ';
}

}  // namespace

std::string dump_prim_expr(const prim_expr& expr) {
    std::string out;
    if (const char* keyword = word_for(EXPR_KEYWORDS, expr.kind, nullptr)) {
        out = keyword;
    } else if (const char* range = range_name(expr.kind)) {
        out = format("%s[%d,%d]", range, expr.offset, expr.length);
    } else {
        switch (expr.kind) {
        case EXPR_NUMBER: out = format("%d", expr.number); break;
        case EXPR_STRING:
            // Quoted as it stands: nothing inside is escaped.
            out = '"';
            out += expr.str.c_str();
            out += '"';
            break;
        case EXPR_ARRAY:
            out = "{ ";
            for (std::size_t i = 0; i < listed(expr.array, expr.length); ++i)
                out += format("0x%02x ", static_cast<unsigned>(expr.array[i]));
            out += '}';
            break;
        case EXPR_VAR: out = format("VAR[%d]", expr.var); break;
        case EXPR_FLOAT_NUMBER: out = format("%f", static_cast<double>(expr.fvalue)); break;
        default: out = UNKNOWN; break;
        }
    }
    out += ' ';
    return out;
}

std::string dump_test_expr(const test_expr& test) {
    std::string out = dump_prim_expr(test.lhs);
    out += word_for(TEST_SYMBOLS, test.op, UNKNOWN);
    out += ' ';
    out += dump_prim_expr(test.rhs);
    return out;
}

// Without an operator (rhs NIL) neither symbol nor rhs is listed, but the
// blank between them still is: "7  ".
std::string dump_arith_expr(const arith_expr& assign) {
    std::string out = dump_prim_expr(assign.lhs);
    const bool has_rhs = assign.rhs.kind != EXPR_NIL;
    if (has_rhs) out += word_for(ARITH_SYMBOLS, assign.op, UNKNOWN);
    out += ' ';
    if (has_rhs) out += dump_prim_expr(assign.rhs);
    return out;
}

std::string dump_command(const command& cmd) {
    std::string out;
    switch (cmd.kind) {
    case CMD_DAT_CREATE: append_dat(out, "DAT_CREATE ", cmd); break;
    case CMD_DAT_CHECK: append_dat(out, "DAT_CHECK ", cmd); break;
    case CMD_DAT_DELETE: append_dat(out, "DAT_DELETE ", cmd); break;
    case CMD_DAT_INIT: append_dat(out, "DAT_INIT ", cmd); break;
    case CMD_DELAY: out = format("DELAY %d", cmd.value); break;
    case CMD_DIAG:
        out = cmd.protocol == DIAG_ISO14229 ? "DIAG ISO14229 " : "DIAG KWP2000 ";
        out += format("0x%X 0x%X", static_cast<unsigned>(cmd.first_id), static_cast<unsigned>(cmd.second_id));
        break;
    case CMD_DID: append_did(out, cmd); break;
    case CMD_DO: out = "DO"; break;
    case CMD_ELSE: out = "ELSE"; break;
    case CMD_ENDDO: out = "ENDDO"; break;
    case CMD_ENDIF: out = "ENDIF"; break;
    case CMD_EXIT: out = "EXIT"; break;
    case CMD_GETKEY: out = "GETKEY"; break;
    case CMD_GETTIME: out = "GETTIME"; break;
    case CMD_RETURN: out = "RETURN"; break;
    case CMD_EXHALE:
        out = cmd.method == METHOD_A ? "EXHALE A " : "EXHALE B ";
        if (cmd.has_key != 0) append_key(out, cmd);
        break;
    case CMD_INHALE: out = cmd.method == METHOD_A ? "INHALE A " : "INHALE B "; break;
    case CMD_EXEC: append_quoted(out, "EXEC", cmd.text); break;
    case CMD_REQ_FILE: append_quoted(out, "REQ_FILE", cmd.filename); break;
    case CMD_VERSION: append_quoted(out, "VERSION", cmd.text); break;
    case CMD_VIN_VERIFY: append_quoted(out, "VIN_VERIFY", cmd.text); break;
    case CMD_FW_VERSION: out = format("FW_VERSION %d.%d", cmd.major, cmd.minor); break;
    case CMD_HLCD: append_screen(out, "HLCD", cmd); break;
    case CMD_HUD: append_screen(out, "HUD", cmd); break;
    case CMD_LCD: append_screen(out, "LCD", cmd); break;
    case CMD_LOG: append_log(out, cmd); break;
    case CMD_IF: out = "IF " + dump_test_expr(cmd.test); break;
    case CMD_WHILE: out = "WHILE " + dump_test_expr(cmd.test); break;
    case CMD_LED: append_led(out, cmd); break;
    case CMD_NET: append_net(out, cmd); break;
    case CMD_PERIODIC:
        out = "PERIODIC ";
        out += sid_or_msg(cmd.type);
        out += format("%d ", cmd.period);
        append_hex_list(out, cmd.bytes, cmd.count);
        break;
    case CMD_WRITE:
        out = "WRITE ";
        out += sid_or_msg(cmd.type);
        append_hex_list(out, cmd.bytes, cmd.count);
        break;
    case CMD_REQUEST:
        out = "REQUEST ";
        append_hex_list(out, cmd.bytes, cmd.count);
        break;
    case CMD_READ:
        // A READ without a number holds -1; no number is listed for 0 either.
        out = "READ ";
        out += sid_or_msg(cmd.type);
        if (cmd.value > 0) out += format("%d ", cmd.value);
        break;
    case CMD_PROG: append_prog(out, "PROG", cmd); break;
    case CMD_PROGNC: append_prog(out, "PROGNC", cmd); break;
    case CMD_PROGNR: append_prog(out, "PROGNR", cmd); break;
    case CMD_SECURITY:
        out = format("SECURITY %d ", cmd.level);
        append_key(out, cmd);
        break;
    case CMD_SET_VALUE: append_set_value(out, cmd); break;
    case CMD_WAITKEY: append_waitkey(out, cmd); break;
    case CMD_GOTO: out = "GOTO " + std::string(cmd.label.c_str()); break;
    case CMD_GOSUB: out = "GOSUB " + std::string(cmd.label.c_str()); break;
    case CMD_LABEL: out = std::string(cmd.label.c_str()) + ":"; break;
    case CMD_VAR: out = format("VAR[%d] = ", cmd.index) + dump_arith_expr(cmd.assign); break;
    case CMD_UPLOAD: out = format("UPLOAD 0x%X 0x%X", cmd.first, cmd.second); break;
    case CMD_DOWNLOAD: out = format("DOWNLOAD 0x%X 0x%X", cmd.first, cmd.second); break;
    case CMD_MEM: append_mem(out, cmd); break;
    default: out = UNKNOWN; break;
    }
    return out;
}

void dump_script(const script& s, std::FILE* out) {
    for (const command& cmd : s.commands)
        std::fprintf(out, ":%d::%s\n", static_cast<int>(cmd.line), dump_command(cmd).c_str());
}

}  // namespace vendrak
