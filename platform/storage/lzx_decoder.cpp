#include "platform/storage/lzx_decoder.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cassert>
#include <cstring>
#include <string>
#include <utility>

#include "platform/storage/byte_view.h"
#include "platform/storage/lzx_huffman.h"
#include "platform/storage/storage_error.h"

namespace vexmor::storage {

namespace {

using lzx::kAlignedBits;
using lzx::kAlignedSymbols;
using lzx::kFrameSize;
using lzx::kLengthHeaders;
using lzx::kLengthSymbols;
using lzx::kMainSymbolsMax;
using lzx::kMaxFooterBits;
using lzx::kMaxMatch;
using lzx::kMaxPositionSlots;
using lzx::kMinMatch;
using lzx::kNumChars;
using lzx::kPretreeSymbols;

enum BlockType : unsigned { kVerbatim = 1, kAligned = 2, kUncompressed = 3 };

struct PositionTables {
    std::array<std::uint8_t, kMaxPositionSlots + 1> footerBits{};
    std::array<std::uint32_t, kMaxPositionSlots + 1> base{};
    constexpr PositionTables() {
        std::uint32_t sum = 0;
        for (unsigned s = 0; s <= kMaxPositionSlots; ++s) {
            footerBits[s] = static_cast<std::uint8_t>(s < 4 ? 0 : std::min((s - 2) / 2, kMaxFooterBits));
            base[s] = sum;
            sum += 1u << footerBits[s];
        }
    }
};
constexpr PositionTables kPositions;

// Input is a sequence of 16-bit little-endian words, consumed from the most
// significant bit. Invariant: the `bits` high bits of `buf` are the next
// unread input bits; below them come fewer than 16 of the input bits that
// follow, then zeros, so loading the word at `pos` (the byte position of the
// next word to load) ORs in bits equal to those already there. Past the end
// of the input, zero words are loaded and `pos` keeps counting, so an
// overrun is found by Consumed() > size.
class BitReader {
    static constexpr int kBufferBits = 64;
    static constexpr int kWordBits = 16;

public:
    // Refill() loads words while one more fits, so afterwards at least this
    // many bits are buffered; the token loop decodes on that guarantee
    // without counting.
    static constexpr unsigned kBitsAfterRefill = kBufferBits - kWordBits + 1;

    BitReader(const std::uint8_t* in, std::size_t size) : in_(in), size_(size) {}

    // Loads at most kMaxRefillBytes (from an empty buffer), so one bound check
    // covers the common case, which takes the whole words that fit from one
    // 8-byte load without branching on how many do.
    void Refill() {
        if (pos_ + kMaxRefillBytes <= size_) {
            // The leading bits of a word that does not fit whole come in too,
            // uncounted, as the invariant allows.
            const auto room = static_cast<unsigned>(kBufferBits - bits_);
            const unsigned whole = room - room % kWordBits;
            buf_ |= room != 0 ? StreamOrderAt(pos_) >> bits_ : 0;
            bits_ += static_cast<int>(whole);
            pos_ += whole / 8;
        } else {
            while (bits_ <= kBufferBits - kWordBits) Push(pos_ + 1 < size_ ? WordAt(pos_) : pos_ < size_ ? in_[pos_] : 0u);
        }
        assert(bits_ >= static_cast<int>(kBitsAfterRefill) && bits_ <= kBufferBits);
        assert(bits_ == kBufferBits || buf_ << bits_ << kWordBits == 0);
    }
    int Buffered() const { return bits_; }
    // The buffered bits, first bit highest; a refill leaves the high
    // kMaxCodeLength of them as they are when that many are buffered.
    std::uint64_t Peek() const { return buf_; }
    void EnsureBits(unsigned n) {
        assert(n <= kBitsAfterRefill);
        if (bits_ < static_cast<int>(n)) Refill();
    }
    void Consume(unsigned n) {
        assert(static_cast<int>(n) <= bits_);
        buf_ <<= n;
        bits_ -= static_cast<int>(n);
    }
    // n <= 32; the caller has made sure that n bits are buffered.
    std::uint32_t TakeBuffered(unsigned n) {
        assert(n <= 32 && static_cast<int>(n) <= bits_);
        if (n == 0) return 0;
        const auto value = static_cast<std::uint32_t>(buf_ >> (kBufferBits - n));
        Consume(n);
        return value;
    }
    std::uint32_t Take(unsigned n) {
        EnsureBits(n);
        return TakeBuffered(n);
    }
    // The caller has made sure that a whole code (kMaxCodeLength bits) is
    // buffered: the table looks at that many bits.
    template <class Table>
    unsigned DecodeBuffered(const Table& table) {
        assert(bits_ >= static_cast<int>(kMaxCodeLength));
        const HuffmanSymbol decoded = table.Decode(buf_);
        Consume(decoded.length);
        return decoded.symbol;
    }
    template <class Table>
    unsigned Decode(const Table& table) {
        EnsureBits(kMaxCodeLength);
        return DecodeBuffered(table);
    }

