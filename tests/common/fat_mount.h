// A small FAT or exFAT volume mounted through FUSE in a scratch folder, for
// the tests of targets that refuse characters in names, fold names that
// differ in case to one, and have no nameless files.
#pragma once

#include <filesystem>
#include <memory>
#include <string>

#include "tests/common/temp_dir.h"

namespace vexmor::test {

enum class VolumeKind {
    Fat,    // fusefat, with the file's first cluster as its inode number
    ExFat,  // exfat-fuse, whose inode numbers belong to names, not files
};

const char* VolumeKindName(VolumeKind kind);

class FatMount {
public:
    // Makes an image of `mebibytes` and mounts it; Mounted() says whether
    // that worked, WhyNot() why not (for a skip message). exfat-fuse run as
    // root mounts block devices only: the image is then set up on a loop
    // device.
    explicit FatMount(VolumeKind kind = VolumeKind::Fat, int mebibytes = 16);
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
    std::string loopDevice_;  // set up for the image, when one was
    bool mounted_ = false;
    std::string whyNot_;
};

}  // namespace vexmor::test
