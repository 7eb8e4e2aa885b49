#include "fuzz/harness/scratch_folder.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <stdexcept>
#include <system_error>

namespace vexmor::fuzz {

namespace {

std::string TemporaryRoot() {
    const char* tmp = std::getenv("TMPDIR");
    if (tmp && *tmp) return tmp;
    struct stat info {};
    if (::stat("/dev/shm", &info) == 0 && S_ISDIR(info.st_mode) && ::access("/dev/shm", W_OK) == 0) return "/dev/shm";
    return "/tmp";
}

}  // namespace

ScratchFolder::ScratchFolder() {
    std::string pattern = TemporaryRoot() + "/vexmor-fuzz-" + std::to_string(::getpid()) + "-XXXXXX";
    if (!::mkdtemp(pattern.data())) throw std::runtime_error("cannot create a scratch folder under " + TemporaryRoot());
    path_ = pattern;
}

ScratchFolder::~ScratchFolder() { RemoveTree(path_); }

std::string ScratchFolder::WriteInput(const std::string& name, const std::uint8_t* data, std::size_t size) const {
    const std::string path = path_ + "/" + name;
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) throw std::runtime_error("cannot write " + path);
    std::size_t done = 0;
    while (done < size) {
        const ssize_t n = ::write(fd, data + done, size - done);
        if (n <= 0) {
            ::close(fd);
            throw std::runtime_error("cannot write " + path);
        }
        done += static_cast<std::size_t>(n);
    }
    ::close(fd);
    return path;
}

void RemoveTree(const std::string& path) {
    std::error_code ignored;
    // remove_all does not follow symbolic links; folders left without write
    // permission by a hostile run would stop it, so open them up first.
    for (auto it = std::filesystem::recursive_directory_iterator(path, ignored);
         !ignored && it != std::filesystem::recursive_directory_iterator(); it.increment(ignored)) {
        if (it->is_directory(ignored) && !it->is_symlink(ignored))
            std::filesystem::permissions(it->path(), std::filesystem::perms::owner_all,
                                         std::filesystem::perm_options::add, ignored);
    }
    std::filesystem::remove_all(path, ignored);
}

}  // namespace vexmor::fuzz
