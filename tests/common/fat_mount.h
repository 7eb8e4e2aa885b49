// A small FAT volume mounted through FUSE in a scratch folder, for the tests
// of targets that refuse characters in names and that have no nameless files.
#pragma once

#include <filesystem>
#include <memory>
#include <string>

#include "tests/common/temp_dir.h"

namespace vexmor::test {

class FatMount {
public:
    // Makes a FAT image of `mebibytes` and mounts it; Mounted() says whether
    // that worked, WhyNot() why not (for a skip message).
    explicit FatMount(int mebibytes = 16);
    // Unmounts it.
    ~FatMount();
    FatMount(const FatMount&) = delete;
    FatMount& operator=(const FatMount&) = delete;

    bool Mounted() const { return mounted_; }
    const std::string& WhyNot() const { return whyNot_; }
    // The mounted volume's root folder.
    const std::filesystem::path& Root() const { return root_; }
    std::string operator/(const std::string& relative) const { return (root_ / relative).string(); }

private:
    TempDir scratch_;
    std::filesystem::path root_;
    bool mounted_ = false;
    std::string whyNot_;
};

}  // namespace vexmor::test
