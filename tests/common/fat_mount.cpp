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

// Runs `args` as Run does and gives what it wrote on its output, without
// the final newline; empty when it failed.
std::string RunForOutput(const std::vector<std::string>& args) {
    int pipeEnds[2];
    if (::pipe2(pipeEnds, O_CLOEXEC) != 0) return {};
    std::vector<char*> argv;
    for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pipeEnds[1], STDOUT_FILENO);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    pid_t child = -1;
    const int spawned = ::posix_spawnp(&child, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(pipeEnds[1]);
    std::string output;
    char buffer[256];
    for (ssize_t got; spawned == 0 && (got = ::read(pipeEnds[0], buffer, sizeof buffer)) != 0;) {
        if (got < 0) {
            if (errno == EINTR) continue;
            break;
        }
        output.append(buffer, static_cast<std::size_t>(got));
    }
    ::close(pipeEnds[0]);
    if (spawned != 0) return {};
    int status = 0;
    while (::waitpid(child, &status, 0) < 0) {
        if (errno != EINTR) return {};
    }
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) return {};
    while (!output.empty() && output.back() == '\n') output.pop_back();
    return output;
}

}  // namespace

const char* VolumeKindName(VolumeKind kind) { return kind == VolumeKind::Fat ? "Fat" : "ExFat"; }

FatMount::FatMount(VolumeKind kind, int mebibytes) : root_(scratch_.path() / "volume") {
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
    if (::truncate(image.c_str(), static_cast<off_t>(mebibytes) << 20) != 0) {
        whyNot_ = "cannot make an image file in the scratch folder";
        return;
    }
    if (kind == VolumeKind::ExFat) {
        if (!Run({"mkfs.exfat", image})) {
            whyNot_ = "cannot make an exFAT image (mkfs.exfat from exfatprogs is needed)";
            return;
        }
        if (Run({"mount.exfat-fuse", image, root_.string()})) {
            mounted_ = true;
            return;
        }
        if (::geteuid() == 0) loopDevice_ = RunForOutput({"losetup", "--find", "--show", image});
        if (loopDevice_.empty() || !Run({"mount.exfat-fuse", loopDevice_, root_.string()})) {
            whyNot_ = "cannot mount an exFAT image through FUSE (exfat-fuse, a usable /dev/fuse and, as root, a "
                      "loop device are needed)";
            return;
        }
        mounted_ = true;
        return;
    }
    if (!Run({"mkfs.fat", image})) {
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
    if (!loopDevice_.empty()) Run({"losetup", "-d", loopDevice_});
}

}  // namespace vexmor::test
