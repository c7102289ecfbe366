// What the language-server fuzzer does with one input: the input is the
// byte stream an editor sends, framed messages or not, and it goes through
// the server's framing and dispatch in-process, the checks of the scripts
// run at once and the VBF checks not at all (they would read whatever files
// the input names). Every message the server writes must be a frame whose
// body is a JSON-RPC 2.0 object.
#pragma once

#include <sstream>
#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

#include "lsp/server.h"

namespace vendrak::fuzzing {

inline std::string lsp_one(std::string_view input) {
    struct dropped final : lsp::background {
        void submit(const std::string&, std::function<void()>) override {}
    } flash_checks;
    lsp::run_at_once checks;
    std::ostringstream out;
    {
        lsp::server s(out, checks, flash_checks);
        std::istringstream in{std::string(input)};
        lsp::serve(in, s);
    }
    const std::string written = out.str();
    static constexpr std::string_view header = "Content-Length: ";
    for (size_t at = 0; at < written.size();) {
        if (written.compare(at, header.size(), header) != 0) return "a message without its Content-Length header";
        const size_t end = written.find("\r\n\r\n", at);
        if (end == written.npos) return "a header without its blank line";
        const std::string digits = written.substr(at + header.size(), end - at - header.size());
        if (digits.empty() || digits.find_first_not_of("0123456789") != digits.npos) return "a length that is no number";
        const size_t length = std::stoul(digits);
        if (end + 4 + length > written.size()) return "a body shorter than its length";
        const auto body = nlohmann::json::parse(written.substr(end + 4, length), nullptr, false);
        if (body.is_discarded() || !body.is_object() || body.value("jsonrpc", "") != "2.0")
            return "a body that is no JSON-RPC 2.0 message";
        if (!body.contains("method") && body.contains("result") == body.contains("error"))
            return "an answer without exactly one of result and error";
        at = end + 4 + length;
    }
    return {};
}

}  // namespace vendrak::fuzzing
