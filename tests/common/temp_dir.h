#pragma once

#include <filesystem>
#include <map>
#include <string>
#include <vector>

namespace vexmor::test {

// A fresh folder under the system's temporary folder, removed with all its
// content when the object goes.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::filesystem::path& path() const { return path_; }
    std::string operator/(const std::string& relative) const { return (path_ / relative).string(); }

private:
    std::filesystem::path path_;
};

// Writes `bytes` to `path`, replacing what was there.
void WriteFile(const std::filesystem::path& path, const std::string& bytes);
// The whole content of `path`; throws when it cannot be read.
std::string ReadFile(const std::filesystem::path& path);
// Every file and folder below `root`, relative to it, sorted.
std::vector<std::string> ListTree(const std::filesystem::path& root);
// Every entry below `root`, relative to it, with what it is: a regular file's
// bytes, a link's target, or its kind; links are not followed. Two snapshots
// differ when anything below `root` changed.
std::map<std::string, std::string> SnapshotTree(const std::filesystem::path& root);

}  // namespace vexmor::test
