// LZX decoding of one reset span of a help file's compressed section. A span
// starts from a clean state (trees empty, R0 = R1 = R2 = 1, nothing to refer
// back to), so spans decode independently of each other.
#pragma once

#include <cstddef>
#include <cstdint>

namespace vexmor::storage {

class LzxDecoder {
public:
    // A match may run up to 256 bytes past the requested end, and match
    // copies write in 8-byte steps: the output buffer holds this much more.
    static constexpr std::size_t kOutputSlack = 256 + 16;

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
