// The server's side of the protocol: the life cycle (initialize, shutdown,
// exit), the open documents and their diagnostics, and the dispatch of the
// requests to the answers of document.h.
#include "lsp/server.h"

#include <map>
#include <ostream>
#include <vector>

#include "lsp/document.h"

namespace vendrak::lsp {
namespace {

// JSON-RPC's error codes, and the protocol's for a request before initialize.
enum error_code {
    parse_error = -32700,
    invalid_request = -32600,
    method_not_found = -32601,
    invalid_params_code = -32602,
    internal_error = -32603,
    server_not_initialized = -32002,
    request_failed_code = -32803,
};

struct rpc_error {
    error_code code;
    std::string message;
};

// Changes come as the ranges that changed and their new text (a whole
// text is taken too), so a keystroke in a long script sends a few bytes.
constexpr int incremental_sync = 2;

int hex_digit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// The path of a file: URI on this host ("file:///home/a%20b.vsc" gives
// "/home/a b.vsc"); empty for any other URI.
std::string path_of(std::string_view uri) {
    if (!uri.starts_with("file://")) return {};
    uri.remove_prefix(7);
    const size_t slash = uri.find('/');
    if (slash == uri.npos || (slash != 0 && uri.substr(0, slash) != "localhost")) return {};
    uri.remove_prefix(slash);
    std::string path;
    for (size_t i = 0; i < uri.size(); ++i) {
        if (uri[i] == '%' && i + 2 < uri.size() && hex_digit(uri[i + 1]) >= 0 && hex_digit(uri[i + 2]) >= 0) {
            path += static_cast<char>(hex_digit(uri[i + 1]) * 16 + hex_digit(uri[i + 2]));
            i += 2;
        } else {
            path += uri[i];
        }
    }
    return path;
}

const std::string& string_at(const json& object, const char* key) { return object.at(key).get_ref<const std::string&>(); }

const json no_params = json::object();

}  // namespace

size_t nesting_depth(std::string_view body, size_t limit) {
    size_t depth = 0, deepest = 0;
    bool in_string = false;
    for (size_t i = 0; i < body.size(); ++i) {
        const char c = body[i];
        if (in_string) {
            if (c == '\\')
                ++i;
            else if (c == '"')
                in_string = false;
        } else if (c == '"') {
            in_string = true;
        } else if (c == '[' || c == '{') {
            deepest = std::max(deepest, ++depth);
            if (deepest > limit) return deepest;
        } else if ((c == ']' || c == '}') && depth > 0) {
            --depth;
        }
    }
    return deepest;
}

struct server::state {
    std::ostream& out;
    background& checks;
    background& flash_checks;
    std::mutex mutex;

    enum class phase { starting, running, shutting_down, exited } now = phase::starting;
    bool shutdown_requested = false;
    // The directory vendrak would run in: the workspace's; relative VBF file
    // names are looked for there.
    std::string root;
    bool markdown = false;
    bool hierarchical_symbols = false;
    std::map<std::string, std::unique_ptr<document>, std::less<>> documents;
    // Background jobs made while a message is handled, submitted after.
    struct job {
        background* where;
        std::string key;
        std::function<void()> run;
    };
    std::vector<job> made_jobs;
    // Set by close(): nothing is written any more.
    bool closed = false;

    std::chrono::milliseconds pause;

    state(std::ostream& o, background& c, background& f, std::chrono::milliseconds p)
        : out(o), checks(c), flash_checks(f), pause(p) {}

    void send(const json& message) {
        if (closed) return;
        // Messages quote the script, which need not be valid UTF-8.
        const std::string body = message.dump(-1, ' ', false, json::error_handler_t::replace);
        out << "Content-Length: " << body.size() << "\r\n\r\n" << body;
        out.flush();
    }
    void answer(const json& id, json result) { send({{"jsonrpc", "2.0"}, {"id", id}, {"result", std::move(result)}}); }
    void fail(const json& id, int code, const std::string& message) {
        send({{"jsonrpc", "2.0"}, {"id", id}, {"error", {{"code", code}, {"message", message}}}});
    }
    void notify(const char* method, json params) {
        send({{"jsonrpc", "2.0"}, {"method", method}, {"params", std::move(params)}});
    }

    void handle(const json& message);
    json request(const std::string& method, const json& params);
    void notification(const std::string& method, const json& params);
    json initialize(const json& params);

