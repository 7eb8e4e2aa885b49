#pragma once

#include <string>

namespace vexmor {

// Separator of inner paths and of the folders the program builds. In UTF-8
// this byte is never part of a longer character.
inline constexpr char kPathDelim = '/';

// `folder` with exactly one separator at its end; an empty text is the
// current folder (never the file-system root).
inline std::string WithTrailingDelim(const std::string& folder) {
    if (folder.empty()) return std::string(".") + kPathDelim;
    if (folder.back() == kPathDelim) return folder;
    return folder + kPathDelim;
}

}  // namespace vexmor
