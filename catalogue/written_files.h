// The files an export has written so far, and the item each holds, so that
// a later item landing on one of them is refused rather than written over it.
#pragma once

#include <sys/stat.h>

#include <map>
#include <string>
#include <utility>

#include "catalogue/target_file.h"

namespace vexmor {

class TChmItem;

class WrittenFiles {
public:
    // Records that `item` was written at `path` (its inner path as written,
    // substitutes and all), as the file `stamp`.
    void Add(const FileStamp& stamp, const std::string& path, const TChmItem* item);

    // The earlier item whose file is `existing`, found at `name` in the
    // folder `folder` for the inner path `path`; null when none. A file is
    // known by its identity; where a file system gives each name its own
    // inode number (exFAT through FUSE), a name that differs from an
    // earlier one in case alone, and is not itself an entry of the folder,
    // is that earlier file under a folded name.
    const TChmItem* Holding(const struct stat& existing, int folder, const std::string& name,
                            const std::string& path) const;

private:
    std::map<FileStamp, const TChmItem*> byStamp_;
    // The inner path in lower case -> the path as written and its item.
    std::map<std::string, std::pair<std::string, const TChmItem*>> byFoldedPath_;
};

}  // namespace vexmor
