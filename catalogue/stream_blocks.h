// Reading a stream to its end in blocks, shared by the copies to files and
// by the command line's cat, so that both stop and fail on the same rule.
#pragma once

#include <array>
#include <cstdint>

#include "platform/storage/storage.h"
#include "platform/storage/storage_error.h"

namespace vexmor {

// Reads `stream` in blocks of `kBlock` bytes and hands each to
// `sink(data, count)`, the last one short (possibly empty): a stream is never
// held whole in memory. A stream that delivers more than asked is a read
// fault, never a write past the buffer's end.
template <std::uint32_t kBlock, class Sink>
void ReadInBlocks(storage::IStream& stream, Sink&& sink) {
    std::array<unsigned char, kBlock> buffer;
    for (;;) {
        const std::uint32_t delivered = stream.Read(buffer.data(), kBlock);
        if (delivered > kBlock) {
            throw storage::EStorageError(storage::code::kReadFault, "a stream delivered more bytes than asked");
        }
        sink(buffer.data(), delivered);
        if (delivered < kBlock) break;
    }
}

}  // namespace vexmor
