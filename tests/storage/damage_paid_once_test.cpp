// Damage found once is not paid for again: a compressed section the reader
// refuses, or a span it cannot decode, fails every stream in it with the
// same error without being read again for each (a reset table may be as
// large as the file, and a span may hold thousands of streams).
#include <cstdio>
#include <functional>
#include <ostream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/storage/storage.h"
#include "platform/storage/storage_error.h"
#include "tests/common/case_name.h"
#include "tests/storage/storage_walk.h"
#include "tests/support/chm_writer.h"
#include "tests/support/sample_data.h"
#include "tests/support/temp_file.h"

namespace vexmor::test {
namespace {

namespace ts = testsupport;

constexpr std::size_t kStreams = 200;
constexpr std::size_t kTablePadding = 1u << 20;

struct RefusalCase {
    const char* what;
    std::function<void(ts::ChmImage&)> damage;
    std::uint32_t largestWindow;
    std::uint32_t code;
};

void PutU32(ts::ChmImage& image, std::uint64_t at, std::uint32_t value) {
    for (int i = 0; i < 4; ++i) image.bytes.at(at + i) = static_cast<std::uint8_t>(value >> (8 * i));
}

const RefusalCase kCases[] = {
    // Judged once the whole table has been read.
    {"reset table entries of 7 bytes",
     [](ts::ChmImage& image) { PutU32(image, image.layout.resetTable.offset + 8, 7); }, storage::kLargestWindow,
     storage::code::kNotImplemented},
    {"control data without its signature",
     [](ts::ChmImage& image) { PutU32(image, image.layout.controlData.offset + 4, 0); }, storage::kLargestWindow,
     storage::code::kDamaged},
    {"window beyond the caller's limit", nullptr, 1u << 15, storage::code::kInsufficientMemory},
};

void PrintTo(const RefusalCase& c, std::ostream* out) { *out << c.what; }

std::string StreamName(std::size_t index) {
    char name[32];
    std::snprintf(name, sizeof name, "s%04zu", index);
    return name;
}

// Reading each of the kStreams streams fails with `code`, every one with
// the words of the first.
void ExpectEveryStreamFailsAlike(storage::IStorage& root, std::uint32_t code) {
    std::string first;
    for (std::size_t i = 0; i < kStreams; ++i) {
        const std::string name = StreamName(i);
        try {
            const std::string read = ReadAll(*root.OpenStream(name));
            ADD_FAILURE() << name << " read " << read.size() << " bytes";
        } catch (const storage::EStorageError& e) {
            EXPECT_EQ(e.ErrorCode(), code) << e.what();
            if (first.empty()) first = e.what();
            EXPECT_EQ(e.what(), first) << name;
        }
    }
}

class RefusedSection : public ::testing::TestWithParam<RefusalCase> {};

TEST_P(RefusedSection, FailsEveryStreamAlikeAndIsReadOnce) {
    const RefusalCase& c = GetParam();
    std::vector<ts::ChmEntry> entries;
    for (std::size_t i = 0; i < kStreams; ++i) {
        const std::string name = "/" + StreamName(i);
        entries.push_back({name, {static_cast<std::uint8_t>('a' + i % 26)}, 1});
    }
    entries.push_back({"/stored.txt", ts::ToBytes("kept"), 0});
    ts::ChmOptions options;
    options.lzx.windowBits = 16;
    options.resetTablePadding = kTablePadding;
    ts::ChmImage image = ts::BuildChm(entries, options);
    if (c.damage) c.damage(image);
    const ts::TempFile file(image.bytes);

    storage::ReaderOptions limits;
    limits.largestWindow = c.largestWindow;
    const auto component = storage::CreateITStorageWithOptions(limits);
    const auto root = component->StgOpenStorage(file.string());
    ExpectEveryStreamFailsAlike(*root, c.code);
    EXPECT_EQ(ReadAll(*root->OpenStream("stored.txt")), "kept");
    // Once for the headers and directory, once for the section's streams,
    // and the stored stream: well below reading the table per stream.
    EXPECT_LE(component->Statistics().fileBytesRead, 2 * image.bytes.size());
}

INSTANTIATE_TEST_SUITE_P(Cases, RefusedSection, ::testing::ValuesIn(kCases), CaseName<RefusalCase>);

// The whole section is one span of many streams, whose data starts with an
// LZX block of type 7, which does not exist. Read with and without decoding
// ahead (a plan of every stream, in storage order).
class DamagedSpan : public ::testing::TestWithParam<bool> {};

TEST_P(DamagedSpan, FailsEveryStreamInItAlikeAndIsReadOnce) {
    const bool readAhead = GetParam();
    std::vector<ts::ChmEntry> entries;
    for (std::size_t i = 0; i < kStreams; ++i) {
        const std::string name = "/" + StreamName(i);
        entries.push_back({name, ts::SampleText(300, static_cast<unsigned>(i)), 1});
    }
    ts::ChmOptions options;
    options.lzx.resetIntervalBytes = 1u << 17;
    const ts::ChmImage image = ts::BuildChm(entries, options);
    ASSERT_EQ(image.layout.frameOffsets.at(0), 0u);
    const ts::TempFile file(ts::WithSpanBroken(image, 0));

    storage::ReaderOptions reader;
    reader.readAhead = readAhead;
    reader.readAheadWorkers = 2;
    const auto component = storage::CreateITStorageWithOptions(reader);
    const auto root = component->StgOpenStorage(file.string());
    std::vector<storage::Placement> plan;
    for (const PlacedStream& stream : StreamsInStorageOrder(root)) plan.push_back(stream.placement);
    const auto ahead = root->PlanReads(plan);
    ExpectEveryStreamFailsAlike(*root, storage::code::kDamaged);
    EXPECT_LE(component->Statistics().fileBytesRead, 2 * image.bytes.size());
}

INSTANTIATE_TEST_SUITE_P(ReadAhead, DamagedSpan, ::testing::Bool(),
                         [](const ::testing::TestParamInfo<bool>& param) { return param.param ? "On" : "Off"; });

}  // namespace
}  // namespace vexmor::test
