// Creating the folder an exported item goes into.
#pragma once

#include <string>

namespace vexmor {

// Makes sure `folder` exists, creating it and any missing folder above it.
// One trailing separator is ignored. Nothing is created for an empty text,
// for an existing folder, or for a text that ends in a separator after that
// one was removed (a doubled separator). Returns false when a creation failed,
// for instance because a plain file stands where a folder must go.
bool EnsureFolder(const std::string& folder);

}  // namespace vexmor
