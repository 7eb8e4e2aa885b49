// Writes the hand-built seeds of the fuzz targets into <out>/reader,
// <out>/lzx and <out>/extract, with the tests' own writers: small files that
// reach every block type, both header versions, an index chunk and names
// that try to leave the target folder.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <iterator>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "tests/support/chm_writer.h"
#include "tests/support/lzx_writer.h"

namespace {

namespace ts = vexmor::testsupport;
namespace fs = std::filesystem;

ts::Bytes Text(std::size_t length, unsigned seed) {
    static const char kWords[][8] = {"help", "topic", "index", "<html>", "</p>", "\r\n", "vexmor", "chm"};
    ts::Bytes out;
    unsigned state = seed;
    while (out.size() < length) {
        state = state * 1103515245u + 12345u;
        const char* word = kWords[(state >> 16) % 8];
        out.insert(out.end(), word, word + std::char_traits<char>::length(word));
        if ((state >> 8) % 5 == 0) out.push_back(static_cast<std::uint8_t>(state >> 24));
    }
    out.resize(length);
    return out;
}

void Save(const fs::path& path, const ts::Bytes& bytes) {
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()),
                                                static_cast<std::streamsize>(bytes.size()));
}

ts::Bytes Chm(const std::vector<ts::ChmEntry>& entries, const ts::ChmOptions& options = {}) {
    return ts::BuildChm(entries, options).bytes;
}

ts::ChmEntry Entry(std::string name, std::size_t length, unsigned section, unsigned seed) {
    return {std::move(name), Text(length, seed), section};
}

// The span header of the lzx target: window bits - 15, then length - 1.
ts::Bytes LzxSeed(unsigned windowBits, const std::vector<ts::LzxBlockType>& types, std::size_t length, unsigned seed) {
    ts::LzxSectionOptions options;
    options.windowBits = windowBits;
    options.resetIntervalBytes = static_cast<std::uint32_t>((length + ts::LzxWriter::kFrameSize - 1) /
                                                            ts::LzxWriter::kFrameSize * ts::LzxWriter::kFrameSize);
    options.blockTypes = types;
    options.blockSize = 12000;
    const ts::Bytes data = Text(length, seed);
    const ts::LzxSection section = ts::EncodeSection(data, options);
    const std::size_t n = length - 1;
    const std::uint8_t header[] = {static_cast<std::uint8_t>(windowBits - 15), static_cast<std::uint8_t>(n),
                                   static_cast<std::uint8_t>(n >> 8), static_cast<std::uint8_t>(n >> 16)};
    ts::Bytes out(sizeof header + section.bytes.size());
    std::copy(std::begin(header), std::end(header), out.begin());
    std::copy(section.bytes.begin(), section.bytes.end(), out.begin() + sizeof header);
    return out;
}

// One item of the order target: a byte of forms (area in bits 0-1, then
// the forms of offset and length), then the offset and the length, each in
// eight bytes (form 3).
struct OrderItem {
    std::uint8_t area;
    std::uint64_t offset;
    std::uint64_t length;
};

ts::Bytes OrderSeed(const std::vector<OrderItem>& items) {
    ts::Bytes out;
    for (const OrderItem& item : items) {
        out.push_back(static_cast<std::uint8_t>((item.area & 3u) | 3u << 2 | 3u << 4));
        for (const std::uint64_t value : {item.offset, item.length})
            for (unsigned i = 0; i < 8; ++i) out.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
    }
    return out;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: make_seeds OUTPUT_FOLDER\n");
        return 2;
    }
    const fs::path root = argv[1];
    for (const char* target : {"reader", "lzx", "extract", "order"}) fs::create_directories(root / target);

    using T = ts::LzxBlockType;
    const std::vector<ts::ChmEntry> plain = {Entry("/index.htm", 900, 1, 1), Entry("/html/a.htm", 3000, 1, 2),
                                             Entry("/#SYSTEM", 60, 0, 3), Entry("/img/logo.gif", 200, 0, 4)};
    Save(root / "reader/tiny.chm", Chm(plain));

    ts::ChmOptions blocks;
    blocks.lzx.windowBits = 15;
    blocks.lzx.resetIntervalBytes = ts::LzxWriter::kFrameSize;
    blocks.lzx.blockTypes = {T::kVerbatim, T::kAligned, T::kUncompressed};
    blocks.lzx.blockSize = 5000;
    Save(root / "reader/block_types.chm",
         Chm({Entry("/a.htm", 20000, 1, 5), Entry("/b/c.htm", 30000, 1, 6), Entry("/d.txt", 100, 0, 7)}, blocks));

    ts::ChmOptions v2;
    v2.itsfVersion = 2;
    v2.chunkSize = 512;
    std::vector<ts::ChmEntry> many;
    for (unsigned i = 0; i < 40; ++i) many.push_back(Entry("/t/topic" + std::to_string(i) + ".htm", 50, i % 2, 10 + i));
    Save(root / "reader/version2_index.chm", Chm(many, v2));

    ts::ChmOptions asGiven;
    asGiven.sortDirectory = false;
    asGiven.addFolderEntries = false;
    const std::vector<ts::ChmEntry> hostile = {
        Entry("/../escape.txt", 10, 0, 1),     Entry("/a/../../up.txt", 10, 0, 2), Entry("/./dot.txt", 10, 1, 3),
        Entry("//empty-level.txt", 10, 0, 4),  Entry("/a//b.txt", 10, 1, 5),      Entry("/..", 10, 0, 6),
        Entry("/x/.", 10, 0, 7),               Entry("/C:/windows.txt", 10, 0, 8), Entry("\\..\\back.txt", 10, 0, 9),
        Entry(std::string("/nul\0byte.txt", 13), 10, 0, 10), Entry("/" + std::string(300, 'n') + ".htm", 10, 1, 11),
        Entry("/deep/" + std::string(120, 'd') + "/" + std::string(120, 'e') + "/f.txt", 10, 0, 12),
        Entry("/ok.htm", 10, 1, 13)};
    Save(root / "extract/hostile_names.chm", Chm(hostile, asGiven));
    Save(root / "extract/tiny.chm", Chm(plain));

    Save(root / "lzx/verbatim.bin", LzxSeed(16, {T::kVerbatim}, 30000, 20));
    Save(root / "lzx/aligned.bin", LzxSeed(17, {T::kAligned}, 40000, 21));
    Save(root / "lzx/uncompressed.bin", LzxSeed(15, {T::kUncompressed}, 3001, 22));
    Save(root / "lzx/mixed.bin", LzxSeed(21, {T::kVerbatim, T::kUncompressed, T::kAligned}, 70000, 23));

    constexpr std::uint64_t kTop = UINT64_MAX;
    Save(root / "order/two_areas_shuffled.bin",
         OrderSeed({{1, 5000, 100}, {0, 300, 20}, {1, 0, 5000}, {0, 0, 300}, {1, 5100, 0}, {0, 320, 7}}));
    Save(root / "order/ties_and_empty_claims.bin",
         OrderSeed({{1, 64, 0}, {1, 64, 10}, {1, 0, 64}, {1, 64, 0}, {2, 0, 0}, {1, 74, 1}}));
    Save(root / "order/nested_overlap.bin", OrderSeed({{1, 0, 3000}, {1, 1000, 10}, {1, 3000, 5}}));
    Save(root / "order/near_2_64.bin",
         OrderSeed({{0, kTop - 20, 10}, {0, kTop - 10, 10}, {0, kTop, 0}, {3, kTop - 1, kTop}, {3, 0, kTop - 1}}));
    return 0;
}
