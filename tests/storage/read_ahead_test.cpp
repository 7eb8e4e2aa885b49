// Decoding ahead of a planned reader: the same bytes and the same errors at
// the same reads as a reader alone, whatever the number of workers and the
// room for decoded spans; workers that stop and are joined whenever the plan
// or the file goes.
#include <filesystem>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "platform/storage/storage.h"
#include "platform/storage/storage_error.h"
#include "tests/common/case_name.h"
#include "tests/common/process_threads.h"
#include "tests/common/fixture_files.h"
#include "tests/common/manifest.h"
#include "tests/common/sha256.h"
#include "tests/storage/storage_walk.h"
#include "tests/support/chm_writer.h"
#include "tests/support/sample_data.h"
#include "tests/support/temp_file.h"

namespace vexmor::test {
namespace {

using storage::ReaderOptions;

constexpr std::uint32_t kSpan = 32 * 1024;

// What reading each stream gave: its bytes, or the failure's code and message.
using Outcome = std::vector<std::pair<std::string, std::string>>;

struct Reading {
    Outcome outcome;
    std::uint64_t decodedBytes = 0;
};

// Reads every stream of `path` whole in storage order, one by one, with a
// plan of all of them when `options` lets one work.
Reading ReadInStorageOrder(const std::string& path, const ReaderOptions& options) {
    const auto component = storage::CreateITStorageWithOptions(options);
    const auto root = component->StgOpenStorage(path);
    const std::vector<PlacedStream> streams = StreamsInStorageOrder(root);
    const auto plan = root->PlanReads(PlacementsOf(streams));
    Reading reading;
    for (const PlacedStream& stream : streams) {
        try {
            reading.outcome.emplace_back(stream.name, ReadAll(*stream.storage->OpenStream(stream.element), 3000));
        } catch (const storage::EStorageError& e) {
            reading.outcome.emplace_back(stream.name, "failed " + std::to_string(e.ErrorCode()) + ": " + e.what());
        }
    }
    reading.decodedBytes = component->Statistics().decodedBytes;
    return reading;
}

struct Setup {
    const char* what;
    unsigned workers;
    std::size_t spansPerWorker;
    std::size_t cacheBudget;
};

const Setup kSetups[] = {
    {"OneWorker", 1, 4, storage::kDefaultSpanCacheBudget},
    {"TwoWorkers", 2, 4, storage::kDefaultSpanCacheBudget},
    {"PoolOfOneSpan", 8, 0, storage::kDefaultSpanCacheBudget},
    {"ThreeWorkersNoCache", 3, 1, 0},
    {"OnePerCore", 0, 4, storage::kDefaultSpanCacheBudget},
};

ReaderOptions OptionsOf(const Setup& setup) {
    ReaderOptions options;
    options.readAheadWorkers = setup.workers;
    options.readAheadSpansPerWorker = setup.spansPerWorker;
    options.spanCacheBudget = setup.cacheBudget;
    return options;
}

// The same reader with plans ignored.
ReaderOptions Alone(const Setup& setup) {
    ReaderOptions options = OptionsOf(setup);
    options.readAhead = false;
    return options;
}

// Streams s0..s5 of one span each, except that the fourth span holds two,
// s3a and s3b. Spans are decoded independently, so damage to one span's
// compressed bytes fails exactly the streams in it.
std::vector<testsupport::ChmEntry> SpanStreams() {
    std::vector<testsupport::ChmEntry> entries;
    for (unsigned i = 0; i < 6; ++i) {
        const auto bytes = testsupport::SampleText(kSpan, i, {.oneIn = 16, .length = 200});
        if (i == 3) {
            entries.push_back({"/s3a", {bytes.begin(), bytes.begin() + kSpan / 2}, 1});
            entries.push_back({"/s3b", {bytes.begin() + kSpan / 2, bytes.end()}, 1});
        } else {
            entries.push_back({"/s" + std::to_string(i), bytes, 1});
        }
    }
    return entries;
}

testsupport::ChmImage SpanStreamsChm() {
    testsupport::ChmOptions options;
    options.lzx.resetIntervalBytes = kSpan;
    options.lzx.blockSize = kSpan;
    return testsupport::BuildChm(SpanStreams(), options);
}

class ReadAhead : public ::testing::TestWithParam<Setup> {};

TEST_P(ReadAhead, FixturesReadAsByAReaderAloneWithTheSameDecodeWork) {
    for (const char* name : {"small", "openmcdf"}) {
        const FixtureFiles fixture = DataFixture(name);
        const Reading alone = ReadInStorageOrder(fixture.chm, Alone(GetParam()));
        const Reading ahead = ReadInStorageOrder(fixture.chm, OptionsOf(GetParam()));
        EXPECT_EQ(ahead.outcome, alone.outcome) << name;
        EXPECT_EQ(ahead.decodedBytes, alone.decodedBytes) << name;
        const auto expected = ByInnerName(ReadManifest(fixture.manifest));
        ASSERT_EQ(ahead.outcome.size(), expected.size()) << name;
        for (const auto& [stream, bytes] : ahead.outcome)
            EXPECT_EQ(Sha256Hex(bytes), expected.at(stream).sha256) << name << ": " << stream;
    }
}

TEST_P(ReadAhead, ADamagedSpanFailsExactlyItsStreamsWithTheSameMessage) {
    const testsupport::ChmImage image = SpanStreamsChm();
    const testsupport::TempFile file(testsupport::WithSpanBroken(image, 3));
    const Reading alone = ReadInStorageOrder(file.string(), Alone(GetParam()));
    const Reading ahead = ReadInStorageOrder(file.string(), OptionsOf(GetParam()));
    EXPECT_EQ(ahead.outcome, alone.outcome);

    const std::map<std::string, std::string> results(ahead.outcome.begin(), ahead.outcome.end());
    for (const auto& entry : SpanStreams()) {
        const std::string& result = results.at(entry.name.substr(1));
        if (entry.name.starts_with("/s3"))
            EXPECT_TRUE(result.starts_with("failed ")) << entry.name << ": " << result;
        else
            EXPECT_EQ(result, std::string(entry.bytes.begin(), entry.bytes.end())) << entry.name;
    }
    EXPECT_EQ(results.at("s3a"), results.at("s3b"));
}

INSTANTIATE_TEST_SUITE_P(Setups, ReadAhead, ::testing::ValuesIn(kSetups), CaseName<Setup>);

// --- workers stop and are joined, whatever goes first ---

struct Opened {
    std::shared_ptr<storage::IITStorage> component;
    std::shared_ptr<storage::IStorage> root;
    std::vector<PlacedStream> streams;
};

Opened OpenWithWorkers(const std::string& path, unsigned workers) {
    ReaderOptions options;
    options.readAheadWorkers = workers;
    Opened o;
    o.component = storage::CreateITStorageWithOptions(options);
    o.root = o.component->StgOpenStorage(path);
    // The compressed streams s0 .. s5, without the section machinery.
    for (PlacedStream& stream : StreamsInStorageOrder(o.root))
        if (stream.placement.area == 1 && stream.placement.length > 0) o.streams.push_back(std::move(stream));
    return o;
}

std::string Read(const PlacedStream& stream) { return ReadAll(*stream.storage->OpenStream(stream.element)); }

std::string Expected(const PlacedStream& stream) {
    for (const auto& entry : SpanStreams())
        if (entry.name == "/" + stream.name) return std::string(entry.bytes.begin(), entry.bytes.end());
    return "(not written)";
}

class PlanLifetime : public ::testing::Test {
protected:
    const testsupport::ChmImage image = SpanStreamsChm();
    const testsupport::TempFile file{image.bytes};
    const std::size_t before = ProcessThreads();
};

TEST_F(PlanLifetime, AnEndedPlanLeavesNoThreadAndTheReaderGoesOnAlone) {
    Opened o = OpenWithWorkers(file.string(), 3);
    auto plan = o.root->PlanReads(PlacementsOf(o.streams));
    ASSERT_NE(plan, nullptr);
    EXPECT_EQ(ProcessThreads(), before + 3);
    EXPECT_EQ(Read(o.streams[0]), Expected(o.streams[0]));
    plan.reset();  // stopped early, with spans under way or waiting
    EXPECT_EQ(ProcessThreads(), before);
    for (const PlacedStream& stream : o.streams) EXPECT_EQ(Read(stream), Expected(stream)) << stream.name;
}

TEST_F(PlanLifetime, TheFileGoingFirstJoinsTheWorkersAndThePlanOutlivesIt) {
    Opened o = OpenWithWorkers(file.string(), 2);
    auto plan = o.root->PlanReads(PlacementsOf(o.streams));
    ASSERT_NE(plan, nullptr);
    EXPECT_EQ(Read(o.streams[0]), Expected(o.streams[0]));
    o = Opened{};  // the last reference to the opened file
    EXPECT_EQ(ProcessThreads(), before);
    plan.reset();
    EXPECT_EQ(ProcessThreads(), before);
}

TEST_F(PlanLifetime, ALaterPlanReplacesAnEarlierOneWhichNoLongerEndsIt) {
    Opened o = OpenWithWorkers(file.string(), 2);
    auto first = o.root->PlanReads(PlacementsOf(o.streams));
    auto second = o.root->PlanReads(PlacementsOf(o.streams));
    ASSERT_NE(second, nullptr);
    EXPECT_EQ(ProcessThreads(), before + 2);
    first.reset();
    EXPECT_EQ(ProcessThreads(), before + 2);
    for (const PlacedStream& stream : o.streams) EXPECT_EQ(Read(stream), Expected(stream)) << stream.name;
}

// Read out of plan order: back to an earlier stream, then far ahead, then an
// unplanned one.
TEST_F(PlanLifetime, ReadsOutsideThePlanOrderStillGetTheirBytes) {
    Opened o = OpenWithWorkers(file.string(), 2);
    std::vector<PlacedStream> planned(o.streams.begin(), o.streams.end() - 1);
    const auto plan = o.root->PlanReads(PlacementsOf(planned));
    ASSERT_EQ(o.streams.size(), 7u);
    for (const std::size_t i : {1, 0, 5, 2, 6, 3}) EXPECT_EQ(Read(o.streams[i]), Expected(o.streams[i])) << i;
}

TEST_F(PlanLifetime, APlanOfOneSpanStartsNoThread) {
    Opened o = OpenWithWorkers(file.string(), 4);
    const auto plan = o.root->PlanReads({o.streams[0].placement});
    EXPECT_EQ(ProcessThreads(), before);
    EXPECT_EQ(Read(o.streams[0]), Expected(o.streams[0]));
}

}  // namespace
}  // namespace vexmor::test
