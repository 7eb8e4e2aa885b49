#pragma once

#include <string>
#include <string_view>

namespace vexmor::test {

// Lower-case hex SHA-256 of `bytes`.
std::string Sha256Hex(std::string_view bytes);
// Lower-case hex SHA-256 of a file's content; throws when it cannot be read.
std::string Sha256OfFile(const std::string& path);

}  // namespace vexmor::test
