// vendrak-lsp in-process: one table of exchanges, each the messages an
// editor sends and every message the server writes back, with the exit
// status; then the help of every keyword, and the editor's positions.
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "lsp/document.h"
#include "lsp/help.h"
#include "lsp/server.h"
#include "lsp/text.h"
#include "parser/vocabulary.h"

namespace {

using namespace vendrak::lsp;
using json = nlohmann::json;

const std::string uri = "file:///w/t.vsc";

std::string frame(const std::string& body) { return "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body; }
std::string send(json m) {
    m["jsonrpc"] = "2.0";
    return frame(m.dump());
}
std::string request(int id, const char* method, json params = json::object()) {
    return send({{"id", id}, {"method", method}, {"params", std::move(params)}});
}
std::string notice(const char* method, json params = json::object()) {
    return send({{"method", method}, {"params", std::move(params)}});
}
// A request about a place of the open script.
std::string at(int id, const char* method, int line, int character, json more = json::object()) {
    more["textDocument"] = {{"uri", uri}};
    more["position"] = {{"line", line}, {"character", character}};
    return request(id, method, std::move(more));
}
std::string change(int version, json changes) {
    return notice("textDocument/didChange", {{"textDocument", {{"uri", uri}, {"version", version}}}, {"contentChanges", std::move(changes)}});
}

json range(int l1, int c1, int l2, int c2) {
    return {{"start", {{"line", l1}, {"character", c1}}}, {"end", {{"line", l2}, {"character", c2}}}};
}
json place(int l1, int c1, int l2, int c2) { return {{"uri", uri}, {"range", range(l1, c1, l2, c2)}}; }
json answer(int id, json result) { return {{"jsonrpc", "2.0"}, {"id", id}, {"result", std::move(result)}}; }
// Errors are compared by their code; their text is the server's own.
json error(json id, int code) { return {{"jsonrpc", "2.0"}, {"id", std::move(id)}, {"error", {{"code", code}}}}; }
// A list, so that one diagnostic is not taken for the list itself.
json published(int version, std::vector<json> diagnostics = {}) {
    return {{"jsonrpc", "2.0"},
            {"method", "textDocument/publishDiagnostics"},
            {"params", {{"uri", uri}, {"version", version}, {"diagnostics", json(std::move(diagnostics))}}}};
}
json problem(json where, const char* message, const char* warning = nullptr) {
    json d = {{"range", std::move(where)}, {"severity", warning ? 2 : 1}, {"source", "vendrak"}, {"message", message}};
    if (warning) d["code"] = warning;
    return d;
}
// The -Wfraction warning on `number` (1.5 or 2.5) at `where`.
json fraction(json where, const std::string& number) {
    const std::string message = "\"" + number + "\" is read as " + number.substr(0, 1) +
                                ": a whole number is expected here, and the fraction is dropped";
    return problem(std::move(where), message.c_str(), "fraction");
}
// A window/logMessage of `type` (1 error, 3 info); its text is the server's own.
json logged(int type) { return {{"jsonrpc", "2.0"}, {"method", "window/logMessage"}, {"params", {{"type", type}}}}; }
json hover_text(json where, const char* markdown) {
    return {{"contents", {{"kind", "markdown"}, {"value", markdown}}}, {"range", std::move(where)}};
}
json items(std::initializer_list<const char*> labels, int kind) {
    json out = json::array();
    for (const char* l : labels) out.push_back({{"label", l}, {"kind", kind}});
    return out;
}

const char* const led_help = "```vsc\nLED GREEN|RED ON|OFF|TOGGLE\n```\nSwitches the green or the red LED on, off, or to its other state.";

// What the editor has done before the row's messages.
enum class start { nothing, initialized, opened };

struct exchange {
    const char* name;
    start from;
    const char* script;  // the text opened as `uri`
    std::string input;
    std::vector<json> expected;  // after the answer to initialize
    int status = 1;
    bool with_diagnostics = true;  // false: publishDiagnostics is left out of the comparison
};

// Lines: UTF-16 positions after characters of 2, 3 and 4 UTF-8 bytes in a
// comment and in a string, a lone CR that ends an editor's line but not the
// compiler's.
const char* const diagnosed =
    "/* \xC3\xA4\xE2\x82\xAC\xF0\x9F\x98\x80 */ DELAY 1.5 ; \xC3\xBC\nEXEC \"\xC3\xA4\" LCD 9 1 \"x\"\nLED RED ON \rDELAY 2.5\n";

const char* const navigated =
    "DEFINE N 4\n"                                  // 0
    "menu:\n"                                       // 1
    "led red on\n"                                  // 2
    "GOTO menu:\n"                                  // 3
    "DEFINE N N 1\n"                                // 4
    "DELAY N\n"                                     // 5
    "menu:\n"                                       // 6
    "GOSUB menu\n"                                  // 7
    "/* \xF0\x9F\x98\x80 */ LED GREEN OFF\n"        // 8
    "LCD 1 1 \"text\" ; LED \n";                    // 9

const char* const edited =
    "; one\n"                // 0
    "; two\n"                // 1
    "menu:\n"                // 2
    "IF DATA[3,2] < 1100\n"  // 3
    "    LED RED ON\n"       // 4
    "ENDIF\n"                // 5
    "GOTO menu\n"            // 6
    "DEFINE N 5\n"           // 7
    "delay N\n"              // 8
    "LED  GREEN OFF\n";      // 9

std::vector<exchange> exchanges() {
    const json capabilities = {
        {"positionEncoding", "utf-16"},
        {"textDocumentSync", {{"openClose", true}, {"change", 2}, {"save", {{"includeText", false}}}}},
        {"hoverProvider", true},
        {"definitionProvider", true},
        {"referencesProvider", true},
        {"documentSymbolProvider", true},
        {"completionProvider", json::object()},
        {"documentHighlightProvider", true},
        {"renameProvider", {{"prepareProvider", true}}},
        {"codeActionProvider", {{"codeActionKinds", {"quickfix"}}}},
        {"documentFormattingProvider", true},
        {"documentRangeFormattingProvider", true},
        {"foldingRangeProvider", true},
        {"signatureHelpProvider", {{"triggerCharacters", {" "}}}},
        {"semanticTokensProvider",
         {{"legend", {{"tokenTypes", {"keyword", "function", "macro", "variable", "number", "string", "comment", "enumMember"}},
                      {"tokenModifiers", json::array()}}},
          {"full", true}}}};
    const std::string initialize = request(1, "initialize", {{"capabilities", json::object()}});
    const json row_9 = problem(range(1, 13, 1, 14), "LCD row out of range");
    const json line_end = problem(range(2, 11, 2, 11),
                                  "a carriage return without a line feed: vendrak ends no line here, so the words on both sides of it join and "
                                  "its messages name other lines than the editor shows; save the file with LF or CR LF line ends",
                                  "line-end");
    const json missing = problem(range(1, 5, 1, 18), "Cannot open \"missing.vbf\" file");
    return {
        // The life cycle.
        {"initialize", start::nothing, nullptr, initialize,
         {answer(1, {{"capabilities", capabilities}, {"serverInfo", {{"name", "vendrak-lsp"}, {"version", VENDRAK_VERSION}}}})}},
        {"requests before initialize", start::nothing, nullptr,
         at(7, "textDocument/hover", 0, 0) + notice("textDocument/didOpen", {{"textDocument", {{"uri", uri}, {"version", 1}, {"text", "DELAY 1.5"}}}}) +
             request(8, "shutdown"),
         {error(7, -32002), error(8, -32002)}},
        {"exit without shutdown", start::initialized, nullptr, notice("exit") + request(2, "shutdown"), {}, 1},
        {"shutdown, then exit", start::initialized, nullptr,
         request(2, "shutdown") + at(3, "textDocument/hover", 0, 0) + request(4, "initialize", {{"capabilities", json::object()}}) + notice("exit"),
         {answer(2, nullptr), error(3, -32600), error(4, -32600)}, 0},
        {"the input ends after shutdown", start::initialized, nullptr, request(2, "shutdown"), {answer(2, nullptr)}, 0},

        // Messages that are not what they should be.
        {"broken frames and JSON", start::initialized, nullptr,
         frame("{\"jsonrpc\": \"2.0\", \"id\": 2,") + "Content-Type: application/json\r\n\r\n" +
             "{\"jsonrpc\":\"2.0\",\"id\":3,\"method\":\"shutdown\"}" + "Content-Length: 12x\r\n\r\n" + request(4, "x/unknown") +
             frame("[1, 2]") + frame("{\"jsonrpc\":\"2.0\",\"id\":{},\"method\":\"shutdown\"}") +
             frame("{\"jsonrpc\":\"1.0\",\"id\":5,\"method\":\"shutdown\"}") + frame("{\"jsonrpc\":\"2.0\",\"id\":6}"),
         // The body after the frame without a length runs into the next
         // header, which is still found.
         {error(nullptr, -32700), error(nullptr, -32700), error(nullptr, -32700), error(4, -32601), error(nullptr, -32600),
          error(nullptr, -32600), error(5, -32600), error(6, -32600)}},
        {"unknown methods, notifications and answers", start::initialized, nullptr,
         request(2, "textDocument/inlayHint") + request(3, "$/unknown") + notice("$/cancelRequest", {{"id", 2}}) +
             notice("workspace/didChangeConfiguration") + send({{"id", 9}, {"result", nullptr}}) + request(4, "initialize"),
         {error(2, -32601), error(3, -32601), error(4, -32600)}},
        {"invalid parameters", start::opened, "LED RED ON\n",
         request(2, "textDocument/hover", {{"textDocument", {{"uri", uri}}}}) + at(3, "textDocument/hover", 0, -1) +
             at(4, "textDocument/references", 0, 0) + request(5, "textDocument/definition", json::array()) +
             notice("textDocument/didOpen", {{"textDocument", {{"uri", uri}}}}),
         {published(1), error(2, -32602), error(3, -32602), error(4, -32602), error(5, -32602), logged(1)}},
        // Nesting is bounded before parsing; brackets in strings are text.
        {"deep nesting", start::initialized, nullptr,
         frame("{\"jsonrpc\":\"2.0\",\"id\":2,\"method\":\"x\",\"params\":" + std::string(65, '[') + std::string(65, ']') + "}") +
             frame("{\"jsonrpc\":\"2.0\",\"id\":" + std::string(100000, '{')) +
             request(3, "x/unknown", {{"a", std::string(100, '[') + "\\\"{"}}) +
             frame("{\"jsonrpc\":\"2.0\",\"id\":4,\"method\":\"x\",\"params\":" + std::string(63, '[') + std::string(63, ']') + "}"),
         {error(nullptr, -32600), error(nullptr, -32600), error(3, -32601), error(4, -32601)}},
        // A body over the limit and an endless header line are read past,
        // and the session goes on.
        {"oversized frames", start::initialized, nullptr,
         "Content-Length: " + std::to_string(largest_body + 1) + "\r\n\r\n" + std::string(largest_body + 1, '[') +
             "X-Long: " + std::string(10000, 'a') + "\r\nContent-Length: 2\r\n\r\n{}" + request(2, "shutdown"),
         {error(nullptr, -32700), error(nullptr, -32700), answer(2, nullptr)}, 0},
        // A change is applied whole or not at all; a refused one brings the
        // diagnostics of the text still held, an older version is ignored.
        {"refused and stale changes", start::opened, "DELAY 1.5\n",
         change(2, json::array({{{"text", "DELAY 2\n"}}, {{"range", "bad"}, {"text", ""}}})) +
             notice("textDocument/didChange", {{"textDocument", {{"uri", uri}, {"version", "3"}}},
                                               {"contentChanges", json::array({{{"text", "DELAY 3\n"}}})}}) +
             change(5, json::array({{{"range", range(0, 6, 0, 9)}, {"text", "2.5"}}})) +
             change(4, json::array({{{"text", "DELAY 4\n"}}})) + at(2, "textDocument/hover", 0, 7),
         {published(1, {fraction(range(0, 6, 0, 9), "1.5")}), published(1, {fraction(range(0, 6, 0, 9), "1.5")}), logged(1),
          published(1, {fraction(range(0, 6, 0, 9), "1.5")}), logged(1), published(5, {fraction(range(0, 6, 0, 9), "2.5")}),
          logged(3), answer(2, nullptr)}},

        // Diagnostics on open and on every change, in the editor's positions.
        {"diagnostics", start::opened, diagnosed,
         change(2, json::array({{{"text", "DELAY 1.5\n"}}})) +
             notice("textDocument/didChange", {{"textDocument", {{"uri", "file:///w/other.vsc"}, {"version", 1}}},
                                               {"contentChanges", json::array({{{"text", "DELAY 0"}}})}}) +
             change(3, json::array({{{"range", range(0, 6, 0, 9)}, {"text", "7"}}})) +
             notice("textDocument/didClose", {{"textDocument", {{"uri", uri}}}}) + at(4, "textDocument/hover", 0, 0),
         {published(1, {fraction(range(0, 17, 0, 20), "1.5"), row_9, line_end, fraction(range(3, 6, 3, 9), "2.5")}),
          published(2, {fraction(range(0, 6, 0, 9), "1.5")}),
          published(3), json{{"jsonrpc", "2.0"}, {"method", "textDocument/publishDiagnostics"}, {"params", {{"uri", uri}, {"diagnostics", json::array()}}}},
          answer(4, nullptr)}},
        // The VBF checks run on open and save; between, their findings stay
        // on their line while it is there.
        {"VBF findings", start::opened, "LED RED ON\nPROG \"missing.vbf\"\n",
         change(2, json::array({{{"text", "DELAY 10\nLED RED ON\nPROG \"missing.vbf\"\n"}}})) + change(3, json::array({{{"text", "LED RED ON\n"}}})) +
             notice("textDocument/didSave", {{"textDocument", {{"uri", uri}}}}),
         {published(1), published(1, {missing}), published(2, {problem(range(2, 5, 2, 18), "Cannot open \"missing.vbf\" file")}), published(3),
          published(3)}},

        // Hover, definition, references, completion and symbols.
        {"navigation", start::opened, navigated,
         at(2, "textDocument/hover", 2, 1) + at(3, "textDocument/hover", 8, 10) + at(4, "textDocument/hover", 5, 99) +
             at(5, "textDocument/hover", 9, 18) + at(6, "textDocument/hover", 20, 0) + at(7, "textDocument/hover", 1, 2) +
             at(12, "textDocument/definition", 3, 6) + at(13, "textDocument/definition", 7, 7) + at(14, "textDocument/definition", 5, 6) +
             at(15, "textDocument/definition", 2, 5) + at(19, "textDocument/definition", 4, 9) +
             at(16, "textDocument/references", 1, 2, {{"context", {{"includeDeclaration", true}}}}) +
             at(17, "textDocument/references", 6, 0, {{"context", {{"includeDeclaration", false}}}}) +
             at(18, "textDocument/references", 0, 7, {{"context", {{"includeDeclaration", true}}}}) +
             at(22, "textDocument/completion", 2, 5) + at(23, "textDocument/completion", 2, 8) + at(24, "textDocument/completion", 3, 5) +
             at(25, "textDocument/completion", 9, 10) + at(26, "textDocument/completion", 9, 17) +
             at(27, "textDocument/completion", 8, 16) +
             request(30, "textDocument/documentSymbol", {{"textDocument", {{"uri", uri}}}}),
         {answer(2, hover_text(range(2, 0, 2, 3), led_help)), answer(3, hover_text(range(8, 9, 8, 12), led_help)),
          answer(4, hover_text(range(5, 6, 5, 7), "```vsc\nDEFINE N N 1\n```")), answer(5, nullptr), answer(6, nullptr),
          answer(7, hover_text(range(1, 0, 1, 5), "label `menu`, line 2")),
          answer(12, place(1, 0, 1, 4)), answer(13, place(1, 0, 1, 4)), answer(14, place(4, 7, 4, 8)), answer(15, nullptr), answer(19, place(0, 7, 0, 8)),
          answer(16, {place(1, 0, 1, 4), place(3, 5, 3, 9), place(6, 0, 6, 4), place(7, 6, 7, 10)}),
          answer(17, {place(3, 5, 3, 9), place(7, 6, 7, 10)}),
          answer(18, {place(0, 7, 0, 8), place(4, 7, 4, 8), place(4, 9, 4, 10), place(5, 6, 5, 7)}),
          answer(22, items({"green", "red"}, 20)), answer(23, items({"ON", "OFF", "TOGGLE"}, 20)), answer(24, items({"menu"}, 3)),
          answer(25, json::array()), answer(26, json::array()), answer(27, items({"GREEN", "RED"}, 20)),
          answer(30, {{{"name", "N"}, {"kind", 14}, {"range", range(0, 0, 0, 10)}, {"selectionRange", range(0, 7, 0, 8)}},
                     {{"name", "menu"}, {"kind", 12}, {"range", range(1, 0, 1, 5)}, {"selectionRange", range(1, 0, 1, 4)}},
                     {{"name", "N"}, {"kind", 14}, {"range", range(4, 0, 4, 12)}, {"selectionRange", range(4, 7, 4, 8)}},
                     {{"name", "menu"}, {"kind", 12}, {"range", range(6, 0, 6, 5)}, {"selectionRange", range(6, 0, 6, 4)}}})},
         1, false},
        // Labels and jumps as the compiler reads them, up to the statement
        // it refuses (DELAY without its time), and as written after it.
        {"the compiler's reading", start::opened, "WRITE SID 0x22 1\n10:\nGOTO 10\nGOTO ENDIF\nENDIF:\nDELAY\nc:\nGOTO c\n",
         at(2, "textDocument/definition", 2, 5) + at(3, "textDocument/hover", 3, 6) + at(4, "textDocument/definition", 3, 6) +
             at(5, "textDocument/definition", 7, 5) + request(6, "textDocument/documentSymbol", {{"textDocument", {{"uri", uri}}}}),
         {answer(2, nullptr), answer(3, hover_text(range(3, 5, 3, 10), "label `ENDIF`, line 5")), answer(4, place(4, 0, 4, 5)),
          answer(5, place(6, 0, 6, 1)),
          answer(6, {{{"name", "ENDIF"}, {"kind", 12}, {"range", range(4, 0, 4, 6)}, {"selectionRange", range(4, 0, 4, 5)}},
                     {{"name", "c"}, {"kind", 12}, {"range", range(6, 0, 6, 2)}, {"selectionRange", range(6, 0, 6, 1)}}})},
         1, false},
        // Editing help.
        {"rename, highlights, signature help, folding, semantic tokens and formatting", start::opened, edited,
         at(2, "textDocument/prepareRename", 4, 5) + at(3, "textDocument/prepareRename", 6, 6) +
             at(4, "textDocument/rename", 2, 1, {{"newName", "top"}}) + at(5, "textDocument/rename", 7, 7, {{"newName", "LED"}}) +
             at(6, "textDocument/rename", 7, 7, {{"newName", "9x"}}) + at(7, "textDocument/documentHighlight", 6, 6) +
             at(8, "textDocument/signatureHelp", 4, 12) + request(9, "textDocument/foldingRange", {{"textDocument", {{"uri", uri}}}}) +
             request(10, "textDocument/semanticTokens/full", {{"textDocument", {{"uri", uri}}}}) +
             request(11, "textDocument/formatting", {{"textDocument", {{"uri", uri}}}, {"options", json::object()}}) +
             request(12, "textDocument/rangeFormatting", {{"textDocument", {{"uri", uri}}}, {"range", range(0, 0, 8, 0)}}),
         {error(2, -32803), answer(3, {{"range", range(6, 5, 6, 9)}, {"placeholder", "menu"}}),
          answer(4, {{"changes", {{uri, {{{"range", range(2, 0, 2, 4)}, {"newText", "top"}}, {{"range", range(6, 5, 6, 9)}, {"newText", "top"}}}}}}}),
          error(5, -32803), error(6, -32803),
          answer(7, {{{"range", range(2, 0, 2, 4)}, {"kind", 3}}, {{"range", range(6, 5, 6, 9)}, {"kind", 2}}}),
          answer(8, {{"signatures", {{{"label", "LED GREEN|RED ON|OFF|TOGGLE"}, {"parameters", {{{"label", {4, 13}}}, {{"label", {14, 27}}}}}}}},
                     {"activeSignature", 0}, {"activeParameter", 1}}),
          answer(9, {{{"startLine", 0}, {"endLine", 1}, {"kind", "comment"}}, {{"startLine", 3}, {"endLine", 4}}}),
          // comment, comment, label, IF, DATA, 3, 2, 1100, LED, RED, ON, ENDIF, GOTO, label, DEFINE, N, 5, delay, N, LED, GREEN, OFF
          answer(10, {{"data", {0, 0, 5, 6, 0, 1, 0, 5, 6, 0, 1, 0, 4, 1, 0, 1, 0, 2, 0, 0, 0, 3, 4, 3, 0, 0, 5, 1, 4, 0, 0, 2, 1, 4, 0,
                                0, 5, 4, 4, 0, 1, 4, 3, 0, 0, 0, 4, 3, 7, 0, 0, 4, 2, 7, 0, 1, 0, 5, 0, 0, 1, 0, 4, 0, 0, 0, 5, 4, 1, 0,
                                1, 0, 6, 0, 0, 0, 7, 1, 2, 0, 0, 2, 1, 4, 0, 1, 0, 5, 0, 0, 0, 6, 1, 2, 0, 1, 0, 3, 0, 0, 0, 5, 5, 7, 0,
                                0, 6, 3, 7, 0}}}),
          answer(11, {{{"range", range(3, 0, 9, 14)},
                       {"newText", "    IF DATA[3,2] < 1100\n        LED RED ON\n    ENDIF\n    GOTO menu\n    DEFINE N 5\n    delay N\n    LED GREEN OFF"}}}),
          // Only the lines of the range change, each as a whole.
          answer(12, {{{"range", range(3, 0, 3, 19)}, {"newText", "    IF DATA[3,2] < 1100"}},
                      {{"range", range(4, 0, 4, 14)}, {"newText", "        LED RED ON"}},
                      {{"range", range(5, 0, 5, 5)}, {"newText", "    ENDIF"}},
                      {{"range", range(6, 0, 6, 9)}, {"newText", "    GOTO menu"}},
                      {{"range", range(7, 0, 7, 10)}, {"newText", "    DEFINE N 5"}},
                      {{"range", range(8, 0, 8, 7)}, {"newText", "    delay N"}}})},
         1, false},
    };
}

// The messages of the server's output, error and log texts left out.
std::vector<json> messages_of(const std::string& out) {
    std::vector<json> messages;
    for (size_t at = 0; at < out.size();) {
        const size_t length = std::stoul(out.substr(at + 16));
        const size_t body = out.find("\r\n\r\n", at) + 4;
        json m = json::parse(out.substr(body, length));
        json* text = m.contains("error") ? &m["error"] : m.value("method", "") == "window/logMessage" ? &m["params"] : nullptr;
        if (text) {
            EXPECT_FALSE(text->value("message", "").empty()) << m;
            text->erase("message");
        }
        messages.push_back(std::move(m));
        at = body + length;
    }
    return messages;
}

TEST(lsp, exchanges) {
    const json capabilities = {{"textDocument",
                                {{"hover", {{"contentFormat", {"markdown", "plaintext"}}}},
                                 {"documentSymbol", {{"hierarchicalDocumentSymbolSupport", true}}}}}};
    for (const exchange& e : exchanges()) {
        SCOPED_TRACE(e.name);
        std::string input;
        if (e.from != start::nothing)
            input = request(1, "initialize", {{"capabilities", capabilities}, {"rootUri", "file:///nonexistent-vendrak"}}) +
                    notice("initialized");
        if (e.from == start::opened)
            input += notice("textDocument/didOpen", {{"textDocument", {{"uri", uri}, {"languageId", "vsc"}, {"version", 1}, {"text", e.script}}}});
        std::istringstream in(input + e.input);
        std::ostringstream out;
        run_at_once jobs;
        server s(out, jobs);
        EXPECT_EQ(serve(in, s), e.status);

        std::vector<json> got = messages_of(out.str());
        if (e.from != start::nothing && !got.empty()) got.erase(got.begin());
        if (!e.with_diagnostics)
            std::erase_if(got, [](const json& m) { return m.value("method", "") == "textDocument/publishDiagnostics"; });
        EXPECT_EQ(json(got).dump(1), json(e.expected).dump(1));
    }
}

// Checks that run after their text was replaced publish nothing: with every
// check held back until the editor has sent four texts, only the last text's
// diagnostics are published.
TEST(lsp, superseded_checks_publish_nothing) {
    struct held_back final : background {
        std::vector<std::function<void()>> jobs;
        void submit(const std::string&, std::function<void()> job) override { jobs.push_back(std::move(job)); }
    } checks;
    run_at_once flash_checks;
    std::ostringstream out;
    server s(out, checks, flash_checks);
    std::istringstream in(request(1, "initialize", {{"capabilities", json::object()}}) +
                          notice("textDocument/didOpen", {{"textDocument", {{"uri", uri}, {"version", 1}, {"text", "DELAY 1.5\n"}}}}) +
                          change(2, json::array({{{"text", "DELAY 2.5\n"}}})) + change(3, json::array({{{"text", "DELAY 3.5\n"}}})) +
                          change(4, json::array({{{"text", "DELAY 4\n"}}})));
    serve(in, s);
    ASSERT_EQ(checks.jobs.size(), 4u);
    for (auto& job : checks.jobs) job();
    std::vector<json> got = messages_of(out.str());
    std::erase_if(got, [](const json& m) { return m.contains("id"); });
    EXPECT_EQ(json(got).dump(1), json::array({published(4)}).dump(1));
}

// A finding with a fix and a note gives a quick fix for the lines it is on,
// and related information; none once the text has changed since its check.
TEST(lsp, quick_fixes) {
    document d;
    d.uri = uri;
    d.set_text("DELAY 1\r\nGOSUBB menu\n");
    vendrak::check::finding f;
    f.line = 2;
    f.column = 1;
    f.message = "Unknown command GOSUBB";
    f.notes.push_back({2, 8, "did you mean GOSUB?"});
    f.fix.push_back({2, 1, 2, 7, "GOSUB"});
    vendrak::check::finding unfixed = f;  // a finding without a fix gives no action
    unfixed.fix.clear();
    d.script_findings = {f, unfixed};
    d.checked = d.generation;
    const json diagnostic = {{"range", range(1, 0, 1, 6)},
                             {"severity", 1},
                             {"source", "vendrak"},
                             {"message", "Unknown command GOSUBB"},
                             {"relatedInformation", {{{"location", place(1, 7, 1, 11)}, {"message", "did you mean GOSUB?"}}}}};
    const json fix = {{"title", "Write \"GOSUB\" for \"GOSUBB\""},
                      {"kind", "quickfix"},
                      {"isPreferred", true},
                      {"diagnostics", {diagnostic}},
                      {"edit", {{"changes", {{uri, {{{"range", range(1, 0, 1, 6)}, {"newText", "GOSUB"}}}}}}}}};
    // Numbers as the editor's JSON gives them: unsigned.
    auto sent = [](json r) { return json::parse(r.dump()); };
    EXPECT_EQ(code_actions(d, sent(range(1, 3, 1, 3))), json::array({fix}));
    EXPECT_EQ(code_actions(d, sent(range(0, 0, 2, 0))), json::array({fix}));
    EXPECT_EQ(code_actions(d, sent(range(0, 0, 0, 5))), json::array());
    d.set_text(d.text + "EXIT\n");
    EXPECT_EQ(code_actions(d, sent(range(1, 3, 1, 3))), json::array());
}

// A loop closes at its WHILE, not at an ENDDO that leaves it early; VAR is
// a variable whether assigned or read.
TEST(lsp, loops_and_variables) {
    document d;
    d.uri = uri;
    d.set_text("DO\n  GETKEY\n  IF KEY = ESCAPE\n    ENDDO\n  ENDIF\n  VAR[0] = VAR[1]\nWHILE KEY ! ENTER\n");
    EXPECT_EQ(folding_ranges(d), json::parse(R"([{"startLine":2,"endLine":3},{"startLine":0,"endLine":5}])"));
    const json types = semantic_token_legend()["tokenTypes"];
    const std::vector<unsigned> data = semantic_tokens(d)["data"];
    std::vector<std::string> on_line_5;
    for (size_t i = 0, line = 0; i + 4 < data.size(); i += 5)
        if ((line += data[i]) == 5) on_line_5.push_back(types[data[i + 3]]);
    EXPECT_EQ(on_line_5, (std::vector<std::string>{"variable", "number", "variable", "number"}));
}

// Hover and completion take each keyword's syntax and sentence from the
// manual.
TEST(lsp, every_keyword_has_help) {
    for (const auto& s : vendrak::vocabulary::statements) {
        if (s.keyword.empty()) continue;
        const auto help = help_for(s.keyword);
        ASSERT_TRUE(help) << s.keyword;
        EXPECT_TRUE(help->syntax.starts_with(s.keyword)) << help->syntax;
        EXPECT_TRUE(help->summary.ends_with('.')) << help->summary;
    }
    ASSERT_TRUE(help_for("define"));
    EXPECT_EQ(help_for("HLCD")->syntax, "HLCD row column operand\nHLCD row column operand low high");
    EXPECT_FALSE(help_for("GREEN"));
}

// Bytes that are no valid UTF-8 reach the index only from files; each counts
// as one code unit.
TEST(lsp, positions) {
    struct row {
        const char* text;
        size_t offset;
        position expected;
    };
    const row rows[] = {
        {"a\xFF" "b", 2, {0, 2}},
        {"\xC3\xA4" "b", 2, {0, 1}},
        {"\xF0\x9F\x98\x80" "b", 4, {0, 2}},
        {"\xE0\x80\x80" "b", 3, {0, 3}},    // overlong
        {"\xED\xA0\x80" "b", 3, {0, 3}},    // a surrogate
        {"\xC3" "b", 1, {0, 1}},            // cut short
        {"\xC3\xC0" "b", 2, {0, 2}},        // no continuation byte
        {"a\r\nb", 3, {1, 0}},
        {"a\rb", 2, {1, 0}},
        {"a\n\nb", 3, {2, 0}},
    };
    for (const row& r : rows) {
        const text_index index(r.text);
        EXPECT_EQ(index.position_of(r.offset), r.expected) << r.text;
        EXPECT_EQ(index.offset_of(r.expected), r.offset) << r.text;
    }
    const text_index index("\xF0\x9F\x98\x80" "b\r\nc");
    EXPECT_EQ(index.offset_of({0, 1}), 0u);  // inside a surrogate pair
    EXPECT_EQ(index.offset_of({0, 99}), 5u);  // past the line's end: before CR LF
    EXPECT_EQ(index.offset_of({2, 0}), std::nullopt);
    EXPECT_EQ(index.offset_of_place(2, 1), 7u);
}

}  // namespace
