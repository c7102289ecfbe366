// Program assembly: one pass over the script that numbers the instructions,
// lays out the jumps of IF/ELSE/ENDIF, DO/ENDDO/WHILE and GOTO/GOSUB, and
// closes the program with an OPC_EXIT.
//
// A jump whose target is not known yet is emitted open and patched when the
// target turns up (ENDIF, ELSE, WHILE, or the label pass at the end).
#include <string>
#include <unordered_map>
#include <vector>

#include "common/bytes.h"
#include "common/fatal.h"
#include "compile/compile.h"

namespace vendrak {
namespace {

constexpr uint32_t no_code = 0;

// An IF still waiting for its ENDIF: its pending jump is the JF of the IF
// itself, or the JMP of its latest ELSE.
struct open_if {
    size_t pending_jump;
    uint32_t line;
};

struct open_do {
    uint32_t start;
    uint32_t line;
};

struct pending_label_jump {
    size_t jump;
    std::string label;
    uint32_t line;
};

class assembler {
public:
    explicit assembler(program& out) : out_(out) {}

    void take(const command& cmd) {
        switch (cmd.kind) {
            case CMD_IF:
                encode(cmd);
                ifs_.push_back({emit_jump(OPC_JF), cmd.line});
                break;
            case CMD_ELSE: {
                if (ifs_.empty()) fail(out_stream::err, "[%d] Error: ELSE with no IF\n", cmd.line);
                const size_t jump = emit_jump(OPC_JMP);
                // The skipped branch resumes right after this ELSE's own JMP.
                set_target(ifs_.back().pending_jump, next_address());
                ifs_.back().pending_jump = jump;
                break;
            }
            case CMD_ENDIF:
                if (ifs_.empty()) fail(out_stream::err, "[%d] Error: ENDIF with no IF\n", cmd.line);
                set_target(ifs_.back().pending_jump, next_address());
                ifs_.pop_back();
                break;
            case CMD_DO:
                dos_.push_back({next_address(), cmd.line});
                break;
            case CMD_ENDDO:
                if (dos_.empty()) fail(out_stream::err, "[%d] Error: WHILE with no DO\n", cmd.line);
                enddos_.push_back(emit_jump(no_code));
                break;
            case CMD_WHILE: {
                if (dos_.empty()) fail(out_stream::err, "[%d] Error: WHILE with no DO\n", cmd.line);
                encode(cmd);
                set_target(emit_jump(OPC_JT), dos_.back().start);
                dos_.pop_back();
                // Every ENDDO since the last WHILE leaves to here, whichever
                // loop it stands in.
                for (size_t jump : enddos_) {
                    set_code(jump, OPC_JMP);
                    set_target(jump, next_address());
                }
                enddos_.clear();
                break;
            }
            case CMD_GOTO:
                gotos_.push_back({emit_jump(no_code), cmd.label, cmd.line});
                break;
            case CMD_GOSUB:
                gosubs_.push_back({emit_jump(no_code), cmd.label, cmd.line});
                break;
            case CMD_LABEL:
                // The first label of a name wins.
                labels_.emplace(cmd.label, next_address());
                break;
            case CMD_PROG:
            case CMD_PROGNC:
            case CMD_PROGNR:
                out_.vbfs.push_back({cmd.filename, encode(cmd), 0});
                break;
            default:
                encode(cmd);
                break;
        }
    }

    void finish() {
        resolve(gotos_, OPC_JMP);
        resolve(gosubs_, OPC_JMPS);
        command exit_cmd;
        exit_cmd.kind = CMD_EXIT;
        encode(exit_cmd);
        if (!ifs_.empty()) fail(out_stream::err, "[%d] Error: Unterminated IF\n", ifs_.back().line);
        if (!dos_.empty()) fail(out_stream::err, "[%d] Error: Unterminated DO\n", dos_.back().line);
    }

private:
    uint32_t next_address() const { return static_cast<uint32_t>(out_.instructions.size() * opcode_size); }

    size_t append() {
        instruction insn;
        insn.address = next_address();
        out_.instructions.push_back(insn);
        return out_.instructions.size() - 1;
    }

    size_t encode(const command& cmd) {
        const size_t at = append();
        make_opcode(out_.instructions[at], cmd, out_.string_table, out_.data_table);
        return at;
    }

    // A jump with its target still open; `code` is filled in later for the
    // jumps whose kind is known only once they are resolved.
    size_t emit_jump(uint32_t code) {
        const size_t at = append();
        set_code(at, code);
        return at;
    }

    void set_code(size_t jump, uint32_t code) { byte_writer(out_.instructions[jump].opcode).u16le(0, code); }
    void set_target(size_t jump, uint32_t target) {
        byte_writer(out_.instructions[jump].opcode).u32le(jump_target_at, target);
    }

    void resolve(const std::vector<pending_label_jump>& pending, uint32_t code) {
        for (const pending_label_jump& p : pending) {
            const auto found = labels_.find(p.label);
            if (found == labels_.end())
                fail(out_stream::err, "[%d] Error: Invalid label '%s'\n", p.line, p.label.c_str());
            set_code(p.jump, code);
            set_target(p.jump, found->second);
        }
    }

    program& out_;
    std::vector<open_if> ifs_;
    std::vector<open_do> dos_;
    std::vector<size_t> enddos_;
    std::vector<pending_label_jump> gotos_;
    std::vector<pending_label_jump> gosubs_;
    std::unordered_map<std::string, uint32_t> labels_;  // name -> address of its first definition
};

}  // namespace

void compile_script(const script& s, program& out) {
    assembler a(out);
    for (const command& cmd : s.commands) a.take(cmd);
    a.finish();
}

}  // namespace vendrak
