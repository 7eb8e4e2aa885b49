#include "catalogue/folder_rule.h"

#include <sys/stat.h>

#include <vector>

#include "catalogue/path_delim.h"

namespace vexmor {

namespace {

// Lets a system call see the first `length` bytes of `text` as a C string
// without copying: the byte after them is replaced by NUL for the scope.
class Prefix {
public:
    Prefix(std::string& text, std::size_t length) : text_(text), length_(length), saved_(text[length]) {
        text_[length_] = '\0';
    }
    ~Prefix() { text_[length_] = saved_; }
    Prefix(const Prefix&) = delete;
    Prefix& operator=(const Prefix&) = delete;
    const char* c_str() const { return text_.c_str(); }

private:
    std::string& text_;
    std::size_t length_;
    char saved_;
};

bool IsFolder(std::string& text, std::size_t length) {
    const Prefix prefix(text, length);
    struct stat info {};
    return ::stat(prefix.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

bool MakeFolder(std::string& text, std::size_t length) {
    const Prefix prefix(text, length);
    return ::mkdir(prefix.c_str(), 0777) == 0;
}

// Length of the folder part of the first `length` bytes: up to and including
// the last separator, 0 when there is none.
std::size_t FolderPartLength(const std::string& text, std::size_t length) {
    const auto last = text.rfind(kPathDelim, length - 1);
    return last == std::string::npos ? 0 : last + 1;
}

}  // namespace

bool EnsureFolder(const std::string& folder) {
    // Walk up until a level needs no creation, then create downwards. Levels
    // are prefixes of one text, held by length: a loop, no recursion and no
    // copy per level, since the depth comes from names inside the help file.
    std::string text = folder;
    text.push_back('\0');  // room for Prefix at the full length
    std::vector<std::size_t> missing;
    std::size_t length = folder.size();
    for (;;) {
        if (length > 0 && text[length - 1] == kPathDelim) --length;
        if (length == 0 || IsFolder(text, length)) break;
        const std::size_t parent = FolderPartLength(text, length);
        if (parent == length) break;  // a doubled separator: nothing to create
        missing.push_back(length);
        length = parent;
    }
    for (auto level = missing.rbegin(); level != missing.rend(); ++level) {
        if (!MakeFolder(text, *level)) return false;
    }
    return true;
}

}  // namespace vexmor
