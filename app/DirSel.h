// The folder picker: a modal choice of one existing folder, owned by a
// window, with a title and a folder to preselect.
#pragma once

#include <string>

class QWidget;

namespace vexmor {

// Shows the folder dialog over `owner`. `resultFolder` is emptied first;
// `initialFolder` is taken by value, so the caller may pass the same string
// for both. On confirmation `resultFolder` is the chosen folder ending in
// '/' and the result is true; on cancel it stays empty and the result is
// false. Paths are UTF-8 bytes, as the file system takes them.
bool BrowseForFolder(QWidget* owner, const std::string& title, std::string initialFolder,
                     std::string& resultFolder);

}  // namespace vexmor
