// The items a command works on: all of them, or those its patterns select.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "catalogue/uChmExtractor.h"

namespace vexmor::cli {

// One flag per item. A pattern that selects no item is named on stderr
// ("no stream matches 'PATTERN'"), every such pattern, and the result is
// nullopt: the command then does nothing and fails.
std::optional<std::vector<bool>> SelectItems(const TChmItems& items, const std::vector<std::string>& patterns);

}  // namespace vexmor::cli
