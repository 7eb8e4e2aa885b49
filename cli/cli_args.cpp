#include "cli/cli_args.h"

#include <algorithm>
#include <cstdint>
#include <string_view>

namespace vexmor::cli {

namespace {

// Splits the words after the command into options and operands; "--" ends
// the options so that a file name may begin with '-'.
struct Words {
    std::vector<std::string> options;
    std::vector<std::string> operands;

    bool Has(std::string_view option) const {
        return std::find(options.begin(), options.end(), option) != options.end();
    }
};

Words Split(const std::vector<std::string>& args, std::size_t first) {
    Words words;
    bool optionsEnded = false;
    for (std::size_t i = first; i < args.size(); ++i) {
        const std::string& word = args[i];
        if (!optionsEnded && word == "--") {
            optionsEnded = true;
        } else if (!optionsEnded && word.size() > 1 && word[0] == '-') {
            words.options.push_back(word);
        } else {
            words.operands.push_back(word);
        }
    }
    return words;
}

// One command of the table: what it takes, what the usage says of it, and
// how its words become the command. `make` sees a count of operands within
// the bounds and only options of `options`.
struct CommandRow {
    std::string_view name;
    std::vector<std::string_view> options;
    std::string_view operands;  // as the usage names them
    std::size_t minOperands;
    std::size_t maxOperands;
    std::string_view help;  // lines of the usage, '\n' between them
    Command (*make)(const Words& words);
};

std::vector<std::string> OperandsFrom(const Words& words, std::size_t first) {
    if (words.operands.size() <= first) return {};
    return {words.operands.begin() + static_cast<std::ptrdiff_t>(first), words.operands.end()};
}

constexpr std::size_t kAnyNumber = SIZE_MAX;

const std::vector<CommandRow>& Commands() {
    static const std::vector<CommandRow> rows{
        {"list", {"-0"}, "FILE [PATTERN...]", 1, kAnyNumber,
         "one line per stream, in the file's order: size in bytes, a tab,\n"
         "inner path and name (the name alone at the root); with patterns,\n"
         "only the streams they match.\n"
         "-0 prints only the names, raw and each ended by a NUL byte (xargs -0)",
         [](const Words& w) -> Command { return ListCommand{w.operands[0], OperandsFrom(w, 1), w.Has("-0")}; }},
        {"extract", {"--keep-going", "--stats"}, "FILE [DIR] [PATTERN...]", 1, kAnyNumber,
         "writes every stream under DIR, rebuilding the inner folders;\n"
         "DIR defaults to a folder named after FILE without its extension.\n"
         "With patterns (DIR must then be given), only the streams they match.\n"
         "Stops at the first failure unless --keep-going is given. What stands\n"
         "in DIR (files, links, FIFOs) is replaced once the new file is\n"
         "complete, never written through; a link or file where an inner\n"
         "folder must be is a failure, never followed. A DIR holding '*',\n"
         "'?' or '[' must exist (else it is a pattern in DIR's place).\n"
         "--stats ends with 'decode work: X.XX', the bytes decoded over the\n"
         "compressed section's length (1.00: every part decoded once)",
         [](const Words& w) -> Command {
             return ExtractCommand{w.operands[0], w.operands.size() >= 2 ? w.operands[1] : std::string(),
                                   w.Has("--keep-going"), w.Has("--stats"), OperandsFrom(w, 2)};
         }},
        {"site", {"--keep-going"}, "FILE [DIR]", 1, 2,
         "writes the help file as a folder a browser reads, under DIR (default\n"
         "as for extract), with an entry page '$index.html': the title, the\n"
         "contents tree, the keyword index ('$keywords.html') and the default\n"
         "topic. Every stream but those whose names begin with '#', '$' or '::'\n"
         "is written as extract writes it; in pages and style sheets, links\n"
         "that differ from a stored name in case, use '\\' or ms-its: are\n"
         "repaired, and a page without a charset gets the file's code page.\n"
         "Prints the entry page's path last",
         [](const Words& w) -> Command {
             return SiteCommand{w.operands[0], w.operands.size() >= 2 ? w.operands[1] : std::string(),
                                w.Has("--keep-going")};
         }},
        {"epub", {}, "FILE [OUT.epub]", 1, 2,
         "writes the help file as an EPUB 3 e-book (with an EPUB 2 table of\n"
         "contents) to OUT.epub, default FILE's name with '.epub' in the\n"
         "current folder. Pages become XHTML in UTF-8 (presentational markup as\n"
         "CSS, scripts and ActiveX controls left out, links repaired as for\n"
         "site); style sheets, images and fonts are carried, other streams and\n"
         "those whose names begin with '#', '$' or '::' left out. The table of\n"
         "contents follows the contents file; the keyword index is a page.\n"
         "The book is written aside and put at its name only when complete",
         [](const Words& w) -> Command {
             return EpubCommand{w.operands[0], w.operands.size() >= 2 ? w.operands[1] : std::string()};
         }},
        {"cat", {}, "FILE INNER-PATH", 2, 2,
         "writes the bytes of the stream INNER-PATH (as list shows it) to stdout",
         [](const Words& w) -> Command { return CatCommand{w.operands[0], w.operands[1]}; }},
        {"test", {}, "FILE", 1, 1,
         "decodes every stream, in the order of their bytes, writing nothing;\n"
         "prints a line 'NAME: REASON' for each damaged stream and a summary.\n"
         "Exit status 0 when every stream is good, 1 otherwise",
         [](const Words& w) -> Command { return TestCommand{w.operands[0]}; }},
        {"info", {"--json"}, "FILE", 1, 1,
         "title, default topic and window, language, compiler, compile time,\n"
         "number of streams, sizes, LZX window and reset interval.\n"
         "--json prints one JSON object instead (keys in the manual page)",
         [](const Words& w) -> Command { return InfoCommand{w.operands[0], w.Has("--json")}; }},
    };
    return rows;
}

const CommandRow* FindCommand(std::string_view name) {
    for (const CommandRow& row : Commands())
        if (row.name == name) return &row;
    return nullptr;
}

bool IsHelp(std::string_view word) { return word == "--help" || word == "-h"; }

}  // namespace

Command ParseCommandLine(const std::vector<std::string>& args) {
    if (args.empty()) return UsageError{"no command given"};
    const std::string& command = args[0];
    if (IsHelp(command)) return HelpCommand{};
    if (command == "--version") return VersionCommand{};

    const Words words = Split(args, 1);
    if (std::any_of(words.options.begin(), words.options.end(), IsHelp)) return HelpCommand{};
    // An unknown command takes no options, so a stray option is named first.
    const CommandRow* row = FindCommand(command);
    for (const std::string& option : words.options) {
        if (row == nullptr || std::find(row->options.begin(), row->options.end(), option) == row->options.end())
            return UsageError{"unknown option '" + option + "'"};
    }
    for (const std::string& operand : words.operands) {
        if (operand.empty()) return UsageError{"an empty argument is neither a file nor a folder"};
    }
    if (row == nullptr) return UsageError{"unknown command '" + command + "'"};
    if (words.operands.size() < row->minOperands || words.operands.size() > row->maxOperands)
        return UsageError{"wrong number of arguments for '" + command + "'"};
    return row->make(words);
}

std::string UsageText(std::string_view program) {
    constexpr std::size_t kHelpColumn = 12;
    std::string text;
    for (const CommandRow& row : Commands()) {
        text += text.empty() ? "Usage: " : "       ";
        text += std::string(program) + " " + std::string(row.name);
        for (const std::string_view option : row.options) text += " [" + std::string(option) + "]";
        text += " " + std::string(row.operands) + "\n";
    }
    text += "       " + std::string(program) + " --help | -h | --version\n";
    text += "\nReads the streams of a compiled HTML help file (.chm).\n\n";
    for (const CommandRow& row : Commands()) {
        std::string lead = "  " + std::string(row.name);
        lead.resize(kHelpColumn, ' ');
        std::size_t begin = 0;
        while (begin <= row.help.size()) {
            std::size_t end = row.help.find('\n', begin);
            if (end == std::string_view::npos) end = row.help.size();
            text += lead + std::string(row.help.substr(begin, end - begin)) + "\n";
            lead.assign(kHelpColumn, ' ');
            begin = end + 1;
        }
    }
    text += "\n"
            "Patterns match the inner path and name as list shows it, one level\n"
            "(between '/') at a time, as fnmatch(3) does, in characters of UTF-8\n"
            "('?' is one character): '*', '?' and '[...]' never\n"
            "match '/'; a level written '**' matches any number of levels, none\n"
            "included ('**/*.html': every .html file), at least one at the end\n"
            "('html/**': everything below html). Quote patterns from the shell;\n"
            "'--' before a pattern that begins with '-'. A pattern that matches no\n"
            "stream is an error naming it, and then nothing is listed or written.\n"
            "\n"
            "Inner names and texts of the file are printed with control characters,\n"
            "Unicode format characters (direction marks, zero-width ones) and line\n"
            "separators, invalid UTF-8 and a backslash escaped (\\n, \\t, \\r, \\\\,\n"
            "\\ooo octal).\n"
            "\nExit status: 0 success, 1 failure, 2 wrong command line.\n";
    return text;
}

}  // namespace vexmor::cli
