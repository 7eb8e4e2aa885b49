#include "tests/support/lzx_bit_writer.h"

#include <stdexcept>
#include <utility>

namespace vexmor::testsupport {

void LzxBitWriter::PutChunk(std::uint32_t value, unsigned count) {
    if (count == 0) return;
    pending_ = (pending_ << count) | (value & ((1u << count) - 1u));
    pendingBits_ += count;
    if (pendingBits_ >= 16) {
        pendingBits_ -= 16;
        const auto word = static_cast<std::uint16_t>(pending_ >> pendingBits_);
        bytes_.push_back(static_cast<std::uint8_t>(word));
        bytes_.push_back(static_cast<std::uint8_t>(word >> 8));
        pending_ &= (1u << pendingBits_) - 1u;
    }
}

void LzxBitWriter::PutBits(std::uint32_t value, unsigned count) {
    if (count > 32) throw std::invalid_argument("PutBits takes at most 32 bits");
    if (count > 16) {
        PutChunk(value >> 16, count - 16);
        count = 16;
    }
    PutChunk(value, count);
}

void LzxBitWriter::AlignToWord() {
    if (pendingBits_ != 0) PutChunk(0, 16 - pendingBits_);
}

void LzxBitWriter::PutRawBytes(std::span<const std::uint8_t> bytes) {
    if (!Aligned()) throw std::logic_error("raw bytes must start on a 16-bit boundary");
    bytes_.insert(bytes_.end(), bytes.begin(), bytes.end());
}

std::vector<std::uint8_t> LzxBitWriter::Finish() {
    AlignToWord();
    return std::exchange(bytes_, {});
}

}  // namespace vexmor::testsupport
