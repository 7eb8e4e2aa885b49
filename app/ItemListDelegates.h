// How the lists' cells behave beyond plain display.
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

// A row whose text is cut, by its column or by the list's visible width,
// shows its full text as a tool tip (the item column: the item's full inner
// path; the error list: the whole message); a row that fits shows none.
class TCutTextTipDelegate : public QStyledItemDelegate {
public:
    // `fullText` gives the full text of a row.
    TCutTextTipDelegate(std::function<QString(int row)> fullText, QObject* parent);

    bool helpEvent(QHelpEvent* event, QAbstractItemView* view, const QStyleOptionViewItem& option,
                   const QModelIndex& index) override;

    // True when the cell's text does not fit the part of the cell that the
    // view shows.
    bool TextIsCut(const QStyleOptionViewItem& option, const QModelIndex& index, const QAbstractItemView& view) const;

private:
    std::function<QString(int row)> fullText_;
};

}  // namespace vexmor