    // Drops the unread bits of the current word.
    void AlignToWord() { Consume(static_cast<unsigned>(bits_ % kWordBits)); }

    // For uncompressed blocks: the byte position of the next unread word,
    // after which the buffer is empty.
    std::size_t DetachAtWord() {
        assert(bits_ % kWordBits == 0);
        const std::size_t at = pos_ - static_cast<std::size_t>(bits_ / 8);
        AttachAt(at);
        return at;
    }
    // Bit reading starts again at byte `at`.
    void AttachAt(std::size_t at) {
        buf_ = 0;
        bits_ = 0;
        pos_ = at;
    }

    std::uint64_t ConsumedBits() const { return static_cast<std::uint64_t>(pos_) * 8 - static_cast<std::uint64_t>(bits_); }
    bool Overrun() const { return ConsumedBits() > static_cast<std::uint64_t>(size_) * 8; }

    const std::uint8_t* Data() const { return in_; }
    std::size_t Size() const { return size_; }

private:
    static constexpr std::size_t kMaxRefillBytes = kBufferBits / kWordBits * 2;

    // The kMaxRefillBytes bytes at `at` (needs at + 8 <= size) as the next
    // 64 input bits, first bit highest: the four little-endian words in
    // reverse order.
    std::uint64_t StreamOrderAt(std::size_t at) const {
        static_assert(kMaxRefillBytes == sizeof(std::uint64_t));
        std::uint64_t x = 0;
        std::memcpy(&x, in_ + at, sizeof x);
        if constexpr (std::endian::native == std::endian::big) x = __builtin_bswap64(x);
        x = x >> 32 | x << 32;
        return (x >> 16 & 0x0000FFFF0000FFFFu) | (x & 0x0000FFFF0000FFFFu) << 16;
    }
    // Needs at + 2 <= size.
    std::uint32_t WordAt(std::size_t at) const {
        return static_cast<std::uint32_t>(in_[at]) | static_cast<std::uint32_t>(in_[at + 1]) << 8;
    }
    void Push(std::uint32_t word) {
        buf_ |= static_cast<std::uint64_t>(word) << (kBufferBits - kWordBits - bits_);
        bits_ += kWordBits;
        pos_ += 2;
    }

    const std::uint8_t* in_;
    std::size_t size_;
    std::size_t pos_ = 0;
    std::uint64_t buf_ = 0;
    int bits_ = 0;
};

// Copies a match of `length` bytes from `offset` bytes back; the two may
// overlap, a short offset repeating a pattern. Whole steps are copied while
// the source stays a step behind, so each step reads only bytes already
// written; a copy may write up to kCopyStep - 1 bytes past the match, and
// the common case copies kShortCopy bytes without looking at the length.
inline void CopyMatch(std::uint8_t* dst, std::uint32_t offset, std::size_t length) {
    constexpr std::size_t kStep = LzxDecoder::kCopyStep;
    constexpr std::size_t kShortCopy = 2 * kStep;
    static_assert(kShortCopy <= kMaxMatch, "a short copy stays inside the slack");
    assert(offset >= 1 && length >= kMinMatch && length <= kMaxMatch);
    const std::uint8_t* src = dst - offset;
    if (offset >= kStep) {
        std::memcpy(dst, src, kStep);
        std::memcpy(dst + kStep, src + kStep, kStep);
        for (std::size_t i = kShortCopy; i < length; i += kStep) std::memcpy(dst + i, src + i, kStep);
    } else if (offset >= 8) {
        for (std::size_t i = 0; i < length; i += 8) std::memcpy(dst + i, src + i, 8);
    } else if (offset == 1) {
        std::memset(dst, *src, length);
    } else {
        for (std::size_t i = 0; i < length; ++i) dst[i] = src[i];
    }
}

// The repeated-offset queue, most recent first.
struct RecentOffsets {
    std::uint32_t r0 = 1, r1 = 1, r2 = 1;
};

class SpanDecoder {
public:
    SpanDecoder(const std::uint8_t* in, std::size_t inLength, std::uint32_t windowSize, unsigned positionSlots)
        : bits_(in, inLength),
          raw_(in, inLength, "an uncompressed block"),
          windowSize_(windowSize),
          mainSymbols_(kNumChars + kLengthHeaders * positionSlots) {}

