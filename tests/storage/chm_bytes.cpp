#include "tests/storage/chm_bytes.h"

#include <stdexcept>

#include "tests/common/temp_dir.h"

namespace vexmor::test {

namespace {

std::uint64_t GetLE(const std::string& b, std::size_t at, int width) {
    std::uint64_t v = 0;
    for (int i = width - 1; i >= 0; --i) v = v << 8 | static_cast<std::uint8_t>(b.at(at + static_cast<std::size_t>(i)));
    return v;
}

std::uint64_t EncInt(const std::string& b, std::size_t& at) {
    std::uint64_t v = 0;
    for (;;) {
        const auto c = static_cast<std::uint8_t>(b.at(at++));
        v = v << 7 | (c & 0x7F);
        if (!(c & 0x80)) return v;
    }
}

}  // namespace

ChmBytes ChmBytes::Load(const std::string& path) {
    ChmBytes chm;
    chm.bytes = ReadFile(path);
    const std::string& b = chm.bytes;
    chm.itspAt = static_cast<std::size_t>(GetLE(b, 0x48, 8));
    chm.contentOffset = GetLE(b, 0x58, 8);
    chm.chunkSize = static_cast<std::uint32_t>(GetLE(b, chm.itspAt + 0x10, 4));
    const auto first = static_cast<std::size_t>(GetLE(b, chm.itspAt + 0x20, 4));
    chm.firstChunkAt = chm.itspAt + static_cast<std::size_t>(GetLE(b, chm.itspAt + 0x08, 4)) + first * chm.chunkSize;
    const std::size_t end = chm.firstChunkAt + chm.chunkSize - static_cast<std::size_t>(GetLE(b, chm.firstChunkAt + 4, 4));
    for (std::size_t at = chm.firstChunkAt + 0x14; at < end;) {
        RawEntry e;
        const auto nameLength = static_cast<std::size_t>(EncInt(b, at));
        e.name = b.substr(at, nameLength);
        at += nameLength;
        e.section = EncInt(b, at);
        e.offset = EncInt(b, at);
        e.lengthAt = at;
        e.length = EncInt(b, at);
        e.lengthBytes = at - e.lengthAt;
        chm.entries.push_back(e);
    }
    return chm;
}

const RawEntry& ChmBytes::Entry(const std::string& name) const {
    for (const auto& e : entries)
        if (e.name == name) return e;
    throw std::runtime_error("no entry " + name + " in the first listing chunk");
}

std::size_t ChmBytes::StoredAt(const std::string& name) const {
    return static_cast<std::size_t>(contentOffset + Entry(name).offset);
}

void ChmBytes::PutU32(std::size_t at, std::uint32_t value) {
    for (int i = 0; i < 4; ++i) bytes.at(at + static_cast<std::size_t>(i)) = static_cast<char>(value >> (8 * i));
}

void ChmBytes::PutU64(std::size_t at, std::uint64_t value) {
    for (int i = 0; i < 8; ++i) bytes.at(at + static_cast<std::size_t>(i)) = static_cast<char>(value >> (8 * i));
}

std::uint64_t ChmBytes::GetU64(std::size_t at) const { return GetLE(bytes, at, 8); }

}  // namespace vexmor::test
