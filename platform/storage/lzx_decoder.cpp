#include "platform/storage/lzx_decoder.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <string>

#include "platform/storage/lzx_huffman.h"
#include "platform/storage/storage_error.h"

namespace vexmor::storage {

namespace {

constexpr std::size_t kFrameSize = 32768;
constexpr unsigned kNumChars = 256;
constexpr unsigned kMaxPositionSlots = 50;
constexpr unsigned kMainSymbolsMax = kNumChars + 8 * kMaxPositionSlots;
constexpr unsigned kLengthSymbols = 249;
constexpr unsigned kAlignedSymbols = 8;
constexpr unsigned kPretreeSymbols = 20;
constexpr unsigned kMinMatch = 2;

enum BlockType : unsigned { kVerbatim = 1, kAligned = 2, kUncompressed = 3 };

struct PositionTables {
    std::array<std::uint8_t, kMaxPositionSlots + 1> footerBits{};
    std::array<std::uint32_t, kMaxPositionSlots + 1> base{};
    constexpr PositionTables() {
        std::uint32_t sum = 0;
        for (unsigned s = 0; s <= kMaxPositionSlots; ++s) {
            footerBits[s] = static_cast<std::uint8_t>(s < 4 ? 0 : std::min((s - 2) / 2, 17u));
            base[s] = sum;
            sum += 1u << footerBits[s];
        }
    }
};
constexpr PositionTables kPositions;

// Input is a sequence of 16-bit little-endian words, consumed from the most
// significant bit. Invariant: the `bits` high bits of `buf` are the next
// unread input bits, the rest of `buf` is zero; `pos` is the byte position of
// the next word to load. Past the end of the input, zero words are loaded
// and `pos` keeps counting, so an overrun is found by Consumed() > size.
class BitReader {
public:
    BitReader(const std::uint8_t* in, std::size_t size) : in_(in), size_(size) {}

    // Afterwards at least 49 bits are buffered. At most four words are
    // loaded (from an empty buffer), so one bound check covers the common case.
    void Refill() {
        if (pos_ + 8 <= size_) {
            while (bits_ <= 48) {
                const std::uint32_t word =
                    static_cast<std::uint32_t>(in_[pos_]) | static_cast<std::uint32_t>(in_[pos_ + 1]) << 8;
                pos_ += 2;
                buf_ |= static_cast<std::uint64_t>(word) << (48 - bits_);
                bits_ += 16;
            }
            return;
        }
        while (bits_ <= 48) {
            std::uint32_t word = 0;
            if (pos_ + 1 < size_)
                word = static_cast<std::uint32_t>(in_[pos_]) | static_cast<std::uint32_t>(in_[pos_ + 1]) << 8;
            else if (pos_ < size_)
                word = in_[pos_];
            pos_ += 2;
            buf_ |= static_cast<std::uint64_t>(word) << (48 - bits_);
            bits_ += 16;
        }
    }
    void EnsureBits(unsigned n) {
        if (bits_ < static_cast<int>(n)) Refill();
    }
    std::uint32_t Peek16() const { return static_cast<std::uint32_t>(buf_ >> 48); }
    void Consume(unsigned n) {
        buf_ <<= n;
        bits_ -= static_cast<int>(n);
    }
    // n <= 32; the caller has made sure that n bits are buffered.
    std::uint32_t TakeBuffered(unsigned n) {
        if (n == 0) return 0;
        const auto value = static_cast<std::uint32_t>(buf_ >> (64 - n));
        Consume(n);
        return value;
    }
    std::uint32_t Take(unsigned n) {
        EnsureBits(n);
        return TakeBuffered(n);
    }
    template <class Table>
    unsigned Decode(const Table& table, const char* tree) {
        EnsureBits(kMaxCodeLength);
        unsigned length = 0;
        const unsigned symbol = table.Decode(Peek16(), length, tree);
        Consume(length);
        return symbol;
    }

    // Drops the unread bits of the current word.
    void AlignToWord() { Consume(static_cast<unsigned>(bits_ % 16)); }

