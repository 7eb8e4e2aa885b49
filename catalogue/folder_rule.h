// Opening the folders that exported items go into.
#pragma once

#include <string>

#include "catalogue/descriptor.h"

namespace vexmor {

// How the last level of the chosen folder is taken when it is a link.
enum class FolderLink {
    Follow,  // the user named this folder, link or not
    Refuse,  // a folder the program named itself: a link there is ELOOP
};

// Makes sure `folder` exists, creating it and any missing folder above it,
// then opens it. Links above the last level are followed. A folder that
// another process creates meanwhile is a success. On failure the descriptor
// is closed and errno tells why: of the creation when one failed.
Descriptor OpenChosenFolder(const std::string& folder, FolderLink link = FolderLink::Follow);

// Opens the folder `name` (one level, no separator) inside the folder
// `parent`, creating it when missing. An existing entry that is not a real
// folder (a link, a plain file, ...) is never followed: the result is closed
// with errno ENOTDIR or ELOOP. A folder that appears between the check and
// the creation is a success.
Descriptor OpenInnerFolder(int parent, const std::string& name);

}  // namespace vexmor
