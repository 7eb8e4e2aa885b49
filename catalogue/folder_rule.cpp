#include "catalogue/folder_rule.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <cerrno>
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

// A folder that another process made first counts as made.
bool MakeFolder(std::string& text, std::size_t length) {
    const Prefix prefix(text, length);
    if (::mkdir(prefix.c_str(), 0777) == 0) return true;
    if (errno != EEXIST) return false;
    struct stat info {};
    if (::stat(prefix.c_str(), &info) == 0 && S_ISDIR(info.st_mode)) return true;
    errno = ENOTDIR;  // something else stands there
    return false;
}

// Length of the folder part of the first `length` bytes: up to and including
// the last separator, 0 when there is none.
std::size_t FolderPartLength(const std::string& text, std::size_t length) {
    const auto last = text.rfind(kPathDelim, length - 1);
    return last == std::string::npos ? 0 : last + 1;
}

// Makes sure `folder` exists, creating it and any missing folder above it.
// One trailing separator is ignored. Nothing is created for an empty text,
// for an existing folder, or for a text that ends in a separator after that
// one was removed (a doubled separator). Returns false, errno telling why,
// when a creation failed.
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

int OpenFolderAt(int parent, const char* name, int extraFlags) {
    int fd;
    do {
        fd = ::openat(parent, name, O_RDONLY | O_DIRECTORY | O_CLOEXEC | extraFlags);
    } while (fd < 0 && errno == EINTR);
    return fd;
}

}  // namespace

Descriptor OpenChosenFolder(const std::string& folder, FolderLink link) {
    std::string path = folder.empty() ? std::string(".") : folder;
    // A trailing separator would make the open follow a link at the last
    // level whatever the flags say.
    while (path.size() > 1 && path.back() == '/') path.pop_back();
    const int flags = link == FolderLink::Refuse ? O_NOFOLLOW : 0;
    Descriptor opened(OpenFolderAt(AT_FDCWD, path.c_str(), flags));
    if (opened.IsOpen()) return opened;
    if (errno != ENOENT) return opened;
    // A failed creation tells why (no permission, no space, ...); the open
    // after it would only say that the folder is missing.
    if (!EnsureFolder(path)) {
        const int errnum = errno;
        Descriptor failed;
        errno = errnum;
        return failed;
    }
    return Descriptor(OpenFolderAt(AT_FDCWD, path.c_str(), flags));
}

Descriptor OpenInnerFolder(int parent, const std::string& name) {
    // Open first, as the folder exists for most items. A folder removed
    // again between the creation and the open is given a few more rounds.
    for (int round = 0; round < 3; ++round) {
        Descriptor opened(OpenFolderAt(parent, name.c_str(), O_NOFOLLOW));
        if (opened.IsOpen() || errno != ENOENT) return opened;
        if (::mkdirat(parent, name.c_str(), 0777) != 0 && errno != EEXIST) return Descriptor();
    }
    return Descriptor(OpenFolderAt(parent, name.c_str(), O_NOFOLLOW));
}

}  // namespace vexmor
