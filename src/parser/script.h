// The script tree: the one product of the front end and the one input of the
// validator, the code generator and the listing.
//
// A script is a flat list of `command` records in source order, one per
// statement. Block structure is not nested here: IF, ELSE, ENDIF, DO, WHILE,
// ENDDO and labels are records of their own that later stages pair up.
//
// A record is its line, its kind and its shape: one of the small `*_form`
// structs below, holding exactly the operands of the statement forms that
// share it. Texts, byte lists, array elements and keys live in the script's
// three pools, back to back, and a record names its part of a pool by offset
// and length; so every record has the same small size, whatever its
// statement. Every stage handles the shapes through std::visit with one
// overload per shape and no catch-all: a stage that misses a shape does not
// compile.
//
// The kind and code numbers are part of the contract: later stages index
// tables by them and the encoder writes them into the container.
#pragma once

#include "common/bit_cast.h"
#include <cstdint>
#include <deque>
#include <new>
#include <span>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace vendrak {

enum cmd_kind : uint8_t {
    CMD_DAT_CREATE = 1,
    CMD_DAT_CHECK = 2,
    CMD_DAT_DELETE = 3,
    CMD_DAT_INIT = 4,
    CMD_DELAY = 5,
    CMD_DIAG = 6,
    CMD_DID = 7,
    CMD_DO = 8,
    CMD_ELSE = 9,
    CMD_ENDDO = 10,
    CMD_ENDIF = 11,
    CMD_EXHALE = 12,
    CMD_EXEC = 13,
    CMD_EXIT = 14,
    CMD_FW_VERSION = 15,
    CMD_GETKEY = 16,
    CMD_GETTIME = 17,
    CMD_HLCD = 18,
    CMD_HUD = 19,
    CMD_IF = 20,
    CMD_INHALE = 21,
    CMD_LCD = 22,
    CMD_LED = 23,
    CMD_LOG = 24,
    CMD_NET = 25,
    CMD_PERIODIC = 26,
    CMD_PROG = 27,
    CMD_PROGNC = 28,
    CMD_PROGNR = 29,
    CMD_READ = 30,
    CMD_SECURITY = 31,
    CMD_VERSION = 32,
    CMD_VIN_VERIFY = 33,
    CMD_WAITKEY = 34,
    CMD_WHILE = 35,
    CMD_WRITE = 36,
    CMD_REQUEST = 37,
    CMD_SET_VALUE = 38,
    CMD_GOTO = 39,
    CMD_LABEL = 40,
    CMD_VAR = 41,
    CMD_RETURN = 42,
    CMD_GOSUB = 43,
    CMD_UPLOAD = 44,
    CMD_MEM = 45,
    CMD_DOWNLOAD = 46,
    CMD_REQ_FILE = 47,
};
constexpr uint32_t CMD_LAST = CMD_REQ_FILE;

enum expr_kind : uint8_t {
    EXPR_NONE = 0,
    EXPR_NUMBER = 1,
    EXPR_DATA = 2,
    EXPR_TEXT = 3,
    EXPR_VBAT = 4,
    EXPR_KEY = 5,
    EXPR_STRING = 6,
    EXPR_ENTER = 7,
    EXPR_ESCAPE = 8,
    EXPR_UP = 9,
    EXPR_DOWN = 10,
    EXPR_LEFT = 11,
    EXPR_RIGHT = 12,
    EXPR_ANY = 13,
    EXPR_HEX = 14,
    EXPR_BIT = 15,
    EXPR_ARRAY = 16,
    EXPR_TIME = 17,
    EXPR_FLOAT = 18,
    EXPR_DTC = 19,
    EXPR_DAC = 20,
    EXPR_CH1 = 21,
    EXPR_CH2 = 22,
    EXPR_P_TIME = 23,
    EXPR_VAR = 24,
    EXPR_FLOAT_NUMBER = 25,
    EXPR_NIL = 26,
    EXPR_UDATA = 27,
    EXPR_DTCVAL = 28,
    EXPR_SERNUM = 29,
    EXPR_DAT_STATUS = 30,
    EXPR_AMPS = 31,
    EXPR_IGN_LINE = 32,
    EXPR_VOLTS = 33,
    EXPR_RTC = 34,
};
constexpr uint32_t EXPR_LAST = EXPR_RTC;

// Comparison codes of IF and WHILE conditions.
enum test_code : uint8_t { TEST_EQ = 1, TEST_NE = 2, TEST_LT = 3, TEST_GT = 4, TEST_AND = 5 };