    document* find(const json& params) {
        const auto found = documents.find(string_at(params.at("textDocument"), "uri"));
        return found == documents.end() ? nullptr : found->second.get();
    }
    void change(document& d, const json& params);
    void check(document& d);
    void publish_held(const document& d);
    void check_flash_files(const document& d);
    void flash_checked(const std::string& uri, std::vector<flash_finding> found);
};

void server::state::handle(const json& message) {
    if (!message.is_object()) return fail(nullptr, invalid_request, "a message is a JSON object");
    const bool has_id = message.contains("id");
    const json id = has_id ? message["id"] : json(nullptr);
    if (has_id && !id.is_string() && !id.is_number_integer())
        return fail(nullptr, invalid_request, "the id of a request is a number or a string");
    if (!message.contains("method")) {
        // A response to a request of ours: the server sends none.
        if (has_id && (message.contains("result") || message.contains("error"))) return;
        return fail(id, invalid_request, "a request needs a method");
    }
    if (!message["method"].is_string()) return fail(id, invalid_request, "the method is a string");
    if (const auto version = message.find("jsonrpc"); version == message.end() || *version != "2.0")
        return fail(id, invalid_request, "jsonrpc must be \"2.0\"");
    const std::string& method = message["method"].get_ref<const std::string&>();
    const auto found_params = message.find("params");
    const json& params = found_params == message.end() ? no_params : *found_params;
    // A notification has no answer: the editor's log says what went wrong.
    auto refuse = [&](error_code code, const std::string& why) {
        if (has_id)
            fail(id, code, why);
        else
            notify("window/logMessage", {{"type", 1}, {"message", method + ": " + why}});
    };
    try {
        if (has_id)
            answer(id, request(method, params));
        else
            notification(method, params);
    } catch (const rpc_error& e) {
        refuse(e.code, e.message);
    } catch (const invalid_params& e) {
        refuse(invalid_params_code, e.what());
    } catch (const request_failed& e) {
        refuse(request_failed_code, e.what());
    } catch (const json::exception& e) {
        refuse(invalid_params_code, e.what());
    } catch (const std::exception& e) {
        refuse(internal_error, e.what());
    }
}

json server::state::request(const std::string& method, const json& params) {
    if (method == "initialize") {
        if (now != phase::starting) throw rpc_error{invalid_request, "initialize may come only once"};
        return initialize(params);
    }
    if (now == phase::starting) throw rpc_error{server_not_initialized, "the server is not initialized yet"};
    if (now != phase::running) throw rpc_error{invalid_request, "the server is shutting down"};
    if (method == "shutdown") {
        now = phase::shutting_down;
        shutdown_requested = true;
        return nullptr;
    }
    using answer_of = json (*)(const document&, const json&, const state&);
    static const std::map<std::string_view, answer_of> of_a_document = {
        {"textDocument/documentSymbol", [](const document& d, const json&, const state& s) { return symbols(d, s.hierarchical_symbols); }},
        {"textDocument/codeAction", [](const document& d, const json& p, const state&) { return code_actions(d, p.at("range")); }},
        {"textDocument/formatting", [](const document& d, const json&, const state&) { return formatting(d, nullptr); }},
        {"textDocument/rangeFormatting",
         [](const document& d, const json& p, const state&) { return formatting(d, &p.at("range")); }},
        {"textDocument/foldingRange", [](const document& d, const json&, const state&) { return folding_ranges(d); }},
        {"textDocument/semanticTokens/full", [](const document& d, const json&, const state&) { return semantic_tokens(d); }},
    };
    if (const auto handler = of_a_document.find(method); handler != of_a_document.end()) {
        document* d = find(params);
        // Quick fixes and formatting go by the findings and the formatter,
        // not by the labels: no parse for them.
        const bool by_labels = method != "textDocument/codeAction" && method != "textDocument/formatting" &&
                               method != "textDocument/rangeFormatting";
        if (d && by_labels) d->read();
        return d ? handler->second(*d, params, *this) : json(nullptr);
    }
    using answer_at = json (*)(const document&, size_t, const json&, const state&);
    static const std::map<std::string_view, answer_at> at_a_place = {
        {"textDocument/hover", [](const document& d, size_t at, const json&, const state& s) { return hover(d, at, s.markdown); }},
        {"textDocument/definition", [](const document& d, size_t at, const json&, const state&) { return definition(d, at); }},
        {"textDocument/references",
         [](const document& d, size_t at, const json& p, const state&) {
             return references(d, at, p.at("context").at("includeDeclaration").get<bool>());
         }},
        {"textDocument/completion", [](const document& d, size_t at, const json&, const state&) { return completion(d, at); }},
        {"textDocument/documentHighlight", [](const document& d, size_t at, const json&, const state&) { return highlights(d, at); }},
        {"textDocument/prepareRename", [](const document& d, size_t at, const json&, const state&) { return prepare_rename(d, at); }},
        {"textDocument/rename",
         [](const document& d, size_t at, const json& p, const state&) { return rename(d, at, string_at(p, "newName")); }},
        {"textDocument/signatureHelp", [](const document& d, size_t at, const json&, const state&) { return signature_help(d, at); }},
    };
    const auto handler = at_a_place.find(method);
    if (handler == at_a_place.end()) throw rpc_error{method_not_found, "no method " + method};
    document* d = find(params);
    if (d) d->read();
    // A place past the last line has nothing to show.
    const std::optional<size_t> at = d ? d->offset_of(params.at("position")) : std::nullopt;
    return at ? handler->second(*d, *at, params, *this) : json(nullptr);
}

json server::state::initialize(const json& params) {
    const json& capabilities = params.at("capabilities");
    const json formats = capabilities.value("/textDocument/hover/contentFormat"_json_pointer, json::array());
    markdown = std::find(formats.begin(), formats.end(), "markdown") != formats.end();
    hierarchical_symbols =
        capabilities.value("/textDocument/documentSymbol/hierarchicalDocumentSymbolSupport"_json_pointer, false);
    if (const json folders = params.value("workspaceFolders", json()); folders.is_array() && !folders.empty())
        root = path_of(string_at(folders[0], "uri"));
    else if (const json uri = params.value("rootUri", json()); uri.is_string())
        root = path_of(uri.get<std::string>());
    else if (const json path = params.value("rootPath", json()); path.is_string())
        root = path.get<std::string>();
    now = phase::running;
    return {{"capabilities",
             {{"positionEncoding", "utf-16"},
              {"textDocumentSync", {{"openClose", true}, {"change", incremental_sync}, {"save", {{"includeText", false}}}}},
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
              {"semanticTokensProvider", {{"legend", semantic_token_legend()}, {"full", true}}}}},
            {"serverInfo", {{"name", "vendrak-lsp"}, {"version", VENDRAK_VERSION}}}};
}

void server::state::notification(const std::string& method, const json& params) {
    if (method == "exit") {
        now = phase::exited;
        return;
    }
    // Before initialize and after shutdown, notifications are dropped.
    if (now != phase::running) return;
    if (method == "textDocument/didOpen") {
        const json& item = params.at("textDocument");
        const std::string& uri = string_at(item, "uri");
        auto d = std::make_unique<document>();
        d->uri = uri;
        d->path = path_of(uri);
        d->version = item.value("version", int64_t{0});
        d->set_text(string_at(item, "text"));
        check(*d);
        check_flash_files(*d);
        documents[uri] = std::move(d);
    } else if (method == "textDocument/didChange") {
        // A change to a document that is not open has nothing to change.
        if (document* d = find(params)) change(*d, params);
    } else if (method == "textDocument/didSave") {
        if (const document* d = find(params)) check_flash_files(*d);
    } else if (method == "textDocument/didClose") {
        const auto found = documents.find(string_at(params.at("textDocument"), "uri"));
        if (found == documents.end()) return;
        notify("textDocument/publishDiagnostics", {{"uri", found->first}, {"diagnostics", json::array()}});
        documents.erase(found);
    }
}

// Each change is the whole text, or a range of it and what replaces it.
// The changes are applied to a copy, which replaces the held text only when
// all of them could be applied; a change older than the held text is
// dropped. When a change is refused, the diagnostics of the text still held
// are published again, since the editor shows a text the server does not
// have, and the reason goes to the editor's log.
void server::state::change(document& d, const json& params) {
    try {
        const json& version = params.at("textDocument").at("version");
        if (!version.is_number_integer()) throw invalid_params("the version of a document is a whole number");
        if (version.get<int64_t>() < d.version) {
            notify("window/logMessage", {{"type", 3},
                                         {"message", "textDocument/didChange: version " + version.dump() +
                                                         " is older than the text held, version " +
                                                         std::to_string(d.version) + ", and is ignored"}});
            return;
        }
        const json& changes = params.at("contentChanges");
        if (!changes.is_array()) throw invalid_params("contentChanges is a list");
        std::string text = d.text;
        for (const json& c : changes) {
            if (!c.is_object()) throw invalid_params("a content change is an object");
            const std::string& replacement = string_at(c, "text");
            const auto range = c.find("range");
            if (range == c.end()) {
                text = replacement;
                continue;
            }
            // Places past the end of the text are its end.
            const text_index lines(text);
            const size_t begin = document::offset_in(lines, range->at("start")).value_or(text.size());
            const size_t end = std::max(begin, document::offset_in(lines, range->at("end")).value_or(text.size()));
            text.replace(begin, end - begin, replacement);
        }
        d.version = version.get<int64_t>();
        d.set_text(std::move(text));
        d.changed_at = std::chrono::steady_clock::now();
    } catch (...) {
        publish_held(d);
        throw;
    }
    check(d);
}

// The diagnostics of the held text, unless a check of it is on its way.
void server::state::publish_held(const document& d) {
    if (d.checked == d.generation) notify("textDocument/publishDiagnostics", diagnostics(d));
}

// The checks of the script itself, after every change, in the background:
// one check at a time, of the newest text. A check that ends after its text
// has been replaced publishes nothing.
void server::state::check(document& d) {
    made_jobs.push_back({&checks, d.uri, [this, uri = d.uri, generation = d.generation, text = d.text, path = d.path,
                                          directory = root] {
        // While changes keep coming, the check waits for the pause after
        // them; a newer text makes it give way at once.
        for (;;) {
            std::chrono::steady_clock::duration wait{};
            {
                const std::lock_guard lock(mutex);
                const auto d = documents.find(uri);
                if (now != phase::running || d == documents.end() || d->second->generation != generation) return;
                const auto since = std::chrono::steady_clock::now() - d->second->changed_at;
                if (since >= pause) break;
                wait = pause - since;
            }
            std::this_thread::sleep_for(wait);
        }
        check::check_options options;
        options.vbf_checks = false;
        options.vbf_directory = directory;
        std::vector<check::finding> found;
        try {
            found = check::check_script(text, path, options);
        } catch (const std::exception& e) {
            check::finding failure;
            failure.message = "The script could not be checked: ";
            failure.message += e.what();
            found.push_back(std::move(failure));
        }
        const std::lock_guard lock(mutex);
        const auto d = documents.find(uri);
        if (now != phase::running || d == documents.end() || d->second->generation != generation) return;
        d->second->script_findings = std::move(found);
        d->second->checked = generation;
        notify("textDocument/publishDiagnostics", diagnostics(*d->second));
    }});
}

// The VBF checks take as long as reading the flash files: they run in the
// background, on the text as it is now.
void server::state::check_flash_files(const document& d) {
    made_jobs.push_back({&flash_checks, d.uri, [this, uri = d.uri, text = d.text, path = d.path, directory = root] {
        check::check_options options;
        options.vbf_directory = directory;
        std::vector<flash_finding> found;
        try {
            std::vector<check::finding> all = check::check_script(text, path, options);
            options.vbf_checks = false;
            found = flash_only(std::move(all), check::check_script(text, path, options), text);
        } catch (const std::exception& e) {
            flash_finding failure;
            failure.found.message = "The VBF files could not be checked: ";
            failure.found.message += e.what();
            found.push_back(std::move(failure));
        }
        flash_checked(uri, std::move(found));
    }});
}

void server::state::flash_checked(const std::string& uri, std::vector<flash_finding> found) {
    const std::lock_guard lock(mutex);
    // After shutdown the editor expects nothing more, and after exit it may
    // have closed the stream.
    if (now != phase::running) return;
    const auto d = documents.find(uri);
    if (d == documents.end() || (found.empty() && d->second->flash_findings.empty())) return;
    d->second->flash_findings = std::move(found);
    publish_held(*d->second);
}

server::server(std::ostream& out, background& checks, background& flash_checks, std::chrono::milliseconds pause)
    : state_(std::make_unique<state>(out, checks, flash_checks, pause)) {}

server::~server() = default;

void server::receive(std::string_view body) {
    decltype(state_->made_jobs) jobs;
    {
        const std::lock_guard lock(state_->mutex);
        // The parser and the copies of a value recurse into its nesting:
        // the depth is bounded before the text is parsed.
        if (nesting_depth(body, deepest_nesting) > deepest_nesting) {
            state_->fail(nullptr, invalid_request,
                         "the message nests more than " + std::to_string(deepest_nesting) + " levels deep");
        } else if (const json message = json::parse(body, nullptr, false); message.is_discarded()) {
            state_->fail(nullptr, parse_error, "the message is not JSON");
        } else {
            state_->handle(message);
        }
        jobs.swap(state_->made_jobs);
    }
    for (auto& job : jobs) job.where->submit(job.key, std::move(job.run));
}

void server::unreadable(std::string_view why) {
    const std::lock_guard lock(state_->mutex);
    state_->fail(nullptr, parse_error, std::string(why));
}

bool server::exited() const {
    const std::lock_guard lock(state_->mutex);
    return state_->now == state::phase::exited;
}

void server::close() {
    const std::lock_guard lock(state_->mutex);
    state_->closed = true;
    state_->out.flush();
}

int server::exit_status() const {
    const std::lock_guard lock(state_->mutex);
    return state_->shutdown_requested ? 0 : 1;
}

}  // namespace vendrak::lsp
