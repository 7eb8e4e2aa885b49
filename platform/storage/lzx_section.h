// The LZX-compressed content section of a help file, read by position.
// Decoded spans (one reset interval each) are kept in a cache with a fixed
// memory budget, shared by every stream of the file. Given a plan, worker
// threads decode the spans it needs ahead of the reader.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <list>
#include <memory>
#include <mutex>
#include <unordered_map>
#include <vector>

#include "platform/storage/lzx_decoder.h"
#include "platform/storage/span_read_ahead.h"
#include "platform/storage/storage.h"
#include "platform/storage/storage_error.h"

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
// (kDamaged, kNotImplemented) when they are missing, damaged or unsupported,
// and kInsufficientMemory when the window or span is beyond `options`.
LzxSectionLayout ReadLzxSectionLayout(const FileSource& file, const Directory& directory,
                                      const ReaderOptions& options);

// Whether the directory describes a compressed section: it lists one of the
// section's own streams or a stream stored in it.
bool DeclaresLzxSection(const Directory& directory);

struct DecodedSpan {
    std::uint64_t start = 0;   // position in the section
    std::size_t length = 0;
    std::unique_ptr<std::uint8_t[]> bytes;
};

// One reader at a time (SpanAt, BeginPlan, EndPlan from one thread, or
// from several taking turns); the workers of a plan are the section's own.
class LzxSection {
public:
    LzxSection(std::shared_ptr<const FileSource> file, LzxSectionLayout layout, const ReaderOptions& options);
    ~LzxSection();
    LzxSection(const LzxSection&) = delete;
    LzxSection& operator=(const LzxSection&) = delete;

    std::uint64_t Length() const noexcept { return layout_.uncompressedLength; }
    const LzxSectionLayout& Layout() const noexcept { return layout_; }

    // The decoded span that holds `position` (< Length()).
    std::shared_ptr<const DecodedSpan> SpanAt(std::uint64_t position);

    // Replaces the plan: `ranges` (offset and length in the section; ranges
    // past its end are left out) in the order the reader will read them.
    // Returns the plan's number, for EndPlan. A plan of fewer than two spans
    // starts no thread: nothing would be gained.
    std::uint64_t BeginPlan(const std::vector<Placement>& ranges);
    // Stops and joins the workers of plan `number`, if it is still the plan.
    void EndPlan(std::uint64_t number);

    // Bytes the decoder has produced so far, to tell how often spans were
    // decoded again.
    std::uint64_t DecodedBytes() const noexcept { return decodedBytes_.load(std::memory_order_relaxed); }

private:
    // Safe on several threads at once: each brings its own `input`.
    std::shared_ptr<const DecodedSpan> Decode(std::size_t index, std::vector<std::uint8_t>& input) const;
    std::shared_ptr<const DecodedSpan> Cached(std::size_t index);
    bool IsCached(std::size_t index);
    void Remember(std::size_t index, const std::shared_ptr<const DecodedSpan>& span);

    std::shared_ptr<const FileSource> file_;
    LzxSectionLayout layout_;
    LzxDecoder decoder_;
    ReaderOptions options_;
    std::vector<std::uint8_t> input_;  // the reader's compressed bytes when it decodes alone
    // Spans whose decoding failed for their bytes, with the error: the
    // reader's own, as the streams in them fail again at every read.
    std::unordered_map<std::size_t, EStorageError> failed_;
    mutable std::atomic<std::uint64_t> decodedBytes_ = 0;

    // Least recently used first. Workers look into it, the reader changes it.
    std::mutex cacheMutex_;
    std::size_t cachedBytes_ = 0;
    std::list<std::pair<std::size_t, std::shared_ptr<const DecodedSpan>>> lru_;
    std::unordered_map<std::size_t, decltype(lru_)::iterator> cached_;

    std::uint64_t planNumber_ = 0;
    // Last, so that its workers are joined before anything they use goes.
    std::unique_ptr<SpanReadAhead> readAhead_;
};

}  // namespace vexmor::storage
