#include "tests/common/fat_mount.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <vector>

extern char** environ;

namespace vexmor::test {

namespace {

// Runs `args` (found on PATH) with its output discarded; true when it exits 0.
bool Run(const std::vector<std::string>& args) {
    std::vector<char*> argv;
    for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    pid_t child = -1;
    const int spawned = ::posix_spawnp(&child, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0) return false;
    int status = 0;
    while (::waitpid(child, &status, 0) < 0) {
        if (errno != EINTR) return false;
    }
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

}  // namespace

FatMount::FatMount(int mebibytes) : root_(scratch_.path() / "volume") {
    if (::access("/dev/fuse", R_OK | W_OK) != 0) {
        whyNot_ = "FUSE is not usable here (/dev/fuse cannot be opened)";
        return;
    }
    const std::string image = scratch_ / "fat.img";
    std::filesystem::create_directory(root_);
    if (::truncate(image.c_str(), 0) != 0) {
        const int fd = ::open(image.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
        if (fd >= 0) ::close(fd);
    }
    if (::truncate(image.c_str(), static_cast<off_t>(mebibytes) << 20) != 0 || !Run({"mkfs.fat", image})) {
        whyNot_ = "cannot make a FAT image (mkfs.fat from dosfstools is needed)";
        return;
    }
    // The file's own inode numbers (its first cluster), not ones given per
    // name: two names of one file must be seen as one file.
    if (!Run({"fusefat", "-o", "rw+,use_ino", image, root_.string()})) {
        whyNot_ = "cannot mount a FAT image through FUSE (fusefat and a usable /dev/fuse are needed)";
        return;
    }
    mounted_ = true;
}

FatMount::~FatMount() {
    if (mounted_ && !Run({"fusermount3", "-u", root_.string()})) Run({"umount", "-l", root_.string()});
}

}  // namespace vexmor::test
