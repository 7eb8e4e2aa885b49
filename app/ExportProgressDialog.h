// The progress window of a running export: the item being written, items
// and bytes done of the total, and Cancel.
#pragma once

#include <QDialog>

#include <cstddef>
#include <cstdint>
#include <functional>

#include "app/ExportProgressState.h"

class QLabel;
class QProgressBar;
class QPushButton;

namespace vexmor {

struct TExportTotals {
    std::size_t items = 0;
    std::uint64_t bytes = 0;
};

class TExportProgressDialog : public QDialog {
public:
    TExportProgressDialog(QWidget* owner, TExportTotals totals);

    void Show(const TExportProgressState::Snapshot& snapshot);
    QPushButton* CancelButton() const { return cancel_; }

    // Called when the user asks to cancel (button, Esc, close button).
    std::function<void()> OnCancel;

protected:
    // Esc and the window's close button ask to cancel; the window itself
    // stays until the export has ended.
    void reject() override;
    void closeEvent(QCloseEvent* event) override;

private:
    void AskCancel();

    TExportTotals totals_;
    QLabel* current_;
    QLabel* counts_;
    QProgressBar* bar_;
    QPushButton* cancel_;
};

}  // namespace vexmor
