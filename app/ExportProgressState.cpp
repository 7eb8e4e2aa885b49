#include "app/ExportProgressState.h"

#include "catalogue/inner_name.h"

namespace vexmor {

bool TExportProgressState::BeforeItem(const TChmItem& item) {
    if (cancelRequested_.load())
        return false;
    std::string name = InnerPathAndName(item.Path, item.Name);
    {
        const std::lock_guard<std::mutex> lock(currentMutex_);
        currentItem_.swap(name);
    }
    itemsStarted_.fetch_add(1);
    return true;
}

void TExportProgressState::Copied(std::uint64_t bytes) {
    if (cancelPoint_ == TCancelPoint::WithinCopy && cancelRequested_.load())
        throw EExportCancelled();
    bytesCopied_.fetch_add(bytes);
}

void TExportProgressState::Renamed(const TChmItem& item, const std::string& writtenAs) {
    const std::lock_guard<std::mutex> lock(currentMutex_);
    renamed_.emplace_back(InnerPathAndName(item.Path, item.Name), writtenAs);
}

std::vector<std::pair<std::string, std::string>> TExportProgressState::TakeRenamed() {
    const std::lock_guard<std::mutex> lock(currentMutex_);
    return std::exchange(renamed_, {});
}

TExportProgressState::Snapshot TExportProgressState::Read() const {
    Snapshot snapshot;
    snapshot.itemsStarted = itemsStarted_.load();
    snapshot.bytesCopied = bytesCopied_.load();
    snapshot.cancelRequested = cancelRequested_.load();
    const std::lock_guard<std::mutex> lock(currentMutex_);
    snapshot.currentItem = currentItem_;
    return snapshot;
}

std::size_t TExportProgressState::Written(bool lastUnfinished) const {
    const std::size_t started = itemsStarted_.load();
    return lastUnfinished && started > 0 ? started - 1 : started;
}

}  // namespace vexmor
