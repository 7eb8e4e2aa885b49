#include "catalogue/written_files.h"

#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstring>

namespace vexmor {

namespace {

std::string FoldAscii(const std::string& text) {
    std::string folded = text;
    for (char& c : folded)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return folded;
}

// Whether the folder lists an entry spelled exactly `name`. Asked only when
// two written names differ in case alone; when the folder cannot be listed,
// the answer is no, so that the later item is refused rather than written
// over the earlier one.
bool ListsExactly(int folder, const std::string& name) {
    const int listing = ::openat(folder, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (listing < 0) return false;
    DIR* dir = ::fdopendir(listing);
    if (dir == nullptr) {
        ::close(listing);
        return false;
    }
    bool found = false;
    while (const dirent* entry = ::readdir(dir)) {
        if (name == entry->d_name) {
            found = true;
            break;
        }
    }
    ::closedir(dir);
    return found;
}

}  // namespace

void WrittenFiles::Add(const FileStamp& stamp, const std::string& path, const TChmItem* item) {
    byStamp_.insert_or_assign(stamp, item);
    byFoldedPath_.insert_or_assign(FoldAscii(path), std::make_pair(path, item));
}

const TChmItem* WrittenFiles::Holding(const struct stat& existing, int folder, const std::string& name,
                                      const std::string& path) const {
    if (const auto earlier = byStamp_.find(StampOf(existing)); earlier != byStamp_.end()) return earlier->second;
    const auto folded = byFoldedPath_.find(FoldAscii(path));
    if (folded == byFoldedPath_.end() || folded->second.first == path) return nullptr;
    return ListsExactly(folder, name) ? nullptr : folded->second.second;
}

}  // namespace vexmor
