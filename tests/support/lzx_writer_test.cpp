#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "tests/support/byte_writer.h"
#include "tests/support/lzx_probe.h"
#include "tests/support/lzx_writer.h"
#include "tests/support/sample_data.h"

namespace vexmor::testsupport {
namespace {

// Repeats at a distance whose position footer has more than 3 bits.
Bytes Periodic(std::size_t size, std::size_t period) {
    Bytes pattern = SampleText(period, 7);
    Bytes out;
    while (out.size() < size) AppendBytes(out, pattern);
    out.resize(size);
    return out;
}

Bytes Concat(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const auto& p : parts) AppendBytes(out, p);
    return out;
}

Bytes R(std::uint32_t r0, std::uint32_t r1, std::uint32_t r2) {
    Bytes out;
    AppendU32(out, r0);
    AppendU32(out, r1);
    AppendU32(out, r2);
    return out;
}

TEST(LzxWriter, UncompressedBlockLayoutIsByteExact) {
    struct Case {
        const char* what;
        std::function<void(LzxWriter&)> write;
        Bytes expected;
    };
    const Case cases[] = {
        // 1 + 3 + 16 + 8 = 28 header bits, 4 padding bits; odd size takes a pad byte.
        {"odd size", [](LzxWriter& w) { w.StreamHeader(); w.UncompressedBlock(ToBytes("abc")); },
         Concat({{0x00, 0x30, 0x30, 0x00}, R(1, 1, 1), ToBytes("abc"), {0x00}})},
        // Header bit set, translation size 0x12345678, 60 header bits, 4 padding bits, even size.
        {"translation size and even size", [](LzxWriter& w) { w.StreamHeader(true, 0x12345678); w.UncompressedBlock(ToBytes("abcd")); },
         Concat({{0x1A, 0x89, 0x3C, 0x2B, 0x00, 0x30, 0x40, 0x00}, R(1, 1, 1), ToBytes("abcd")})},
        // A header ending on a word boundary is followed by a whole padding word.
        {"header ending on a word boundary", [](LzxWriter& w) { w.StreamHeader(); w.PutBits(0, 4); w.UncompressedBlock(ToBytes("z")); },
         Concat({{0x00, 0x03, 0x01, 0x00, 0x00, 0x00}, R(1, 1, 1), ToBytes("z"), {0x00}})},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        LzxWriter writer(16, 0x10000);
        c.write(writer);
        EXPECT_EQ(writer.Finish(), c.expected);
    }
}

// The way a test reaches an uncompressed block whose header ends on a word
// boundary inside a valid stream: vary a verbatim block until it ends at bit 5
// of a word. The R values written are those left by the verbatim block's match.
TEST(LzxWriter, UncompressedBlockAfterVerbatimCarriesRepeatsAndWholeWordPadding) {
    for (std::size_t prefix = 1; prefix < 400; ++prefix) {
        LzxWriter writer(16, 0x10000);
        writer.StreamHeader();
        const Bytes data = Concat({SampleText(prefix, 3), ToBytes("0123456789"), ToBytes("0123456789")});
        writer.VerbatimBlock(data);
        if (writer.BitPosition() % 16 != 5) continue;
        ASSERT_GE(writer.Stats().matches, 1u);
        const auto headerEnd = (writer.BitPosition() + 27) / 8;
        writer.UncompressedBlock(ToBytes("xyz"));
        const auto out = writer.Finish();
        ASSERT_EQ(out.size(), headerEnd + 2 + 12 + 4);
        EXPECT_EQ(Bytes(out.begin() + static_cast<std::ptrdiff_t>(headerEnd), out.end()),
                  Concat({{0x00, 0x00}, R(10, 1, 1), ToBytes("xyz"), {0x00}}));
        return;
    }
    FAIL() << "no verbatim block ended at bit 5 of a word";
}

TEST(LzxWriter, BlockHeadersCarryTypeAndDeclaredSize) {
    LzxWriter writer(15, 0x8000);
    writer.StreamHeader();
    writer.VerbatimBlock(SampleText(300, 1), true, 0x012345);
    writer.AlignToWord();
    const auto craftedAt = writer.BytePosition();
    writer.PutBlockHeader(7, 0xABCDEF);
    const auto out = writer.Finish();

    LzxBitProbe verbatim(out, 0);
    EXPECT_EQ(verbatim.Read(1), 0u);
    EXPECT_EQ(verbatim.Read(3), 1u);
    EXPECT_EQ(verbatim.Read(16), 0x0123u);
    EXPECT_EQ(verbatim.Read(8), 0x45u);
    LzxBitProbe crafted(out, craftedAt);
    EXPECT_EQ(crafted.Read(3), 7u);
    EXPECT_EQ(crafted.Read(16), 0xABCDu);
    EXPECT_EQ(crafted.Read(8), 0xEFu);
}

struct SectionCase {
    const char* what;
    unsigned windowBits;
    std::uint32_t resetInterval;
    std::vector<LzxBlockType> types;
    std::uint32_t blockSize;
    Bytes data;
    std::optional<std::uint32_t> e8 = std::nullopt;
};

struct PlannedBlock {
    std::size_t start;
    std::size_t size;
    LzxBlockType type;
};

std::vector<PlannedBlock> PlanBlocks(const SectionCase& c) {
    std::vector<PlannedBlock> blocks;
    for (std::size_t at = 0; at < c.data.size();) {
        const std::size_t size = std::min<std::size_t>(
            {c.blockSize, c.data.size() - at, c.resetInterval - at % c.resetInterval});
        blocks.push_back({at, size, c.types[blocks.size() % c.types.size()]});
        at += size;
    }
    return blocks;
}

// At a reset point: the stream header, the block header and, for an encoded
// block, trees that form complete codes (the previous lengths are all zero).
void ExpectResetPointStartsBlock(const LzxSection& section, std::uint64_t offset, const PlannedBlock& block,
                                 unsigned positionSlots, std::optional<std::uint32_t> e8) {
    LzxBitProbe bits(section.bytes, offset);
    EXPECT_EQ(bits.Read(1), e8 ? 1u : 0u) << "stream header";
    if (e8) {
        const auto sizeHigh = bits.Read(16);
        EXPECT_EQ(sizeHigh << 16 | bits.Read(16), *e8) << "translation size";
    }
    EXPECT_EQ(bits.Read(3), static_cast<unsigned>(block.type));
    const auto high = bits.Read(16);
    EXPECT_EQ(high << 8 | bits.Read(8), block.size);
    if (block.type == LzxBlockType::kUncompressed) return;
    if (block.type == LzxBlockType::kAligned) {
        std::vector<std::uint8_t> aligned(8);
        for (auto& l : aligned) l = static_cast<std::uint8_t>(bits.Read(3));
        EXPECT_EQ(KraftSum(aligned), 65536u) << "aligned tree";
    }
    std::vector<std::uint8_t> literals(256, 0);
    std::vector<std::uint8_t> matches(8 * positionSlots, 0);
    std::vector<std::uint8_t> lengths(249, 0);
    ProbeTreeLengths(bits, literals);
    ProbeTreeLengths(bits, matches);
    ProbeTreeLengths(bits, lengths);
    Bytes main = literals;
    AppendBytes(main, matches);
    EXPECT_EQ(KraftSum(main), 65536u) << "main tree";
    EXPECT_TRUE(KraftSum(lengths) == 0 || KraftSum(lengths) == 65536u) << "length tree";
}

TEST(LzxWriter, FrameOffsetsMatchTheStreamLayout) {
    const SectionCase cases[] = {
        {"verbatim, one block per reset interval", 16, 0x10000, {LzxBlockType::kVerbatim}, 0x10000, SampleText(200001, 1)},
        {"verbatim, smallest window, blocks across frames", 15, 0x10000, {LzxBlockType::kVerbatim}, 20000, SampleText(150000, 2)},
        {"aligned, long repeats", 17, 0x20000, {LzxBlockType::kAligned}, 50000, Periodic(300000, 1000)},
        {"uncompressed, blocks across frames", 16, 0x10000, {LzxBlockType::kUncompressed}, 20001, SampleText(140001, 3)},
        {"all types in turn, largest window", 21, 0x40000,
         {LzxBlockType::kVerbatim, LzxBlockType::kUncompressed, LzxBlockType::kAligned}, 12345, SampleText(300000, 4)},
        {"call filter header", 16, 0x8000, {LzxBlockType::kUncompressed, LzxBlockType::kVerbatim}, 0x8000,
         SampleText(70000, 8), 0x00C0FFEE},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        LzxSectionOptions options;
        options.windowBits = c.windowBits;
        options.resetIntervalBytes = c.resetInterval;
        options.blockTypes = c.types;
        options.blockSize = c.blockSize;
        options.e8TranslationSize = c.e8;
        const auto section = EncodeSection(c.data, options);
        const auto& offsets = section.frameOffsets;
        ASSERT_EQ(offsets.size(), (c.data.size() + 0x7FFF) / 0x8000);
        EXPECT_EQ(section.uncompressedLength, c.data.size());
        EXPECT_EQ(offsets[0], 0u);
        EXPECT_EQ(section.bytes.size() % 2, 0u);

        const auto blocks = PlanBlocks(c);
        const unsigned slots = LzxWriter(c.windowBits, c.resetInterval).PositionSlots();
        for (std::size_t frame = 0; frame < offsets.size(); ++frame) {
            SCOPED_TRACE("frame " + std::to_string(frame));
            if (frame > 0) {
                EXPECT_GT(offsets[frame], offsets[frame - 1]);
            }
            ASSERT_LT(offsets[frame], section.bytes.size());
            const std::size_t start = frame * 0x8000;
            const auto& block = *std::find_if(blocks.begin(), blocks.end(),
                                              [&](const auto& b) { return start < b.start + b.size; });
            if (block.type == LzxBlockType::kUncompressed && start > block.start) {
                EXPECT_EQ(section.bytes[offsets[frame]], c.data[start]) << "first raw byte of the frame";
            } else {
                EXPECT_EQ(offsets[frame] % 2, 0u) << "realigned to a word";
            }
            if (start % c.resetInterval == 0) ExpectResetPointStartsBlock(section, offsets[frame], block, slots, c.e8);
        }
    }
}

TEST(LzxWriter, EncoderTakesTheInterestingPaths) {
    LzxSectionOptions options;
    options.windowBits = 16;
    options.blockTypes = {LzxBlockType::kAligned};
    const auto periodic = EncodeSection(Periodic(200000, 1000), options);
    EXPECT_GT(periodic.stats.alignedFooters, 0u);
    EXPECT_GT(periodic.stats.repeatMatches, 0u);
    EXPECT_GT(periodic.stats.longMatches, 0u);
    EXPECT_GT(periodic.stats.matchesPastFrameEnd, 0u);
    EXPECT_EQ(periodic.stats.blocks[2], 4u);  // two per 64 KiB interval

    options.blockTypes = {LzxBlockType::kVerbatim};
    options.useMatches = false;
    const Bytes text = SampleText(70000, 5);
    const auto literalsOnly = EncodeSection(text, options);
    EXPECT_EQ(literalsOnly.stats.matches, 0u);
    EXPECT_EQ(literalsOnly.stats.literals, text.size());
    options.useMatches = true;
    EXPECT_LT(EncodeSection(text, options).bytes.size(), literalsOnly.bytes.size());
}

TEST(LzxWriter, RejectsMisuse) {
    const Bytes some = SampleText(100, 6);
    const Bytes frame = SampleText(0x8000, 6);
    struct Case {
        const char* what;
        std::function<void()> misuse;
    };
    const Case cases[] = {
        {"window below 2^15", [] { LzxWriter(14, 0x8000); }},
        {"window above 2^21", [] { LzxWriter(22, 0x8000); }},
        {"reset interval not a frame multiple", [] { LzxWriter(16, 0x9000); }},
        {"block before the stream header", [&] { LzxWriter w(16, 0x8000); w.VerbatimBlock(some); }},
        {"empty block", [] { LzxWriter w(16, 0x8000); w.StreamHeader(); w.UncompressedBlock({}); }},
        {"block across a reset point", [&] {
             LzxWriter w(16, 0x8000);
             w.StreamHeader();
             w.VerbatimBlock(some);
             w.VerbatimBlock(frame);
         }},
        {"no stream header after a reset point", [&] {
             LzxWriter w(16, 0x8000);
             w.StreamHeader();
             w.UncompressedBlock(frame);
             w.AlignedBlock(some);
         }},
        {"stream header off a reset point", [&] {
             LzxWriter w(16, 0x10000);
             w.StreamHeader();
             w.UncompressedBlock(frame);
             w.StreamHeader();
         }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_ANY_THROW(c.misuse());
    }
}

}  // namespace
}  // namespace vexmor::testsupport
