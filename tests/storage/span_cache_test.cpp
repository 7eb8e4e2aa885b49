// The cache of decoded spans: whatever the budget and the order of reads,
// every byte is right, and a span is decoded again only after it was evicted.
#include <gtest/gtest.h>

#include "platform/storage/storage.h"
#include "tests/common/fixture_files.h"
#include "tests/common/manifest.h"
#include "tests/common/sha256.h"
#include "tests/storage/storage_walk.h"

namespace vexmor::test {
namespace {

using storage::IStream;

constexpr std::uint64_t kSpan = 65536;  // reset interval of the fixtures
const std::string kSmall = DataFile("small.chm");

struct Opened {
    std::shared_ptr<storage::IITStorage> component;
    std::shared_ptr<storage::IStorage> root;
};

Opened OpenWithBudget(const std::string& path, std::size_t budget) {
    Opened o;
    o.component = storage::CreateITStorageWithCache(budget);
    o.root = o.component->StgOpenStorage(path);
    return o;
}

std::shared_ptr<IStream> OpenPath(storage::IStorage& root, const std::string& inner) {
    std::shared_ptr<storage::IStorage> storage;
    std::string rest = inner;
    storage::IStorage* at = &root;
    for (std::size_t slash; (slash = rest.find('/')) != std::string::npos; rest.erase(0, slash + 1)) {
        storage = at->OpenStorage(rest.substr(0, slash));
        at = storage.get();
    }
    return at->OpenStream(rest);
}

std::string Expected(const std::string& inner) {
    const auto manifest = ByInnerName(ReadManifest(DataFile("small.sha256")));
    const auto found = manifest.find(inner);
    return found == manifest.end() ? std::string() : found->second.sha256;
}

class Budget : public ::testing::TestWithParam<std::size_t> {};

// Reads in walk order with a budget smaller than the section, one span, none.
TEST_P(Budget, EveryStreamOfBothFixturesIsRight) {
    for (const char* name : {"small", "openmcdf"}) {
        const FixtureFiles fixture = DataFixture(name);
        const auto expected = ByInnerName(ReadManifest(fixture.manifest));
        const Opened o = OpenWithBudget(fixture.chm, GetParam());
        std::size_t seen = 0;
        WalkStreams(o.root, [&](const WalkedStream& s) {
            ++seen;
            const auto found = expected.find(s.name);
            ASSERT_NE(found, expected.end()) << name << ": unexpected stream " << s.name;
            EXPECT_EQ(Sha256Hex(s.bytes), found->second.sha256) << name << ": " << s.name;
        });
        EXPECT_EQ(seen, expected.size());
    }
}

INSTANTIATE_TEST_SUITE_P(Budgets, Budget, ::testing::Values(0, kSpan, 2 * kSpan, storage::kDefaultSpanCacheBudget),
                         [](const ::testing::TestParamInfo<std::size_t>& param) {
                             return param.param == storage::kDefaultSpanCacheBudget ? std::string("Default")
                                                                                    : std::to_string(param.param) + "Bytes";
                         });

// Both lie in the first span.
TEST(SpanCache, StreamsReadInterleavedFromOneSpanDecodeItOnce) {
    const Opened o = OpenWithBudget(kSmall, kSpan);
    auto a = OpenPath(*o.root, "html/page1.html");
    auto b = OpenPath(*o.root, "html/exact8192.html");
    std::string bytesA, bytesB;
    char buffer[7];
    for (std::uint32_t gotA = 7, gotB = 7; gotA == 7 || gotB == 7;) {
        if (gotA == 7) bytesA.append(buffer, gotA = a->Read(buffer, 7));
        if (gotB == 7) bytesB.append(buffer, gotB = b->Read(buffer, 7));
    }
    EXPECT_EQ(Sha256Hex(bytesA), Expected("html/page1.html"));
    EXPECT_EQ(Sha256Hex(bytesB), Expected("html/exact8192.html"));
    EXPECT_EQ(o.component->Statistics().decodedBytes, kSpan);
}

TEST(SpanCache, AnEvictedSpanIsDecodedAgainAndStillRight) {
    const Opened o = OpenWithBudget(kSmall, kSpan);
    // page1.html lies in the first span, random.bin in four later ones.
    const std::string first = ReadAll(*OpenPath(*o.root, "html/page1.html"));
    const std::uint64_t once = o.component->Statistics().decodedBytes;
    ReadAll(*OpenPath(*o.root, "images/random.bin"));
    const std::uint64_t afterOther = o.component->Statistics().decodedBytes;
    const std::string again = ReadAll(*OpenPath(*o.root, "html/page1.html"));
    EXPECT_EQ(again, first);
    EXPECT_EQ(Sha256Hex(again), Expected("html/page1.html"));
    EXPECT_EQ(o.component->Statistics().decodedBytes, afterOther + once);
}

TEST(SpanCache, AStreamOverSeveralSpansDecodesEachOnceEvenWithNoBudget) {
    const Opened o = OpenWithBudget(kSmall, 0);
    const std::string big = ReadAll(*OpenPath(*o.root, "html/big.html"), 1000);
    EXPECT_EQ(Sha256Hex(big), Expected("html/big.html"));
    // 400 000 bytes touch at most ceil(400000 / 65536) + 1 spans.
    EXPECT_LE(o.component->Statistics().decodedBytes, (400000 / kSpan + 2) * kSpan);
    EXPECT_GE(o.component->Statistics().decodedBytes, 400000u);
}

}  // namespace
}  // namespace vexmor::test
