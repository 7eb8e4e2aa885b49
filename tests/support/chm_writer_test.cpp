#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "tests/support/chm_probe.h"
#include "tests/support/chm_writer.h"
#include "tests/support/lzx_probe.h"
#include "tests/support/sample_data.h"
#include "tests/support/temp_file.h"

namespace vexmor::testsupport {
namespace {

std::string TextAt(const Bytes& file, std::uint64_t at, std::size_t length) {
    if (at + length > file.size()) return {};
    return std::string(file.begin() + static_cast<std::ptrdiff_t>(at), file.begin() + static_cast<std::ptrdiff_t>(at + length));
}

Bytes Slice(const Bytes& file, std::uint64_t at, std::uint64_t length) {
    return Bytes(file.begin() + static_cast<std::ptrdiff_t>(at), file.begin() + static_cast<std::ptrdiff_t>(at + length));
}

std::vector<ChmEntry> MixedEntries() {
    return {
        {"/index.htm", SampleText(5000, 1), 1},
        {"/html/a.htm", SampleText(40000, 2), 1},
        {"/html/B.htm", SampleText(3000, 3), 1},
        {"/html/_under.htm", SampleText(100, 4), 0},
        {"/html/sub/deep.htm", SampleText(70000, 5), 1},
        {"/#SYSTEM", SampleText(200, 6), 0},
        {"/\xE4\xB8\xAD\xE6\x96\x87/\xE9\xA1\xB5\xE9\x9D\xA2.htm", SampleText(1234, 7), 1},
        {"/empty.htm", {}, 1},
        {"/$FIftiMain", {}, 0},
    };
}

const std::vector<std::string> kMixedListing = {
    "/",
    "/#SYSTEM",
    "/$FIftiMain",
    "/empty.htm",
    "/html/",
    "/html/_under.htm",
    "/html/a.htm",
    "/html/B.htm",
    "/html/sub/",
    "/html/sub/deep.htm",
    "/index.htm",
    "/\xE4\xB8\xAD\xE6\x96\x87/",
    "/\xE4\xB8\xAD\xE6\x96\x87/\xE9\xA1\xB5\xE9\x9D\xA2.htm",
    std::string(kNameListName),
    std::string(kContentName),
    std::string(kControlDataName),
    std::string(kSpanInfoName),
    std::string(kTransformListName),
    "::DataSpace/Storage/MSCompressed/Transform/{7FC28940-9D31-11D0-9B27-00A0C91E9C7C}/InstanceData/",
    std::string(kResetTableName),
};

std::vector<std::string> Names(const std::vector<ProbedEntry>& entries) {
    std::vector<std::string> names;
    for (const auto& e : entries) names.push_back(e.name);
    return names;
}

TEST(ChmWriter, DirectoryAndSectionMachineryReadBackConsistently) {
    struct Case {
        const char* what;
        unsigned version;
        std::uint32_t chunkSize;
        bool index;
    };
    const Case cases[] = {
        {"version 3, one chunk", 3, 4096, true},
        {"version 2, one chunk", 2, 4096, true},
        {"several chunks and an index chunk", 3, 256, true},
        {"several chunks, no index", 2, 256, false},
    };
    const auto entries = MixedEntries();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        ChmOptions options;
        options.itsfVersion = c.version;
        options.chunkSize = c.chunkSize;
        options.indexWhenSeveralChunks = c.index;
        const auto image = BuildChm(entries, options);
        const auto& file = image.bytes;
        const auto& layout = image.layout;
        const auto probed = ProbeChm(file);

        EXPECT_EQ(probed.version, c.version);
        EXPECT_EQ(probed.contentOffset, layout.contentOffset);
        EXPECT_EQ(Names(probed.entries), kMixedListing);
        ASSERT_EQ(probed.entries.size(), layout.entries.size());
        for (std::size_t i = 0; i < probed.entries.size(); ++i) {
            const auto& p = probed.entries[i];
            const auto& l = layout.entries[i];
            EXPECT_EQ(p.section, l.section);
            EXPECT_EQ(p.offset, l.offset);
            EXPECT_EQ(p.length, l.length);
            Bytes encodedName;
            AppendEncInt(encodedName, l.name.size());
            AppendText(encodedName, l.name);
            EXPECT_EQ(Slice(file, l.directoryEntryOffset, encodedName.size()), encodedName) << l.name;
            if (l.name.back() == '/') {
                EXPECT_TRUE(p.section == 0 && p.offset == 0 && p.length == 0) << l.name;
            }
        }

        // Section 0 bytes in place; section 1 streams back to back in listing order.
        std::uint64_t section1End = 0;
        for (const auto& e : entries) {
            const auto* placed = layout.Find(e.name);
            ASSERT_NE(placed, nullptr) << e.name;
            EXPECT_EQ(placed->section, e.section);
            EXPECT_EQ(placed->length, e.bytes.size());
            if (e.section == 0) {
                EXPECT_EQ(Slice(file, layout.contentOffset + placed->offset, e.bytes.size()), e.bytes);
            }
        }
        for (const auto& p : probed.entries) {
            if (p.section != 1) continue;
            EXPECT_EQ(p.offset, section1End) << p.name;
            section1End += p.length;
        }
        EXPECT_EQ(layout.section1Length, section1End);

        // Chunks, links and the index.
        EXPECT_EQ(probed.listingChunkCount, layout.listingChunkOffsets.size());
        EXPECT_EQ(c.chunkSize == 4096, layout.listingChunkOffsets.size() == 1);
        for (auto at : layout.listingChunkOffsets) EXPECT_EQ(TextAt(file, at, 4), "PMGL");
        const bool indexed = c.index && layout.listingChunkOffsets.size() > 1;
        EXPECT_EQ(probed.indexDepth, indexed ? 2u : 1u);
        EXPECT_EQ(layout.indexChunkOffsets.size(), indexed ? 1u : 0u);
        if (indexed) {
            EXPECT_EQ(TextAt(file, layout.indexChunkOffsets[0], 4), "PMGI");
            EXPECT_EQ(probed.rootIndexChunk, static_cast<std::int32_t>(layout.listingChunkOffsets.size()));
            ASSERT_EQ(probed.indexEntries.size(), layout.listingChunkOffsets.size());
            for (std::size_t chunk = 0; chunk < probed.indexEntries.size(); ++chunk) {
                const auto first = std::find_if(layout.entries.begin(), layout.entries.end(),
                                                [&](const auto& e) { return e.chunk == chunk; });
                ASSERT_NE(first, layout.entries.end());
                EXPECT_EQ(probed.indexEntries[chunk].first, first->name);
                EXPECT_EQ(probed.indexEntries[chunk].second, chunk);
            }
        } else {
            EXPECT_EQ(probed.rootIndexChunk, -1);
        }

        // The machinery streams, where the layout says and the directory agrees.
        EXPECT_EQ(TextAt(file, layout.itsfHeader.offset, 4), "ITSF");
        EXPECT_EQ(TextAt(file, layout.itspHeader.offset, 4), "ITSP");
        const std::pair<std::string_view, FileRange> ranges[] = {
            {kNameListName, layout.nameList}, {kControlDataName, layout.controlData}, {kSpanInfoName, layout.spanInfo},
            {kTransformListName, layout.transformList}, {kResetTableName, layout.resetTable}, {kContentName, layout.content}};
        for (const auto& [name, range] : ranges) {
            const auto* placed = layout.Find(name);
            ASSERT_NE(placed, nullptr) << name;
            EXPECT_EQ(layout.contentOffset + placed->offset, range.offset) << name;
            EXPECT_EQ(placed->length, range.length) << name;
        }
        EXPECT_EQ(ReadU32(file, layout.nameList.offset), 0x0002001Eu);  // 30 words, 2 sections
        EXPECT_EQ(TextAt(file, layout.controlData.offset + 4, 4), "LZXC");
        EXPECT_EQ(ReadU32(file, layout.controlData.offset + 8), 2u);
        EXPECT_EQ(ReadU32(file, layout.controlData.offset + 12), 2u);  // reset every 64 KiB
        EXPECT_EQ(ReadU32(file, layout.controlData.offset + 16), 2u);  // 64 KiB window
        EXPECT_EQ(ReadU64(file, layout.spanInfo.offset), section1End);
        const auto table = layout.resetTable.offset;
        EXPECT_EQ(ReadU32(file, table), 2u);
        ASSERT_EQ(ReadU32(file, table + 4), (section1End + 0x7FFF) / 0x8000);
        EXPECT_EQ(ReadU32(file, table + 8), 8u);
        EXPECT_EQ(ReadU32(file, table + 12), 0x28u);
        EXPECT_EQ(ReadU64(file, table + 16), section1End);
        EXPECT_EQ(ReadU64(file, table + 24), layout.content.length);
        EXPECT_EQ(ReadU64(file, table + 32), 0x8000u);
        for (std::size_t i = 0; i < layout.frameOffsets.size(); ++i) {
            EXPECT_EQ(ReadU64(file, table + 0x28 + 8 * i), layout.frameOffsets[i]);
        }
        EXPECT_EQ(layout.resetTable.length, 0x28 + 8 * layout.frameOffsets.size());
        EXPECT_EQ(layout.content.offset + layout.content.length, file.size());
    }
}

// One uncompressed block: Content is 4 header bytes, R0..R2, then section 1 as
// stored, so the storage order can be read off the file directly.
TEST(ChmWriter, StreamsAreStoredInTheOrderGiven) {
    const std::vector<ChmEntry> entries = {
        {"/a.htm", SampleText(300, 1), 1}, {"/b.htm", SampleText(301, 2), 1}, {"/c.htm", SampleText(302, 3), 0},
        {"/d.htm", SampleText(303, 4), 1}, {"/e.htm", SampleText(304, 5), 0},
    };
    ChmOptions options;
    options.storageOrder = {3, 4, 0, 2, 1};
    options.lzx.blockTypes = {LzxBlockType::kUncompressed};
    const auto image = BuildChm(entries, options);
    const auto& layout = image.layout;

    Bytes section1;
    Bytes section0;
    for (auto index : options.storageOrder) AppendBytes(entries[index].section == 1 ? section1 : section0, entries[index].bytes);
    EXPECT_EQ(Slice(image.bytes, layout.content.offset + 16, section1.size()), section1);
    EXPECT_EQ(Slice(image.bytes, layout.contentOffset, section0.size()), section0);
    EXPECT_EQ(layout.Find("/d.htm")->offset, 0u);
    EXPECT_EQ(layout.Find("/a.htm")->offset, 303u);
    EXPECT_EQ(layout.Find("/b.htm")->offset, 603u);
    EXPECT_EQ(layout.Find("/e.htm")->offset, 0u);
    EXPECT_EQ(layout.Find("/c.htm")->offset, 304u);
    const auto probed = ProbeChm(image.bytes);
    EXPECT_EQ(probed.entries[1].name, "/a.htm");  // listing stays sorted by name

    for (const std::vector<std::size_t>& bad : {std::vector<std::size_t>{0, 1, 2, 3}, {0, 1, 2, 3, 3}, {0, 1, 2, 3, 5}}) {
        options.storageOrder = bad;
        EXPECT_THROW(BuildChm(entries, options), std::invalid_argument);
    }
}

TEST(ChmWriter, SectionRunningPastItsLengthAndCustomContent) {
    const std::vector<ChmEntry> entries = {{"/page.htm", SampleText(40000, 1), 1}};
    ChmOptions options;
    options.section1Slack = SampleText(5000, 1);
    options.resetTableEndEntry = true;
    const auto image = BuildChm(entries, options);
    const auto& layout = image.layout;
    EXPECT_EQ(layout.section1Length, 40000u);
    EXPECT_EQ(ReadU64(image.bytes, layout.spanInfo.offset), 40000u);
    const auto table = layout.resetTable.offset;
    ASSERT_EQ(ReadU32(image.bytes, table + 4), 3u);  // two frames and the end entry
    EXPECT_EQ(ReadU64(image.bytes, table + 16), 40000u);
    EXPECT_EQ(ReadU64(image.bytes, table + 0x28 + 16), layout.content.length);
    LzxBitProbe bits(image.bytes, layout.content.offset);
    bits.Read(4);
    const auto high = bits.Read(16);
    EXPECT_EQ(high << 8 | bits.Read(8), 45000u) << "the block declares more than the section holds";

    LzxWriter writer(15, 0x8000);
    writer.StreamHeader();
    writer.PutBlockHeader(0, 40000);  // an invalid block type, by hand
    LzxSection custom;
    custom.bytes = writer.Finish();
    custom.frameOffsets = {0};
    custom.uncompressedLength = 40000;
    options = {};
    options.customSection1 = custom;
    const auto crafted = BuildChm(entries, options);
    EXPECT_EQ(Slice(crafted.bytes, crafted.layout.content.offset, crafted.layout.content.length), custom.bytes);
    EXPECT_EQ(ReadU32(crafted.bytes, crafted.layout.resetTable.offset + 4), 1u);
    EXPECT_EQ(crafted.layout.Find("/page.htm")->length, 40000u);
}

TEST(ChmWriter, StoredOnlyFileWithTheListingGivenAsIs) {
    const std::vector<ChmEntry> entries = {
        {"/b", ToBytes("bee"), 0}, {"/a", ToBytes("ay"), 0}, {"/a", ToBytes("again"), 0}, {"//x/../y", {}, 0}};
    ChmOptions options;
    options.sortDirectory = false;
    const auto image = BuildChm(entries, options);
    const auto probed = ProbeChm(image.bytes);
    EXPECT_EQ(Names(probed.entries), (std::vector<std::string>{"/b", "/a", "/a", "//x/../y"}));
    EXPECT_EQ(image.layout.content.length, 0u);
    EXPECT_EQ(image.layout.Find(kNameListName), nullptr);
    EXPECT_EQ(Slice(image.bytes, probed.contentOffset + probed.entries[2].offset, 5), ToBytes("again"));
}

TEST(ChmWriter, RejectsWhatItCannotWrite) {
    const auto entries = MixedEntries();
    ChmOptions tinyChunks;
    tinyChunks.chunkSize = 64;
    ChmOptions badVersion;
    badVersion.itsfVersion = 4;
    EXPECT_THROW(BuildChm({{std::string(80, 'x'), {}, 0}}, tinyChunks), std::invalid_argument);
    EXPECT_THROW(BuildChm(entries, badVersion), std::invalid_argument);
    EXPECT_THROW(BuildChm({{"/x", {}, 2}}), std::invalid_argument);
}

TEST(TempFile, HoldsTheBytesAndIsRemovedWithItsOwner) {
    const Bytes bytes = SampleText(1000, 9);
    std::filesystem::path path;
    {
        TempFile file(bytes);
        path = file.path();
        std::ifstream in(path, std::ios::binary);
        EXPECT_EQ(Bytes(std::istreambuf_iterator<char>(in), {}), bytes);
    }
    EXPECT_FALSE(std::filesystem::exists(path));
}

}  // namespace
}  // namespace vexmor::testsupport
