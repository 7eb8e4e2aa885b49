#include <memory>

#include "fuzz/harness/fuzz_targets.h"
#include "platform/storage/lzx_decoder.h"
#include "platform/storage/storage_error.h"

namespace vexmor::fuzz {

namespace {

constexpr std::size_t kHeaderBytes = 4;
constexpr std::size_t kMaxSpan = 1u << 20;

}  // namespace

void RunLzx(const std::uint8_t* data, std::size_t size) {
    if (size < kHeaderBytes) return;
    const unsigned windowBits = 15 + data[0] % 7;
    const std::size_t spanLength =
        1 + (static_cast<std::size_t>(data[1]) | static_cast<std::size_t>(data[2]) << 8 |
             static_cast<std::size_t>(data[3]) << 16) % kMaxSpan;
    // Exactly as large as the decoder's contract asks, so that any write past
    // it is caught by the address checker.
    const std::unique_ptr<std::uint8_t[]> out(new std::uint8_t[spanLength + storage::LzxDecoder::kOutputSlack]);
    // The compressed bytes in a buffer of their own size, for the same reason.
    const std::size_t inLength = size - kHeaderBytes;
    const std::unique_ptr<std::uint8_t[]> in(new std::uint8_t[inLength == 0 ? 1 : inLength]);
    for (std::size_t i = 0; i < inLength; ++i) in[i] = data[kHeaderBytes + i];
    try {
        const storage::LzxDecoder decoder(1u << windowBits);
        decoder.DecodeSpan(in.get(), inLength, out.get(), spanLength);
    } catch (const storage::EStorageError&) {
    }
}

}  // namespace vexmor::fuzz
