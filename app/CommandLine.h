// The window program's command line: `vexmorchm [FILE]`.
#pragma once

#include <string>
#include <vector>

namespace vexmor {

struct TCommandLine {
    std::string file;   // empty: start with nothing open
    bool help = false;  // print the usage and end
    std::string error;  // non-empty: a wrong command line, said in these words
};

// `arguments` are those after the program name, as the system passed them
// (Qt's own options already taken out). The file is kept as its bytes.
TCommandLine ParseCommandLine(const std::vector<std::string>& arguments);

extern const char* const kCommandLineUsage;

}  // namespace vexmor
