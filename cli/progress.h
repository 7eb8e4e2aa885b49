// Progress of an export on a terminal: items and bytes done of the total.
#pragma once

#include <chrono>
#include <cstdint>

namespace vexmor::cli {

class ExportProgress {
public:
    // Draws nothing unless `onTerminal`.
    ExportProgress(bool onTerminal, std::uint64_t totalItems, std::uint64_t totalBytes);
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
    std::uint64_t totalBytes_;
    std::uint64_t itemsDone_ = 0;
    std::uint64_t bytesDone_ = 0;
    bool shown_ = false;
    std::chrono::steady_clock::time_point lastDrawn_{};
};

}  // namespace vexmor::cli
