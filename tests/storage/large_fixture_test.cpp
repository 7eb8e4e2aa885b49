// Every stream of the big shared fixture is byte-exact. It is read by path
// and never copied into the test data.
#include <filesystem>

#include <gtest/gtest.h>

#include "tests/storage/fixture_check.h"

namespace vexmor::test {
namespace {

bool Present(const FixtureFiles& fixture) {
    return std::filesystem::exists(fixture.chm) && std::filesystem::exists(fixture.manifest);
}

const char* const kAbsent = "lcl.chm and lcl.sha256 are not in the shared fixtures folder: large test skipped";

TEST(LargeFixture, EveryStreamOfLclIsByteExact) {
    const FixtureFiles lcl = SharedFixture("lcl");
    if (!Present(lcl)) GTEST_SKIP() << kAbsent << " (" << SharedFixturesFolder() << ")";
    ExpectFileMatchesManifest(lcl);
}

// As an export reads it: in storage order, decoded ahead with a pool of one
// span, so that the reader both waits for the worker and overtakes it.
TEST(LargeFixture, EveryStreamOfLclIsByteExactWhenDecodedAhead) {
    const FixtureFiles lcl = SharedFixture("lcl");
    if (!Present(lcl)) GTEST_SKIP() << kAbsent << " (" << SharedFixturesFolder() << ")";
    const auto expected = ByInnerName(ReadManifest(lcl.manifest));
    storage::ReaderOptions options;
    options.readAheadWorkers = 1;
    options.readAheadSpansPerWorker = 0;
    const auto component = storage::CreateITStorageWithOptions(options);
    const auto root = component->StgOpenStorage(lcl.chm);
    const std::vector<PlacedStream> streams = StreamsInStorageOrder(root);
    const auto plan = root->PlanReads(PlacementsOf(streams));
    ASSERT_NE(plan, nullptr);
    for (const PlacedStream& stream : streams) {
        const auto found = expected.find(stream.name);
        ASSERT_NE(found, expected.end()) << "unexpected stream " << stream.name;
        EXPECT_EQ(Sha256Hex(ReadAll(*stream.storage->OpenStream(stream.element))), found->second.sha256) << stream.name;
    }
    EXPECT_EQ(streams.size(), expected.size());
    const storage::DecodeStatistics stats = component->Statistics();
    EXPECT_LE(static_cast<double>(stats.decodedBytes), 1.02 * static_cast<double>(stats.sectionLength));
}

}  // namespace
}  // namespace vexmor::test
