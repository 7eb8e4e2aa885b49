// The LZX-compressed content section of a help file, read by position.
// Decoded spans (one reset interval each) are kept in a cache with a fixed
// memory budget, shared by every stream of the file.
#pragma once

#include <cstddef>
#include <cstdint>
#include <list>
#include <memory>
#include <unordered_map>
#include <vector>

#include "platform/storage/lzx_decoder.h"

namespace vexmor::storage {

class FileSource;
struct Directory;

struct LzxSectionLayout {
    std::uint32_t windowSize = 0;
    std::uint32_t resetInterval = 0;        // bytes of output between resets, a multiple of 32 KiB
    std::uint64_t uncompressedLength = 0;
    std::uint64_t contentFileOffset = 0;    // where the compressed bytes lie in the file
    std::uint64_t contentLength = 0;
    std::vector<std::uint64_t> spanOffsets;  // offset in the content of each span's data, increasing

    // Span `index` (< spanOffsets.size()): where its output starts in the
    // section, how long it is, and the end of its compressed data.
    std::uint64_t SpanStart(std::size_t index) const { return static_cast<std::uint64_t>(index) * resetInterval; }
    std::size_t SpanLength(std::size_t index) const {
        const std::uint64_t left = uncompressedLength - SpanStart(index);
        return static_cast<std::size_t>(left < resetInterval ? left : resetInterval);
    }
    std::uint64_t SpanInputEnd(std::size_t index) const {
        return index + 1 < spanOffsets.size() ? spanOffsets[index + 1] : contentLength;
    }
};

// Reads ControlData and ResetTable of the directory. Throws EStorageError
// (kDamaged, kNotImplemented) when they are missing, damaged or unsupported.
LzxSectionLayout ReadLzxSectionLayout(const FileSource& file, const Directory& directory);

struct DecodedSpan {
    std::uint64_t start = 0;   // position in the section
    std::size_t length = 0;
    std::unique_ptr<std::uint8_t[]> bytes;
};

class LzxSection {
public:
    LzxSection(std::shared_ptr<const FileSource> file, LzxSectionLayout layout, std::size_t cacheBudget);

    std::uint64_t Length() const noexcept { return layout_.uncompressedLength; }

    // The decoded span that holds `position` (< Length()).
    std::shared_ptr<const DecodedSpan> SpanAt(std::uint64_t position);

    // Bytes the decoder has produced so far, to tell how often spans were
    // decoded again.
    std::uint64_t DecodedBytes() const noexcept { return decodedBytes_; }

private:
    std::shared_ptr<const DecodedSpan> Decode(std::size_t index);
    void Remember(std::size_t index, const std::shared_ptr<const DecodedSpan>& span);

    std::shared_ptr<const FileSource> file_;
    LzxSectionLayout layout_;
    LzxDecoder decoder_;
    std::vector<std::uint8_t> input_;  // compressed bytes of the span being decoded

    // Least recently used first.
    std::size_t cacheBudget_;
    std::size_t cachedBytes_ = 0;
    std::list<std::pair<std::size_t, std::shared_ptr<const DecodedSpan>>> lru_;
    std::unordered_map<std::size_t, decltype(lru_)::iterator> cached_;
    std::uint64_t decodedBytes_ = 0;
};

}  // namespace vexmor::storage
