// Opening the folders that exported items go into.
#pragma once

#include <string>

#include "catalogue/descriptor.h"

namespace vexmor {

// Makes sure `folder` exists, creating it and any missing folder above it,
// then opens it. Links on the way are followed: the user named this folder.
// A folder that another process creates meanwhile is a success. On failure
// the descriptor is closed and errno tells why.
Descriptor OpenChosenFolder(const std::string& folder);

// Opens the folder `name` (one level, no separator) inside the folder
// `parent`, creating it when missing. An existing entry that is not a real
// folder (a link, a plain file, ...) is never followed: the result is closed
// with errno ENOTDIR or ELOOP. A folder that appears between the check and
// the creation is a success.
Descriptor OpenInnerFolder(int parent, const std::string& name);

}  // namespace vexmor
