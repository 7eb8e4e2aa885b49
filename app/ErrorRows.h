// The texts of the error list's rows. Each starts with the Chinese words of
// what failed and names the help file or stream it concerns; the failure's
// own message, often the system's English text, follows as the detail.
#pragma once

#include <string>

namespace vexmor {

// Opening the help file at `path` failed with `message`.
std::string OpenFailureRow(const std::string& path, const std::string& message);

// Exporting failed with `message` while `item` (inner path and name; empty
// when no item had started) was being written. A message that already
// starts with the Chinese words (the catalogue's own refusals, which name
// their items) is the row as it is.
std::string ExportFailureRow(const std::string& item, const std::string& message);

}  // namespace vexmor
