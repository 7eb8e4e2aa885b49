#include "tests/support/lzx_writer.h"

#include <algorithm>
#include <array>
#include <stdexcept>
#include <string>

#include "tests/support/huffman_code.h"

namespace vexmor::testsupport {
namespace {

constexpr unsigned kMaxSlots = 50;
constexpr unsigned kLengthTreeSize = 249;
constexpr unsigned kAlignedTreeSize = 8;
constexpr unsigned kPretreeSize = 20;
constexpr unsigned kMinMatch = 3;
constexpr unsigned kMaxMatch = 257;
constexpr unsigned kChainDepth = 48;
constexpr unsigned kHashBits = 15;

struct SlotTables {
    std::array<std::uint8_t, kMaxSlots> footerBits{};
    std::array<std::uint32_t, kMaxSlots + 1> base{};  // base[s] .. base[s+1]-1 are slot s
};

constexpr SlotTables MakeSlotTables() {
    SlotTables t;
    for (unsigned s = 0; s < kMaxSlots; ++s) {
        const unsigned bits = s < 4 ? 0 : std::min((s - 2) / 2, 17u);
        t.footerBits[s] = static_cast<std::uint8_t>(bits);
        t.base[s + 1] = t.base[s] + (1u << bits);
    }
    return t;
}
constexpr SlotTables kSlots = MakeSlotTables();

unsigned SlotsForWindow(unsigned windowBits) {
    switch (windowBits) {
        case 15: return 30;
        case 16: return 32;
        case 17: return 34;
        case 18: return 36;
        case 19: return 38;
        case 20: return 42;
        case 21: return 50;
        default: throw std::invalid_argument("window bits must be 15..21, got " + std::to_string(windowBits));
    }
}

// Pretree symbols and their extra bits for one run of a tree.
struct PretreeItem {
    std::uint8_t symbol;
    std::uint8_t extraBits;
    std::uint32_t extra;
};

std::uint8_t DeltaSymbol(std::uint8_t previous, std::uint8_t next) {
    return static_cast<std::uint8_t>((previous + 17 - next) % 17);
}

std::vector<PretreeItem> PretreeItems(std::span<const std::uint8_t> lengths, std::span<const std::uint8_t> previous) {
    std::vector<PretreeItem> items;
    std::size_t i = 0;
    while (i < lengths.size()) {
        std::size_t run = 1;
        while (i + run < lengths.size() && lengths[i + run] == lengths[i]) ++run;
        if (lengths[i] == 0 && run >= 4) {
            run = std::min<std::size_t>(run, 51);
            if (run >= 20) {
                items.push_back({18, 5, static_cast<std::uint32_t>(run - 20)});
            } else {
                items.push_back({17, 4, static_cast<std::uint32_t>(run - 4)});
            }
        } else if (run >= 4) {
            // The delta is taken against the first position of the run.
            run = std::min<std::size_t>(run, 5);
            items.push_back({19, 1, static_cast<std::uint32_t>(run - 4)});
            items.push_back({DeltaSymbol(previous[i], lengths[i]), 0, 0});
        } else {
            run = 1;
            items.push_back({DeltaSymbol(previous[i], lengths[i]), 0, 0});
        }
        i += run;
    }
    return items;
}

}  // namespace

LzxWriter::LzxWriter(unsigned windowBits, std::uint32_t resetIntervalBytes)
    : windowBits_(windowBits), positionSlots_(SlotsForWindow(windowBits)), resetInterval_(resetIntervalBytes) {
    if (resetIntervalBytes == 0 || resetIntervalBytes % kFrameSize != 0) {
        throw std::invalid_argument("reset interval must be a non-zero multiple of 32768");
    }
    previousMain_.assign(256 + 8 * positionSlots_, 0);
    previousLength_.assign(kLengthTreeSize, 0);
    hashHead_.assign(std::size_t{1} << kHashBits, -1);
}

void LzxWriter::StreamHeader(bool e8, std::uint32_t translationSize) {
    if (decoded_ % resetInterval_ != 0) throw std::logic_error("a stream header belongs at a reset point");
    headerInterval_ = decoded_ / resetInterval_;
    bits_.PutBits(e8 ? 1 : 0, 1);
    if (e8) bits_.PutBits(translationSize, 32);
    std::fill(previousMain_.begin(), previousMain_.end(), std::uint8_t{0});
    std::fill(previousLength_.begin(), previousLength_.end(), std::uint8_t{0});
    std::fill(std::begin(repeats_), std::end(repeats_), 1u);
    history_.clear();
    hashPrevious_.clear();
    std::fill(hashHead_.begin(), hashHead_.end(), -1);
    hashed_ = 0;
}

void LzxWriter::PutBits(std::uint32_t value, unsigned count) { bits_.PutBits(value, count); }

void LzxWriter::PutBlockHeader(unsigned type, std::uint32_t size) {
    if (size >= (1u << 24)) throw std::invalid_argument("a block size has 24 bits");
    bits_.PutBits(type, 3);
    bits_.PutBits(size >> 8, 16);
    bits_.PutBits(size & 0xFF, 8);
}

void LzxWriter::PutRawBytes(std::span<const std::uint8_t> bytes) { bits_.PutRawBytes(bytes); }

void LzxWriter::AlignToWord() { bits_.AlignToWord(); }

void LzxWriter::BeginBlock(std::size_t size) {
    if (size == 0) throw std::invalid_argument("a block must produce at least one byte");
    if (size >= (1u << 24)) throw std::invalid_argument("a block size has 24 bits");
    const std::uint64_t interval = decoded_ / resetInterval_;
    if (headerInterval_ != interval) throw std::logic_error("StreamHeader() is missing at the reset point");
    if (decoded_ + size > (interval + 1) * resetInterval_) throw std::logic_error("a block must not cross a reset point");
}

void LzxWriter::Block(LzxBlockType type, std::span<const std::uint8_t> bytes, bool useMatches) {
    switch (type) {
        case LzxBlockType::kVerbatim: VerbatimBlock(bytes, useMatches); return;
        case LzxBlockType::kAligned: AlignedBlock(bytes); return;
        case LzxBlockType::kUncompressed: UncompressedBlock(bytes); return;
    }
    throw std::invalid_argument("unknown block type");
}

void LzxWriter::VerbatimBlock(std::span<const std::uint8_t> bytes, bool useMatches,
                              std::optional<std::uint32_t> declaredSize) {
    EncodedBlock(LzxBlockType::kVerbatim, bytes, useMatches, declaredSize);
}

void LzxWriter::AlignedBlock(std::span<const std::uint8_t> bytes, std::optional<std::uint32_t> declaredSize) {
    EncodedBlock(LzxBlockType::kAligned, bytes, true, declaredSize);
}

void LzxWriter::HashUpTo(std::size_t end) {
    end = std::min(end, history_.size() >= 2 ? history_.size() - 2 : 0);
    hashPrevious_.resize(history_.size(), -1);
    for (; hashed_ < end; ++hashed_) {
        const std::size_t h = ((std::size_t{history_[hashed_]} << 10) ^ (std::size_t{history_[hashed_ + 1]} << 5) ^
                               history_[hashed_ + 2]) &
                              ((std::size_t{1} << kHashBits) - 1);
        hashPrevious_[hashed_] = hashHead_[h];
        hashHead_[h] = static_cast<std::int32_t>(hashed_);
    }
}

std::uint32_t LzxWriter::MatchLength(std::size_t at, std::size_t from, std::uint32_t limit) const {
    std::uint32_t length = 0;
    while (length < limit && history_[at + length] == history_[from + length]) ++length;
    return length;
}

LzxWriter::Token LzxWriter::MatchToken(std::uint32_t distance, std::uint32_t length) {
    Token token;
    token.length = length;
    unsigned slot;
    if (distance == repeats_[0]) {
        slot = 0;
    } else if (distance == repeats_[1]) {
        slot = 1;
        std::swap(repeats_[0], repeats_[1]);
    } else if (distance == repeats_[2]) {
        slot = 2;
        std::swap(repeats_[0], repeats_[2]);
    } else {
        const std::uint32_t formatted = distance + 2;
        slot = 3;
        while (kSlots.base[slot + 1] <= formatted) ++slot;
        token.footerBits = kSlots.footerBits[slot];
        token.footer = formatted - kSlots.base[slot];
        repeats_[2] = repeats_[1];
        repeats_[1] = repeats_[0];
        repeats_[0] = distance;
    }
    const std::uint32_t header = std::min(length - 2, 7u);
    token.mainSymbol = static_cast<std::uint16_t>(256 + slot * 8 + header);
    if (header == 7) token.lengthSymbol = static_cast<std::int16_t>(length - 2 - 7);
    ++stats_.matches;
    if (slot < 3) ++stats_.repeatMatches;
    if (header == 7) ++stats_.longMatches;
    return token;
}

std::vector<LzxWriter::Token> LzxWriter::PlanTokens(std::size_t blockStart, std::size_t blockEnd, bool useMatches) {
    std::vector<Token> tokens;
    const std::size_t maxDistance = WindowSize() - 3;
    std::size_t at = blockStart;
    while (at < blockEnd) {
        HashUpTo(at);
        const auto limit = static_cast<std::uint32_t>(std::min<std::size_t>(kMaxMatch, blockEnd - at));
        std::uint32_t bestLength = 0;
        std::uint32_t bestDistance = 0;
        if (useMatches && limit >= kMinMatch) {
            for (std::uint32_t r : repeats_) {
                if (r > at) continue;
                const auto length = MatchLength(at, at - r, limit);
                if (length > bestLength) {
                    bestLength = length;
                    bestDistance = r;
                }
            }
            // Only a clearly longer explicit match beats a repeat.
            const std::uint32_t repeatLength = bestLength;
            std::int32_t candidate = -1;
            if (at + 2 < history_.size()) {
                const std::size_t h = ((std::size_t{history_[at]} << 10) ^ (std::size_t{history_[at + 1]} << 5) ^
                                       history_[at + 2]) &
                                      ((std::size_t{1} << kHashBits) - 1);
                candidate = hashHead_[h];
            }
            for (unsigned depth = 0; candidate >= 0 && depth < kChainDepth; ++depth) {
                const std::size_t distance = at - static_cast<std::size_t>(candidate);
                if (distance > maxDistance) break;
                const auto length = MatchLength(at, static_cast<std::size_t>(candidate), limit);
                if (length > bestLength && length > repeatLength + 1) {
                    bestLength = length;
                    bestDistance = static_cast<std::uint32_t>(distance);
                }
                candidate = hashPrevious_[static_cast<std::size_t>(candidate)];
            }
        }
        if (bestLength >= kMinMatch) {
            tokens.push_back(MatchToken(bestDistance, bestLength));
            at += bestLength;
        } else {
            Token literal;
            literal.length = 1;
            literal.mainSymbol = history_[at];
            tokens.push_back(literal);
            ++stats_.literals;
            ++at;
        }
    }
    HashUpTo(blockEnd);
    return tokens;
}

void LzxWriter::WriteTree(std::span<const std::uint8_t> lengths, std::span<std::uint8_t> previous) {
    const auto items = PretreeItems(lengths, previous);
    std::vector<std::uint64_t> counts(kPretreeSize, 0);
    for (const auto& item : items) ++counts[item.symbol];
    const auto pretree = BuildCodeLengths(counts, 15);
    const auto codes = CanonicalCodes(pretree);
    for (auto length : pretree) bits_.PutBits(length, 4);
    for (const auto& item : items) {
        bits_.PutBits(codes[item.symbol], pretree[item.symbol]);
        bits_.PutBits(item.extra, item.extraBits);
    }
    std::copy(lengths.begin(), lengths.end(), previous.begin());
}

void LzxWriter::FinishFrameIfComplete(bool afterMatch) {
    if (decoded_ < nextFrameEnd_) return;
    if (afterMatch && decoded_ > nextFrameEnd_) ++stats_.matchesPastFrameEnd;
    bits_.AlignToWord();
    frameOffsets_.push_back(bits_.BytePosition());
    nextFrameEnd_ += kFrameSize;
}

void LzxWriter::EncodedBlock(LzxBlockType type, std::span<const std::uint8_t> bytes, bool useMatches,
                             std::optional<std::uint32_t> declaredSize) {
    BeginBlock(bytes.size());
    const std::size_t blockStart = history_.size();
    history_.insert(history_.end(), bytes.begin(), bytes.end());
    const auto tokens = PlanTokens(blockStart, history_.size(), useMatches);
    const bool aligned = type == LzxBlockType::kAligned;

    std::vector<std::uint64_t> mainCounts(previousMain_.size(), 0);
    std::vector<std::uint64_t> lengthCounts(kLengthTreeSize, 0);
    std::vector<std::uint64_t> alignedCounts(kAlignedTreeSize, 0);
    for (const auto& token : tokens) {
        ++mainCounts[token.mainSymbol];
        if (token.lengthSymbol >= 0) ++lengthCounts[static_cast<std::size_t>(token.lengthSymbol)];
        if (aligned && token.footerBits >= 3) ++alignedCounts[token.footer & 7];
    }
    const auto mainLengths = BuildCodeLengths(mainCounts, 16);
    const auto lengthLengths = BuildCodeLengths(lengthCounts, 16);  // all zero when unused
    auto alignedLengths = BuildCodeLengths(alignedCounts, 7);
    if (std::all_of(alignedLengths.begin(), alignedLengths.end(), [](auto l) { return l == 0; })) {
        std::fill(alignedLengths.begin(), alignedLengths.end(), std::uint8_t{3});
    }
    const auto mainCodes = CanonicalCodes(mainLengths);
    const auto lengthCodes = CanonicalCodes(lengthLengths);
    const auto alignedCodes = CanonicalCodes(alignedLengths);

    PutBlockHeader(static_cast<unsigned>(type), declaredSize.value_or(static_cast<std::uint32_t>(bytes.size())));
    if (aligned) {
        for (auto length : alignedLengths) bits_.PutBits(length, 3);
    }
    const std::span<const std::uint8_t> main(mainLengths);
    WriteTree(main.first(256), std::span(previousMain_).first(256));
    WriteTree(main.subspan(256), std::span(previousMain_).subspan(256));
    WriteTree(lengthLengths, previousLength_);

    for (const auto& token : tokens) {
        bits_.PutBits(mainCodes[token.mainSymbol], mainLengths[token.mainSymbol]);
        if (token.mainSymbol >= 256) {
            if (token.lengthSymbol >= 0) {
                const auto ls = static_cast<std::size_t>(token.lengthSymbol);
                bits_.PutBits(lengthCodes[ls], lengthLengths[ls]);
            }
            if (aligned && token.footerBits >= 3) {
                bits_.PutBits(token.footer >> 3, token.footerBits - 3u);
                bits_.PutBits(alignedCodes[token.footer & 7], alignedLengths[token.footer & 7]);
                ++stats_.alignedFooters;
            } else {
                bits_.PutBits(token.footer, token.footerBits);
            }
        }
        decoded_ += token.length;
        FinishFrameIfComplete(token.mainSymbol >= 256);
    }
    ++stats_.blocks[static_cast<unsigned>(type)];
}

void LzxWriter::UncompressedBlock(std::span<const std::uint8_t> bytes, std::optional<std::uint32_t> declaredSize) {
    BeginBlock(bytes.size());
    PutBlockHeader(static_cast<unsigned>(LzxBlockType::kUncompressed),
                   declaredSize.value_or(static_cast<std::uint32_t>(bytes.size())));
    if (bits_.Aligned()) {
        bits_.PutBits(0, 16);
    } else {
        bits_.AlignToWord();
    }
    for (std::uint32_t r : repeats_) {
        const std::uint8_t le[4] = {static_cast<std::uint8_t>(r), static_cast<std::uint8_t>(r >> 8),
                                    static_cast<std::uint8_t>(r >> 16), static_cast<std::uint8_t>(r >> 24)};
        bits_.PutRawBytes(le);
    }
    const std::uint64_t rawStart = bits_.BytePosition();
    const std::uint64_t blockStart = decoded_;
    bits_.PutRawBytes(bytes);
    if (bytes.size() % 2 != 0) {
        const std::uint8_t pad[1] = {0};
        bits_.PutRawBytes(pad);
    }
    decoded_ += bytes.size();
    // Frames ending inside the block start at their first raw byte; one ending
    // with the block starts after the pad byte. Neither needs realignment.
    while (nextFrameEnd_ <= decoded_) {
        frameOffsets_.push_back(nextFrameEnd_ < decoded_ ? rawStart + (nextFrameEnd_ - blockStart) : bits_.BytePosition());
        nextFrameEnd_ += kFrameSize;
    }
    history_.insert(history_.end(), bytes.begin(), bytes.end());
    HashUpTo(history_.size());
    ++stats_.blocks[static_cast<unsigned>(LzxBlockType::kUncompressed)];
}

std::vector<std::uint8_t> LzxWriter::Finish() {
    const std::uint64_t frames = (decoded_ + kFrameSize - 1) / kFrameSize;
    if (frameOffsets_.size() > frames) frameOffsets_.resize(frames);
    return bits_.Finish();
}

LzxSection EncodeSection(std::span<const std::uint8_t> data, const LzxSectionOptions& options) {
    if (options.blockTypes.empty()) throw std::invalid_argument("at least one block type is needed");
    if (options.blockSize == 0) throw std::invalid_argument("block size must be non-zero");
    LzxWriter writer(options.windowBits, options.resetIntervalBytes);
    std::size_t at = 0;
    std::size_t blockIndex = 0;
    while (at < data.size()) {
        const std::size_t intoInterval = at % options.resetIntervalBytes;
        if (intoInterval == 0) {
            writer.StreamHeader(options.e8TranslationSize.has_value(), options.e8TranslationSize.value_or(0));
        }
        const std::size_t size = std::min<std::size_t>(
            {options.blockSize, data.size() - at, options.resetIntervalBytes - intoInterval});
        const auto type = options.blockTypes[blockIndex++ % options.blockTypes.size()];
        writer.Block(type, data.subspan(at, size), options.useMatches);
        at += size;
    }
    LzxSection section;
    section.bytes = writer.Finish();
    section.frameOffsets = writer.FrameOffsets();
    section.uncompressedLength = data.size();
    section.stats = writer.Stats();
    return section;
}

}  // namespace vexmor::testsupport
