#include "app/ExportRun.h"

#include <QEventLoop>
#include <QTimer>
#include <QWidget>

#include <atomic>

namespace vexmor {

namespace {

constexpr int kShowAfterMs = 300;
constexpr int kRefreshMs = 100;

}  // namespace

TExportRun::TExportRun(QWidget* owner, TExportTotals totals, TCancelPoint cancelPoint)
    : state_(cancelPoint), owner_(owner), totals_(totals) {}

TExportRun::~TExportRun() {
    // Only reached with a live worker if Run itself failed part-way.
    RequestCancel();
    Join();
}

void TExportRun::RequestCancel() {
    state_.RequestCancel();
}

void TExportRun::Join() {
    if (worker_.joinable())
        worker_.join();
}

TExportOutcome TExportRun::Run(Work work) {
    TExportProgressDialog dialog(owner_, totals_);
    dialog.OnCancel = [this, &dialog] {
        RequestCancel();
        dialog.Show(state_.Read());
    };

    QEventLoop loop;
    std::atomic<bool> ended{false};
    std::exception_ptr failure;
    bool stoppedInCopy = false;
    QTimer refresh;
    refresh.setInterval(kRefreshMs);
    QObject::connect(&refresh, &QTimer::timeout, &loop, [&] {
        dialog.Show(state_.Read());
        if (ended.load())
            loop.quit();
    });
    QTimer showLater;
    showLater.setSingleShot(true);
    QObject::connect(&showLater, &QTimer::timeout, &dialog, [&] {
        if (!ended.load())
            dialog.show();
    });

    worker_ = std::thread([&] {
        try {
            work(state_);
        } catch (const EExportCancelled&) {
            // The catalogue has discarded the file it was writing.
            stoppedInCopy = true;
        } catch (...) {
            failure = std::current_exception();
        }
        ended.store(true);
        // Wakes the loop at once; the refresh timer would notice a little later.
        QMetaObject::invokeMethod(&loop, [&loop] { loop.quit(); }, Qt::QueuedConnection);
    });
    refresh.start();
    showLater.start(kShowAfterMs);
    // The loop also ends when the application quits; the worker is then
    // asked to stop and waited for, so it never outlives this call.
    if (!ended.load())
        loop.exec();
    if (!ended.load())
        RequestCancel();
    Join();

    TExportOutcome outcome;
    outcome.failure = failure;
    outcome.lastItem = state_.Read().currentItem;
    outcome.renamed = state_.TakeRenamed();
    outcome.written = state_.Written(failure != nullptr || stoppedInCopy);
    // A cancel that came after the last item was complete changed nothing.
    outcome.cancelled =
        stoppedInCopy || (!failure && state_.Read().cancelRequested && outcome.written < totals_.items);
    return outcome;
}

}  // namespace vexmor
