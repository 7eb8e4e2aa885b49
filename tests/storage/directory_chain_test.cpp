// The directory walk lists every listing chunk of the file: from the true
// head of the chain when the header names a later chunk, and chunks that
// the chain never reaches after it. Nothing is dropped silently.
#include <cstdio>
#include <functional>
#include <set>

#include <gtest/gtest.h>

#include "platform/storage/storage.h"
#include "platform/storage/storage_error.h"
#include "tests/common/case_name.h"
#include "tests/storage/storage_walk.h"
#include "tests/support/chm_writer.h"
#include "tests/support/temp_file.h"

namespace vexmor::test {
namespace {

using testsupport::ChmImage;

constexpr std::size_t kItspFirstListing = 0x20;
constexpr std::size_t kChunkPrevious = 0x0C;
constexpr std::size_t kChunkNext = 0x10;

void PutI32(ChmImage& image, std::uint64_t at, std::int32_t value) {
    for (int i = 0; i < 4; ++i)
        image.bytes[at + static_cast<std::uint64_t>(i)] = static_cast<std::uint8_t>(static_cast<std::uint32_t>(value) >> (8 * i));
}
void SetFirstListing(ChmImage& image, std::int32_t chunk) { PutI32(image, image.layout.itspHeader.offset + kItspFirstListing, chunk); }
void SetLink(ChmImage& image, std::size_t chunk, std::size_t field, std::int32_t to) {
    PutI32(image, image.layout.listingChunkOffsets.at(chunk) + field, to);
}

// Small chunks, so that 60 pages need several listing chunks.
ChmImage ManyChunks(std::vector<std::string>& pages) {
    std::vector<testsupport::ChmEntry> entries;
    entries.push_back({"/#SYSTEM", {1, 2, 3}, 0});
    for (int i = 0; i < 60; ++i) {
        char name[40];
        std::snprintf(name, sizeof name, "/html/page%03d.htm", i);
        entries.push_back({name, {static_cast<std::uint8_t>(i)}, static_cast<unsigned>(i % 2)});
    }
    for (const auto& e : entries) pages.push_back(e.name.substr(1));
    testsupport::ChmOptions options;
    options.chunkSize = 512;
    return testsupport::BuildChm(entries, options);
}

std::multiset<std::string> Listed(const std::string& path) {
    auto component = storage::CreateITStorage();
    std::multiset<std::string> names;
    WalkStreams(component->StgOpenStorage(path), [&](const WalkedStream& s) { names.insert(s.name); });
    return names;
}

struct ChainCase {
    const char* what;
    std::function<void(ChmImage&)> damage;
};

class DirectoryChain : public ::testing::TestWithParam<ChainCase> {};

TEST_P(DirectoryChain, ListsEveryStreamOfEveryListingChunk) {
    std::vector<std::string> pages;
    ChmImage image = ManyChunks(pages);
    ASSERT_GE(image.layout.listingChunkOffsets.size(), 4u) << "the test needs several listing chunks";
    GetParam().damage(image);
    testsupport::TempFile file(image.bytes);
    const std::multiset<std::string> listed = Listed(file.string());
    for (const std::string& page : pages) EXPECT_EQ(listed.count(page), 1u) << GetParam().what << ": " << page;
}

const ChainCase kChainCases[] = {
    {"header names the true head", [](ChmImage&) {}},
    // As one open-source compiler writes it: the chain really starts a chunk earlier.
    {"header names the second chunk", [](ChmImage& c) { SetFirstListing(c, 1); }},
    {"header names the third chunk", [](ChmImage& c) { SetFirstListing(c, 2); }},
    {"back links loop", [](ChmImage& c) {
         SetFirstListing(c, 1);
         SetLink(c, 0, kChunkPrevious, 1);
     }},
    {"back link points at itself", [](ChmImage& c) {
         SetFirstListing(c, 1);
         SetLink(c, 0, kChunkPrevious, 0);
     }},
    {"back link leads outside the directory", [](ChmImage& c) {
         SetFirstListing(c, 1);
         SetLink(c, 0, kChunkPrevious, 0x7FFFFF);
     }},
    // The chain ends early: the chunks after it are listed all the same.
    {"chain cut after its second chunk", [](ChmImage& c) { SetLink(c, 1, kChunkNext, -1); }},
    // A back link that the previous chunk does not confirm is not followed;
    // the chunk before is then unreached and listed after the chain.
    {"unconfirmed back link", [](ChmImage& c) {
         SetFirstListing(c, 1);
         SetLink(c, 0, kChunkNext, -1);
     }},
};

INSTANTIATE_TEST_SUITE_P(Cases, DirectoryChain, ::testing::ValuesIn(kChainCases),
                         CaseName<ChainCase>);

}  // namespace
}  // namespace vexmor::test

namespace vexmor::test {
namespace {

// A listing chunk far out in a declared directory, beyond a hole of a
// sparse file, and reached by no link: found all the same, while the hole
// itself is skipped, not read.
TEST(DirectoryChain, ListsAnUnreachedChunkBeyondAHole) {
    std::vector<std::string> pages;
    ChmImage image = ManyChunks(pages);
    const std::size_t last = image.layout.listingChunkOffsets.size() - 1;
    SetLink(image, last - 1, kChunkNext, -1);
    const std::uint64_t lastAt = image.layout.listingChunkOffsets[last];
    const std::vector<std::uint8_t> moved(image.bytes.begin() + static_cast<std::ptrdiff_t>(lastAt),
                                          image.bytes.begin() + static_cast<std::ptrdiff_t>(lastAt + image.layout.chunkSize));
    image.bytes[lastAt] = 'X';  // no longer a listing chunk where it was

    const std::uint64_t farIndex = (std::uint64_t{1} << 30) / image.layout.chunkSize;
    const std::uint64_t firstChunkAt = image.layout.listingChunkOffsets[0];
    const std::uint64_t declared = (firstChunkAt - image.layout.directory.offset) + (farIndex + 1) * image.layout.chunkSize;
    for (int i = 0; i < 8; ++i) image.bytes[0x50 + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(declared >> (8 * i));
    testsupport::TempFile file(image.bytes);
    {
        std::FILE* out = std::fopen(file.string().c_str(), "r+b");
        ASSERT_NE(out, nullptr);
        ASSERT_EQ(::fseeko(out, static_cast<off_t>(firstChunkAt + farIndex * image.layout.chunkSize), SEEK_SET), 0);
        ASSERT_EQ(std::fwrite(moved.data(), 1, moved.size(), out), moved.size());
        ASSERT_EQ(std::fclose(out), 0);
    }
    const std::multiset<std::string> listed = Listed(file.string());
    for (const std::string& page : pages) EXPECT_EQ(listed.count(page), 1u) << page;
}

}  // namespace
}  // namespace vexmor::test
