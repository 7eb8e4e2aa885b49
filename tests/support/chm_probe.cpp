#include "tests/support/chm_probe.h"

#include <set>
#include <stdexcept>

namespace vexmor::testsupport {
namespace {

void Need(bool condition, const std::string& what) {
    if (!condition) throw std::runtime_error("probe: " + what);
}

struct Cursor {
    std::span<const std::uint8_t> bytes;
    std::uint64_t at;
    std::uint64_t end;

    std::uint64_t EncInt() {
        std::uint64_t value = 0;
        for (int i = 0; i < 9; ++i) {
            Need(at < end, "ENCINT runs past the entries");
            const auto byte = bytes[at++];
            value = (value << 7) | (byte & 0x7Fu);
            if ((byte & 0x80u) == 0) return value;
        }
        throw std::runtime_error("probe: ENCINT too long");
    }
    std::string Text(std::uint64_t length) {
        Need(length <= end - at, "name runs past the entries");
        std::string text(bytes.begin() + static_cast<std::ptrdiff_t>(at),
                         bytes.begin() + static_cast<std::ptrdiff_t>(at + length));
        at += length;
        return text;
    }
};

std::uint16_t ReadU16(std::span<const std::uint8_t> bytes, std::uint64_t at) {
    Need(at + 2 <= bytes.size(), "u16 past the end");
    return static_cast<std::uint16_t>(bytes[at] | (bytes[at + 1] << 8));
}

}  // namespace

std::uint32_t ReadU32(std::span<const std::uint8_t> bytes, std::uint64_t at) {
    Need(at + 4 <= bytes.size(), "u32 past the end");
    std::uint32_t value = 0;
    for (int i = 3; i >= 0; --i) value = (value << 8) | bytes[at + static_cast<std::uint64_t>(i)];
    return value;
}

std::uint64_t ReadU64(std::span<const std::uint8_t> bytes, std::uint64_t at) {
    return ReadU32(bytes, at) | (std::uint64_t{ReadU32(bytes, at + 4)} << 32);
}

ProbedChm ProbeChm(std::span<const std::uint8_t> file) {
    ProbedChm out;
    Need(file.size() >= 0x58 && std::string(file.begin(), file.begin() + 4) == "ITSF", "ITSF signature");
    out.version = ReadU32(file, 4);
    const auto headerLength = ReadU32(file, 8);
    Need((out.version == 3 && headerLength == 0x60) || (out.version == 2 && headerLength == 0x58), "ITSF version/length");
    const auto hs0 = ReadU64(file, 0x38);
    Need(ReadU32(file, hs0) == 0x1FE && ReadU64(file, hs0 + 8) == file.size(), "header section 0");
    const auto dirOffset = ReadU64(file, 0x48);
    const auto dirLength = ReadU64(file, 0x50);
    out.contentOffset = out.version == 3 ? ReadU64(file, 0x58) : dirOffset + dirLength;
    Need(out.contentOffset == dirOffset + dirLength, "content follows the directory");

    out.itspOffset = dirOffset;
    Need(ReadU32(file, dirOffset) == 0x50535449u, "ITSP signature");  // "ITSP"
    Need(ReadU32(file, dirOffset + 8) == 0x54, "ITSP length");
    out.chunkSize = ReadU32(file, dirOffset + 0x10);
    out.indexDepth = ReadU32(file, dirOffset + 0x18);
    out.rootIndexChunk = static_cast<std::int32_t>(ReadU32(file, dirOffset + 0x1C));
    const auto first = static_cast<std::int32_t>(ReadU32(file, dirOffset + 0x20));
    const auto last = static_cast<std::int32_t>(ReadU32(file, dirOffset + 0x24));
    out.chunkCount = ReadU32(file, dirOffset + 0x2C);
    Need(dirLength == 0x54 + std::uint64_t{out.chunkSize} * out.chunkCount, "directory length");
    const auto chunkAt = [&](std::int32_t n) { return dirOffset + 0x54 + std::uint64_t{out.chunkSize} * static_cast<std::uint32_t>(n); };

    std::set<std::int32_t> seen;
    std::int32_t previous = -1;
    for (std::int32_t n = first; n != -1;) {
        Need(n >= 0 && static_cast<std::uint32_t>(n) < out.chunkCount && seen.insert(n).second, "listing link");
        const auto base = chunkAt(n);
        out.listingChunkOffsets.push_back(base);
        Need(ReadU32(file, base) == 0x4C474D50u, "PMGL signature");  // "PMGL"
        const auto free = ReadU32(file, base + 4);
        Need(free <= out.chunkSize - 0x14, "free space");
        Need(static_cast<std::int32_t>(ReadU32(file, base + 0x0C)) == previous, "previous link");
        Cursor c{file, base + 0x14, base + out.chunkSize - free};
        std::uint64_t count = 0;
        while (c.at < c.end) {
            ProbedEntry e;
            e.name = c.Text(c.EncInt());
            e.section = c.EncInt();
            e.offset = c.EncInt();
            e.lengthAt = c.at;
            e.length = c.EncInt();
            e.lengthBytes = c.at - e.lengthAt;
            out.entries.push_back(std::move(e));
            ++count;
        }
        Need(ReadU16(file, base + out.chunkSize - 2) == count, "entry count at the chunk end");
        if (static_cast<std::int32_t>(ReadU32(file, base + 0x10)) == -1) Need(n == last, "last listing chunk");
        previous = n;
        n = static_cast<std::int32_t>(ReadU32(file, base + 0x10));
        ++out.listingChunkCount;
    }

    if (out.rootIndexChunk != -1) {
        const auto base = chunkAt(out.rootIndexChunk);
        Need(ReadU32(file, base) == 0x49474D50u, "PMGI signature");  // "PMGI"
        Cursor c{file, base + 8, base + out.chunkSize - ReadU32(file, base + 4)};
        while (c.at < c.end) {
            auto name = c.Text(c.EncInt());
            out.indexEntries.emplace_back(std::move(name), c.EncInt());
        }
    }
    return out;
}

}  // namespace vexmor::testsupport
