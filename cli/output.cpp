#include "cli/output.h"

#include <unistd.h>

#include <cstdio>

#include "catalogue/target_file.h"
#include "cli/escape.h"

namespace vexmor::cli {

void Message(const std::string& text) {
    std::fprintf(stderr, "%s: %s\n", kProgramName, EscapeForLine(text).c_str());
}

void WriteStdout(const void* data, std::size_t count) { WriteAll(STDOUT_FILENO, data, count); }

}  // namespace vexmor::cli
