// The files an export has written so far, and the item each holds, so that
// a later item landing on one of them is refused rather than written over it.
#pragma once

#include <sys/stat.h>

#include <cstdint>
#include <map>
#include <string>
#include <unordered_map>
#include <utility>

#include "catalogue/target_file.h"

namespace vexmor {

class TChmItem;

class WrittenFiles {
public:
    // Records that `item` was written as the file `stamp` at `name` in the
    // inner folder `folder` (both as written, substitutes and all).
    void Add(const FileStamp& stamp, const std::string& folder, const std::string& name, const TChmItem* item);

    // The earlier item whose file is `existing`, found at `name` in the
    // folder `folderFd`, the inner folder `folder`; null when none. A file
    // is known by its identity; where a file system gives each name its own
    // inode number (exFAT through FUSE), a name that differs from an
    // earlier one in case alone, and is not itself an entry of the folder,
    // is that earlier file under a folded name.
    const TChmItem* Holding(const struct stat& existing, int folderFd, const std::string& folder,
                            const std::string& name) const;

private:
    // Of an inner path: its hash without regard to ASCII case, and its
    // hash as spelled. Kept instead of the paths, which would cost an
    // export of many files megabytes.
    struct PathHashes {
        std::uint64_t folded;
        std::uint64_t exact;
    };
    static PathHashes HashesOf(const std::string& folder, const std::string& name);

    std::map<FileStamp, const TChmItem*> byStamp_;
    // The folded hash -> the exact hash and the item.
    std::unordered_map<std::uint64_t, std::pair<std::uint64_t, const TChmItem*>> byFoldedPath_;
};

}  // namespace vexmor
