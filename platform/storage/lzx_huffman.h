// Canonical Huffman decoding for LZX trees: a direct table for codes of up
// to TableBits bits, a canonical walk for the rare longer ones.
#pragma once

#include <array>
#include <cstdint>
#include <cstring>

#include "platform/storage/storage_error.h"

namespace vexmor::storage {

inline constexpr unsigned kMaxCodeLength = 16;

template <unsigned NumSymbols, unsigned TableBits>
class HuffmanTable {
    static_assert(TableBits <= kMaxCodeLength);

public:
    // Builds the decoder for code `lengths` (0 = unused symbol). An incomplete
    // code is legal (a symbol that no code reaches is caught when decoded);
    // an over-subscribed one is damage.
    void Build(const std::uint8_t* lengths, const char* tree) {
        std::array<std::uint16_t, kMaxCodeLength + 1> count{};
        for (unsigned s = 0; s < NumSymbols; ++s) ++count[lengths[s]];
        count[0] = 0;
        std::int32_t left = 1;
        for (unsigned len = 1; len <= kMaxCodeLength; ++len) {
            left = (left << 1) - count[len];
            if (left < 0) ThrowDamaged(std::string("the ") + tree + " tree is over-subscribed");
        }
        used_ = left != (1 << kMaxCodeLength);

        std::array<std::uint32_t, kMaxCodeLength + 2> next{};
        std::uint32_t code = 0;
        std::uint16_t offset = 0;
        for (unsigned len = 1; len <= kMaxCodeLength; ++len) {
            code = (code + count[len - 1]) << 1;
            next[len] = code;
            first_[len] = code;
            count_[len] = count[len];
            offset_[len] = offset;
            offset = static_cast<std::uint16_t>(offset + count[len]);
        }
        std::array<std::uint16_t, kMaxCodeLength + 1> fill = offset_;
        std::memset(table_.data(), 0, sizeof table_);
        for (unsigned s = 0; s < NumSymbols; ++s) {
            const unsigned len = lengths[s];
            if (len == 0) continue;
            sorted_[fill[len]++] = static_cast<std::uint16_t>(s);
            const std::uint32_t c = next[len]++;
            if (len <= TableBits) {
                const std::uint32_t start = c << (TableBits - len);
                const std::uint32_t entry = s | len << 16;
                for (std::uint32_t i = 0; i < (1u << (TableBits - len)); ++i) table_[start + i] = entry;
            }
        }
    }

    // `peek16` holds the next 16 bits of input, most significant first.
    // Returns the symbol and stores its code length in `length`.
    unsigned Decode(std::uint32_t peek16, unsigned& length, const char* tree) const {
        const std::uint32_t entry = table_[peek16 >> (kMaxCodeLength - TableBits)];
        if (entry >> 16) {
            length = entry >> 16;
            return entry & 0xFFFFu;
        }
        for (unsigned len = TableBits + 1; len <= kMaxCodeLength; ++len) {
            const std::uint32_t c = peek16 >> (kMaxCodeLength - len);
            if (c >= first_[len] && c - first_[len] < count_[len]) {
                length = len;
                return sorted_[offset_[len] + (c - first_[len])];
            }
        }
        ThrowDamaged(std::string("no code of the ") + tree + " tree matches the input");
    }

    bool Used() const { return used_; }

private:
    std::array<std::uint32_t, 1u << TableBits> table_{};
    std::array<std::uint32_t, kMaxCodeLength + 1> first_{};
    std::array<std::uint16_t, kMaxCodeLength + 1> count_{};
    std::array<std::uint16_t, kMaxCodeLength + 1> offset_{};
    std::array<std::uint16_t, NumSymbols> sorted_{};
    bool used_ = false;
};

}  // namespace vexmor::storage
