#pragma once

namespace vexmor {

// Separator of inner paths and of the folders the program builds. In UTF-8
// this byte is never part of a longer character.
inline constexpr char kPathDelim = '/';

}  // namespace vexmor
