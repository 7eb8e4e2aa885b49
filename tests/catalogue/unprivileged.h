// Running a piece of a test without root's right to write any file, so that a
// read-only file is refused by the kernel also when the suite runs as root.
#pragma once

#include <functional>
#include <optional>
#include <string>

namespace vexmor::test {

// Runs `body` as the unprivileged user nobody (in a child process when the
// caller is root, otherwise in place) and returns the text it produced.
// Returns nullopt when root could not give up its rights.
std::optional<std::string> RunUnprivileged(const std::function<std::string()>& body);

}  // namespace vexmor::test
