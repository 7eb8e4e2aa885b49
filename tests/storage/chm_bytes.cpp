#include "tests/storage/chm_bytes.h"

#include <span>
#include <stdexcept>

#include "tests/common/temp_dir.h"

namespace vexmor::test {

namespace {

std::span<const std::uint8_t> AsBytes(const std::string& s) {
    return {reinterpret_cast<const std::uint8_t*>(s.data()), s.size()};
}

}  // namespace

ChmBytes ChmBytes::Load(const std::string& path) {
    ChmBytes chm;
    chm.bytes = ReadFile(path);
    chm.layout = testsupport::ProbeChm(AsBytes(chm.bytes));
    return chm;
}

std::size_t ChmBytes::FirstChunkAt() const { return static_cast<std::size_t>(layout.listingChunkOffsets.at(0)); }

const testsupport::ProbedEntry& ChmBytes::Entry(const std::string& name) const {
    for (const auto& e : layout.entries)
        if (e.name == name) return e;
    throw std::runtime_error("no entry " + name + " in the directory");
}

std::size_t ChmBytes::StoredAt(const std::string& name) const {
    return static_cast<std::size_t>(layout.contentOffset + Entry(name).offset);
}

void ChmBytes::PutU32(std::size_t at, std::uint32_t value) {
    for (int i = 0; i < 4; ++i) bytes.at(at + static_cast<std::size_t>(i)) = static_cast<char>(value >> (8 * i));
}

void ChmBytes::PutU64(std::size_t at, std::uint64_t value) {
    for (int i = 0; i < 8; ++i) bytes.at(at + static_cast<std::size_t>(i)) = static_cast<char>(value >> (8 * i));
}

std::uint64_t ChmBytes::GetU64(std::size_t at) const { return testsupport::ReadU64(AsBytes(bytes), at); }

}  // namespace vexmor::test
