// What an export running on a worker thread has done so far, shared with the
// window's thread: the worker reports through the observer calls, the window
// reads snapshots and may ask the export to stop.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>

#include "catalogue/uChmExtractor.h"

namespace vexmor {

class TExportProgressState : public ExportObserver {
public:
    struct Snapshot {
        std::size_t itemsStarted = 0;
        std::uint64_t bytesCopied = 0;
        std::string currentItem;  // inner path and name of the item being written
        bool cancelRequested = false;
    };

    // Worker side.
    bool BeforeItem(const TChmItem& item) override;
    void Copied(std::uint64_t bytes) override;

    // Window side. A cancel takes effect before the next item: the item being
    // written is finished first, so every file written is complete.
    void RequestCancel() { cancelRequested_.store(true); }
    Snapshot Read() const;

    // Items written completely: those started, less the one that failed.
    std::size_t Written(bool failed) const;

private:
    std::atomic<std::size_t> itemsStarted_{0};
    std::atomic<std::uint64_t> bytesCopied_{0};
    std::atomic<bool> cancelRequested_{false};
    mutable std::mutex currentMutex_;
    std::string currentItem_;
};

}  // namespace vexmor
