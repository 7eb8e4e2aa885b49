#include "app/ExportProgressDialog.h"

#include <QCloseEvent>
#include <QFontMetrics>
#include <QHBoxLayout>
#include <QLabel>
#include <QLocale>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>

#include <algorithm>

namespace vexmor {

namespace {

constexpr int kBarSteps = 1000;
constexpr int kLabelWidth = 360;

const char* const kTitle = "正在导出";
const char* const kCancel = "取消";
const char* const kCancelling = "正在取消…";

QString DataSize(std::uint64_t bytes) {
    return QLocale().formattedDataSize(static_cast<qint64>(std::min<std::uint64_t>(bytes, INT64_MAX)));
}

// Share of `done` in `total` as bar steps; sizes are what the directory
// claims, so more than the total is possible and shows as full.
int Steps(std::uint64_t done, std::uint64_t total) {
    if (total == 0)
        return 0;
    const long double share = static_cast<long double>(std::min(done, total)) / static_cast<long double>(total);
    return static_cast<int>(share * kBarSteps);
}

// A name as one line of text: control characters, which the file may put
// in a name, show as the replacement character here (display only).
QString OneLine(QString name) {
    for (QChar& character : name)
        if (character.category() == QChar::Other_Control)
            character = QChar::ReplacementCharacter;
    return name;
}

}  // namespace

TExportProgressDialog::TExportProgressDialog(QWidget* owner, TExportTotals totals)
    : QDialog(owner), totals_(totals) {
    setObjectName(QStringLiteral("exportProgress"));
    setWindowTitle(QString::fromUtf8(kTitle));
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint);

    current_ = new QLabel(this);
    current_->setObjectName(QStringLiteral("currentItem"));
    current_->setTextFormat(Qt::PlainText);
    current_->setFixedWidth(kLabelWidth);
    counts_ = new QLabel(this);
    counts_->setObjectName(QStringLiteral("counts"));
    counts_->setTextFormat(Qt::PlainText);
    bar_ = new QProgressBar(this);
    bar_->setRange(0, kBarSteps);
    bar_->setTextVisible(false);
    cancel_ = new QPushButton(QString::fromUtf8(kCancel), this);
    // The window comes up while the user may be typing: Return and Space
    // must not reach Cancel. It takes no focus and is no default button;
    // a click, Esc or the window's close button cancels.
    cancel_->setAutoDefault(false);
    cancel_->setDefault(false);
    cancel_->setFocusPolicy(Qt::NoFocus);
    connect(cancel_, &QPushButton::clicked, this, &TExportProgressDialog::AskCancel);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(cancel_);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(current_);
    layout->addWidget(counts_);
    layout->addWidget(bar_);
    layout->addLayout(buttons);
    layout->setSizeConstraint(QLayout::SetFixedSize);

    Show(TExportProgressState::Snapshot{});
}

void TExportProgressDialog::Show(const TExportProgressState::Snapshot& snapshot) {
    const QString name =
        OneLine(QString::fromUtf8(snapshot.currentItem.data(), static_cast<qsizetype>(snapshot.currentItem.size())));
    current_->setText(QFontMetrics(current_->font()).elidedText(name, Qt::ElideMiddle, kLabelWidth));
    current_->setToolTip(name);
    counts_->setText(QStringLiteral("%1 / %2 项    %3 / %4")
                         .arg(QString::number(snapshot.itemsStarted), QString::number(totals_.items),
                              DataSize(snapshot.bytesCopied), DataSize(totals_.bytes)));
    bar_->setValue(totals_.bytes > 0 ? Steps(snapshot.bytesCopied, totals_.bytes)
                                     : Steps(snapshot.itemsStarted, totals_.items));
    if (snapshot.cancelRequested) {
        cancel_->setEnabled(false);
        cancel_->setText(QString::fromUtf8(kCancelling));
    }
}

void TExportProgressDialog::AskCancel() {
    if (cancel_->isEnabled() && OnCancel)
        OnCancel();
}

void TExportProgressDialog::reject() {
    AskCancel();
}

void TExportProgressDialog::closeEvent(QCloseEvent* event) {
    event->ignore();
    AskCancel();
}

}  // namespace vexmor
