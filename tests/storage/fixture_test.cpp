// Every stream of the real help files, read through the storage view by the
// names the enumeration gave, against the expected sizes and SHA-256.
#include <filesystem>
#include <map>

#include <gtest/gtest.h>

#include "platform/storage/storage.h"
#include "tests/common/manifest.h"
#include "tests/common/sha256.h"
#include "tests/storage/storage_walk.h"

namespace vexmor::test {
namespace {

void ExpectFileMatchesManifest(const std::string& chm, const std::string& manifestPath) {
    const auto manifest = ReadManifest(manifestPath);
    std::map<std::string, const ManifestEntry*> expected;
    for (const auto& entry : manifest) expected.emplace(entry.InnerName(), &entry);

    auto root = storage::CreateITStorage()->StgOpenStorage(chm);
    std::size_t seen = 0;
    WalkStreams(root, [&](const WalkedStream& stream) {
        ++seen;
        auto found = expected.find(stream.name);
        ASSERT_NE(found, expected.end()) << "unexpected stream " << stream.name;
        EXPECT_EQ(stream.enumeratedSize, found->second->size) << stream.name;
        EXPECT_EQ(stream.bytes.size(), found->second->size) << stream.name;
        EXPECT_EQ(Sha256Hex(stream.bytes), found->second->sha256) << stream.name;
    });
    EXPECT_EQ(seen, manifest.size());
}

class Fixture : public ::testing::TestWithParam<const char*> {};

TEST_P(Fixture, EveryStreamIsByteExact) {
    const std::string base = std::string(VEXMOR_TEST_DATA_DIR) + "/" + GetParam();
    ExpectFileMatchesManifest(base + ".chm", base + ".sha256");
}

INSTANTIATE_TEST_SUITE_P(Fixtures, Fixture, ::testing::Values("small", "openmcdf"));

// Labelled "large" in ctest; the big shared fixture is read by path only.
TEST(LargeFixture, EveryStreamOfLclIsByteExact) {
    const std::string base = std::string(VEXMOR_SHARED_FIXTURES_DIR) + "/lcl";
    if (!std::filesystem::exists(base + ".chm") || !std::filesystem::exists(base + ".sha256"))
        GTEST_SKIP() << "lcl.chm and lcl.sha256 are not in " << VEXMOR_SHARED_FIXTURES_DIR << ": large test skipped";
    ExpectFileMatchesManifest(base + ".chm", base + ".sha256");
}

}  // namespace
}  // namespace vexmor::test
