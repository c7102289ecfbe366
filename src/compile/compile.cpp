// Program assembly: one pass over the script that numbers the instructions,
// lays out the jumps of IF/ELSE/ENDIF, DO/ENDDO/WHILE and GOTO/GOSUB, and
// closes the program with an OPC_EXIT.
//
// A jump whose target is not known yet is emitted open and patched when the
// target turns up (ENDIF, ELSE, WHILE, or the label pass at the end).
#include <string_view>
#include <unordered_map>
#include <vector>

#include "common/fatal.h"
#include "compile/compile.h"

namespace vendrak {
namespace {

constexpr uint32_t no_code = 0;

// An IF still waiting for its ENDIF: its pending jump is the JF of the IF
// itself, or the JMP of its latest ELSE.
struct open_if {
    size_t pending_jump;
    size_t statement;
};

// A DO still waiting for its WHILE.
struct open_do {
    uint32_t start;
    size_t statement;
};

struct pending_label_jump {
    size_t jump;
    std::string_view label;
    size_t statement;
};

// The number of instructions a script compiles into, closing EXIT included.
size_t instruction_count(const script& s) {
    size_t n = 1;
    for (const command& c : s.commands) {
        switch (c.kind) {
            case CMD_IF:
            case CMD_WHILE: n += 2; break;
            case CMD_DO:
            case CMD_ENDIF:
            case CMD_LABEL: break;
            default: ++n; break;
        }
    }
    return n;
}

class assembler {
public:
    assembler(const script& s, program& out, reporter& r) : script_(s), out_(out), reporter_(r) {}

    void run() {
        out_.instructions.reserve(instruction_count(script_));
        for (const command& c : script_.commands) {
            take(c);
            ++index_;
        }
        finish();
    }

private:
    void take(const command& cmd) {
        switch (cmd.kind) {
            case CMD_IF:
                encode(cmd);
                ifs_.push_back({emit_jump(OPC_JF), index_});
                break;
            case CMD_ELSE: {
                if (ifs_.empty()) return report(index_, "ELSE with no IF\n");
                const size_t jump = emit_jump(OPC_JMP);
                // The skipped branch resumes right after this ELSE's own JMP.
                set_target(ifs_.back().pending_jump, next_address());
                ifs_.back().pending_jump = jump;
                break;
            }
            case CMD_ENDIF:
                if (ifs_.empty()) return report(index_, "ENDIF with no IF\n");
                set_target(ifs_.back().pending_jump, next_address());
                ifs_.pop_back();
                break;
            case CMD_DO:
                dos_.push_back({next_address(), index_});
                break;
            case CMD_ENDDO:
                if (dos_.empty()) return report(index_, "WHILE with no DO\n");
                enddos_.push_back(emit_jump(no_code));
                break;
            case CMD_WHILE: {
                if (dos_.empty()) return report(index_, "WHILE with no DO\n");
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
                gotos_.push_back({emit_jump(no_code), label_of(cmd), index_});
                break;
            case CMD_GOSUB:
                gosubs_.push_back({emit_jump(no_code), label_of(cmd), index_});
                break;
            case CMD_LABEL:
                // The first label of a name wins.
                labels_.emplace(label_of(cmd), next_address());
                break;
            case CMD_PROG:
            case CMD_PROGNC:
            case CMD_PROGNR: {
                const size_t at = encode(cmd);
                out_.vbfs.push_back({std::string(script_.text(std::get<prog_form>(cmd.form).filename)), at, 0});
                break;
            }
            default:
                encode(cmd);
                break;
        }
    }

    // Undefined labels (every GOTO, then every GOSUB), then the blocks left
    // open: IFs from the innermost out, then DOs.
    void finish() {
        resolve(gotos_, OPC_JMP);
        resolve(gosubs_, OPC_JMPS);
        const size_t exit = append();
        put_field(out_.instructions[exit].opcode, fields::code, OPC_EXIT);
        for (auto open = ifs_.rbegin(); open != ifs_.rend(); ++open) report(open->statement, "Unterminated IF\n");
        for (auto open = dos_.rbegin(); open != dos_.rend(); ++open) report(open->statement, "Unterminated DO\n");
    }

    void report(size_t statement, const char* message) {
        const uint32_t line = script_.commands[statement].line;
        reporter_.report({statement, line, script_error(line, "%s", message)});
    }

    std::string_view label_of(const command& cmd) const {
        return script_.text(std::get<label_form>(cmd.form).name);
    }

    uint32_t next_address() const { return static_cast<uint32_t>(out_.instructions.size() * opcode_size); }

    size_t append() {
        instruction insn;
        insn.address = next_address();
        out_.instructions.push_back(insn);
        return out_.instructions.size() - 1;
    }

    size_t encode(const command& cmd) {
        const size_t at = append();
        make_opcode(out_.instructions[at].opcode, cmd, index_, script_, out_, reporter_);
        return at;
    }

    // A jump with its target still open; `code` is filled in later for the
    // jumps whose kind is known only once they are resolved.
    size_t emit_jump(uint32_t code) {
        const size_t at = append();
        set_code(at, code);
        return at;
    }

    void set_code(size_t jump, uint32_t code) { put_field(out_.instructions[jump].opcode, fields::code, code); }
    void set_target(size_t jump, uint32_t target) {
        put_field(out_.instructions[jump].opcode, fields::jump_target, target);
    }

    void resolve(const std::vector<pending_label_jump>& pending, uint32_t code) {
        for (const pending_label_jump& p : pending) {
            const auto found = labels_.find(p.label);
            if (found == labels_.end()) {
                const std::string name(p.label);
                const uint32_t line = script_.commands[p.statement].line;
                reporter_.report({p.statement, line, script_error(line, "Invalid label '%s'\n", name.c_str())});
                continue;
            }
            set_code(p.jump, code);
            set_target(p.jump, found->second);
        }
    }

    const script& script_;
    program& out_;
    reporter& reporter_;
    size_t index_ = 0;
    std::vector<open_if> ifs_;
    std::vector<open_do> dos_;
    std::vector<size_t> enddos_;
    std::vector<pending_label_jump> gotos_;
    std::vector<pending_label_jump> gosubs_;
    std::unordered_map<std::string_view, uint32_t> labels_;  // name -> address of its first definition
};

}  // namespace

void compile_script(const script& s, program& out) {
    stop_at_first r;
    compile_script(s, out, r);
}

void compile_script(const script& s, program& out, reporter& r) { assembler(s, out, r).run(); }

}  // namespace vendrak
