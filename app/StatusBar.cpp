#include "app/StatusBar.h"

#include <QLabel>

namespace vexmor {

TStatusBar::TStatusBar(QWidget* parent) : QStatusBar(parent), text_(new QLabel(this)) {
    setSizeGripEnabled(false);
    text_->setTextFormat(Qt::PlainText);
    addWidget(text_, 1);
}

QString TStatusBar::SimpleText() const {
    return text_->text();
}

void TStatusBar::SetSimpleText(const QString& text) {
    text_->setText(text);
}

}  // namespace vexmor
