// LZX decoding of one reset span of a help file's compressed section. A span
// starts from a clean state (trees empty, R0 = R1 = R2 = 1, nothing to refer
// back to), so spans decode independently of each other.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/storage/lzx_format.h"

namespace vexmor::storage {

class LzxDecoder {
public:
    // Match copies move this many bytes at a time while source and
    // destination lie that far apart, so a copy may write up to
    // kCopyStep - 1 bytes past the match's end.
    static constexpr std::size_t kCopyStep = 16;

    // The last match starts before the requested end, so it may run up to
    // kMaxMatch - 1 bytes past it, and its copy a step's remainder further:
    // the output buffer holds this much more than the requested length.
    static constexpr std::size_t kOutputSlack = (lzx::kMaxMatch - 1) + (kCopyStep - 1);

    // `windowSize` is a power of two from 2^15 to 2^21 (checked: damage).
    explicit LzxDecoder(std::uint32_t windowSize);

    // Decodes `in` (the span's compressed bytes) into exactly `outLength`
    // bytes at `out`, which has room for outLength + kOutputSlack. Throws
    // EStorageError: kDamaged for corrupt data, kNotImplemented for data that
    // uses the x86 call filter.
    void DecodeSpan(const std::uint8_t* in, std::size_t inLength, std::uint8_t* out, std::size_t outLength) const;

private:
    std::uint32_t windowSize_;
    unsigned positionSlots_;
};

}  // namespace vexmor::storage
