// A sum of stream sizes. The sizes are what the help file claims, up to
// 2^64 - 1 each, so a sum of a few may pass what 64 bits hold: it stops at
// the largest value and remembers that the true sum is larger.
#pragma once

#include <cstdint>
#include <string>

namespace vexmor {

struct ByteTotal {
    std::uint64_t value = 0;  // UINT64_MAX once saturated
    bool saturated = false;   // the true sum is larger than `value`

    ByteTotal& operator+=(std::uint64_t bytes) {
        if (bytes > UINT64_MAX - value) {
            value = UINT64_MAX;
            saturated = true;
        } else {
            value += bytes;
        }
        return *this;
    }
};

// "1234", or "more than 18446744073709551615" for a saturated sum.
std::string ByteTotalText(const ByteTotal& total);

}  // namespace vexmor
