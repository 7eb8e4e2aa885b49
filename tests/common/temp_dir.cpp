#include "tests/common/temp_dir.h"

#include <stdlib.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <vector>

namespace vexmor::test {

TempDir::TempDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "vexmor-test-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed for " + pattern);
    path_ = pattern;
}

TempDir::~TempDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
}

void WriteFile(const std::filesystem::path& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!out) throw std::runtime_error("cannot write " + path.string());
}

std::string ReadFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw std::runtime_error("cannot read " + path.string());
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::vector<std::string> ListTree(const std::filesystem::path& root) {
    std::vector<std::string> entries;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(root)) {
        entries.push_back(std::filesystem::relative(entry.path(), root).string());
    }
    std::sort(entries.begin(), entries.end());
    return entries;
}

std::map<std::string, std::string> SnapshotTree(const std::filesystem::path& root) {
    std::map<std::string, std::string> entries;
    for (auto it = std::filesystem::recursive_directory_iterator(root);
         it != std::filesystem::recursive_directory_iterator(); ++it) {
        std::string& what = entries[std::filesystem::relative(it->path(), root).string()];
        if (it->is_symlink())
            what = "link to " + std::filesystem::read_symlink(it->path()).string();
        else if (it->is_regular_file())
            what = "file " + ReadFile(it->path());
        else
            what = it->is_directory() ? "folder" : "other";
    }
    return entries;
}

}  // namespace vexmor::test
