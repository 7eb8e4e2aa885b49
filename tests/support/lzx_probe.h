// Test-side reading of the parts of an LZX stream that need no decoding of
// tokens: bits in LZX order, block headers, and the code lengths a block
// sends through its pretrees. Not a decoder.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

namespace vexmor::testsupport {

class LzxBitProbe {
public:
    LzxBitProbe(std::span<const std::uint8_t> bytes, std::uint64_t startByte);
    std::uint32_t Read(unsigned count);  // count <= 16; throws std::runtime_error past the end

private:
    std::span<const std::uint8_t> bytes_;
    std::uint64_t next_;  // next word to load
    std::uint32_t buffer_ = 0;
    unsigned buffered_ = 0;
};

// Reads 20 pretree lengths and the pretree symbols for `previous.size()`
// lengths, updating `previous` in place.
void ProbeTreeLengths(LzxBitProbe& bits, std::vector<std::uint8_t>& previous);

// Sum over used lengths of 2^-length, scaled by 2^16: 65536 for a complete code.
std::uint64_t KraftSum(std::span<const std::uint8_t> lengths);

}  // namespace vexmor::testsupport
