// Canonical Huffman decoding for LZX trees: a direct table for codes of up
// to TableBits bits, a canonical walk for the rare longer ones.
#pragma once

#include <array>
#include <cassert>
#include <cstdint>
#include <cstring>
#include <string>

#include "platform/storage/storage_error.h"

namespace vexmor::storage {

inline constexpr unsigned kMaxCodeLength = 16;

// A decoded symbol and the number of input bits its code takes.
struct HuffmanSymbol {
    unsigned symbol;
    unsigned length;
};

template <unsigned NumSymbols, unsigned TableBits>
class HuffmanTable {
    static_assert(TableBits <= kMaxCodeLength);
    static_assert(NumSymbols <= 0xFFFF, "a symbol fits the low half of a table entry");

public:
    // `name` says which tree this is in error messages (kept, not copied).
    explicit HuffmanTable(const char* name) : name_(name) {}

    // Builds the decoder for code `lengths` (0 = unused symbol). An incomplete
    // code is legal (a symbol that no code reaches is caught when decoded);
    // an over-subscribed one is damage.
    void Build(const std::uint8_t* lengths) {
        std::array<std::uint16_t, kMaxCodeLength + 1> count{};
        for (unsigned s = 0; s < NumSymbols; ++s) {
            assert(lengths[s] <= kMaxCodeLength);
            ++count[lengths[s]];
        }
        count[0] = 0;
        std::int32_t left = 1;
        for (unsigned len = 1; len <= kMaxCodeLength; ++len) {
            left = (left << 1) - count[len];
            if (left < 0) ThrowDamaged(std::string("the ") + name_ + " tree is over-subscribed");
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
                // Every index whose leading `len` bits are the code.
                const std::uint32_t start = c << (TableBits - len);
                for (std::uint32_t i = 0; i < (1u << (TableBits - len)); ++i) table_[start + i] = Entry(s, len);
            }
        }
    }

    // `peek16` holds the next 16 bits of input, most significant first; the
    // caller consumes the returned length.
    HuffmanSymbol Decode(std::uint32_t peek16) const {
        assert(peek16 >> kMaxCodeLength == 0);
        const std::uint32_t entry = table_[peek16 >> (kMaxCodeLength - TableBits)];
        if (const unsigned length = entry >> kEntryLengthShift; length != 0) return {entry & kEntrySymbolMask, length};
        for (unsigned len = TableBits + 1; len <= kMaxCodeLength; ++len) {
            const std::uint32_t c = peek16 >> (kMaxCodeLength - len);
            if (c >= first_[len] && c - first_[len] < count_[len]) return {sorted_[offset_[len] + (c - first_[len])], len};
        }
        ThrowDamaged(std::string("no code of the ") + name_ + " tree matches the input");
    }

    bool Used() const { return used_; }

private:
    // A table entry is symbol | length << kEntryLengthShift for a code of
    // `length` (1..TableBits) bits. 0 (length 0) means no short code starts
    // with these bits: the code is longer, or none at all, and the canonical
    // walk decides.
    static constexpr unsigned kEntryLengthShift = 16;
    static constexpr std::uint32_t kEntrySymbolMask = (1u << kEntryLengthShift) - 1;
    static std::uint32_t Entry(unsigned symbol, unsigned length) { return symbol | length << kEntryLengthShift; }

    const char* name_;
    // Indexed by the next TableBits bits of input; entries as above.
    std::array<std::uint32_t, 1u << TableBits> table_{};
    // For each code length: the first code, how many codes, and where their
    // symbols start in `sorted_` (symbols in code order).
    std::array<std::uint32_t, kMaxCodeLength + 1> first_{};
    std::array<std::uint16_t, kMaxCodeLength + 1> count_{};
    std::array<std::uint16_t, kMaxCodeLength + 1> offset_{};
    std::array<std::uint16_t, NumSymbols> sorted_{};
    bool used_ = false;
};

}  // namespace vexmor::storage
