#include "tests/support/hostile_chm.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <stdexcept>

#include "tests/support/temp_file.h"

namespace vexmor::testsupport {

ChmImage RoundRobinChm(std::size_t streams, std::uint32_t spanBytes, unsigned spans) {
    std::vector<ChmEntry> entries;
    std::vector<std::vector<std::size_t>> inSpan(spans);
    for (std::size_t i = 0; i < streams; ++i) {
        char name[32];
        std::snprintf(name, sizeof name, "/rr/s%07zu", i);
        inSpan[i % spans].push_back(entries.size());
        entries.push_back({name, {static_cast<std::uint8_t>('a' + i % 26)}, 1});
    }
    ChmOptions options;
    options.lzx.windowBits = 21;
    options.lzx.resetIntervalBytes = spanBytes;
    options.lzx.blockSize = 1u << 20;
    options.indexWhenSeveralChunks = false;  // one index chunk would not hold them all
    for (unsigned span = 0; span < spans; ++span) {
        const std::size_t used = inSpan[span].size();
        if (used >= spanBytes) throw std::invalid_argument("more streams than a span holds");
        options.storageOrder.insert(options.storageOrder.end(), inSpan[span].begin(), inSpan[span].end());
        options.storageOrder.push_back(entries.size());
        entries.push_back({"/filler" + std::to_string(span), Bytes(spanBytes - used, 0), 1});
    }
    return BuildChm(entries, options);
}

ChmImage OverlappingChm(std::size_t claims, std::size_t baseBytes) {
    std::vector<ChmEntry> entries;
    entries.push_back({"/base", Bytes(baseBytes, 'b'), 1});
    ChmOptions options;
    for (std::size_t i = 0; i < claims; ++i) {
        char name[32];
        std::snprintf(name, sizeof name, "/claim/%06zu", i);
        entries.push_back({name, {}, 1});
        options.claims[name] = {0, baseBytes};
    }
    return BuildChm(entries, options);
}

ChmImage NamedChm(const std::string& name) {
    ChmOptions options;
    options.sortDirectory = false;
    options.addFolderEntries = false;
    options.chunkSize = std::max<std::uint32_t>(4096, static_cast<std::uint32_t>(std::min<std::size_t>(name.size() + 64, 1u << 20)));
    if (name.size() + 64 > options.chunkSize) throw std::invalid_argument("the name does not fit a chunk");
    return BuildChm({{"/ok.txt", ToBytes("fine"), 0}, {name, ToBytes("odd"), 1}}, options);
}

std::string NestedFolders(std::size_t count) {
    std::string name;
    for (std::size_t i = 0; i < count; ++i) name += "/a";
    return name;
}

ChmImage ManyFoldersChm(std::size_t names, std::size_t levels) {
    const std::string below = levels > 0 ? NestedFolders(levels - 1) : std::string();
    std::vector<ChmEntry> entries;
    for (std::size_t i = 0; i < names; ++i) entries.push_back({"/d" + std::to_string(i) + below + "/f", ToBytes("f"), 0});
    ChmOptions options;
    options.addFolderEntries = false;
    options.indexWhenSeveralChunks = false;
    return BuildChm(entries, options);
}

void DeclareSparseDirectory(const std::filesystem::path& path, const ChmImage& image, std::uint64_t declared) {
    Bytes bytes = image.bytes;
    // The ITSF header's directory length (u64 at 0x50), little-endian.
    for (int i = 0; i < 8; ++i) bytes.at(0x50 + static_cast<std::size_t>(i)) = static_cast<std::uint8_t>(declared >> (8 * i));
    WriteFileBytes(path, bytes);
    const std::uint64_t end = image.layout.directory.offset + declared;
    if (end > bytes.size() && ::truncate(path.c_str(), static_cast<off_t>(end)) != 0)
        throw std::runtime_error("cannot extend " + path.string());
}

}  // namespace vexmor::testsupport
