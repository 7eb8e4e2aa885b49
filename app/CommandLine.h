// The window program's command line: `vexmorchm [FILE]`.
#pragma once

#include <string>
#include <vector>

namespace vexmor {

struct TCommandLine {
    std::string file;      // empty: start with nothing open
    bool help = false;     // print the usage and end
    bool version = false;  // print the version and end
    std::string error;     // non-empty: a wrong command line, said in these words
};

// `arguments` are those after the program name, as the system passed them.
// The file is kept as its bytes. --help and --version are found wherever
// they stand before "--", also after a wrong argument, so that they can be
// answered before the window system is started (whose own options are
// still among the arguments then).
TCommandLine ParseCommandLine(const std::vector<std::string>& arguments);

extern const char* const kCommandLineUsage;
extern const char* const kVersionText;

}  // namespace vexmor
