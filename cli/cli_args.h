// The command line of vexmorchm-cli: one table of its commands, with their
// operands and options, that both parses the words and writes the usage.
#pragma once

#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace vexmor::cli {

struct ListCommand {
    std::string file;
    std::vector<std::string> patterns;  // empty: every stream
    bool nulSeparated = false;          // raw names, each ended by a NUL byte
};

struct ExtractCommand {
    std::string file;
    std::string folder;  // empty: named after the file, in the current folder
    bool keepGoing = false;
    bool stats = false;  // report how much decoding the export cost
    std::vector<std::string> patterns;  // empty: every stream
};

// Writes the streams as a folder a browser reads, with an entry page.
struct SiteCommand {
    std::string file;
    std::string folder;  // empty: named after the file, in the current folder
    bool keepGoing = false;
};

// Writes the help file as one EPUB file.
struct EpubCommand {
    std::string file;
    std::string target;  // empty: the file's name with .epub, in the current folder
};

struct CatCommand {
    std::string file;
    std::string innerPath;
};

// Decodes every stream without writing anything.
struct TestCommand {
    std::string file;
};

struct InfoCommand {
    std::string file;
    bool json = false;
};

struct HelpCommand {};
struct VersionCommand {};

// What the user asked for, or why the command line is wrong.
struct UsageError {
    std::string message;
};

using Command = std::variant<ListCommand, ExtractCommand, SiteCommand, EpubCommand, CatCommand, TestCommand, InfoCommand, HelpCommand,
                             VersionCommand, UsageError>;

// `args` without the program name.
Command ParseCommandLine(const std::vector<std::string>& args);

// The text of --help, for the program named `program`.
std::string UsageText(std::string_view program);

}  // namespace vexmor::cli
