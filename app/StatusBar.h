// A status bar without panels: one line of text across the whole bar that
// only the program sets (status tips never replace it).
#pragma once

#include <QStatusBar>
#include <QString>

class QLabel;

namespace vexmor {

class TStatusBar : public QStatusBar {
public:
    explicit TStatusBar(QWidget* parent = nullptr);

    QString SimpleText() const;
    void SetSimpleText(const QString& text);

private:
    QLabel* text_;
};

}  // namespace vexmor