    // For uncompressed blocks: the byte position of the next unread word
    // (bits_ must be a multiple of 16), after which the buffer is empty.
    std::size_t DetachAtWord() {
        const std::size_t at = pos_ - static_cast<std::size_t>(bits_ / 8);
        buf_ = 0;
        bits_ = 0;
        pos_ = at;
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
    const std::uint8_t* in_;
    std::size_t size_;
    std::size_t pos_ = 0;
    std::uint64_t buf_ = 0;
    int bits_ = 0;
};

class SpanDecoder {
public:
    SpanDecoder(const std::uint8_t* in, std::size_t inLength, std::uint32_t windowSize, unsigned positionSlots)
        : bits_(in, inLength), windowSize_(windowSize), mainSymbols_(kNumChars + 8 * positionSlots) {}

    void Run(std::uint8_t* out, std::size_t outLength);

private:
    void ReadStreamHeader();
    void ReadBlockHeader();
    void ReadLengths(std::uint8_t* lengths, unsigned first, unsigned last);
    void ReadTrees();
    void DecodeTokens(std::uint8_t* out, std::size_t& pos, std::size_t limit);
    void CopyUncompressed(std::uint8_t* out, std::size_t& pos, std::size_t limit);
    void EndUncompressedBlock();
    void CheckOverrun() const {
        if (bits_.Overrun()) ThrowDamaged("the compressed data ends too early");
    }

    BitReader bits_;
    std::uint32_t windowSize_;
    unsigned mainSymbols_;

    unsigned blockType_ = 0;
    std::uint64_t blockEnd_ = 0;     // output position where the current block ends
    std::size_t rawPos_ = 0;         // input byte position inside an uncompressed block
    std::uint32_t r0_ = 1, r1_ = 1, r2_ = 1;

