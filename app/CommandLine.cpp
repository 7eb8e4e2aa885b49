#include "app/CommandLine.h"

namespace vexmor {

const char* const kCommandLineUsage =
    "usage: vexmorchm [FILE]\n"
    "Opens the window, with the compiled HTML help file FILE open when given.\n";

TCommandLine ParseCommandLine(const std::vector<std::string>& arguments) {
    TCommandLine result;
    bool optionsEnded = false;
    std::vector<std::string> files;
    for (const std::string& argument : arguments) {
        if (!optionsEnded && argument == "--") {
            optionsEnded = true;
        } else if (!optionsEnded && (argument == "-h" || argument == "--help")) {
            result.help = true;
        } else if (!optionsEnded && argument.size() > 1 && argument.front() == '-') {
            result.error = "unknown option " + argument;
            return result;
        } else {
            files.push_back(argument);
        }
    }
    if (files.size() > 1) {
        result.error = "only one file can be opened";
        return result;
    }
    if (!files.empty())
        result.file = files.front();
    return result;
}

}  // namespace vexmor