// Arithmetic operator codes of VAR assignments, DID MODIFY and MEM.
enum arith_code : uint8_t {
    OP_NONE = 0,
    OP_ADD = 1,
    OP_SUB = 2,
    OP_MUL = 3,
    OP_DIV = 4,
    OP_AND = 5,
    OP_OR = 6,
    OP_XOR = 7,
    OP_EQUAL = 8,
};

// Choice-word codes of the statements: the position of the word in its list
// (parser/vocabulary.h), counting from 1.
enum dat_type : uint8_t { DAT_VIN = 1, DAT_DID = 2 };
enum diag_protocol : uint8_t { DIAG_ISO14229 = 1, DIAG_KWP2000 = 2 };
enum did_operation : uint8_t { DID_SAVE = 1, DID_RECALL = 2, DID_COMPARE = 3, DID_WRITE = 4, DID_MODIFY = 5 };
enum key_method : uint8_t { METHOD_A = 1, METHOD_B = 2 };
enum led_color : uint8_t { LED_GREEN = 1, LED_RED = 2 };
enum led_state : uint8_t { LED_ON = 1, LED_OFF = 2, LED_TOGGLE = 3 };
enum log_mode : uint8_t { LOG_FILE = 1, LOG_NEW = 2, LOG_ADD = 3 };
enum net_network : uint8_t { NET_CAN_HS = 1, NET_CAN_MS = 2, NET_CAN_FD_HS = 3, NET_CAN_FD_MS = 4, NET_LIN = 5 };
enum msg_type : uint8_t { MSG_SID = 1, MSG_MSG = 2 };
enum set_value_param : uint8_t {
    PARAM_TERMINATION = 1,
    PARAM_INTERFRAME = 2,
    PARAM_BS_TX = 3,
    PARAM_STMIN_TX = 4,
    PARAM_VPROG = 5,
    PARAM_AMPS = 6,
    PARAM_IGN_LINE = 7,
    PARAM_VOLTS = 8,
};

// `size` elements from `at` in one of the script's pools.
template <typename T>
struct pool_ref {
    uint32_t at = 0;
    uint32_t size = 0;
    bool operator==(const pool_ref&) const = default;
};
using text_ref = pool_ref<char>;       // in script::texts
using values_ref = pool_ref<int32_t>;  // in script::values
using bytes_ref = pool_ref<uint8_t>;   // in script::bytes

// One operand: its kind and at most two numbers, which mean by kind
//
//   EXPR_NUMBER          value: the number (of a character constant: its code)
//   DATA TEXT HEX BIT FLOAT UDATA
//                        value: the offset, length: the length
//   EXPR_STRING          value, length: its text in `texts`
//   EXPR_ARRAY           value, length: its elements in `values`
//   EXPR_VAR             value: the variable index
//   EXPR_FLOAT_NUMBER    value: the bits of the single-precision number
//   other kinds          nothing (0, 0)
struct prim_expr {
    expr_kind kind = EXPR_NONE;
    int32_t value = 0;
    int32_t length = 0;

    static prim_expr of(expr_kind kind, int32_t value = 0, int32_t length = 0) { return {kind, value, length}; }
    static prim_expr number_of(int32_t n) { return {EXPR_NUMBER, n, 0}; }
    static prim_expr var_of(int32_t index) { return {EXPR_VAR, index, 0}; }
    static prim_expr float_of(float f) { return {EXPR_FLOAT_NUMBER, bit_cast<int32_t>(f), 0}; }
    static prim_expr string_of(text_ref t) { return {EXPR_STRING, static_cast<int32_t>(t.at), static_cast<int32_t>(t.size)}; }
    static prim_expr array_of(values_ref v) { return {EXPR_ARRAY, static_cast<int32_t>(v.at), static_cast<int32_t>(v.size)}; }

    int32_t number() const { return value; }
    int32_t offset() const { return value; }
    int32_t var() const { return value; }
    float fvalue() const { return bit_cast<float>(value); }
    text_ref text() const { return {static_cast<uint32_t>(value), static_cast<uint32_t>(length)}; }
    values_ref elements() const { return {static_cast<uint32_t>(value), static_cast<uint32_t>(length)}; }

    bool operator==(const prim_expr&) const = default;
};

// The condition of IF and WHILE.
struct test_expr {
    prim_expr lhs;
    prim_expr rhs;
    test_code op{};
    bool operator==(const test_expr&) const = default;
};

// The right side of a VAR assignment; without an operator `rhs` is EXPR_NIL
// and `op` is OP_NONE.
struct arith_expr {
    prim_expr lhs;
    prim_expr rhs;
    arith_code op{};
    bool operator==(const arith_expr&) const = default;
};

// The shapes, each with the statements that have it. A field that a form of
// its statement leaves out stays 0.

