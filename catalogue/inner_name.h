// Inner names of items, as the user reads them and as they reach the disk.
#pragma once

#include <string>

namespace vexmor {

// `path`/`name`, or `name` alone at the root.
std::string InnerPathAndName(const std::string& path, const std::string& name);

// True when `path` and `name` can only denote a place below the export
// folder: no empty, "." or ".." level, no NUL byte, and a name that is one
// level. An empty `path` (the root) is safe.
bool IsSafeInnerName(const std::string& path, const std::string& name);

}  // namespace vexmor
