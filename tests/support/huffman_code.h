// Canonical Huffman codes as LZX uses them: lengths from symbol counts,
// limited to a maximum; codes assigned by length, then by symbol.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

namespace vexmor::testsupport {

// Code lengths for `counts` (0 = symbol unused), none above `maxLength`.
// Whenever any symbol is used the result is a complete prefix code: a lone
// used symbol gets a partner of length 1, so no decoder meets a one-leaf tree.
// All lengths stay zero when nothing is used.
std::vector<std::uint8_t> BuildCodeLengths(std::span<const std::uint64_t> counts, unsigned maxLength);

// Canonical code of every symbol with a non-zero length (0 for the others).
std::vector<std::uint16_t> CanonicalCodes(std::span<const std::uint8_t> lengths);

}  // namespace vexmor::testsupport
