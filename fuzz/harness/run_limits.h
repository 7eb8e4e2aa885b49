// What bounds one run of a fuzz target, and how a run reports a broken
// guarantee. Shared by the targets so that each keeps the same limits.
#pragma once

#include <cstdint>
#include <string>

#include "platform/storage/storage.h"

namespace vexmor::fuzz {

// Decoded bytes one run lets the reader produce before it stops asking for
// more. A few bits of LZX can declare megabytes, and decoding is where the
// time of a run went; the first spans of a file already run every path of
// the decoder, and the parsing before them is the same whatever is read.
// Checked between reads: one read may pass it by the spans it needs.
inline constexpr std::uint64_t kDecodeBudget = 64u << 10;

inline bool DecodeBudgetSpent(const storage::DecodeStatistics& statistics) {
    return statistics.decodedBytes >= kDecodeBudget;
}

// The largest window and span the reader accepts in a run: those of the
// fixtures (64 KiB each). A changed control data may declare a 2 MiB window,
// allocated and cleared at each open, or 16 MiB spans that one read decodes
// whole; the reader refuses those at open instead. What lies beyond runs the
// same decoder code with larger numbers.
inline constexpr std::uint32_t kLargestWindow = 64u << 10;
inline constexpr std::uint32_t kLargestSpan = 64u << 10;

// The reader's options of a run: the limits above, the rest as given.
inline storage::ReaderOptions Bounded(storage::ReaderOptions options) {
    options.largestWindow = kLargestWindow;
    options.largestSpan = kLargestSpan;
    return options;
}

// Prints what broke and aborts, which the fuzzer and the replay report.
[[noreturn]] void Broken(const std::string& what);

// While alive, watches the run that made it: a run still going after
// `seconds` blocked (a FIFO opened for writing waits for a reader for
// ever) and is reported as broken. Far above what any run takes, below the
// fuzzer's own time limit, and also in force under the replay, which has none.
class RunWatch {
public:
    explicit RunWatch(const char* what, unsigned seconds = 8);
    ~RunWatch();
    RunWatch(const RunWatch&) = delete;
    RunWatch& operator=(const RunWatch&) = delete;
};

}  // namespace vexmor::fuzz