// DO ELSE ENDDO ENDIF EXIT GETKEY GETTIME RETURN
struct bare_form {
    bool operator==(const bare_form&) const = default;
};
// DAT_CREATE DAT_CHECK DAT_DELETE DAT_INIT  ("VIN" | "DID" n)
struct dat_form {
    dat_type type{};
    int32_t did = 0;
    bool operator==(const dat_form&) const = default;
};
// DELAY n
struct delay_form {
    int32_t value = 0;
    bool operator==(const delay_form&) const = default;
};
// DIAG protocol n n
struct diag_form {
    diag_protocol protocol{};
    int32_t first_id = 0;
    int32_t second_id = 0;
    bool operator==(const diag_form&) const = default;
};
// DID operation n, DID MODIFY n n n operator n
struct did_form {
    did_operation operation{};
    arith_code modify_op{};
    int32_t did = 0;
    int32_t modify_a = 0;
    int32_t modify_b = 0;
    int32_t modify_value = 0;
    bool operator==(const did_form&) const = default;
};
// INHALE method
struct inhale_form {
    key_method method{};
    bool operator==(const inhale_form&) const = default;
};
// EXHALE method [key]
struct exhale_form {
    key_method method{};
    bool has_key = false;
    bytes_ref key;
    bool operator==(const exhale_form&) const = default;
};
// EXEC VERSION VIN_VERIFY REQ_FILE string
struct text_form {
    text_ref text;
    bool operator==(const text_form&) const = default;
};
// FW_VERSION XX.YY
struct fw_version_form {
    int32_t major = 0;
    int32_t minor = 0;
    bool operator==(const fw_version_form&) const = default;
};
// LCD HLCD HUD row column operand [float float]
struct screen_form {
    int32_t row = 0;
    int32_t column = 0;
    prim_expr expr;
    uint8_t has_floats = 0;
    float float_a = 0;
    float float_b = 0;
    bool operator==(const screen_form&) const = default;
};
// IF WHILE condition
struct condition_form {
    test_expr test;
    bool operator==(const condition_form&) const = default;
};
// LED color state
struct led_form {
    led_color color{};
    led_state state{};
    bool operator==(const led_form&) const = default;
};
// LOG mode operand [float float]
struct log_form {
    log_mode mode{};
    uint8_t has_floats = 0;
    prim_expr expr;
    float float_a = 0;
    float float_b = 0;
    bool operator==(const log_form&) const = default;
};
// NET network n n
struct net_form {
    net_network network{};
    int32_t id_bits = 0;
    int32_t bit_rate = 0;
    bool operator==(const net_form&) const = default;
};
// PERIODIC type period values
struct periodic_form {
    msg_type type{};
    int32_t period = 0;
    values_ref bytes;
    bool operator==(const periodic_form&) const = default;
};
// WRITE type values
struct write_form {
    msg_type type{};
    values_ref bytes;
    bool operator==(const write_form&) const = default;
};
// REQUEST values
struct request_form {
    values_ref bytes;
    bool operator==(const request_form&) const = default;
};
// PROG PROGNC PROGNR file-name [key]
struct prog_form {
    text_ref filename;
    bool has_key = false;
    bytes_ref key;
    bool operator==(const prog_form&) const = default;
};
// READ type [n]; `value` is -1 without the number
struct read_form {
    msg_type type{};
    int32_t value = 0;
    bool operator==(const read_form&) const = default;
};
// SECURITY level key
struct security_form {
    int32_t level = 0;
    bytes_ref key;
    bool operator==(const security_form&) const = default;
};
// SET_VALUE parameter n
struct set_value_form {
    set_value_param param{};
    int32_t value = 0;
    bool operator==(const set_value_form&) const = default;
};
// WAITKEY operand
struct waitkey_form {
    prim_expr expr;
    bool operator==(const waitkey_form&) const = default;
};
// GOTO GOSUB name, and labels (the name without its trailing colons)
struct label_form {
    text_ref name;
    bool operator==(const label_form&) const = default;
};
// VAR[index] = assignment
struct assignment_form {
    int32_t index = 0;
    arith_expr assign;
    bool operator==(const assignment_form&) const = default;
};
// UPLOAD DOWNLOAD u u
struct transfer_form {
    uint32_t first = 0;
    uint32_t second = 0;
    bool operator==(const transfer_form&) const = default;
};
// MEM location operator data; the data are byte values or the codes of a
// string's characters
struct mem_form {
    int32_t location = 0;
    arith_code op{};
    bytes_ref data;
    bool operator==(const mem_form&) const = default;
};

