// The script tree: the one product of the front end and the one input of the
// validator, the code generator and the listing.
//
// A script is a flat list of `command` records in source order, one per
// statement. Block structure is not nested here: IF, ELSE, ENDIF, DO, WHILE,
// ENDDO and labels are records of their own that later stages pair up.
// The kind and code numbers are part of the contract: later stages index
// tables by them and the encoder writes them into the container.
#pragma once

#include <array>
#include <cstdint>
#include <deque>
#include <string>
#include <vector>

namespace vendrak {

enum cmd_kind : uint32_t {
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

enum expr_kind : uint32_t {
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

// Comparison codes of IF and WHILE conditions.
enum test_code : uint32_t {
    TEST_EQ = 1,   // "="
    TEST_NE = 2,   // "!" or "!="
    TEST_LT = 3,   // "<"
    TEST_GT = 4,   // ">"
    TEST_AND = 5,  // "&"
};

// Arithmetic operator codes of VAR assignments, DID MODIFY and MEM.
enum arith_code : uint32_t {
    OP_NONE = 0,
    OP_ADD = 1,    // "+"
    OP_SUB = 2,    // "-"
    OP_MUL = 3,    // "*"
    OP_DIV = 4,    // "/"
    OP_AND = 5,    // "&"
    OP_OR = 6,     // "|"
    OP_XOR = 7,    // "^"
    OP_EQUAL = 8,  // "="
};

// Choice-word codes of the statements.
enum dat_type : uint32_t { DAT_VIN = 1, DAT_DID = 2 };
enum diag_protocol : uint32_t { DIAG_ISO14229 = 1, DIAG_KWP2000 = 2 };
enum did_operation : uint32_t { DID_SAVE = 1, DID_RECALL = 2, DID_COMPARE = 3, DID_WRITE = 4, DID_MODIFY = 5 };
enum key_method : uint32_t { METHOD_A = 1, METHOD_B = 2 };
enum led_color : uint32_t { LED_GREEN = 1, LED_RED = 2 };
enum led_state : uint32_t { LED_ON = 1, LED_OFF = 2, LED_TOGGLE = 3 };
enum log_mode : uint32_t { LOG_FILE = 1, LOG_NEW = 2, LOG_ADD = 3 };
enum net_network : uint32_t { NET_CAN_HS = 1, NET_CAN_MS = 2, NET_CAN_FD_HS = 3, NET_CAN_FD_MS = 4, NET_LIN = 5 };
enum msg_type : uint32_t { MSG_SID = 1, MSG_MSG = 2 };
enum set_value_param : uint32_t {
    PARAM_TERMINATION = 1,
    PARAM_INTERFRAME = 2,
    PARAM_BS_TX = 3,
    PARAM_STMIN_TX = 4,
    PARAM_VPROG = 5,
    PARAM_AMPS = 6,
    PARAM_IGN_LINE = 7,
    PARAM_VOLTS = 8,
};

// One operand. Fields a kind does not use stay 0 or empty.
struct prim_expr {
    uint32_t kind = EXPR_NONE;
    std::string str;             // EXPR_STRING: text without quotes; character constant: the character
    int32_t number = 0;          // EXPR_NUMBER
    std::vector<int32_t> array;  // EXPR_ARRAY: the elements
    int32_t offset = 0;          // first number of a bracketed range
    int32_t length = 0;          // second number of a range; EXPR_ARRAY: element count
    int32_t var = 0;             // EXPR_VAR: variable index
    float fvalue = 0.0f;         // EXPR_FLOAT_NUMBER

    bool operator==(const prim_expr&) const = default;
};

// Two operands and a code: the condition of IF and WHILE (`test_code`) and
// the right side of a VAR assignment (`arith_code`; without an operator
// `rhs` is EXPR_NIL and `op` is 0).
struct test_expr {
    prim_expr lhs;
    prim_expr rhs;
    uint32_t op = 0;

    bool operator==(const test_expr&) const = default;
};
using arith_expr = test_expr;

// One statement. Every record starts out zero-filled; each statement form sets
// the fields its kind uses (see the comments), the rest stay 0 or empty.
struct command {
    uint32_t line = 0;  // the line on which the statement's last token ends
    uint32_t kind = 0;  // cmd_kind

    uint32_t type = 0;       // DAT_*: dat_type; PERIODIC, READ, WRITE: msg_type
    int32_t did = 0;         // DAT_* (DID form), DID
    int32_t value = 0;       // DELAY, READ (-1 when absent), SET_VALUE
    uint32_t protocol = 0;   // DIAG
    int32_t first_id = 0;    // DIAG
    int32_t second_id = 0;   // DIAG
    uint32_t operation = 0;  // DID: did_operation
    int32_t modify_a = 0;    // DID MODIFY
    int32_t modify_b = 0;
    uint32_t modify_op = 0;  // arith_code
    int32_t modify_value = 0;
    uint32_t method = 0;     // EXHALE, INHALE: key_method
    uint32_t key_len = 0;    // EXHALE, PROG*, SECURITY
    uint32_t has_key = 0;    // EXHALE, PROG*
    std::array<uint8_t, 32> key{};   // one byte value per element, the first key_len in use
    std::string text;        // EXEC, VERSION, VIN_VERIFY
    int32_t major = 0;       // FW_VERSION
    int32_t minor = 0;
    int32_t row = 0;         // LCD, HLCD, HUD
    int32_t column = 0;
    uint32_t mode = 0;       // LOG: log_mode (stands in the place of `row`)
    prim_expr expr;          // LCD, HLCD, HUD, LOG, WAITKEY
    uint32_t has_floats = 0; // LCD, HLCD, HUD, LOG
    float float_a = 0.0f;
    float float_b = 0.0f;
    test_expr test;          // IF, WHILE
    uint32_t color = 0;      // LED: led_color
    uint32_t state = 0;      // LED: led_state
    uint32_t network = 0;    // NET: net_network
    int32_t id_bits = 0;     // NET
    int32_t bit_rate = 0;
    int32_t period = 0;      // PERIODIC
    int32_t count = 0;       // PERIODIC, WRITE, REQUEST: bytes.size(); MEM: data.size()
    std::vector<int32_t> bytes;  // PERIODIC, WRITE, REQUEST
    std::string filename;    // PROG, PROGNC, PROGNR, REQ_FILE
    int32_t level = 0;       // SECURITY
    uint32_t param = 0;      // SET_VALUE: set_value_param
    std::string label;       // GOTO, GOSUB, LABEL (trailing colons removed)
    int32_t index = 0;       // VAR: assigned variable
    arith_expr assign;       // VAR
    uint32_t first = 0;      // UPLOAD, DOWNLOAD
    uint32_t second = 0;
    int32_t location = 0;    // MEM
    uint32_t op = 0;         // MEM: arith_code
    std::vector<int32_t> data;  // MEM: byte values or character codes

    bool operator==(const command&) const = default;
};

// The parsed script: its commands in source order. The script owns every
// record, text and array; a flash-file entry of the code generator copies the
// file name it needs.
struct script {
    std::deque<command> commands;  // a deque: appending never moves the records already parsed
};

}  // namespace vendrak
