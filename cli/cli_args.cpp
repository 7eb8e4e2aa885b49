#include "cli/cli_args.h"

namespace vexmor::cli {

namespace {

// Splits the words after the command into options and operands; "--" ends
// the options so that a file name may begin with '-'.
struct Words {
    std::vector<std::string> options;
    std::vector<std::string> operands;
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

UsageError WrongOperands(const std::string& command) {
    return UsageError{"wrong number of arguments for '" + command + "'"};
}

}  // namespace

Command ParseCommandLine(const std::vector<std::string>& args) {
    if (args.empty()) return UsageError{"no command given"};
    const std::string& command = args[0];
    if (command == "--help" || command == "-h") return HelpCommand{};
    if (command == "--version") return VersionCommand{};

    const Words words = Split(args, 1);
    for (const std::string& option : words.options) {
        if (option == "--help" || option == "-h") return HelpCommand{};
    }
    const bool extract = command == "extract";
    for (const std::string& option : words.options) {
        if (!(extract && (option == "--keep-going" || option == "--stats")))
            return UsageError{"unknown option '" + option + "'"};
    }
    const std::vector<std::string>& operands = words.operands;
    for (const std::string& operand : operands) {
        if (operand.empty()) return UsageError{"an empty argument is neither a file nor a folder"};
    }

    if (command == "list") {
        if (operands.size() != 1) return WrongOperands(command);
        return ListCommand{operands[0]};
    }
    if (extract) {
        if (operands.empty() || operands.size() > 2) return WrongOperands(command);
        auto given = [&](const char* name) {
            for (const std::string& option : words.options)
                if (option == name) return true;
            return false;
        };
        return ExtractCommand{operands[0], operands.size() == 2 ? operands[1] : std::string(), given("--keep-going"),
                              given("--stats")};
    }
    if (command == "cat") {
        if (operands.size() != 2) return WrongOperands(command);
        return CatCommand{operands[0], operands[1]};
    }
    return UsageError{"unknown command '" + command + "'"};
}

}  // namespace vexmor::cli
