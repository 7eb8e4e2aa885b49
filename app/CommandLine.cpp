#include "app/CommandLine.h"

namespace vexmor {

const char* const kCommandLineUsage =
    "usage: vexmorchm [FILE]\n"
    "       vexmorchm --help | -h | --version\n"
    "Opens the window, with the compiled HTML help file FILE open when given.\n";

const char* const kVersionText = "vexmorchm " VEXMOR_VERSION "\n";

TCommandLine ParseCommandLine(const std::vector<std::string>& arguments) {
    TCommandLine result;
    bool optionsEnded = false;
    std::vector<std::string> files;
    for (const std::string& argument : arguments) {
        if (!optionsEnded && argument == "--") {
            optionsEnded = true;
        } else if (!optionsEnded && (argument == "-h" || argument == "--help")) {
            result.help = true;
        } else if (!optionsEnded && argument == "--version") {
            result.version = true;
        } else if (!optionsEnded && argument.size() > 1 && argument.front() == '-') {
            if (result.error.empty())
                result.error = "unknown option " + argument;
        } else {
            files.push_back(argument);
        }
    }
    if (result.error.empty() && files.size() > 1)
        result.error = "only one file can be opened";
    if (files.size() == 1)
        result.file = files.front();
    return result;
}

}  // namespace vexmor
