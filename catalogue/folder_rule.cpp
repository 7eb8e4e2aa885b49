#include "catalogue/folder_rule.h"

#include <sys/stat.h>

#include <vector>

#include "catalogue/path_delim.h"

namespace vexmor {

namespace {

bool IsFolder(const std::string& text) {
    struct stat info {};
    return ::stat(text.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

// The text up to and including its last separator; empty when it has none.
std::string FolderPart(const std::string& text) {
    const auto last = text.rfind(kPathDelim);
    return last == std::string::npos ? std::string() : text.substr(0, last + 1);
}

}  // namespace

bool EnsureFolder(const std::string& folder) {
    // Walk up until a level needs no creation, then create downwards. A loop
    // rather than recursion: the depth comes from names inside the help file.
    std::vector<std::string> missing;
    std::string text = folder;
    for (;;) {
        if (!text.empty() && text.back() == kPathDelim) text.pop_back();
        if (text.empty() || IsFolder(text) || text == FolderPart(text)) break;
        std::string parent = FolderPart(text);
        missing.push_back(std::move(text));
        text = std::move(parent);
    }
    for (auto level = missing.rbegin(); level != missing.rend(); ++level) {
        if (::mkdir(level->c_str(), 0777) != 0) return false;
    }
    return true;
}

}  // namespace vexmor
