#include "tests/support/temp_file.h"

#include <fstream>
#include <random>
#include <stdexcept>
#include <string>
#include <system_error>

namespace vexmor::testsupport {

void WriteFileBytes(const std::filesystem::path& path, std::span<const std::uint8_t> bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    out.close();
    if (!out) throw std::runtime_error("cannot write " + path.string());
}

TempFile::TempFile(std::span<const std::uint8_t> bytes, std::string_view suffix) {
    std::random_device random;
    const std::uint64_t tag = (std::uint64_t{random()} << 32) ^ random();
    path_ = std::filesystem::temp_directory_path() / ("vexmor-test-" + std::to_string(tag) + std::string(suffix));
    WriteFileBytes(path_, bytes);
}

TempFile::~TempFile() {
    std::error_code ignored;
    std::filesystem::remove(path_, ignored);
}

}  // namespace vexmor::testsupport