    // Lengths carry over from block to block within a span.
    std::array<std::uint8_t, kMainSymbolsMax> mainLengths_{};
    std::array<std::uint8_t, kLengthSymbols> lengthLengths_{};
    HuffmanTable<kMainSymbolsMax, 11> main_;
    HuffmanTable<kLengthSymbols, 10> length_;
    HuffmanTable<kAlignedSymbols, 7> aligned_;
    HuffmanTable<kPretreeSymbols, 8> pretree_;
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
            aligned_.Build(lengths.data(), "aligned offset");
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
            rawPos_ = bits_.DetachAtWord();
            const std::uint8_t* in = bits_.Data();
            if (rawPos_ > bits_.Size() || bits_.Size() - rawPos_ < 12) ThrowDamaged("an uncompressed block ends too early");
            auto u32 = [&](std::size_t at) {
                return static_cast<std::uint32_t>(in[at]) | static_cast<std::uint32_t>(in[at + 1]) << 8 |
                       static_cast<std::uint32_t>(in[at + 2]) << 16 | static_cast<std::uint32_t>(in[at + 3]) << 24;
            };
            r0_ = u32(rawPos_);
            r1_ = u32(rawPos_ + 4);
            r2_ = u32(rawPos_ + 8);
            rawPos_ += 12;
            break;
        }
        default:
            ThrowDamaged("compressed block type " + std::to_string(blockType_) + " is invalid");
    }
    CheckOverrun();
}

void SpanDecoder::ReadLengths(std::uint8_t* lengths, unsigned first, unsigned last) {
    std::array<std::uint8_t, kPretreeSymbols> pre{};
    for (auto& len : pre) len = static_cast<std::uint8_t>(bits_.Take(4));
    pretree_.Build(pre.data(), "pretree");
    for (unsigned i = first; i < last;) {
        const unsigned symbol = bits_.Decode(pretree_, "pretree");
        unsigned run = 0;
        std::uint8_t value = 0;
        if (symbol <= 16) {
            lengths[i] = static_cast<std::uint8_t>((lengths[i] + 17 - symbol) % 17);
            ++i;
            continue;
        }
        if (symbol == 17) {
            run = 4 + bits_.Take(4);
        } else if (symbol == 18) {
            run = 20 + bits_.Take(5);
        } else {  // 19
            run = 4 + bits_.Take(1);
            const unsigned delta = bits_.Decode(pretree_, "pretree");
            if (delta > 16) ThrowDamaged("a code length repeat is invalid");
            value = static_cast<std::uint8_t>((lengths[i] + 17 - delta) % 17);
        }
        if (run > last - i) ThrowDamaged("a run of code lengths overruns its tree");
        std::memset(lengths + i, value, run);
        i += run;
    }
    CheckOverrun();
}

void SpanDecoder::ReadTrees() {
    ReadLengths(mainLengths_.data(), 0, kNumChars);
    ReadLengths(mainLengths_.data(), kNumChars, mainSymbols_);
    main_.Build(mainLengths_.data(), "main");
    ReadLengths(lengthLengths_.data(), 0, kLengthSymbols);
    length_.Build(lengthLengths_.data(), "length");
}

void SpanDecoder::DecodeTokens(std::uint8_t* out, std::size_t& posRef, std::size_t limit) {
    std::size_t pos = posRef;
    const bool alignedBlock = blockType_ == kAligned;
    while (pos < limit) {
        bits_.Refill();
        unsigned length = 0;
        const unsigned symbol = main_.Decode(bits_.Peek16(), length, "main");
        bits_.Consume(length);
        if (symbol < kNumChars) {
            out[pos++] = static_cast<std::uint8_t>(symbol);
            continue;
        }
        const unsigned element = symbol - kNumChars;
        std::size_t matchLength = (element & 7) + kMinMatch;
        if ((element & 7) == 7) {
            if (!length_.Used()) ThrowDamaged("a match needs the empty length tree");
            matchLength += length_.Decode(bits_.Peek16(), length, "length");
            bits_.Consume(length);
        }
        const unsigned slot = element >> 3;
        std::uint32_t offset;
        if (slot == 0) {
            offset = r0_;
        } else if (slot == 1) {
            offset = r1_;
            r1_ = r0_;
            r0_ = offset;
        } else if (slot == 2) {
            offset = r2_;
            r2_ = r0_;
            r0_ = offset;
        } else {
            bits_.Refill();
            const unsigned footer = kPositions.footerBits[slot];
            std::uint32_t extra;
            if (alignedBlock && footer >= 3) {
                extra = bits_.TakeBuffered(footer - 3) << 3;
                unsigned alen = 0;
                extra |= aligned_.Decode(bits_.Peek16(), alen, "aligned offset");
                bits_.Consume(alen);
            } else {
                extra = bits_.TakeBuffered(footer);
            }
            offset = kPositions.base[slot] - 2 + extra;
            r2_ = r1_;
            r1_ = r0_;
            r0_ = offset;
        }
        if (offset == 0 || offset > pos || offset > windowSize_)
            ThrowDamaged("a match refers back beyond the decoded data");

        // Invariant: the buffer has kOutputSlack bytes past the span end, and a
        // match starts before it, so 8-byte steps stay inside the buffer.
        std::uint8_t* dst = out + pos;
        const std::uint8_t* src = dst - offset;
        if (offset >= 8) {
            for (std::size_t i = 0; i < matchLength; i += 8) std::memcpy(dst + i, src + i, 8);
        } else if (offset == 1) {
            std::memset(dst, *src, matchLength);
        } else {
            for (std::size_t i = 0; i < matchLength; ++i) dst[i] = src[i];
        }
        pos += matchLength;
    }
    posRef = pos;
}

void SpanDecoder::CopyUncompressed(std::uint8_t* out, std::size_t& pos, std::size_t limit) {
    const std::size_t n = limit - pos;
    if (rawPos_ > bits_.Size() || bits_.Size() - rawPos_ < n) ThrowDamaged("an uncompressed block ends too early");
    std::memcpy(out + pos, bits_.Data() + rawPos_, n);
    rawPos_ += n;
    pos += n;
}

void SpanDecoder::EndUncompressedBlock() {
    // Raw bytes start on a word, so an odd position means an odd-sized block,
    // which one pad byte follows; bits resume at the next word.
    bits_.AttachAt(rawPos_ + (rawPos_ & 1));
}

void SpanDecoder::Run(std::uint8_t* out, std::size_t outLength) {
    ReadStreamHeader();
    std::size_t pos = 0;
    std::size_t frameEnd = std::min(kFrameSize, outLength);
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
            frameEnd = std::min(frameEnd + kFrameSize, outLength);
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
