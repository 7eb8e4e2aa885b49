// Sizes fixed by the LZX format as help files use it; the decoder and the
// section reader take them from here, and the constants derived from them
// follow them when they change.
#pragma once

#include <cstddef>
#include <cstdint>

namespace vexmor::storage::lzx {

// Output is cut into frames of this size; the input realigns to a 16-bit
// word after each.
inline constexpr std::uint32_t kFrameSize = 0x8000;

// Main tree: the literals, then one element per (position slot, length
// header) pair.
inline constexpr unsigned kNumChars = 256;
inline constexpr unsigned kLengthHeaders = 8;  // the low three bits of an element
inline constexpr unsigned kMaxPositionSlots = 50;
inline constexpr unsigned kMainSymbolsMax = kNumChars + kLengthHeaders * kMaxPositionSlots;

inline constexpr unsigned kLengthSymbols = 249;
inline constexpr unsigned kAlignedSymbols = 8;
inline constexpr unsigned kAlignedBits = 3;  // the footer bits one aligned symbol stands for
inline constexpr unsigned kPretreeSymbols = 20;

// A position slot's footer has at most this many bits.
inline constexpr unsigned kMaxFooterBits = 17;

// Match length = length header + kMinMatch, and the last header adds a
// length-tree symbol.
inline constexpr std::size_t kMinMatch = 2;
inline constexpr std::size_t kMaxMatch = kMinMatch + (kLengthHeaders - 1) + (kLengthSymbols - 1);
static_assert(kMaxMatch == 257);

}  // namespace vexmor::storage::lzx
