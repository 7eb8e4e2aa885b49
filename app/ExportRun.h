// Runs one export on a worker thread while the window's event loop goes on:
// the window repaints, moves and answers Cancel. Run returns only once the
// worker has ended, so nothing the export uses can go away under it.
#pragma once

#include <QObject>
#include <QPointer>

#include <cstddef>
#include <exception>
#include <functional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "app/ExportProgressDialog.h"
#include "app/ExportProgressState.h"

class QWidget;

namespace vexmor {

struct TExportOutcome {
    std::size_t written = 0;  // items written completely
    bool cancelled = false;   // stopped by a cancel before all items were written
    std::exception_ptr failure;  // what the export threw, to be rethrown on the window's thread
    std::string lastItem;        // inner path and name of the item started last; empty if none
    // Items written under another name: inner name, and the name written.
    std::vector<std::pair<std::string, std::string>> renamed;
};

class TExportRun {
public:
    // The work gets the observer to pass to the catalogue; it runs on the
    // worker thread and must not touch any widget.
    using Work = std::function<void(ExportObserver&)>;

    // The progress window shows over `owner` once the export has taken a
    // moment, so that a quick one does not flash a window.
    TExportRun(QWidget* owner, TExportTotals totals, TCancelPoint cancelPoint);
    ~TExportRun();
    TExportRun(const TExportRun&) = delete;
    TExportRun& operator=(const TExportRun&) = delete;

    TExportOutcome Run(Work work);

    // From the window's thread, at any time: stop at the cancel point.
    void RequestCancel();

private:
    void Join();

    TExportProgressState state_;
    QPointer<QWidget> owner_;
    TExportTotals totals_;
    std::thread worker_;
};

}  // namespace vexmor
