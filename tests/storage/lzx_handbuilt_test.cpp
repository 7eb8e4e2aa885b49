// LZX data that no real fixture contains, made by the test-side writer:
// every block type and size parity, block and match boundaries against the
// frame grid, random access into a later span, and what must be refused.
#include <algorithm>
#include <numeric>
#include <random>

#include <gtest/gtest.h>

#include "platform/storage/lzx_decoder.h"
#include "platform/storage/storage.h"
#include "platform/storage/storage_error.h"
#include "tests/common/case_name.h"
#include "tests/storage/storage_walk.h"
#include "tests/support/chm_writer.h"
#include "tests/support/lzx_writer.h"
#include "tests/support/sample_data.h"
#include "tests/support/temp_file.h"

namespace vexmor::test {
namespace {

using storage::EStorageError;
using storage::LzxDecoder;
using testsupport::LzxBlockType;
using testsupport::LzxWriter;
namespace code = storage::code;

// Text with repeats near and far, and stretches of noise, so that matches of
// every slot class and literals both occur.
std::vector<std::uint8_t> SampleData(std::size_t size, unsigned seed) {
    return testsupport::SampleText(size, seed, {.oneIn = 16, .length = 300});
}

// Decodes a whole section span by span, as the reader does.
std::vector<std::uint8_t> DecodeSection(const testsupport::LzxSection& section, const testsupport::LzxSectionOptions& o) {
    const LzxDecoder decoder(1u << o.windowBits);
    const std::size_t framesPerSpan = o.resetIntervalBytes / LzxWriter::kFrameSize;
    std::vector<std::uint8_t> out(section.uncompressedLength + LzxDecoder::kOutputSlack);
    for (std::size_t start = 0, frame = 0; start < section.uncompressedLength;
         start += o.resetIntervalBytes, frame += framesPerSpan) {
        const std::size_t next = frame + framesPerSpan;
        const std::size_t end = next < section.frameOffsets.size() ? section.frameOffsets[next] : section.bytes.size();
        const std::size_t length = std::min<std::size_t>(o.resetIntervalBytes, section.uncompressedLength - start);
        decoder.DecodeSpan(section.bytes.data() + section.frameOffsets[frame], end - section.frameOffsets[frame],
                           out.data() + start, length);
    }
    out.resize(section.uncompressedLength);
    return out;
}

struct SectionCase {
    const char* what;
    std::size_t size;
    testsupport::LzxSectionOptions options;
};

class HandBuiltSection : public ::testing::TestWithParam<SectionCase> {};

TEST_P(HandBuiltSection, DecodesToTheOriginalBytes) {
    const SectionCase& c = GetParam();
    const auto data = SampleData(c.size, 7);
    const auto section = testsupport::EncodeSection(data, c.options);
    EXPECT_EQ(DecodeSection(section, c.options), data) << c.what;
}

testsupport::LzxSectionOptions Options(std::vector<LzxBlockType> types, std::uint32_t blockSize, unsigned windowBits = 16,
                                       std::uint32_t resetInterval = 2 * LzxWriter::kFrameSize) {
    testsupport::LzxSectionOptions o;
    o.blockTypes = std::move(types);
    o.blockSize = blockSize;
    o.windowBits = windowBits;
    o.resetIntervalBytes = resetInterval;
    return o;
}

const SectionCase kSectionCases[] = {
    {"verbatim blocks crossing frames", 200000, Options({LzxBlockType::kVerbatim}, 20000)},
    {"aligned offset blocks", 200000, Options({LzxBlockType::kAligned}, 50000)},
    {"uncompressed blocks of odd size", 100001, Options({LzxBlockType::kUncompressed}, 9999)},
    {"uncompressed blocks of even size", 100000, Options({LzxBlockType::kUncompressed}, 10000)},
    {"every block type in turn, odd sizes",
     300001, Options({LzxBlockType::kVerbatim, LzxBlockType::kUncompressed, LzxBlockType::kAligned}, 7777)},
    {"a 2 MiB window with a 256 KiB reset interval",
     600000, Options({LzxBlockType::kAligned, LzxBlockType::kVerbatim}, 40000, 21, 8 * LzxWriter::kFrameSize)},
    {"a 32 KiB window", 100000, Options({LzxBlockType::kVerbatim}, 32768, 15)},
    {"a section shorter than one frame", 1000, Options({LzxBlockType::kVerbatim}, 32768)},
    // Literals are decoded two to a refill: a block or frame may end after
    // the first of a pair as well as after the second.
    {"literals only, blocks of odd size crossing frames", 100001, [] {
         auto o = Options({LzxBlockType::kVerbatim}, 9999);
         o.useMatches = false;
         return o;
     }()},
};

INSTANTIATE_TEST_SUITE_P(Sections, HandBuiltSection, ::testing::ValuesIn(kSectionCases), CaseName<SectionCase>);

std::vector<std::uint8_t> DecodeOneSpan(const std::vector<std::uint8_t>& in, std::size_t length, unsigned windowBits = 16) {
    std::vector<std::uint8_t> out(length + LzxDecoder::kOutputSlack);
    LzxDecoder(1u << windowBits).DecodeSpan(in.data(), in.size(), out.data(), length);
    out.resize(length);
    return out;
}

TEST(HandBuiltLzx, UncompressedHeaderEndingOnAWordBoundaryIsFollowedByAWholePaddingWord) {
    const auto raw = SampleData(501, 3);
    // Grow a literal block until the uncompressed block's 27-bit header ends
    // exactly on a 16-bit boundary.
    for (std::size_t prefix = 1; prefix < 400; ++prefix) {
        LzxWriter writer(16, 2 * LzxWriter::kFrameSize);
        writer.StreamHeader();
        const auto lead = SampleData(prefix, 5);
        writer.VerbatimBlock(lead, false);
        if ((writer.BitPosition() + 27) % 16 != 0) continue;
        writer.UncompressedBlock(raw);
        const auto bytes = writer.Finish();
        std::vector<std::uint8_t> expected = lead;
        expected.insert(expected.end(), raw.begin(), raw.end());
        EXPECT_EQ(DecodeOneSpan(bytes, expected.size()), expected);
        return;
    }
    FAIL() << "no prefix put the header on a word boundary";
}

TEST(HandBuiltLzx, AMatchRunningPastAFrameEndIsFollowedByRealignment) {
    std::vector<std::uint8_t> data(3 * LzxWriter::kFrameSize, 'a');  // long matches everywhere
    const auto o = Options({LzxBlockType::kVerbatim}, 3 * LzxWriter::kFrameSize, 16, 4 * LzxWriter::kFrameSize);
    const auto section = testsupport::EncodeSection(data, o);
    ASSERT_GT(section.stats.matchesPastFrameEnd, 0u);
    EXPECT_EQ(DecodeSection(section, o), data);
}

// The longest match starting at the last requested byte writes furthest past
// the end: the output buffer's slack must hold it on every copy path. The
// buffer is exactly length + kOutputSlack, so a sanitizer build catches a
// slack that is too small.
struct LastMatchCase {
    const char* name;
    std::size_t period;  // distinct literals, then the match repeats them from this far back
};

class LongestMatchAtTheEnd : public ::testing::TestWithParam<LastMatchCase> {};

TEST_P(LongestMatchAtTheEnd, FitsTheOutputSlack) {
    const std::size_t period = GetParam().period;
    std::vector<std::uint8_t> data(period + 257);
    for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<std::uint8_t>('A' + i % period);
    LzxWriter writer(16, 2 * LzxWriter::kFrameSize);
    writer.StreamHeader();
    writer.VerbatimBlock(data);
    ASSERT_EQ(writer.Stats().matches, 1u);
    ASSERT_EQ(writer.Stats().longMatches, 1u);
    const std::vector<std::uint8_t> expected(data.begin(), data.begin() + static_cast<std::ptrdiff_t>(period + 1));
    EXPECT_EQ(DecodeOneSpan(writer.Finish(), expected.size()), expected);
}

INSTANTIATE_TEST_SUITE_P(CopyPaths, LongestMatchAtTheEnd,
                         ::testing::Values(LastMatchCase{"offset_1", 1}, LastMatchCase{"offset_3", 3},
                                           LastMatchCase{"offset_8", 8}, LastMatchCase{"offset_13", 13},
                                           LastMatchCase{"offset_17", 17}),
                         [](const auto& test) { return std::string(test.param.name); });

// A match copies in steps as wide as its distance allows, and may write past
// its end; each case is one match whose distance and length sit at an edge
// of a step, followed by literals that must overwrite what it wrote beyond.
struct MatchCopyCase {
    const char* name;
    std::size_t distance;
    std::size_t length;
};

class MatchCopy : public ::testing::TestWithParam<MatchCopyCase> {};

TEST_P(MatchCopy, RepeatsTheBytesAtItsDistance) {
    const MatchCopyCase& c = GetParam();
    std::vector<std::uint8_t> data;
    for (std::size_t i = 0; i < c.distance + c.length; ++i) data.push_back(static_cast<std::uint8_t>(0x80 + i % c.distance));
    for (char letter = 'a'; letter <= 'z'; ++letter) data.push_back(static_cast<std::uint8_t>(letter));
    LzxWriter writer(16, 2 * LzxWriter::kFrameSize);
    writer.StreamHeader();
    writer.VerbatimBlock(data);
    ASSERT_EQ(writer.Stats().matches, 1u) << "the case must be one match";
    EXPECT_EQ(DecodeOneSpan(writer.Finish(), data.size()), data);
}

INSTANTIATE_TEST_SUITE_P(
    DistanceAndLength, MatchCopy,
    ::testing::Values(MatchCopyCase{"distance_2_overlapping", 2, 40}, MatchCopyCase{"distance_7_overlapping", 7, 61},
                      MatchCopyCase{"distance_8_shorter_than_a_step", 8, 5},
                      MatchCopyCase{"distance_15_overlapping_many_steps", 15, 200},
                      MatchCopyCase{"distance_16_shortest", 16, 3}, MatchCopyCase{"distance_16_two_steps", 16, 32},
                      MatchCopyCase{"distance_16_one_past_two_steps", 16, 33},
                      MatchCopyCase{"distance_17_longest", 17, 257}, MatchCopyCase{"distance_50_overlapping", 50, 120}),
    [](const auto& test) { return std::string(test.param.name); });

TEST(HandBuiltLzx, TheX86CallFilterIsReportedAsUnsupported) {
    LzxWriter writer(16, 2 * LzxWriter::kFrameSize);
    writer.StreamHeader(true, 12000000);
    const auto data = SampleData(4000, 1);
    writer.VerbatimBlock(data);
    try {
        DecodeOneSpan(writer.Finish(), data.size());
        FAIL() << "filtered data was returned as if it were right";
    } catch (const EStorageError& e) {
        EXPECT_EQ(e.ErrorCode(), code::kNotImplemented);
        EXPECT_NE(std::string(e.what()).find("x86 call filter"), std::string::npos) << e.what();
    }
}

struct CorruptCase {
    const char* what;
    std::function<std::vector<std::uint8_t>()> make;
    std::size_t length;
    const char* message;
};

class CorruptLzx : public ::testing::TestWithParam<CorruptCase> {};

TEST_P(CorruptLzx, IsReportedAsDamage) {
    const CorruptCase& c = GetParam();
    try {
        DecodeOneSpan(c.make(), c.length);
        FAIL() << c.what << ": no error";
    } catch (const EStorageError& e) {
        EXPECT_EQ(e.ErrorCode(), code::kDamaged) << c.what << ": " << e.what();
        EXPECT_NE(std::string(e.what()).find(c.message), std::string::npos) << c.what << ": " << e.what();
    }
}

std::vector<std::uint8_t> HeaderOnly(unsigned type, std::uint32_t size) {
    LzxWriter writer(16, 2 * LzxWriter::kFrameSize);
    writer.StreamHeader();
    writer.PutBlockHeader(type, size);
    writer.PutBits(0, 16);
    return writer.Finish();
}

const CorruptCase kCorruptCases[] = {
    {"block type 0", [] { return HeaderOnly(0, 100); }, 100, "block type 0 is invalid"},
    {"block type 7", [] { return HeaderOnly(7, 100); }, 100, "block type 7 is invalid"},
    {"empty block", [] { return HeaderOnly(1, 0); }, 100, "empty"},
    {"block longer than its data",
     [] {
         LzxWriter writer(16, 2 * LzxWriter::kFrameSize);
         writer.StreamHeader();
         writer.UncompressedBlock(SampleData(100, 2), 5000);
         return writer.Finish();
     },
     5000, "ends too early"},
    {"nothing at all", [] { return std::vector<std::uint8_t>{}; }, 10, "The help file is damaged"},
};

INSTANTIATE_TEST_SUITE_P(Cases, CorruptLzx, ::testing::ValuesIn(kCorruptCases), CaseName<CorruptCase>);

// A file of several spans; the first read starts inside a later one.
TEST(HandBuiltFile, RandomAccessIntoALaterSpanDecodesOnlyFromItsResetPoint) {
    std::vector<testsupport::ChmEntry> entries;
    entries.push_back({"/a.bin", SampleData(300000, 11), 1});
    entries.push_back({"/b.bin", SampleData(1000, 12), 1});  // stored after a.bin, inside the fifth span
    testsupport::ChmOptions options;
    options.lzx = Options({LzxBlockType::kVerbatim, LzxBlockType::kAligned}, 30000);
    const auto image = testsupport::BuildChm(entries, options);
    testsupport::TempFile file(image.bytes);
    auto component = storage::CreateITStorage();
    auto root = component->StgOpenStorage(file.string());
    const std::string b = ReadAll(*root->OpenStream("b.bin"));
    EXPECT_EQ(b, std::string(entries[1].bytes.begin(), entries[1].bytes.end()));
    EXPECT_EQ(component->Statistics().decodedBytes, 301000u - 4 * 65536u);  // the last span only
}

// Streams stored in an order unrelated to their names: reading them in name
// order still decodes each span about once.
TEST(HandBuiltFile, NameOrderOverShuffledStorageDecodesEachSpanAboutOnce) {
    std::vector<testsupport::ChmEntry> entries;
    for (int i = 0; i < 120; ++i) {
        char name[32];
        std::snprintf(name, sizeof name, "/page%03d.html", i);
        entries.push_back({name, SampleData(5000 + 97 * static_cast<std::size_t>(i), static_cast<unsigned>(i)), 1});
    }
    testsupport::ChmOptions options;
    options.storageOrder.resize(entries.size());
    std::iota(options.storageOrder.begin(), options.storageOrder.end(), 0);
    std::shuffle(options.storageOrder.begin(), options.storageOrder.end(), std::mt19937(99));
    const auto image = testsupport::BuildChm(entries, options);
    testsupport::TempFile file(image.bytes);
    auto component = storage::CreateITStorage();
    const auto root = component->StgOpenStorage(file.string());
    std::size_t streams = 0;
    WalkStreams(root, [&](const WalkedStream& s) {
        if (s.name.rfind("page", 0) != 0) return;
        const auto& expected = entries[static_cast<std::size_t>(std::stoi(s.name.substr(4, 3)))].bytes;
        EXPECT_EQ(s.bytes, std::string(expected.begin(), expected.end())) << s.name;
        ++streams;
    });
    EXPECT_EQ(streams, entries.size());
    const auto stats = component->Statistics();
    EXPECT_LE(static_cast<double>(stats.decodedBytes) / static_cast<double>(stats.sectionLength), 1.1);
}

}  // namespace
}  // namespace vexmor::test