using command_form =
    std::variant<bare_form, dat_form, delay_form, diag_form, did_form, inhale_form, exhale_form, text_form,
                 fw_version_form, screen_form, condition_form, led_form, log_form, net_form, periodic_form,
                 write_form, request_form, prog_form, read_form, security_form, set_value_form, waitkey_form,
                 label_form, assignment_form, transfer_form, mem_form>;

// The shape of each kind, with every field 0.
constexpr command_form empty_form(cmd_kind kind) {
    switch (kind) {
        case CMD_DO:
        case CMD_ELSE:
        case CMD_ENDDO:
        case CMD_ENDIF:
        case CMD_EXIT:
        case CMD_GETKEY:
        case CMD_GETTIME:
        case CMD_RETURN: return bare_form{};
        case CMD_DAT_CREATE:
        case CMD_DAT_CHECK:
        case CMD_DAT_DELETE:
        case CMD_DAT_INIT: return dat_form{};
        case CMD_DELAY: return delay_form{};
        case CMD_DIAG: return diag_form{};
        case CMD_DID: return did_form{};
        case CMD_INHALE: return inhale_form{};
        case CMD_EXHALE: return exhale_form{};
        case CMD_EXEC:
        case CMD_VERSION:
        case CMD_VIN_VERIFY:
        case CMD_REQ_FILE: return text_form{};
        case CMD_FW_VERSION: return fw_version_form{};
        case CMD_LCD:
        case CMD_HLCD:
        case CMD_HUD: return screen_form{};
        case CMD_IF:
        case CMD_WHILE: return condition_form{};
        case CMD_LED: return led_form{};
        case CMD_LOG: return log_form{};
        case CMD_NET: return net_form{};
        case CMD_PERIODIC: return periodic_form{};
        case CMD_WRITE: return write_form{};
        case CMD_REQUEST: return request_form{};
        case CMD_PROG:
        case CMD_PROGNC:
        case CMD_PROGNR: return prog_form{};
        case CMD_READ: return read_form{};
        case CMD_SECURITY: return security_form{};
        case CMD_SET_VALUE: return set_value_form{};
        case CMD_WAITKEY: return waitkey_form{};
        case CMD_GOTO:
        case CMD_GOSUB:
        case CMD_LABEL: return label_form{};
        case CMD_VAR: return assignment_form{};
        case CMD_UPLOAD:
        case CMD_DOWNLOAD: return transfer_form{};
        case CMD_MEM: return mem_form{};
    }
    return bare_form{};
}

// One statement.
struct command {
    uint32_t line = 0;  // the line on which the statement's last token ends
    cmd_kind kind : 8 = {};
    // Where the statement's first token begins on its line, counting bytes
    // from 1; it stops at 16,777,215.
    uint32_t column : 24 = 0;
    command_form form;

    static constexpr uint32_t max_column = (1u << 24) - 1;

    bool operator==(const command&) const = default;
};
static_assert(sizeof(command) <= 44, "a statement record grows with every script line: keep it small");

// The parsed script: its commands in source order and the pools they point
// into. The pools only grow while the script is built, so a reference stays
// valid for the life of the script.
struct script {
    std::deque<command> commands;  // a deque: appending never moves the records already parsed
    std::string texts;             // strings, file names, labels
    std::vector<int32_t> values;   // number lists and array elements
    std::vector<uint8_t> bytes;    // keys and MEM data

    std::string_view text(text_ref r) const { return std::string_view(texts).substr(r.at, r.size); }
    std::span<const int32_t> values_of(values_ref r) const { return std::span(values).subspan(r.at, r.size); }
    std::span<const uint8_t> bytes_of(bytes_ref r) const { return std::span(bytes).subspan(r.at, r.size); }

    text_ref add_text(std::string_view t) {
        const text_ref r{room(texts, t.size()), static_cast<uint32_t>(t.size())};
        texts.append(t);
        return r;
    }
    values_ref add_values(std::span<const int32_t> v) {
        const values_ref r{room(values, v.size()), static_cast<uint32_t>(v.size())};
        values.insert(values.end(), v.begin(), v.end());
        return r;
    }
    bytes_ref add_bytes(std::span<const uint8_t> b) {
        const bytes_ref r{room(bytes, b.size()), static_cast<uint32_t>(b.size())};
        bytes.insert(bytes.end(), b.begin(), b.end());
        return r;
    }

    // The offset at which `more` elements join `pool`. Offsets and lengths
    // are 32 bits: a pool that would pass 4 Gi elements counts as memory
    // running out.
    template <typename Pool>
    static uint32_t room(const Pool& pool, size_t more) {
        if (more >= UINT32_MAX - pool.size()) throw std::bad_alloc();
        return static_cast<uint32_t>(pool.size());
    }
};

}  // namespace vendrak
