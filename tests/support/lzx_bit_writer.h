// The LZX bit order: 16-bit little-endian words, each filled from its most
// significant bit down.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

namespace vexmor::testsupport {

class LzxBitWriter {
public:
    // Appends the low `count` bits of `value`, most significant first; count <= 32.
    void PutBits(std::uint32_t value, unsigned count);
    // Zero bits up to the next word boundary; nothing when already there.
    void AlignToWord();
    // Bytes copied as they are; the writer must be on a word boundary.
    void PutRawBytes(std::span<const std::uint8_t> bytes);

    std::uint64_t BitPosition() const { return bytes_.size() * 8 + pendingBits_; }
    bool Aligned() const { return pendingBits_ == 0; }
    // Bytes of complete words so far.
    std::uint64_t BytePosition() const { return bytes_.size(); }
    const std::vector<std::uint8_t>& Bytes() const { return bytes_; }
    // Completes the last word with zero bits and hands the output over.
    std::vector<std::uint8_t> Finish();

private:
    void PutChunk(std::uint32_t value, unsigned count);  // count <= 16

    std::vector<std::uint8_t> bytes_;
    std::uint32_t pending_ = 0;  // invariant: fewer than 16 bits held
    unsigned pendingBits_ = 0;
};

}  // namespace vexmor::testsupport
