// An LZX encoder for building test data bit by bit: blocks of every type,
// stream headers at reset points, per-frame realignment, and the per-frame
// offsets a reset table stores. Misuse (a block without a stream header, a
// block across a reset point, ...) throws std::logic_error or
// std::invalid_argument.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "tests/support/lzx_bit_writer.h"

namespace vexmor::testsupport {

enum class LzxBlockType : std::uint8_t { kVerbatim = 1, kAligned = 2, kUncompressed = 3 };

// What the encoder emitted, so a test can show a path was really taken.
struct LzxStats {
    std::uint64_t literals = 0;
    std::uint64_t matches = 0;              // every match, repeats included
    std::uint64_t repeatMatches = 0;        // through position slots 0..2
    std::uint64_t longMatches = 0;          // with a length-tree symbol
    std::uint64_t alignedFooters = 0;       // footers sent through the aligned tree
    std::uint64_t matchesPastFrameEnd = 0;  // matches that ran past a frame end
    std::uint64_t blocks[4] = {};           // count per block type 1..3 (index = type)
};

class LzxWriter {
public:
    static constexpr std::uint32_t kFrameSize = 0x8000;

    // windowBits 15..21; resetIntervalBytes a non-zero multiple of kFrameSize.
    LzxWriter(unsigned windowBits, std::uint32_t resetIntervalBytes);

    // Starts a reset interval: one bit, plus 32 bits of translation size when
    // e8 is set. Only at a reset point; forgets all history, sets the previous
    // tree lengths to zero and R0 = R1 = R2 = 1.
    void StreamHeader(bool e8 = false, std::uint32_t translationSize = 0);

    // Each block produces bytes.size() output bytes (> 0) and must not cross the
    // next reset point. `declaredSize` replaces the size written in the block
    // header (e.g. a last block claiming more than the section holds); the
    // bookkeeping still follows bytes.size().
    void VerbatimBlock(std::span<const std::uint8_t> bytes, bool useMatches = true,
                       std::optional<std::uint32_t> declaredSize = std::nullopt);
    // Uses matches; those whose footer has 3 or more bits send its low 3 bits
    // through the aligned tree (see Stats().alignedFooters).
    void AlignedBlock(std::span<const std::uint8_t> bytes, std::optional<std::uint32_t> declaredSize = std::nullopt);
    // Header, 1..16 bits of padding (a whole word when the header ends on a
    // word boundary), R0 R1 R2 as u32, the bytes, a pad byte when the count is odd.
    void UncompressedBlock(std::span<const std::uint8_t> bytes, std::optional<std::uint32_t> declaredSize = std::nullopt);
    void Block(LzxBlockType type, std::span<const std::uint8_t> bytes, bool useMatches = true);

    // Raw access for hand-made oddities; none of these touch frame bookkeeping.
    void PutBits(std::uint32_t value, unsigned count);
    void PutBlockHeader(unsigned type, std::uint32_t size);  // 3 bits type, 16 bits size >> 8, 8 bits size & 0xFF
    void PutRawBytes(std::span<const std::uint8_t> bytes);   // only on a word boundary
    void AlignToWord();

    std::uint64_t BitPosition() const { return bits_.BitPosition(); }
    std::uint64_t BytePosition() const { return bits_.BytePosition(); }  // bytes of complete words
    std::uint64_t DecodedPosition() const { return decoded_; }             // output bytes encoded so far
    unsigned PositionSlots() const { return positionSlots_; }
    std::uint32_t WindowSize() const { return 1u << windowBits_; }
    const LzxStats& Stats() const { return stats_; }

    // Offset in the output at which each 32768-byte frame's data starts: after
    // the realignment that ends the previous frame, before a stream header.
    // Inside an uncompressed block it is the offset of the frame's first raw byte.
    const std::vector<std::uint64_t>& FrameOffsets() const { return frameOffsets_; }

    // Completes the last word; keeps one frame offset per frame that holds data.
    std::vector<std::uint8_t> Finish();

private:
    struct Token {
        std::uint32_t length = 0;  // 1 for a literal
        std::uint16_t mainSymbol = 0;
        std::int16_t lengthSymbol = -1;
        std::uint8_t footerBits = 0;
        std::uint32_t footer = 0;
    };

    void BeginBlock(std::size_t size);
    std::vector<Token> PlanTokens(std::size_t blockStart, std::size_t blockEnd, bool useMatches);
    Token MatchToken(std::uint32_t distance, std::uint32_t length);
    void HashUpTo(std::size_t end);
    std::uint32_t MatchLength(std::size_t at, std::size_t from, std::uint32_t limit) const;
    void EncodedBlock(LzxBlockType type, std::span<const std::uint8_t> bytes, bool useMatches,
                      std::optional<std::uint32_t> declaredSize);
    void WriteTree(std::span<const std::uint8_t> lengths, std::span<std::uint8_t> previous);
    void FinishFrameIfComplete(bool afterMatch);

    LzxBitWriter bits_;
    unsigned windowBits_;
    unsigned positionSlots_;
    std::uint32_t resetInterval_;
    std::uint64_t decoded_ = 0;
    std::uint64_t nextFrameEnd_ = kFrameSize;
    std::uint64_t headerInterval_ = UINT64_MAX;  // reset interval whose stream header was written
    std::vector<std::uint64_t> frameOffsets_{0};
    std::uint32_t repeats_[3] = {1, 1, 1};
    std::vector<std::uint8_t> previousMain_;
    std::vector<std::uint8_t> previousLength_;
    // Output since the last reset point, with hash chains over 3-byte prefixes.
    std::vector<std::uint8_t> history_;
    std::vector<std::int32_t> hashHead_;
    std::vector<std::int32_t> hashPrevious_;
    std::size_t hashed_ = 0;
    LzxStats stats_;
};

struct LzxSectionOptions {
    unsigned windowBits = 16;
    std::uint32_t resetIntervalBytes = 2 * LzxWriter::kFrameSize;
    // Used in turn, block after block.
    std::vector<LzxBlockType> blockTypes = {LzxBlockType::kVerbatim};
    // Output bytes per block; a block also ends at every reset point.
    std::uint32_t blockSize = 2 * LzxWriter::kFrameSize;
    bool useMatches = true;  // for verbatim blocks
    // Sets the header bit of the x86 call filter at every reset point, with
    // this translation size. The data itself is not filtered.
    std::optional<std::uint32_t> e8TranslationSize;
};

struct LzxSection {
    std::vector<std::uint8_t> bytes;
    std::vector<std::uint64_t> frameOffsets;  // exactly what a reset table stores
    std::uint64_t uncompressedLength = 0;
    LzxStats stats;
};

// Whole buffer: a stream header at every reset point, then blocks.
LzxSection EncodeSection(std::span<const std::uint8_t> data, const LzxSectionOptions& options = {});

}  // namespace vexmor::testsupport
