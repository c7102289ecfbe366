// Writes the statement help of vendrak-lsp from the language manual, so the
// hover text of a keyword is the manual's and is written once:
//
//   make_help docs/language.md statement_help.inc
//
// Each statement entry of the manual is a level-3 heading of keywords
// ("### LCD, HLCD, HUD"), its syntax lines (each one code span) and, after
// a blank line, one sentence saying what the statement is for. The output
// holds one initializer per entry:
//
//   {"LCD, HLCD, HUD", "LCD row column operand\n...", "Shows ..."},
//
// An entry without syntax lines or without its sentence stops the build.
#include <cstdio>
#include <fstream>
#include <iostream>
#include <regex>
#include <string>
#include <vector>

namespace {

// A C++ string literal of `s`.
std::string literal(const std::string& s) {
    std::string out = "\"";
    for (const char c : s) {
        if (c == '"' || c == '\\') out += '\\';
        if (c == '\n') {
            out += "\\n";
            continue;
        }
        out += c;
    }
    return out + '"';
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::cerr << "usage: make_help <language.md> <output>\n";
        return 2;
    }
    std::ifstream in(argv[1]);
    if (!in) {
        std::cerr << "make_help: cannot read " << argv[1] << "\n";
        return 1;
    }
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) lines.push_back(line);

    const std::regex heading("### ([A-Z][A-Z0-9_]*(, [A-Z][A-Z0-9_]*)*)");
    const std::regex syntax_line("`([^`]+)`");
    std::string table;
    size_t entries = 0;
    for (size_t i = 0; i < lines.size(); ++i) {
        std::smatch m;
        if (!std::regex_match(lines[i], m, heading)) continue;
        const std::string keywords = m[1];
        size_t k = i + 1;
        while (k < lines.size() && lines[k].empty()) ++k;
        std::string syntax;
        for (; k < lines.size() && std::regex_match(lines[k], m, syntax_line); ++k) {
            if (!syntax.empty()) syntax += '\n';
            syntax += m[1].str();
        }
        std::string sentence;
        if (k < lines.size() && lines[k].empty()) {
            for (++k; k < lines.size() && !lines[k].empty(); ++k) {
                if (!sentence.empty()) sentence += ' ';
                sentence += lines[k];
            }
        }
        if (syntax.empty() || sentence.empty()) {
            std::cerr << argv[1] << ":" << i + 1 << ": the entry of " << keywords
                      << " needs its syntax lines and, after a blank line, its sentence\n";
            return 1;
        }
        table += "    {" + literal(keywords) + ", " + literal(syntax) + ", " + literal(sentence) + "},\n";
        ++entries;
    }
    if (entries == 0) {
        std::cerr << "make_help: no statement entries in " << argv[1] << "\n";
        return 1;
    }
    std::ofstream out(argv[2], std::ios::binary);
    out << "// Made by make_help from the language manual; edit the manual, not this file.\n" << table;
    out.close();
    if (!out) {
        std::cerr << "make_help: cannot write " << argv[2] << "\n";
        return 1;
    }
    return 0;
}