    void Run(std::uint8_t* out, std::size_t outLength);

private:
    void ReadStreamHeader();
    void ReadBlockHeader();
    void ReadLengths(std::uint8_t* lengths, unsigned first, unsigned last);
    void ReadTrees();
    void DecodeTokens(std::uint8_t* out, std::size_t& pos, std::size_t limit);
    std::size_t DecodeMatchLength(BitReader& bits, unsigned header) const;
    std::uint32_t DecodeOffset(BitReader& bits, RecentOffsets& recent, unsigned slot, bool alignedBlock) const;
    void CopyUncompressed(std::uint8_t* out, std::size_t& pos, std::size_t limit);
    void EndUncompressedBlock();
    void CheckOverrun() const {
        if (bits_.Overrun()) ThrowDamaged("the compressed data ends too early");
    }

    BitReader bits_;
    ByteView raw_;  // the same input, read as bytes inside an uncompressed block
    std::uint32_t windowSize_;
    unsigned mainSymbols_;

    unsigned blockType_ = 0;
    std::uint64_t blockEnd_ = 0;  // output position where the current block ends
    RecentOffsets recent_;

    // Lengths carry over from block to block within a span.
    std::array<std::uint8_t, kMainSymbolsMax> mainLengths_{};
    std::array<std::uint8_t, kLengthSymbols> lengthLengths_{};
    HuffmanTable<kMainSymbolsMax, 11> main_{"main"};
    HuffmanTable<kLengthSymbols, 10> length_{"length"};
    HuffmanTable<kAlignedSymbols, 7> aligned_{"aligned offset"};
    HuffmanTable<kPretreeSymbols, 8> pretree_{"pretree"};
};

void SpanDecoder::ReadStreamHeader() {
    if (bits_.Take(1)) {
        bits_.Take(16);
        bits_.Take(16);
        throw EStorageError(code::kNotImplemented, "the compressed data uses the x86 call filter");
    }
}

void SpanDecoder::ReadBlockHeader() {
    blockType_ = bits_.Take(3);
    const std::uint32_t high = bits_.Take(16);
    const std::uint32_t size = high << 8 | bits_.Take(8);
    CheckOverrun();
    if (size == 0) ThrowDamaged("a compressed block is empty");
    blockEnd_ += size;
    switch (blockType_) {
        case kAligned: {
            std::array<std::uint8_t, kAlignedSymbols> lengths{};
            for (auto& len : lengths) len = static_cast<std::uint8_t>(bits_.Take(3));
            aligned_.Build(lengths.data());
            ReadTrees();
            break;
        }
        case kVerbatim:
            ReadTrees();
            break;
        case kUncompressed: {
            // 1 to 16 bits of padding to the next word boundary.
            bits_.EnsureBits(16);
            if (bits_.ConsumedBits() % 16 == 0)
                bits_.Consume(16);
            else
                bits_.AlignToWord();
            raw_.Seek(bits_.DetachAtWord());
            recent_.r0 = raw_.U32();
            recent_.r1 = raw_.U32();
            recent_.r2 = raw_.U32();
            break;
        }
        default:
            ThrowDamaged("compressed block type " + std::to_string(blockType_) + " is invalid");
    }
    CheckOverrun();
}

void SpanDecoder::ReadLengths(std::uint8_t* lengths, unsigned first, unsigned last) {
    BitReader bits = bits_;  // local, as in DecodeTokens
    std::array<std::uint8_t, kPretreeSymbols> pre{};
    for (auto& len : pre) len = static_cast<std::uint8_t>(bits.Take(4));
    pretree_.Build(pre.data());
    for (unsigned i = first; i < last;) {
        const unsigned symbol = bits.Decode(pretree_);
        unsigned run = 0;
        std::uint8_t value = 0;
        if (symbol <= 16) {
            lengths[i] = static_cast<std::uint8_t>((lengths[i] + 17 - symbol) % 17);
            ++i;
            continue;
        }
        if (symbol == 17) {
            run = 4 + bits.Take(4);
        } else if (symbol == 18) {
            run = 20 + bits.Take(5);
        } else {  // 19
            run = 4 + bits.Take(1);
            const unsigned delta = bits.Decode(pretree_);
            if (delta > 16) ThrowDamaged("a code length repeat is invalid");
            value = static_cast<std::uint8_t>((lengths[i] + 17 - delta) % 17);
        }
        if (run > last - i) ThrowDamaged("a run of code lengths overruns its tree");
        std::memset(lengths + i, value, run);
        i += run;
    }
    bits_ = bits;
    CheckOverrun();
}

void SpanDecoder::ReadTrees() {
    ReadLengths(mainLengths_.data(), 0, kNumChars);
    ReadLengths(mainLengths_.data(), kNumChars, mainSymbols_);
    main_.Build(mainLengths_.data(), mainSymbols_);
    ReadLengths(lengthLengths_.data(), 0, kLengthSymbols);
    length_.Build(lengthLengths_.data());
}

void SpanDecoder::DecodeTokens(std::uint8_t* out, std::size_t& posRef, std::size_t limit) {
    // Each token refills once, then takes its main and length codes (and a
    // repeated offset); a new offset refills again before its footer. So a
    // whole code is still buffered when the next token starts, and its main
    // code can be looked up before that token's refill, off the refill's
    // dependency chain.
    static_assert(BitReader::kBitsAfterRefill - 2 * kMaxCodeLength >= kMaxCodeLength);
    static_assert(BitReader::kBitsAfterRefill - kMaxCodeLength >= 2 * kMaxCodeLength);
    static_assert(BitReader::kBitsAfterRefill - kMaxFooterBits >= kMaxCodeLength);
    static_assert(BitReader::kBitsAfterRefill - (kMaxFooterBits - kAlignedBits) - kMaxCodeLength >= kMaxCodeLength);
    // The reader and the offsets work on local copies: the output stores
    // could alias members, which would keep them out of registers.
    BitReader bits = bits_;
    RecentOffsets recent = recent_;
    const std::uint32_t windowSize = windowSize_;
    std::size_t pos = posRef;
    const bool alignedBlock = blockType_ == kAligned;
    bits.Refill();
    while (pos < limit) {
        assert(bits.Buffered() >= static_cast<int>(kMaxCodeLength));
        const std::uint64_t peek = bits.Peek();
        bits.Refill();
        HuffmanSymbol decoded = main_.Decode(peek);
        bits.Consume(decoded.length);
        if (decoded.symbol < kNumChars) {
            out[pos++] = static_cast<std::uint8_t>(decoded.symbol);
            if (pos >= limit) break;
            // A literal leaves room in the refill for a second main code and
            // still a whole code for the next token; only a match needs the
            // refill it skipped.
            assert(bits.Buffered() >= static_cast<int>(2 * kMaxCodeLength));
            decoded = main_.Decode(bits.Peek());
            bits.Consume(decoded.length);
            if (decoded.symbol < kNumChars) {
                out[pos++] = static_cast<std::uint8_t>(decoded.symbol);
                continue;
            }
            bits.Refill();
        }
        const unsigned element = decoded.symbol - kNumChars;
        const std::size_t length = DecodeMatchLength(bits, element % kLengthHeaders);
        const std::uint32_t offset = DecodeOffset(bits, recent, element / kLengthHeaders, alignedBlock);
        if (offset == 0 || offset > pos || offset > windowSize)
            ThrowDamaged("a match refers back beyond the decoded data");
        // The match starts before the span's end (pos < limit), so the copy
        // stays inside the kOutputSlack bytes behind it.
        CopyMatch(out + pos, offset, length);
        pos += length;
    }
    bits_ = bits;
    recent_ = recent;
    posRef = pos;
}

// Needs the bits of one code buffered (the token's refill).
std::size_t SpanDecoder::DecodeMatchLength(BitReader& bits, unsigned header) const {
    std::size_t length = header + kMinMatch;
    if (header == kLengthHeaders - 1) {
        if (!length_.Used()) ThrowDamaged("a match needs the empty length tree");
        length += bits.DecodeBuffered(length_);
    }
    return length;
}

// Slots 0, 1, 2 reuse R0, R1, R2, moving that one to the front of the
// queue; a higher slot gives a new offset from its base and footer bits,
// which enters the queue at the front.
std::uint32_t SpanDecoder::DecodeOffset(BitReader& bits, RecentOffsets& recent, unsigned slot, bool alignedBlock) const {
    assert(slot < kMaxPositionSlots);
    switch (slot) {
        case 0:
            return recent.r0;
        case 1:
            std::swap(recent.r0, recent.r1);
            return recent.r0;
        case 2:
            std::swap(recent.r0, recent.r2);
            return recent.r0;
        default:
            break;
    }
    // One refill covers the longest footer, also when its low bits are an
    // aligned-tree code.
    static_assert(BitReader::kBitsAfterRefill >= kMaxFooterBits);
    static_assert(BitReader::kBitsAfterRefill >= kMaxFooterBits - kAlignedBits + kMaxCodeLength);
    bits.Refill();
    const unsigned footerBits = kPositions.footerBits[slot];
    std::uint32_t footer = 0;
    if (alignedBlock && footerBits >= kAlignedBits) {
        footer = bits.TakeBuffered(footerBits - kAlignedBits) << kAlignedBits;
        footer |= bits.DecodeBuffered(aligned_);
    } else {
        footer = bits.TakeBuffered(footerBits);
    }
    const std::uint32_t offset = kPositions.base[slot] - 2 + footer;
    recent.r2 = recent.r1;
    recent.r1 = recent.r0;
    recent.r0 = offset;
    return offset;
}

void SpanDecoder::CopyUncompressed(std::uint8_t* out, std::size_t& pos, std::size_t limit) {
    const std::size_t n = limit - pos;
    std::memcpy(out + pos, raw_.Take(n), n);
    pos += n;
}

void SpanDecoder::EndUncompressedBlock() {
    // Raw bytes start on a word, so an odd position means an odd-sized block,
    // which one pad byte follows; bits resume at the next word.
    const std::size_t end = raw_.Position();
    bits_.AttachAt(end + (end & 1));
}

void SpanDecoder::Run(std::uint8_t* out, std::size_t outLength) {
    ReadStreamHeader();
    std::size_t pos = 0;
    std::size_t frameEnd = std::min<std::size_t>(kFrameSize, outLength);
    bool inRawBlock = false;
    while (pos < outLength) {
        if (pos >= blockEnd_) {
            if (inRawBlock) {
                EndUncompressedBlock();
                inRawBlock = false;
            }
            const std::uint64_t start = blockEnd_;
            ReadBlockHeader();
            if (blockType_ == kUncompressed) {
                if (pos != start) ThrowDamaged("a match runs into an uncompressed block");
                inRawBlock = true;
            }
            continue;
        }
        const std::size_t limit = static_cast<std::size_t>(std::min<std::uint64_t>(blockEnd_, frameEnd));
        if (inRawBlock)
            CopyUncompressed(out, pos, limit);
        else
            DecodeTokens(out, pos, limit);
        if (pos >= frameEnd) {
            // Inside an uncompressed block the input is bytes already.
            if (!inRawBlock) bits_.AlignToWord();
            frameEnd = std::min<std::size_t>(frameEnd + kFrameSize, outLength);
        }
        if (!inRawBlock) CheckOverrun();
    }
}

}  // namespace

LzxDecoder::LzxDecoder(std::uint32_t windowSize) : windowSize_(windowSize), positionSlots_(0) {
    static constexpr unsigned kSlots[] = {30, 32, 34, 36, 38, 42, 50};
    for (unsigned bits = 15; bits <= 21; ++bits)
        if (windowSize == (1u << bits)) positionSlots_ = kSlots[bits - 15];
    if (positionSlots_ == 0) ThrowDamaged("window size " + std::to_string(windowSize) + " is out of range");
}

void LzxDecoder::DecodeSpan(const std::uint8_t* in, std::size_t inLength, std::uint8_t* out, std::size_t outLength) const {
    SpanDecoder decoder(in, inLength, windowSize_, positionSlots_);
    decoder.Run(out, outLength);
}

}  // namespace vexmor::storage
