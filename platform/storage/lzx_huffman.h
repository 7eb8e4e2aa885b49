// Canonical Huffman decoding for LZX trees: a direct table for codes of up
// to TableBits bits, a canonical walk for the rare longer ones.
#pragma once

#include <algorithm>
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

public:
    // `name` says which tree this is in error messages (kept, not copied).
    explicit HuffmanTable(const char* name) : name_(name) {}

    // Builds the decoder for code `lengths` of the first `symbols` symbols
    // (0 = unused symbol; the others are unused). An incomplete code is
    // legal (a symbol that no code reaches is caught when decoded); an
    // over-subscribed one is damage.
    void Build(const std::uint8_t* lengths, unsigned symbols = NumSymbols) {
        assert(symbols <= NumSymbols);
        // Four interleaved tallies, so that a run of equal lengths does not
        // wait on its own previous increment.
        std::array<std::array<std::uint16_t, kMaxCodeLength + 1>, 4> tally{};
        assert(std::all_of(lengths, lengths + symbols, [](std::uint8_t len) { return len <= kMaxCodeLength; }));
        unsigned s = 0;
        for (; s + 4 <= symbols; s += 4)
            for (unsigned k = 0; k < 4; ++k) ++tally[k][lengths[s + k]];
        for (; s < symbols; ++s) ++tally[0][lengths[s]];
        std::array<std::uint16_t, kMaxCodeLength + 1> count{};
        for (unsigned len = 1; len <= kMaxCodeLength; ++len)
            count[len] = static_cast<std::uint16_t>(tally[0][len] + tally[1][len] + tally[2][len] + tally[3][len]);
        std::int32_t left = 1;
        for (unsigned len = 1; len <= kMaxCodeLength; ++len) {
            left = (left << 1) - count[len];
            if (left < 0) ThrowDamaged(std::string("the ") + name_ + " tree is over-subscribed");
        }
        used_ = left != (1 << kMaxCodeLength);

        std::uint16_t offset = 0;
        for (unsigned len = 1; len <= kMaxCodeLength; ++len) {
            count_[len] = count[len];
            offset_[len] = offset;
            offset = static_cast<std::uint16_t>(offset + count[len]);
        }
        // Symbols in code order: by length, then by symbol. The unused ones
        // go behind them without a branch (the symbols fill sorted_ at most),
        // as a zero among the lengths comes at no predictable place.
        std::array<std::uint16_t, kMaxCodeLength + 1> fill = offset_;
        fill[0] = offset;
        for (unsigned symbol = 0; symbol < symbols; ++symbol) sorted_[fill[lengths[symbol]]++] = static_cast<std::uint16_t>(symbol);
        assert(fill[0] == symbols);
        std::uint32_t code = 0;
        for (unsigned len = 1; len <= kMaxCodeLength; ++len) {
            code = (code + count[len - 1]) << 1;
            first_[len] = code;
        }
        // Canonical codes of up to TableBits bits, taken in code order, cover
        // consecutive runs of table indices from 0; the code is not
        // over-subscribed, so they stay inside the table. The rest belongs to
        // longer codes or to none.
        std::size_t at = 0;
        for (unsigned len = 1; len <= TableBits; ++len) {
            const std::size_t run = std::size_t{1} << (TableBits - len);
            for (unsigned k = 0; k < count[len]; ++k, at += run)
                std::fill_n(table_.begin() + static_cast<std::ptrdiff_t>(at), run, Entry(sorted_[offset_[len] + k], len));
        }
        assert(at <= table_.size());
        std::fill(table_.begin() + static_cast<std::ptrdiff_t>(at), table_.end(), std::uint16_t{0});
    }

    // `next` holds the next input bits, first bit highest; its high
    // kMaxCodeLength bits are input. The caller consumes the returned
    // length, which is the low bits of the entry, so a shift by the whole
    // entry (taken modulo 64, as the machine does) needs no mask.
    HuffmanSymbol Decode(std::uint64_t next) const {
        const std::uint32_t entry = table_[next >> (64 - TableBits)];
        if (const unsigned length = entry & kEntryLengthMask; length != 0) [[likely]]
            return {entry >> kEntrySymbolShift, length};
        return DecodeLong(static_cast<std::uint32_t>(next >> (64 - kMaxCodeLength)));
    }

    bool Used() const { return used_; }

private:
    // A table entry is length | symbol << kEntrySymbolShift for a code of
    // `length` (1..TableBits) bits. 0 (length 0) means no short code starts
    // with these bits: the code is longer, or none at all, and the canonical
    // walk decides.
    static constexpr unsigned kEntrySymbolShift = 6;
    static constexpr unsigned kEntryLengthMask = (1u << kEntrySymbolShift) - 1;
    static_assert(kMaxCodeLength <= kEntryLengthMask && kEntryLengthMask == 63);
    static_assert(NumSymbols <= 0xFFFFu >> kEntrySymbolShift, "a symbol fits a table entry");
    // A code longer than TableBits bits, or none: the canonical walk.
    [[gnu::noinline]] HuffmanSymbol DecodeLong(std::uint32_t peek16) const {
        assert(peek16 >> kMaxCodeLength == 0);
        for (unsigned len = TableBits + 1; len <= kMaxCodeLength; ++len) {
            const std::uint32_t c = peek16 >> (kMaxCodeLength - len);
            if (c >= first_[len] && c - first_[len] < count_[len]) return {sorted_[offset_[len] + (c - first_[len])], len};
        }
        ThrowDamaged(std::string("no code of the ") + name_ + " tree matches the input");
    }
    static std::uint16_t Entry(unsigned symbol, unsigned length) {
        return static_cast<std::uint16_t>(length | symbol << kEntrySymbolShift);
    }

    const char* name_;
    // Indexed by the next TableBits bits of input; entries as above.
    std::array<std::uint16_t, 1u << TableBits> table_{};
    // For each code length: the first code, how many codes, and where their
    // symbols start in `sorted_` (symbols in code order).
    std::array<std::uint32_t, kMaxCodeLength + 1> first_{};
    std::array<std::uint16_t, kMaxCodeLength + 1> count_{};
    std::array<std::uint16_t, kMaxCodeLength + 1> offset_{};
    std::array<std::uint16_t, NumSymbols> sorted_{};
    bool used_ = false;
};

}  // namespace vexmor::storage
