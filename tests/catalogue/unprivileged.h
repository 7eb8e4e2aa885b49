// Running a piece of a test in a child process: without root's right to write
// any file, so that a read-only file is refused by the kernel also when the
// suite runs as root, or under limits that must not outlive it.
#pragma once

#include <functional>
#include <optional>
#include <string>

namespace vexmor::test {

// Runs `body` in a child process (so that limits it sets end with it) and
// returns the text it produced; as the unprivileged user nobody when
// `dropRights` and the caller is root. Returns nullopt when root could not
// give up its rights.
std::optional<std::string> RunInChild(const std::function<std::string()>& body, bool dropRights);

// Runs `body` as the unprivileged user nobody (in a child process when the
// caller is root, otherwise in place) and returns the text it produced.
// Returns nullopt when root could not give up its rights.
std::optional<std::string> RunUnprivileged(const std::function<std::string()>& body);

}  // namespace vexmor::test
