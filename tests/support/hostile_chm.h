// Help files that cost a careless reader far more than their size: built in
// memory at any scale, small for the tests and large for the measurements in
// docs/benchmarks.md.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>

#include "tests/support/chm_writer.h"

namespace vexmor::testsupport {

// `streams` one-byte compressed streams named in turn into `spans` spans of
// `spanBytes` each (a filler stream completes every span): in name order,
// each stream lies in another span than the one before.
ChmImage RoundRobinChm(std::size_t streams, std::uint32_t spanBytes, unsigned spans);

// One compressed stream "/base" of `baseBytes`, and `claims` streams
// "/claim/NNNNNN" that each claim all of its bytes again.
ChmImage OverlappingChm(std::size_t claims, std::size_t baseBytes);

// "/a" `count` times: a stored name's path of that many folders.
std::string NestedFolders(std::size_t count);

// Files with one data stream named `name`, and a plain "/ok.txt" beside it;
// chunks large enough for names of up to a MiB.
ChmImage NamedChm(const std::string& name);

// `names` streams of `levels` levels each whose first level differs: every
// folder of every name is a folder of its own.
ChmImage ManyFoldersChm(std::size_t names, std::size_t levels);

// Declares a directory of `declared` bytes in the help file at `path`, made
// sparse up to there: the chunks really written stay, the rest is a hole.
void DeclareSparseDirectory(const std::filesystem::path& path, const ChmImage& image, std::uint64_t declared);

}  // namespace vexmor::testsupport
