#include "cli/progress.h"

#include <cstdio>

namespace vexmor::cli {

namespace {
// Redrawing for every item of a large file would cost more than the copy.
constexpr auto kRedrawInterval = std::chrono::milliseconds(100);
}  // namespace

std::string ProgressLine(std::uint64_t itemsDone, std::uint64_t totalItems, const ByteTotal& bytesDone,
                         const ByteTotal& totalBytes) {
    return std::to_string(itemsDone) + "/" + std::to_string(totalItems) + " items, " + ByteTotalText(bytesDone) + "/" +
           ByteTotalText(totalBytes) + " bytes";
}

ExportProgress::ExportProgress(bool onTerminal, std::uint64_t totalItems, const ByteTotal& totalBytes)
    : onTerminal_(onTerminal), totalItems_(totalItems), totalBytes_(totalBytes) {}

ExportProgress::~ExportProgress() { Erase(); }

void ExportProgress::Advance(std::uint64_t bytes) {
    ++itemsDone_;
    bytesDone_ += bytes;
    if (!onTerminal_) return;
    const auto now = std::chrono::steady_clock::now();
    if (shown_ && now - lastDrawn_ < kRedrawInterval && itemsDone_ != totalItems_) return;
    lastDrawn_ = now;
    Draw();
}

void ExportProgress::Draw() {
    std::fprintf(stderr, "\r%s\033[K", ProgressLine(itemsDone_, totalItems_, bytesDone_, totalBytes_).c_str());
    std::fflush(stderr);
    shown_ = true;
}

void ExportProgress::Erase() {
    if (!shown_) return;
    std::fputs("\r\033[K", stderr);
    std::fflush(stderr);
    shown_ = false;
}

}  // namespace vexmor::cli
