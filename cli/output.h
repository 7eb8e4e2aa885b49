// Where vexmorchm-cli writes: data to stdout, messages to stderr.
#pragma once

#include <cstddef>
#include <string>

namespace vexmor::cli {

inline constexpr const char* kProgramName = "vexmorchm-cli";

// One line on stderr: "vexmorchm-cli: <text>", the text escaped as
// EscapeForLine does: messages carry inner names, which the file chose.
void Message(const std::string& text);

// Writes all `count` bytes to stdout; throws EInOutError when stdout refuses them.
void WriteStdout(const void* data, std::size_t count);

}  // namespace vexmor::cli
