#include "platform/storage/lzx_section.h"

#include <algorithm>
#include <cstring>
#include <string>
#include <string_view>
#include <thread>

#include "platform/storage/byte_view.h"
#include "platform/storage/file_source.h"
#include "platform/storage/itsf_directory.h"
#include "platform/storage/storage_error.h"

namespace vexmor::storage {

namespace {

constexpr char kControlData[] = "::DataSpace/Storage/MSCompressed/ControlData";
constexpr char kResetTable[] =
    "::DataSpace/Storage/MSCompressed/Transform/{7FC28940-9D31-11D0-9B27-00A0C91E9C7C}/InstanceData/ResetTable";
constexpr char kContent[] = "::DataSpace/Storage/MSCompressed/Content";

using lzx::kFrameSize;
// Spans are decoded whole; a larger reset interval than any writer uses
// would let a small file demand a large buffer.
constexpr std::uint64_t kMaxResetInterval = kLargestSpan;
// Decoded spans waiting for the reader take at most this much, or one span
// when a span is larger.
constexpr std::size_t kReadAheadBudget = 8u << 20;

// The on-disk layouts read here, both streams stored in section 0. All
// numbers are little-endian. Fields marked "-" are not read.
//
// Control data (kControlData):
//
//   offset  size  meaning
//   0x00    4     - number of 32-bit values after "LZXC" (6)
//   0x04    4     "LZXC"
//   0x08    4     version: 1 counts the next two in bytes, 2 in frames
//                 of 0x8000 bytes
//   0x0C    4     reset interval: output between two resets of the decoder
//   0x10    4     window size, 2^15 to 2^21 bytes
//   0x14    4     - cache size
//   0x18    4     - 0
namespace control_data {
constexpr std::string_view kSignature = "LZXC";
constexpr std::size_t kSignatureAt = 0x04;
constexpr std::size_t kVersionAt = 0x08;
constexpr std::size_t kResetIntervalAt = 0x0C;
constexpr std::size_t kWindowSizeAt = 0x10;
// Far above the 0x1C bytes it holds; a longer one is damage.
constexpr std::size_t kMaxLength = 4096;
}  // namespace control_data

// Reset table (kResetTable):
//
//   offset  size  meaning
//   0x00    4     - version (2)
//   0x04    4     number of entries
//   0x08    4     size of an entry: 8
//   0x0C    4     length of this header (0x28); the entries follow it
//   0x10    8     length of the section's decoded data
//   0x18    8     - length of the compressed data (the Content entry's
//                 length is what bounds reading)
//   0x20    8     frame size: 0x8000
//   [0x0C]  8 each  for every frame of output, the offset in Content where
//                   its compressed data starts; decoding can start at the
//                   first frame of each reset interval
//
// [0x0C]: at the offset that the field at 0x0C holds.
namespace reset_table {
constexpr std::size_t kEntryCountAt = 0x04;
constexpr std::size_t kEntrySizeAt = 0x08;
constexpr std::size_t kHeaderLengthAt = 0x0C;
constexpr std::size_t kUncompressedLengthAt = 0x10;
constexpr std::size_t kFrameSizeAt = 0x20;
constexpr std::uint32_t kEntrySize = 8;
}  // namespace reset_table

const DirectoryEntry& StoredEntry(const Directory& directory, const char* name, const char* what) {
    const DirectoryEntry* entry = FindEntry(directory, name);
    if (!entry) ThrowDamaged(std::string("the compressed section has no ") + what);
    if (entry->section != 0) ThrowDamaged(std::string("the compressed section's ") + what + " is not stored plainly");
    return *entry;
}

std::vector<std::uint8_t> ReadStored(const FileSource& file, const Directory& directory, const DirectoryEntry& entry,
                                     std::size_t maxLength, const char* what) {
    const std::uint64_t at = StoredEntryFileOffset(file, directory, entry);
    if (entry.length > maxLength) ThrowDamaged(std::string(what) + " is too large");
    std::vector<std::uint8_t> bytes(static_cast<std::size_t>(entry.length));
    file.ReadExact(at, bytes.data(), bytes.size(), what);
    return bytes;
}

struct ControlData {
    std::uint32_t windowSize;
    std::uint64_t resetInterval;
};

ControlData ReadControlData(const FileSource& file, const Directory& directory) {
    const auto raw = ReadStored(file, directory, StoredEntry(directory, kControlData, "control data"),
                                control_data::kMaxLength, "the compression control data");
    ByteView view(raw.data(), raw.size(), "the compression control data");
    view.Seek(control_data::kSignatureAt);
    if (!view.Matches(control_data::kSignature)) view.Fail("the LZXC signature is missing");
    view.Seek(control_data::kVersionAt);
    const std::uint32_t version = view.U32();
    view.Seek(control_data::kResetIntervalAt);
    std::uint64_t resetInterval = view.U32();
    view.Seek(control_data::kWindowSizeAt);
    std::uint64_t windowSize = view.U32();
    if (version == 2) {
        resetInterval *= kFrameSize;
        windowSize *= kFrameSize;
    } else if (version != 1) {
        throw EStorageError(code::kNotImplemented, "compression control data version " + std::to_string(version));
    }
    if (windowSize < (1u << 15) || windowSize > kLargestWindow || (windowSize & (windowSize - 1)) != 0)
        view.Fail("window size " + std::to_string(windowSize) + " is out of range");
    if (resetInterval == 0 || resetInterval % kFrameSize != 0 || resetInterval > kMaxResetInterval)
        view.Fail("reset interval " + std::to_string(resetInterval) + " is out of range");
    return {static_cast<std::uint32_t>(windowSize), resetInterval};
}

}  // namespace

LzxSectionLayout ReadLzxSectionLayout(const FileSource& file, const Directory& directory,
                                      const ReaderOptions& options) {
    const ControlData control = ReadControlData(file, directory);
    // A valid file the caller will not spend the memory on: refused before
    // the window or a span is allocated, never read in part.
    if (control.windowSize > options.largestWindow)
        throw EStorageError(code::kInsufficientMemory, "the compressed section needs a window of " +
                                                           std::to_string(control.windowSize) + " bytes, more than " +
                                                           std::to_string(options.largestWindow) + " allowed");
    if (control.resetInterval > options.largestSpan)
        throw EStorageError(code::kInsufficientMemory, "the compressed section decodes spans of " +
                                                           std::to_string(control.resetInterval) +
                                                           " bytes, more than " + std::to_string(options.largestSpan) +
                                                           " allowed");
    LzxSectionLayout layout;
    layout.windowSize = control.windowSize;
    layout.resetInterval = static_cast<std::uint32_t>(control.resetInterval);

    const DirectoryEntry& content = StoredEntry(directory, kContent, "content");
    layout.contentFileOffset = StoredEntryFileOffset(file, directory, content);
    layout.contentLength = content.length;

    // The table's size is bounded by the file, so everything sized from it is too.
    const auto raw = ReadStored(file, directory, StoredEntry(directory, kResetTable, "reset table"),
                                static_cast<std::size_t>(std::min<std::uint64_t>(file.Size(), SIZE_MAX)),
                                "the reset table");
    ByteView table(raw.data(), raw.size(), "the reset table");
    // Every field is read before any is judged: a table too short for its
    // header is damage, whatever the fields it does hold say.
    table.Seek(reset_table::kEntryCountAt);
    const std::uint32_t count = table.U32();
    table.Seek(reset_table::kEntrySizeAt);
    const std::uint32_t entrySize = table.U32();
    table.Seek(reset_table::kHeaderLengthAt);
    const std::uint32_t headerLength = table.U32();
    table.Seek(reset_table::kUncompressedLengthAt);
    layout.uncompressedLength = table.U64();
    table.Seek(reset_table::kFrameSizeAt);
    const std::uint64_t frameSize = table.U64();
    if (entrySize != reset_table::kEntrySize)
        throw EStorageError(code::kNotImplemented, "reset table entries of " + std::to_string(entrySize) + " bytes");
    if (frameSize != kFrameSize)
        throw EStorageError(code::kNotImplemented, "compressed frames of " + std::to_string(frameSize) + " bytes");
    table.Seek(headerLength);
    if (count > table.Remaining() / reset_table::kEntrySize) table.Fail("it lists more entries than it holds");

    const std::uint64_t framesPerSpan = layout.resetInterval / kFrameSize;
    // Rounded up without adding first: a length near 2^64 must not wrap to
    // few spans, which would leave positions of the section without a span.
    const std::uint64_t spans =
        layout.uncompressedLength / layout.resetInterval + (layout.uncompressedLength % layout.resetInterval != 0);
    // spans <= 2^49 and framesPerSpan <= 2^9: the product cannot overflow.
    if (spans > 0 && (spans - 1) * framesPerSpan >= count)
        table.Fail("the section is longer than the table covers");
    layout.spanOffsets.reserve(static_cast<std::size_t>(spans));
    for (std::uint64_t span = 0; span < spans; ++span) {
        table.Seek(headerLength + static_cast<std::size_t>(span * framesPerSpan) * reset_table::kEntrySize);
        const std::uint64_t offset = table.U64();
        if (offset >= layout.contentLength) table.Fail("an offset lies past the compressed data");
        if (!layout.spanOffsets.empty() && offset <= layout.spanOffsets.back()) table.Fail("its offsets are out of order");
        layout.spanOffsets.push_back(offset);
    }
    return layout;
}

bool DeclaresLzxSection(const Directory& directory) {
    for (const char* name : {kControlData, kContent, kResetTable})
        if (FindEntry(directory, name)) return true;
    return std::any_of(directory.entries.begin(), directory.entries.end(),
                       [](const DirectoryEntry& entry) { return entry.section == 1; });
}

LzxSection::LzxSection(std::shared_ptr<const FileSource> file, LzxSectionLayout layout, const ReaderOptions& options)
    : file_(std::move(file)), layout_(std::move(layout)), decoder_(layout_.windowSize), options_(options) {}

LzxSection::~LzxSection() { readAhead_.reset(); }

std::shared_ptr<const DecodedSpan> LzxSection::SpanAt(std::uint64_t position) {
    const auto index = static_cast<std::size_t>(position / layout_.resetInterval);
    if (auto span = Cached(index)) return span;
    // A damaged span is decoded once: a span may hold thousands of streams,
    // and each would pay for the whole span again only to fail the same way.
    // A failed read of the file is tried again.
    if (const auto failed = failed_.find(index); failed != failed_.end()) throw failed->second;
    std::shared_ptr<const DecodedSpan> span;
    try {
        span = readAhead_ ? readAhead_->Take(index) : nullptr;
        if (!span) span = Decode(index, input_);
    } catch (const EStorageError& e) {
        if (e.ErrorCode() != code::kReadFault) failed_.emplace(index, e);
        throw;
    }
    Remember(index, span);
    return span;
}

std::uint64_t LzxSection::BeginPlan(const std::vector<Placement>& ranges) {
    readAhead_.reset();
    const std::size_t spanCount = layout_.spanOffsets.size();
    std::vector<bool> planned(spanCount);
    std::vector<std::size_t> plan;
    for (const Placement& range : ranges) {
        if (range.length == 0 || range.offset >= Length() || range.length > Length() - range.offset) continue;
        const auto first = static_cast<std::size_t>(range.offset / layout_.resetInterval);
        const auto last = static_cast<std::size_t>((range.offset + range.length - 1) / layout_.resetInterval);
        for (std::size_t index = first; index <= last; ++index) {
            if (planned[index]) continue;
            planned[index] = true;
            plan.push_back(index);
        }
    }
    ++planNumber_;
    if (plan.size() < 2) return planNumber_;

    unsigned workers = options_.readAheadWorkers;
    if (workers == 0) workers = std::max(1u, std::thread::hardware_concurrency());
    const std::size_t bySize = std::max<std::size_t>(1, kReadAheadBudget / layout_.resetInterval);
    const std::size_t poolSpans = std::min(bySize, std::max<std::size_t>(1, workers * options_.readAheadSpansPerWorker));
    // Spans under way count against the pool, so more workers than it holds
    // would only wait; fewer also bounds what a reader that skips ahead
    // leaves under way: at most twice the pool is decoded at any time.
    workers = static_cast<unsigned>(std::min({static_cast<std::size_t>(workers), plan.size(), poolSpans}));
    readAhead_ = std::make_unique<SpanReadAhead>(
        std::move(plan), workers, poolSpans,
        [this](std::size_t index, std::vector<std::uint8_t>& input) { return Decode(index, input); },
        [this](std::size_t index) { return IsCached(index); });
    return planNumber_;
}

void LzxSection::EndPlan(std::uint64_t number) {
    if (number == planNumber_) readAhead_.reset();
}

std::shared_ptr<const DecodedSpan> LzxSection::Decode(std::size_t index, std::vector<std::uint8_t>& input) const {
    const std::uint64_t begin = layout_.spanOffsets[index];
    input.resize(static_cast<std::size_t>(layout_.SpanInputEnd(index) - begin));
    file_->ReadExact(layout_.contentFileOffset + begin, input.data(), input.size(), "the compressed data");

    auto span = std::make_shared<DecodedSpan>();
    span->start = layout_.SpanStart(index);
    span->length = layout_.SpanLength(index);
    // Left uninitialised: the decoder writes every byte up to `length`.
    span->bytes.reset(new std::uint8_t[span->length + LzxDecoder::kOutputSlack]);
    decoder_.DecodeSpan(input.data(), input.size(), span->bytes.get(), span->length);
    decodedBytes_.fetch_add(span->length, std::memory_order_relaxed);
    return span;
}

std::shared_ptr<const DecodedSpan> LzxSection::Cached(std::size_t index) {
    const std::lock_guard lock(cacheMutex_);
    const auto found = cached_.find(index);
    if (found == cached_.end()) return nullptr;
    lru_.splice(lru_.end(), lru_, found->second);
    return found->second->second;
}

bool LzxSection::IsCached(std::size_t index) {
    const std::lock_guard lock(cacheMutex_);
    return cached_.contains(index);
}

void LzxSection::Remember(std::size_t index, const std::shared_ptr<const DecodedSpan>& span) {
    const std::lock_guard lock(cacheMutex_);
    while (!lru_.empty() && cachedBytes_ + span->length > options_.spanCacheBudget) {
        cachedBytes_ -= lru_.front().second->length;
        cached_.erase(lru_.front().first);
        lru_.pop_front();
    }
    if (span->length > options_.spanCacheBudget) return;
    lru_.emplace_back(index, span);
    cached_.emplace(index, std::prev(lru_.end()));
    cachedBytes_ += span->length;
}

}  // namespace vexmor::storage
