#include "tests/support/lzx_probe.h"

#include <stdexcept>

namespace vexmor::testsupport {

LzxBitProbe::LzxBitProbe(std::span<const std::uint8_t> bytes, std::uint64_t startByte)
    : bytes_(bytes), next_(startByte) {}

std::uint32_t LzxBitProbe::Read(unsigned count) {
    while (buffered_ < count) {
        if (next_ + 2 > bytes_.size()) throw std::runtime_error("probe: bits past the end");
        buffer_ = (buffer_ << 16) | bytes_[next_] | (std::uint32_t{bytes_[next_ + 1]} << 8);
        next_ += 2;
        buffered_ += 16;
    }
    buffered_ -= count;
    const std::uint32_t value = (buffer_ >> buffered_) & ((1u << count) - 1u);
    buffer_ &= (1u << buffered_) - 1u;
    return value;
}

namespace {

// Canonical decoding by walking lengths one bit at a time.
unsigned ReadSymbol(LzxBitProbe& bits, std::span<const std::uint8_t> lengths) {
    std::uint32_t code = 0;
    std::uint32_t first = 0;  // first code of the current length
    for (unsigned length = 1; length <= 16; ++length) {
        code = (code << 1) | bits.Read(1);
        std::uint32_t count = 0;
        for (auto l : lengths) count += l == length;
        if (code - first < count) {
            std::uint32_t rank = code - first;
            for (unsigned s = 0; s < lengths.size(); ++s) {
                if (lengths[s] == length && rank-- == 0) return s;
            }
        }
        first = (first + count) << 1;
    }
    throw std::runtime_error("probe: no code matches");
}

}  // namespace

void ProbeTreeLengths(LzxBitProbe& bits, std::vector<std::uint8_t>& previous) {
    std::uint8_t pretree[20];
    for (auto& l : pretree) l = static_cast<std::uint8_t>(bits.Read(4));
    std::size_t i = 0;
    while (i < previous.size()) {
        const unsigned symbol = ReadSymbol(bits, pretree);
        std::size_t run = 1;
        std::uint8_t value = 0;
        if (symbol == 17) {
            run = 4 + bits.Read(4);
        } else if (symbol == 18) {
            run = 20 + bits.Read(5);
        } else if (symbol == 19) {
            run = 4 + bits.Read(1);
            const unsigned delta = ReadSymbol(bits, pretree);
            if (delta > 16) throw std::runtime_error("probe: bad symbol after 19");
            value = static_cast<std::uint8_t>((previous[i] + 17 - delta) % 17);
        } else {
            value = static_cast<std::uint8_t>((previous[i] + 17 - symbol) % 17);
        }
        if (i + run > previous.size()) throw std::runtime_error("probe: run past the tree");
        for (std::size_t k = 0; k < run; ++k) previous[i + k] = value;
        i += run;
    }
}

std::uint64_t KraftSum(std::span<const std::uint8_t> lengths) {
    std::uint64_t sum = 0;
    for (auto l : lengths) {
        if (l != 0) sum += std::uint64_t{1} << (16 - l);
    }
    return sum;
}

}  // namespace vexmor::testsupport
