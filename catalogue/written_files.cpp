#include "catalogue/written_files.h"

#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstring>

namespace vexmor {

namespace {

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

WrittenFiles::PathHashes WrittenFiles::HashesOf(const std::string& folder, const std::string& name) {
    PathHashes hashes{14695981039346656037ull, 14695981039346656037ull};
    const auto take = [&](unsigned char byte) {
        const unsigned char folded = byte >= 'A' && byte <= 'Z' ? static_cast<unsigned char>(byte - 'A' + 'a') : byte;
        hashes.folded = (hashes.folded ^ folded) * 1099511628211ull;
        hashes.exact = (hashes.exact ^ byte) * 1099511628211ull;
    };
    for (const char c : folder) take(static_cast<unsigned char>(c));
    take('/');
    for (const char c : name) take(static_cast<unsigned char>(c));
    return hashes;
}

void WrittenFiles::Add(const FileStamp& stamp, const std::string& folder, const std::string& name,
                       const TChmItem* item) {
    byStamp_.insert_or_assign(stamp, item);
    const PathHashes hashes = HashesOf(folder, name);
    byFoldedPath_.insert_or_assign(hashes.folded, std::make_pair(hashes.exact, item));
}

const TChmItem* WrittenFiles::Holding(const struct stat& existing, int folderFd, const std::string& folder,
                                      const std::string& name) const {
    if (const auto earlier = byStamp_.find(StampOf(existing)); earlier != byStamp_.end()) return earlier->second;
    const PathHashes hashes = HashesOf(folder, name);
    const auto folded = byFoldedPath_.find(hashes.folded);
    if (folded == byFoldedPath_.end() || folded->second.first == hashes.exact) return nullptr;
    return ListsExactly(folderFd, name) ? nullptr : folded->second.second;
}

}  // namespace vexmor
