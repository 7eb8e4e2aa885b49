// What an export running on a worker thread has done so far, shared with the
// window's thread: the worker reports through the observer calls, the window
// reads snapshots and may ask the export to stop.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "app/EAbort.h"
#include "catalogue/uChmExtractor.h"

namespace vexmor {

// Where an asked-for cancel takes effect.
enum class TCancelPoint {
    // Before the next item: the item being written is finished, so every
    // file of an export of several is complete.
    BeforeNextItem,
    // At the next block of the copy: the file being written is discarded
    // and what stood at its target stays as it was.
    WithinCopy,
};

// Thrown by the observer to stop a copy part-way; the export's runner takes
// it for a cancel. A silent abort, should it ever reach the application.
class EExportCancelled : public EAbort {
public:
    const char* what() const noexcept override { return "Export cancelled"; }
};

class TExportProgressState : public ExportObserver {
public:
    struct Snapshot {
        std::size_t itemsStarted = 0;
        std::uint64_t bytesCopied = 0;
        std::string currentItem;  // inner path and name of the item being written
        bool cancelRequested = false;
    };

    explicit TExportProgressState(TCancelPoint cancelPoint) : cancelPoint_(cancelPoint) {}

    // Worker side. Copied throws EExportCancelled once a cancel is asked for
    // within a copy.
    bool BeforeItem(const TChmItem& item) override;
    void Copied(std::uint64_t bytes) override;
    void Renamed(const TChmItem& item, const std::string& writtenAs) override;

    // Window side: takes effect at the cancel point.
    void RequestCancel() { cancelRequested_.store(true); }
    Snapshot Read() const;

    // Items written completely: those started, less the last one when it
    // did not finish (it failed, or was cancelled within its copy).
    std::size_t Written(bool lastUnfinished) const;

    // The items written under another name, as "inner name -> name written",
    // once the export has ended.
    std::vector<std::pair<std::string, std::string>> TakeRenamed();

private:
    const TCancelPoint cancelPoint_;
    std::atomic<std::size_t> itemsStarted_{0};
    std::atomic<std::uint64_t> bytesCopied_{0};
    std::atomic<bool> cancelRequested_{false};
    mutable std::mutex currentMutex_;
    std::string currentItem_;
    std::vector<std::pair<std::string, std::string>> renamed_;  // guarded by currentMutex_
};

}  // namespace vexmor
