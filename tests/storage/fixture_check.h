// Test helper: every stream of a help file, read through the storage view by
// the names the enumeration gave, against a manifest's sizes and SHA-256.
#pragma once

#include <string>

#include <gtest/gtest.h>

#include "platform/storage/storage.h"
#include "tests/common/fixture_files.h"
#include "tests/common/manifest.h"
#include "tests/common/sha256.h"
#include "tests/storage/storage_walk.h"

namespace vexmor::test {

inline void ExpectFileMatchesManifest(const FixtureFiles& fixture) {
    const auto manifest = ReadManifest(fixture.manifest);
    const auto expected = ByInnerName(manifest);

    auto root = storage::CreateITStorage()->StgOpenStorage(fixture.chm);
    std::size_t seen = 0;
    WalkStreams(root, [&](const WalkedStream& stream) {
        ++seen;
        auto found = expected.find(stream.name);
        ASSERT_NE(found, expected.end()) << "unexpected stream " << stream.name;
        EXPECT_EQ(stream.enumeratedSize, found->second.size) << stream.name;
        EXPECT_EQ(stream.bytes.size(), found->second.size) << stream.name;
        EXPECT_EQ(Sha256Hex(stream.bytes), found->second.sha256) << stream.name;
    });
    EXPECT_EQ(seen, manifest.size());
}

}  // namespace vexmor::test
