// Progress of an export on a terminal: items and bytes done of the total.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>

#include "catalogue/byte_total.h"

namespace vexmor::cli {

// "3/20 items, 4096/81920 bytes", totals that passed 2^64 as "more than ...".
std::string ProgressLine(std::uint64_t itemsDone, std::uint64_t totalItems, const ByteTotal& bytesDone,
                         const ByteTotal& totalBytes);

class ExportProgress {
public:
    // Draws nothing unless `onTerminal`.
    ExportProgress(bool onTerminal, std::uint64_t totalItems, const ByteTotal& totalBytes);
    ~ExportProgress();
    ExportProgress(const ExportProgress&) = delete;
    ExportProgress& operator=(const ExportProgress&) = delete;

    // One item finished (written or failed), `bytes` of the total done with it.
    void Advance(std::uint64_t bytes);
    // Removes the progress line, so that a message can take its place.
    void Erase();

private:
    void Draw();

    bool onTerminal_;
    std::uint64_t totalItems_;
    ByteTotal totalBytes_;
    std::uint64_t itemsDone_ = 0;
    ByteTotal bytesDone_;
    bool shown_ = false;
    std::chrono::steady_clock::time_point lastDrawn_{};
};

}  // namespace vexmor::cli
