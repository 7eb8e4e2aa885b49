// A file under the system temporary directory, removed with its owner.
#pragma once

#include <cstdint>
#include <filesystem>
#include <span>
#include <string_view>

namespace vexmor::testsupport {

void WriteFileBytes(const std::filesystem::path& path, std::span<const std::uint8_t> bytes);

class TempFile {
public:
    // Writes `bytes` to a fresh, randomly named file; throws std::runtime_error on failure.
    explicit TempFile(std::span<const std::uint8_t> bytes, std::string_view suffix = ".chm");
    ~TempFile();
    TempFile(const TempFile&) = delete;
    TempFile& operator=(const TempFile&) = delete;

    const std::filesystem::path& path() const { return path_; }
    std::string string() const { return path_.string(); }

private:
    std::filesystem::path path_;
};

}  // namespace vexmor::testsupport
