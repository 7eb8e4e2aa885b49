// How the item list's cells behave beyond plain display.
#pragma once

#include <QString>
#include <QStyledItemDelegate>

#include <functional>

namespace vexmor {

// The size column is display only; its cells never open an editor.
class TNoEditorDelegate : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;
    QWidget* createEditor(QWidget*, const QStyleOptionViewItem&, const QModelIndex&) const override {
        return nullptr;
    }
};

// The item column: a row whose text is cut shows the item's full inner path
// as a tool tip; a row that fits shows none.
class TInnerPathTipDelegate : public QStyledItemDelegate {
public:
    // `fullText` gives the full inner path of a row.
    TInnerPathTipDelegate(std::function<QString(int row)> fullText, QObject* parent);

    bool helpEvent(QHelpEvent* event, QAbstractItemView* view, const QStyleOptionViewItem& option,
                   const QModelIndex& index) override;

    // True when the cell's text does not fit the width the cell has.
    bool TextIsCut(const QStyleOptionViewItem& option, const QModelIndex& index) const;

private:
    std::function<QString(int row)> fullText_;
};

}  // namespace vexmor
