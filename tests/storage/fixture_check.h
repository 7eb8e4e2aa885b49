// Test helper: every stream of a help file, read through the storage view by
// the names the enumeration gave, against a manifest's sizes and SHA-256.
#pragma once

#include <map>
#include <string>

#include <gtest/gtest.h>

#include "platform/storage/storage.h"
#include "tests/common/manifest.h"
#include "tests/common/sha256.h"
#include "tests/storage/storage_walk.h"

namespace vexmor::test {

inline void ExpectFileMatchesManifest(const std::string& chm, const std::string& manifestPath) {
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

}  // namespace vexmor::test
